// The language test host: a main dialog with menu 133 that owns a CLanguageManager, registered as the
// application's text lookup, wired as the manager's main window wires it. Built twice: with the tests'
// own menus and built-in file (language_host), and with the manager's (language_host_res). The tests
// start a copy of it placed beside a LANGUAGES fixture folder.
// Command line: REPORT STEP... (each step one argument, or two for the steps that take a value)
//   dump           the state and every table (lines below)
//   choose NAME    picks the Language menu item named NAME, as a click does
//   delete PATH    deletes a file
//   rebuild        the "Rebuild List" command
//   lock           locks the window's menus
//   ask K,E,ID,S   the pack text request (key, element, pack id, selector)
//   string ID      the application's text of the id
//   threads        worker lookups while this thread loads languages and rebuilds the menu
// Report lines: "current LOCATION", "command N", "title TEXT", "langmenu ID CHECKED ENABLED HEX" (or "langmenu ID sep"),
// "popup INDEX HEX", "text ID HEX", "menu MENU ITEM HEX" (ITEM "popup:N"), "probe COUNT LOCATION",
// "chose NAME" / "no NAME", "ask HRESULT HEX", "string ID HEX", "threads LOOKUPS BAD", "exit". HEX is
// the UTF-8 bytes of a text in hexadecimal, "-" for none.
// Its persisted values live below HKCU\software\KwepTest\LanguageHost.
#include "manager/dialogs/cx_main_dlg.h"
#include "manager/framework/windows/cx_app.h"
#include "manager/main/language/language_manager.h"
#include "tests/manager/test_window_class.h"
#include "tests/manager/utf8_text.h"

#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr UINT kTemplate = 102;
constexpr UINT kLabel = 1000;
constexpr UINT kContextMenus[] = {kPcListMenuId, kPlayerListMenuId, kPlayListMenuId};

// {6E1D3B52-8A47-4C09-B2F6-1D7C5E9A3F80}
const GUID kGuid = {0x6e1d3b52, 0x8a47, 0x4c09, {0xb2, 0xf6, 0x1d, 0x7c, 0x5e, 0x9a, 0x3f, 0x80}};

std::string Hex(const wchar_t* text)
{
    const std::string utf8 = Utf8(text);
    if (utf8.empty())
        return "-";
    std::string out;
    char pair[3];
    for (unsigned char c : utf8) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        out += pair;
    }
    return out;
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A child window that counts the re-translation requests it gets.
struct Probe {
    int count = 0;
    std::wstring location;

    static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == CXM_TRANSLATE) {
            auto* probe = reinterpret_cast<Probe*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
            if (probe != nullptr) {
                ++probe->count;
                probe->location = wParam != 0 ? reinterpret_cast<const wchar_t*>(wParam) : L"";
            }
            return 1;
        }
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
};

