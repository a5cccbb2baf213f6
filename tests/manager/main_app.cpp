// A program on the application base with a main dialog base: a menu bar (skins, options, languages)
// and a status bar. The pack tests start it from a folder that holds it beside the fixture's SKINS and
// LANGUAGES folders. Command line: TAG REPORT ARTEFACTS [drive]
//   TAG        part of the window title "KwepMainApp TAG", by which the captures find the window
//   REPORT     file the program writes what it saw into (lines below)
//   ARTEFACTS  folder the captures of the X display go to (<step>.xwd and <step>.png)
//   drive      go through the menus: the "Blue" skin, the tool-tip switch, the "Deutsch" language;
//              without it the program only reports its remembered state
// Report lines: "tooltips on|off" (at start, and after the switch), "skin <file>", "probe answered" when
// the window answers the single-instance probe with its number, and per captured
// step "capture <step> <r g b of the client centre> <pixels of the status bar's skin colour in the bar>".
// Its persisted values live below HKCU\software\KwepTest\MainApp.
#include "manager/dialogs/cx_main_dlg.h"
#include "manager/framework/windows/cx_app.h"
#include "tests/manager/utf8_text.h"
#include "tests/support/unix_shell.h"

#include <shellapi.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr UINT kTemplate = 302;
constexpr UINT kStatusBar = 1001;
constexpr UINT kLanguageAnchor = 60513;
constexpr UINT kLanguageSeparator = 60514;
constexpr COLORREF kStatusColour = RGB(255, 255, 0);

// {3C7A9E15-6D24-4F8B-A1C3-5E9B0D7F2A46}
const GUID kGuid = {0x3c7a9e15, 0x6d24, 0x4f8b, {0xa1, 0xc3, 0x5e, 0x9b, 0x0d, 0x7f, 0x2a, 0x46}};

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class MainDlg : public CxMainDlg {
public:
    MainDlg() : CxMainDlg(kTemplate, nullptr)
    {
        SetBuiltInPackFile(CX_BUILTIN_SKIN_SPEC);
        SetSkinSection(L"main");
        ModifyFlags(CXFL_CANSAVEPROPS | CXFL_CANLOADPROPS, 0, 0, 0);
    }

    CxPackEntries languages;

    BOOL OnInitDialog() override
    {
        CxMainDlg::OnInitDialog();
        RECT bar{10, 150, 310, 168};
        m_textBar.Create(m_hWnd, bar, kStatusBar);
        // The language packs, as the application's main window lists them.
        CxString folder;
        CxArray<CxString> files;
        if (SUCCEEDED(CxGetPackFolder(&folder, FALSE)) && SUCCEEDED(CxEnumIniFiles(folder, files))) {
            for (int i = 0; i < files.GetCount(); ++i) {
                auto* entry = new CxPackEntry;
                if (SUCCEEDED(CxReadPackEntry(m_hWnd, files.ElementAt(i), entry)))
                    languages.Add(entry);
                else
                    delete entry;
            }
        }
        CxAppendPackMenu(GetMenu(m_hWnd), languages, kLanguageAnchor, -1, CX_ID_LANGUAGE_FIRST, kLanguageSeparator);
        return TRUE;
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (message == CXM_GETSKINSECTION && wParam == kStatusBar + 2 && lParam != 0) {
            *reinterpret_cast<const wchar_t**>(lParam) = L"status";
            lResult = 1;
            return TRUE;
        }
        return CxMainDlg::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
    }

    // A language item: its greeting goes to the status bar.
    void OnLanguage(UINT id)
    {
        wchar_t* file = CxPackList::GetTextById(languages, static_cast<int>(id));
        CxString greeting;
        CxIniReadString(file, L"strings", L"100", &greeting);
        CxFree(file);
        m_textBar.SetText(greeting, FALSE);
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MainDlg, CxMainDlg)
ON_COMMAND_RANGE(CX_ID_LANGUAGE_FIRST, CX_ID_LANGUAGE_LAST, OnLanguage)
END_MESSAGE_MAP()

class MainApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override { return &kGuid; }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override
    {
        SetRegistryKey(L"KwepTest");
        m_pszProfileName = L"MainApp";
    }
    BOOL GetString(CxString& text, UINT) override
    {
        text.Empty();
        return FALSE;
    }

    BOOL InitInstance() override;

private:
    void Report(const char* format, const std::string& text)
    {
        if (m_report != nullptr)
            std::fprintf(m_report, format, text.c_str());
    }
    void ReportToolTips() { Report("tooltips %s\n", (GetFlagsLow() & CXFL_NOTOOLTIPS) ? "off" : "on"); }
    void Settle();
    // Captures the window from the X display and reports the client centre's colour and how many pixels of
    // the status bar have the status colour.
    void Capture(const std::string& step);
    // Chooses the menu item of the popup whose text is the name.
    bool Choose(int popup, const wchar_t* name);

    MainDlg m_dlg;
    FILE* m_report = nullptr;
    std::wstring m_title;
    std::wstring m_artefacts;
};

