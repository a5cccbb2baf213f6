#include "platform/afx/afx_msgmap.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message) const
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn != nullptr; ++entry) {
            if (entry->nMessage == AFX_REGISTERED_MESSAGE) {
                if (message >= 0xC000 && entry->pRegistered != nullptr && *entry->pRegistered == message)
                    return entry;
            } else if (entry->nMessage == message && entry->nMessage != WM_COMMAND && entry->nMessage != WM_NOTIFY) {
                return entry;
            }
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo)
{
    // nCode carries WM_NOTIFY in its high word for notifications; CN_UPDATE_COMMAND_UI stands alone.
    UINT message = 0;
    UINT code = static_cast<UINT>(nCode);
    if (nCode != CN_UPDATE_COMMAND_UI) {
        message = HIWORD(code);
        code = LOWORD(code);
    }
    if (message == 0)
        message = WM_COMMAND;

    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn != nullptr; ++entry) {
            if (entry->nMessage != message || entry->nCode != code || nID < entry->nID || nID > entry->nLastID)
                continue;
            if (pHandlerInfo != nullptr) {
                pHandlerInfo->pTarget = this;
                pHandlerInfo->pEntry = entry;
                return TRUE;
            }
            AFX_MSGCALL call;
            call.nID = nID;
            call.nCode = static_cast<int>(code);
            call.pExtra = pExtra;
            return entry->pfn(this, call);
        }
    }
    return FALSE;
}