class HostDlg : public CxMainDlg, public CLanguageHost {
public:
    HostDlg() : CxMainDlg(kTemplate, nullptr), m_language(*this)
    {
        m_language.InitLanguage();
        SetBuiltInPackFile(CX_BUILTIN_SKIN_SPEC);
        SetSkinSection(L"main");
        ModifyFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0, 0, 0);
    }
    ~HostDlg() override
    {
        for (HMENU menu : m_loadedMenus) {
            if (menu != nullptr)
                DestroyMenu(menu);
        }
    }

    CLanguageManager& Language() { return m_language; }
    Probe& GetProbe() { return m_probe; }
    int WindowTextRuns() const { return m_windowTexts; }
    int PaneTextRuns() const { return m_paneTexts; }

    // ---- CLanguageHost ----
    HWND GetLanguageWindow() override { return m_hWnd; }
    HMENU GetLanguageMenu(UINT menuId) override
    {
        if (menuId == kMainMenuId)
            return m_hWnd != nullptr ? ::GetMenu(m_hWnd) : nullptr;
        for (int i = 0; i < 3; ++i) {
            if (kContextMenus[i] != menuId)
                continue;
            if (m_loadedMenus[i] == nullptr)
                m_loadedMenus[i] = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId));
            return m_loadedMenus[i];
        }
        return nullptr;
    }
    BOOL AreMenusLocked() override { return (m_flagsHigh & CXFH_MENUSLOCKED) != 0; }
    void TranslateWindowTexts() override
    {
        ++m_windowTexts;
        CxString text;
        m_language.LookupTranslation(text, 1);  // a lookup on this thread while the tables change
        if (m_hWnd != nullptr)
            SetDlgItemTextW(m_hWnd, kLabel, text);
    }
    void RebuildPaneTexts() override { ++m_paneTexts; }

    // ---- The main window's wiring ----
    HRESULT GetPersistProps(CxPersistEntries& list) override
    {
        if (!list.Add(CLanguageManager::LanguageEntry(m_hWnd)))
            return E_OUTOFMEMORY;
        return CxMainDlg::GetPersistProps(list);
    }
    HRESULT CanLoad(BOOL allowed) override
    {
        if (m_hWnd != nullptr)
            m_language.EnsureLanguageMenu();
        return CxMainDlg::CanLoad(allowed);
    }
    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override
    {
        if (m_language.OnLanguageCmdMsg(nID, nCode, pExtra, pHandlerInfo))
            return TRUE;
        return CxMainDlg::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
    }
    BOOL OnInitDialog() override
    {
        // The child first: the remembered language is restored during the base's set-up.
        const wchar_t* cls = RegisterTestWindowClass(L"KwepLanguageProbe", &Probe::Proc);
        HWND probe =
            CreateWindowExW(0, cls, L"", WS_CHILD, 0, 0, 1, 1, m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(probe, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&m_probe));
        return CxMainDlg::OnInitDialog();
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (mapId == CX_MAPID_CHAIN && m_language.ProcessLanguageMessage(message, wParam, lParam, lResult))
            return TRUE;
        return CxMainDlg::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
    }

private:
    CLanguageManager m_language;
    HMENU m_loadedMenus[3] = {};
    Probe m_probe;
    int m_windowTexts = 0;
    int m_paneTexts = 0;
};

class HostApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override
    {
        SetRegistryKey(L"KwepTest");
        m_pszProfileName = L"LanguageHost";
    }
    BOOL GetString(CxString& text, UINT id) override
    {
        CTextLookup* lookup = m_lookup.load();
        if (lookup != nullptr)
            return lookup->LookupTranslation(text, id);
        text.Empty();
        return FALSE;
    }
    BOOL InitInstance() override;

private:
    void Line(const std::string& text)
    {
        std::fprintf(m_report, "%s\n", text.c_str());
        std::fflush(m_report);
    }
    HMENU LanguagePopup();
    void Dump();
    void Choose(const std::wstring& name);
    void Ask(const std::wstring& request);
    void Threads();

    HostDlg m_dlg;
    std::atomic<CTextLookup*> m_lookup{nullptr};
    FILE* m_report = nullptr;
};

HMENU HostApp::LanguagePopup()
{
    int position = -1;
    HMENU holder = CLanguageManager::FindPopupByIndex(::GetMenu(m_dlg.m_hWnd), 6, &position);
    return holder != nullptr ? GetSubMenu(holder, position) : nullptr;
}