void MainApp::Settle()
{
    for (int i = 0; i < 3; ++i) {
        RedrawWindow(m_dlg.m_hWnd, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        GdiFlush();
        Pump();
        SendMessageW(m_dlg.m_hWnd, WM_NULL, 0, 0);
    }
}

void MainApp::Capture(const std::string& step)
{
    using test_support::ShellQuote;
    Settle();
    RECT window{};
    GetWindowRect(m_dlg.m_hWnd, &window);
    RECT client{};
    GetClientRect(m_dlg.m_hWnd, &client);
    POINT origin{0, 0};
    ClientToScreen(m_dlg.m_hWnd, &origin);
    const int dx = origin.x - window.left;
    const int dy = origin.y - window.top;
    std::vector<POINT> points = {{dx + client.right / 2, dy + client.bottom / 2}};
    // The bar's pixels inside the window (the dump holds no others), and no more of them than the probe's
    // command takes: a skin may give the bar any size.
    RECT bar{};
    GetWindowRect(m_dlg.GetTextBar().m_hWnd, &bar);
    IntersectRect(&bar, &bar, &window);
    constexpr size_t kMaxProbes = 1 << 16;
    for (int y = bar.top; y < bar.bottom && points.size() < kMaxProbes; ++y) {
        for (int x = bar.left; x < bar.right && points.size() < kMaxProbes; ++x)
            points.push_back(POINT{x - window.left, y - window.top});
    }
    std::string args;
    for (const POINT& p : points)
        args += " " + std::to_string(p.x) + " " + std::to_string(p.y);
    const std::string folder = test_support::UnixPath(m_artefacts);
    const std::string xwd = folder + "/main_app_" + step + ".xwd";
    const std::string png = folder + "/main_app_" + step + ".png";
    const test_support::ShellResult r = test_support::RunShell(
        "id=$(xdotool search --onlyvisible --name " + ShellQuote(Utf8(m_title.c_str())) +
        " | head -n1) && test -n \"$id\" && xwd -silent -id \"$id\" -out " + ShellQuote(xwd) + " && /usr/bin/python3 " +
        ShellQuote(KWEP_XWD_SCRIPT) + " xwd_probe " + ShellQuote(xwd) + " " + ShellQuote(png) + args);
    if (!r.finished || r.exitCode != 0) {
        Report("capture %s failed\n", step);
        return;
    }
    std::istringstream in(r.out);
    int red = 0, green = 0, blue = 0;
    in >> red >> green >> blue;
    const std::string centre = std::to_string(red) + " " + std::to_string(green) + " " + std::to_string(blue);
    int coloured = 0;
    while (in >> red >> green >> blue) {
        if (RGB(red, green, blue) == kStatusColour)
            ++coloured;
    }
    Report("capture %s\n", step + " " + centre + " " + std::to_string(coloured));
}

bool MainApp::Choose(int popup, const wchar_t* name)
{
    HMENU menu = GetSubMenu(GetMenu(m_dlg.m_hWnd), popup);
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[256] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 255, MF_BYPOSITION);
        if (std::wstring(text) == name) {
            // As a click does: the popup is updated, then the command goes to the window.
            SendMessageW(m_dlg.m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(popup, FALSE));
            SendMessageW(m_dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(GetMenuItemID(menu, i), 0), 0);
            Pump();  // a skin choice is posted
            return true;
        }
    }
    return false;
}

BOOL MainApp::InitInstance()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 4) {
        LocalFree(argv);
        return FALSE;
    }
    m_title = std::wstring(L"KwepMainApp ") + argv[1];
    m_report = _wfopen(argv[2], L"wb");
    m_artefacts = argv[3];
    const bool drive = argc >= 5 && std::wstring(argv[4]) == L"drive";
    LocalFree(argv);
    if (m_report == nullptr || !CxWinApp::InitInstance())
        return FALSE;
    ReportToolTips();
    if (!m_dlg.Create(kTemplate, nullptr))
        return FALSE;
    SetWindowTextW(m_dlg.m_hWnd, m_title.c_str());
    SetWindowPos(m_dlg.m_hWnd, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    Settle();
    Report("skin %s\n", Utf8(m_dlg.GetCurrentSkinFile()));
    // The single-instance probe of another start is answered with its own number.
    const UINT probe = GetInstanceMessage();
    Report("probe %s\n", probe != 0 && SendMessageW(m_dlg.m_hWnd, probe, 0, 0) == static_cast<LRESULT>(probe)
                             ? "answered"
                             : "unanswered");
    if (drive) {
        // The built-in skin's status line, as the capture shows it; gone again before the skin changes.
        m_dlg.GetTextBar().SetText(L"Ready", FALSE);
        Capture("start");
        m_dlg.GetTextBar().SetText(L"", FALSE);
        Report("%s\n", Choose(0, L"Blue") ? "chose Blue" : "no Blue");
        Report("skin %s\n", Utf8(m_dlg.GetCurrentSkinFile()));
        Capture("skin");
        Report("%s\n", Choose(1, L"&Tool tips") ? "chose tool tips" : "no tool tips");
        ReportToolTips();
        Capture("tooltips");
        Report("%s\n", Choose(2, L"Deutsch") ? "chose Deutsch" : "no Deutsch");
        Report("status %s\n", Utf8(m_dlg.GetTextBar().GetMainText()));
        Capture("language");
    }
    m_dlg.DestroyWindow();
    Report("%s\n", "exit");
    std::fclose(m_report);
    m_report = nullptr;
    return FALSE;  // the end step saves the application's values
}

MainApp theApp;

}  // namespace
