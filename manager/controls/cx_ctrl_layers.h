// The layers a skinned control class is stacked from, over its afx control class T. Every layer family
// has the framework's window procedure (CxWindowProcT): the pre-map, T's map, then the post-map.
#pragma once

#include "manager/framework/windows/cx_string.h"
#include "manager/framework/windows/cx_wnd.h"

#include <cwchar>

// Buttons: PreMap, PostMap.
template <class T>
using CxButtonLayerT = CxWindowProcT<T, true>;

// Static-like controls (statics, progress bars): PreMap, NameFromId, CreateFont, PostMap; the innermost
// layer of the family runs no post-map. Each layer holds a name made from the control id and a font.
template <class T, bool kRunsPostMap = true>
class CxStaticLayerT : public CxWindowProcT<T, kRunsPostMap> {
public:
    using CxWindowProcT<T, kRunsPostMap>::CxWindowProcT;

    ~CxStaticLayerT() override
    {
        if (m_hFont != nullptr)
            DeleteObject(m_hFont);
    }

    // The prefix followed by the control id, made on the first call and kept.
    virtual const wchar_t* NameFromId(const wchar_t* prefix)
    {
        if (m_nameFromId.IsEmpty())
            m_nameFromId.Format(L"%s%d", prefix != nullptr ? prefix : L"", GetDlgCtrlID(this->m_hWnd));
        return m_nameFromId;
    }

    // A new font from the given one, or a copy of the window's font for null. E_FAIL when the given font
    // cannot be read, E_UNEXPECTED when the new one cannot be made; on success the font held before goes.
    virtual HRESULT CreateFont(HFONT font)
    {
        HFONT source = font;
        if (source == nullptr) {
            source = reinterpret_cast<HFONT>(SendMessageW(this->m_hWnd, WM_GETFONT, 0, 0));
            if (source == nullptr)
                source = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
        }
        LOGFONTW logFont{};
        if (GetObjectW(source, sizeof(logFont), &logFont) != sizeof(logFont))
            return E_FAIL;
        HFONT created = CreateFontIndirectW(&logFont);
        if (created == nullptr)
            return E_UNEXPECTED;
        if (m_hFont != nullptr)
            DeleteObject(m_hFont);
        m_hFont = created;
        return S_OK;
    }

    HFONT GetFont() const { return m_hFont; }

protected:
    // CXM_SETFONT: the control makes its own copy of the font (result 1).
    BOOL PreMap(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT& lResult, DWORD mapId) override
    {
        if (mapId != CX_MAPID_CHAIN || message != CXM_SETFONT)
            return FALSE;
        CreateFont(reinterpret_cast<HFONT>(wParam));
        lResult = 1;
        return TRUE;
    }

    CxString m_nameFromId;
    HFONT m_hFont = nullptr;
};