void HostApp::Dump()
{
    CxString current;
    m_dlg.Language().GetCurrentLanguage(&current);
    Line("current " + Utf8(current));
    Line("command " + std::to_string(m_dlg.Language().GetCurrentLanguageCommand()));
    wchar_t title[256] = {};
    GetWindowTextW(m_dlg.m_hWnd, title, 255);
    Line("title " + Utf8(title));
    HMENU language = LanguagePopup();
    if (language != nullptr) {
        SendMessageW(m_dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(language), MAKELPARAM(1, FALSE));
        for (int i = 0; i < GetMenuItemCount(language); ++i) {
            wchar_t text[256] = {};
            GetMenuStringW(language, static_cast<UINT>(i), text, 255, MF_BYPOSITION);
            const UINT state = GetMenuState(language, static_cast<UINT>(i), MF_BYPOSITION);
            const std::string id = std::to_string(GetMenuItemID(language, i));
            if (state & MF_SEPARATOR)
                Line("langmenu " + id + " sep");
            else
                Line("langmenu " + id + ((state & MF_CHECKED) ? " 1 " : " 0 ") + ((state & MF_GRAYED) ? "0 " : "1 ") +
                     Hex(text));
        }
    }
    HMENU main = ::GetMenu(m_dlg.m_hWnd);
    for (int index = 0;; ++index) {
        int position = -1;
        HMENU holder = CLanguageManager::FindPopupByIndex(main, index, &position);
        if (holder == nullptr)
            break;
        wchar_t text[256] = {};
        GetMenuStringW(holder, static_cast<UINT>(position), text, 255, MF_BYPOSITION);
        Line("popup " + std::to_string(index) + " " + Hex(text));
    }
    for (UINT id : {4121u, 60257u}) {
        wchar_t text[256] = {};
        GetMenuStringW(main, id, text, 255, MF_BYCOMMAND);
        Line("item 133 " + std::to_string(id) + " " + Hex(text));
    }
    CLanguageKeyTables keys;
    BuildLanguageKeyTables(&keys);
    for (const CLanguageKeyGroup& group : keys.groups) {
        for (int i = 0; i < group.keys.GetCount(); ++i) {
            const UINT item = group.keys.ElementAt(i).item;
            CxString text;
            if (group.menu == 0) {
                m_dlg.Language().FindLoadedText(text, item);
                Line("text " + std::to_string(item) + " " + Hex(text));
            } else {
                m_dlg.Language().FindMenuText(text, item, group.menu);
                const std::string name =
                    item >= kPopupItemBase ? "popup:" + std::to_string(item - kPopupItemBase) : std::to_string(item);
                Line("menu " + std::to_string(group.menu) + " " + name + " " + Hex(text));
            }
        }
    }
    Line("probe " + std::to_string(m_dlg.GetProbe().count) + " " + Utf8(m_dlg.GetProbe().location.c_str()));
    Line("runs " + std::to_string(m_dlg.WindowTextRuns()) + " " + std::to_string(m_dlg.PaneTextRuns()));
}

void HostApp::Choose(const std::wstring& name)
{
    HMENU language = LanguagePopup();
    for (int i = 0; language != nullptr && i < GetMenuItemCount(language); ++i) {
        wchar_t text[256] = {};
        GetMenuStringW(language, static_cast<UINT>(i), text, 255, MF_BYPOSITION);
        if (name == text) {
            // As a click does: the popup is updated, then the command goes to the window.
            SendMessageW(m_dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(language), MAKELPARAM(1, FALSE));
            SendMessageW(m_dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(GetMenuItemID(language, i), 0), 0);
            Pump();
            Line("chose " + Utf8(name.c_str()));
            return;
        }
    }
    Line("no " + Utf8(name.c_str()));
}

void HostApp::Ask(const std::wstring& request)
{
    CxPackTextRequest r{};
    if (swscanf(request.c_str(), L"%d,%d,%d,%d", &r.key, &r.element, &r.packId, &r.selector) != 4) {
        Line("ask bad");
        return;
    }
    CxString text;
    const LRESULT hr =
        SendMessageW(m_dlg.m_hWnd, CXM_GETLANGUAGETEXT, reinterpret_cast<WPARAM>(&r), reinterpret_cast<LPARAM>(&text));
    char code[16];
    std::snprintf(code, sizeof code, "%08lx", static_cast<unsigned long>(hr));
    Line(std::string("ask ") + code + " " + Hex(text));
}

