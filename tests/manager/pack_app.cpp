// A small program with the pack list, started by the pack tests from a folder that holds it beside its
// own SKINS and LANGUAGES folders. Command line: KEY REPORT [PACKNAME]
//   KEY       leaf of the registry key below HKCU\software\KwepTest\Packs that keeps its "Skin" value
//   REPORT    file the program writes what it saw into (UTF-8 lines, below)
//   PACKNAME  the skin pack to choose from its menu, as a user does, before it ends
// At start it loads its persisted "Skin" and builds its pack menu; at the end it saves "Skin".
// Report lines: "menu <id> <text>" per pack item, "language <name>" per language pack,
// "current <skin file>", "id <current pack id>" and "probe <pos of section probe in the applied file>"
// after the start and again after a choice; "exit" last.
#include "manager/framework/packs/cx_pack_list.h"
#include "tests/manager/test_window_class.h"
#include "tests/manager/utf8_text.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// The probe child reads "pos" of section "probe" from every skin file applied to it.
std::wstring g_probe;

HRESULT ReadProbe(const CxResolvedFile& file)
{
    CxString value;
    const HRESULT hr = CxIniReadString(file.path, L"probe", L"pos", &value);
    g_probe = value.IsEmpty() ? L"" : static_cast<const wchar_t*>(value);
    return hr;
}

LRESULT CALLBACK ProbeProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == CXM_APPLYSKINFILE) {
        g_probe.clear();
        CxWithResolvedFile(reinterpret_cast<const wchar_t*>(wParam), ReadProbe, nullptr);
        return 1;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

constexpr UINT WM_APP_SETTLED = WM_APP + 1;

class PackAppWnd : public CxWindowProcT<CWnd>, public CxPersistWnd, public CxPackList {
public:
    explicit PackAppWnd(const wchar_t* key) : m_key(key) { CxWndLink::Attach(&m_hWnd); }

    HMENU skins = nullptr;

    HRESULT GetPersistKeyPath(CxKeyPath& path) override
    {
        for (const wchar_t* c : {L"software", L"KwepTest", L"Packs"})
            CxKeyPathAdd(path, c);
        return CxKeyPathAdd(path, m_key);
    }
    HRESULT GetPersistProps(CxPersistEntries& list) override
    {
        list.Add(CxPackList::SkinEntry(m_hWnd));
        return CxPersistProps::GetPersistProps(list);
    }
    void AllowPersistence() { ModifyFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0, 0, 0); }

    bool settled = false;

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        // The menu commands of the skin packs post the choice, as the main window does.
        if (message == WM_COMMAND && LOWORD(wParam) >= CX_ID_PACK_FIRST && LOWORD(wParam) <= CX_ID_PACK_LAST) {
            ::PostMessageW(hWnd, CXM_APPLYSELECTEDSKIN, 0, LOWORD(wParam));
            lResult = 0;
            return TRUE;
        }
        if (message == WM_APP_SETTLED) {
            settled = true;
            return TRUE;
        }
        if (CxPackList::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
            return TRUE;
        return CxPersistWnd::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN);
    }

private:
    const wchar_t* m_key;
};

void ReportState(FILE* report, PackAppWnd& wnd)
{
    std::fprintf(report, "current %s\n", Utf8(wnd.GetCurrentSkinFile()).c_str());
    std::fprintf(report, "id %d\n", wnd.GetCurrentPackId());
    std::fprintf(report, "probe %s\n", Utf8(g_probe.c_str()).c_str());
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    FILE* report = _wfopen(argv[2], L"wb");
    if (report == nullptr)
        return 3;
    PackAppWnd wnd(argv[1]);
    HMENU bar = CreateMenu();
    wnd.skins = CreatePopupMenu();
    AppendMenuW(wnd.skins, MF_STRING, CX_ID_PACK_ANCHOR, L"&Refresh");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(wnd.skins), L"&Skins");
    if (!wnd.CreateEx(0, RegisterTestWindowClass(L"KwepPackApp", DefWindowProcW), L"packs", WS_OVERLAPPEDWINDOW, 20, 20,
                      300, 200, nullptr, bar)) {
        std::fclose(report);
        return 4;
    }
    CreateWindowExW(0, RegisterTestWindowClass(L"KwepPackProbe", ProbeProc), L"", WS_CHILD, 0, 0, 10, 10, wnd.m_hWnd,
                    nullptr, GetModuleHandleW(nullptr), nullptr);
    wnd.SetBuiltInPackFile(CX_BUILTIN_SKIN_SPEC);
    wnd.AllowPersistence();
    wnd.Restore();
    SendMessageW(wnd.m_hWnd, CXM_BUILDPACKMENU, reinterpret_cast<WPARAM>(bar), -1);
    for (int i = 0; i < GetMenuItemCount(wnd.skins); ++i) {
        const UINT id = GetMenuItemID(wnd.skins, i);
        if (id < CX_ID_PACK_FIRST || id > CX_ID_PACK_LAST)
            continue;
        wchar_t text[256] = {};
        GetMenuStringW(wnd.skins, id, text, 255, MF_BYCOMMAND);
        std::fprintf(report, "menu %u %s\n", id, Utf8(text).c_str());
    }
    CxString languages;
    CxArray<CxString> files;
    if (SUCCEEDED(CxGetPackFolder(&languages, FALSE)) && SUCCEEDED(CxEnumIniFiles(languages, files))) {
        for (int i = 0; i < files.GetCount(); ++i) {
            CxPackEntry entry;
            if (SUCCEEDED(CxReadPackEntry(wnd.m_hWnd, files.ElementAt(i), &entry)))
                std::fprintf(report, "language %s\n", Utf8(entry.Name()).c_str());
        }
    }
    ReportState(report, wnd);

    if (argc >= 4) {
        UINT chosen = 0;
        for (int i = 0; i < GetMenuItemCount(wnd.skins); ++i) {
            wchar_t text[256] = {};
            const UINT id = GetMenuItemID(wnd.skins, i);
            GetMenuStringW(wnd.skins, id, text, 255, MF_BYCOMMAND);
            if (id >= CX_ID_PACK_FIRST && id <= CX_ID_PACK_LAST && std::wstring(text) == argv[3])
                chosen = id;
        }
        if (chosen != 0) {
            SendMessageW(wnd.m_hWnd, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
            // The choice was posted; the marker posted after it arrives once it is done.
            ::PostMessageW(wnd.m_hWnd, WM_APP_SETTLED, 0, 0);
            MSG msg;
            while (!wnd.settled && GetMessageW(&msg, nullptr, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            ReportState(report, wnd);
        }
    }
    wnd.Save();
    wnd.DestroyWindow();
    std::fprintf(report, "exit\n");
    std::fclose(report);
    return 0;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const int code = argv != nullptr ? Run(argc, argv) : 1;
    LocalFree(argv);
    return code;
}