// Worker lookups while this thread loads the two languages in turn and rebuilds the Language menu: every
// answer must be the whole text of one of the two languages. The loop runs until every worker has made
// two full passes during it, so the work overlaps however the threads are scheduled.
void HostApp::Threads()
{
    CLanguageManager& language = m_dlg.Language();
    std::wstring deutsch;
    const CxPackEntries& packs = language.GetLanguagePacks();
    for (int i = 0; i < packs.GetCount(); ++i) {
        if (CxStrCompare(packs.ElementAt(i).Name(), L"Deutsch", 0) == 0)
            deutsch = packs.ElementAt(i).IniPath();
    }
    const std::wstring english = language.GetBuiltInLanguage();
    CLanguageKeyTables keys;
    BuildLanguageKeyTables(&keys);
    std::vector<UINT> ids;
    for (int i = 0; i < keys.groups[0].keys.GetCount(); ++i)
        ids.push_back(keys.groups[0].keys.ElementAt(i).item);
    std::map<UINT, std::set<std::wstring>> allowed;
    for (const std::wstring& location : {english, deutsch}) {
        language.TranslateMainMenu(location.c_str());
        for (UINT id : ids) {
            CxString text;
            language.LookupTranslation(text, id);
            allowed[id].insert(text.IsEmpty() ? L"" : static_cast<const wchar_t*>(text));
        }
    }
    struct Shared {
        CLanguageManager* language;
        const std::vector<UINT>* ids;
        const std::map<UINT, std::set<std::wstring>>* allowed;
        std::atomic<bool> stop{false};
        std::atomic<long> passes{0};
        std::atomic<long> lookups{0};
        std::atomic<long> bad{0};
        HANDLE started = nullptr;
    } shared{&language, &ids, &allowed};
    shared.started = CreateSemaphoreW(nullptr, 0, 16, nullptr);
    auto worker = [](void* parameter) -> DWORD {
        auto* s = static_cast<Shared*>(parameter);
        bool signalled = false;
        while (!s->stop.load()) {
            for (UINT id : *s->ids) {
                CxString text;
                s->language->LookupTranslation(text, id);
                const auto& set = s->allowed->at(id);
                if (set.count(text.IsEmpty() ? L"" : static_cast<const wchar_t*>(text)) == 0)
                    ++s->bad;
                ++s->lookups;
            }
            ++s->passes;
            if (!signalled) {
                ReleaseSemaphore(s->started, 1, nullptr);
                signalled = true;
            }
        }
        return 0;
    };
    constexpr int kWorkers = 3;
    HANDLE threads[kWorkers] = {};
    for (HANDLE& t : threads)
        t = CreateThread(nullptr, 0, worker, &shared, 0, nullptr);
    for (int i = 0; i < kWorkers; ++i)
        WaitForSingleObject(shared.started, INFINITE);
    const long passesBefore = shared.passes.load();
    const long lookupsBefore = shared.lookups.load();
    int rounds = 0;
    while (rounds < 10 || shared.passes.load() < passesBefore + 2 * kWorkers) {
        language.TranslateMainMenu(rounds % 2 == 0 ? deutsch.c_str() : english.c_str());
        language.RebuildLanguageMenu();
        CxString text;
        GetString(text, 1);  // this thread's own lookups between
        ++rounds;
    }
    const long during = shared.lookups.load() - lookupsBefore;
    shared.stop = true;
    WaitForMultipleObjects(kWorkers, threads, TRUE, INFINITE);
    for (HANDLE t : threads)
        CloseHandle(t);
    CloseHandle(shared.started);
    Line("threads " + std::to_string(during) + " " + std::to_string(shared.bad.load()) + " " + std::to_string(rounds));
}

BOOL HostApp::InitInstance()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) {
        LocalFree(argv);
        return FALSE;
    }
    m_report = _wfopen(argv[1], L"wb");
    std::vector<std::wstring> steps(argv + 2, argv + argc);
    LocalFree(argv);
    if (m_report == nullptr || !CxWinApp::InitInstance())
        return FALSE;
    // Registered for the main window's life, before the remembered language is restored.
    m_lookup = &m_dlg.Language();
    if (!m_dlg.Create(kTemplate, nullptr)) {
        m_lookup = nullptr;
        return FALSE;
    }
    Pump();
    for (size_t i = 0; i < steps.size(); ++i) {
        const std::wstring& step = steps[i];
        const std::wstring value = i + 1 < steps.size() ? steps[i + 1] : L"";
        if (step == L"dump") {
            Dump();
        } else if (step == L"choose") {
            Choose(value);
            ++i;
        } else if (step == L"delete") {
            Line(DeleteFileW(value.c_str()) ? "deleted" : "not deleted");
            ++i;
        } else if (step == L"rebuild") {
            SendMessageW(m_dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(kIdRebuildLanguageList, 0), 0);
        } else if (step == L"lock") {
            m_dlg.ModifyFlags(0, CXFH_MENUSLOCKED, 0, 0);
        } else if (step == L"ask") {
            Ask(value);
            ++i;
        } else if (step == L"string") {
            CxString text;
            GetString(text, static_cast<UINT>(_wtoi(value.c_str())));
            Line("string " + Utf8(value.c_str()) + " " + Hex(text));
            ++i;
        } else if (step == L"threads") {
            Threads();
        }
    }
    m_dlg.DestroyWindow();
    m_lookup = nullptr;
    Line("exit");
    std::fclose(m_report);
    m_report = nullptr;
    return FALSE;  // the end step saves the application's values
}

HostApp theApp;

}  // namespace
