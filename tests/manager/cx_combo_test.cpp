// The combo boxes and the file-type filter with real windows: file types registered with Wine's `reg`
// tool, the icon locations they give, the icons in the image list compared pixel for pixel with what
// icoutils extract from the same module or icon file, the mask copies freed once whichever way items go,
// CBN_SELCHANGE for selections made by code, the combo read back by another process, and the skin
// position.
#include "manager/controls/combo/cx_file_mask_combo.h"
#include "manager/framework/windows/cx_platform.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/host_process.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <olectl.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;
using test_support::TempFolder;

constexpr UINT kComboId = 4001;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::wstring Str(const wchar_t* text)
{
    return text != nullptr ? text : L"";
}

// The folder of the icon fixtures and of cx_combo_icons.dll, as Windows paths.
std::wstring IconDir()
{
    return test_support::BuildTreeProgram(KWEP_COMBO_ICON_DIR);
}
std::wstring IconDll()
{
    return test_support::BuildTreeProgram(KWEP_COMBO_ICONS_DLL);
}

// The folder of this program, with its trailing "\".
std::wstring ProgramDir()
{
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

// Runs `wine64 reg` (through scripts/wine-exec, in this process's prefix) once per argument list, all
// at once; the argument lists that failed.
std::string RegAll(const std::vector<std::string>& commands)
{
    std::string script;
    for (size_t i = 0; i < commands.size(); ++i)
        script += "(" + ShellQuote(KWEP_WINE_EXEC) + " reg " + commands[i] + " >/dev/null 2>&1 || echo " +
                  ShellQuote("failed: " + commands[i]) + ") &\n";
    const ShellResult r = RunShell(script + "wait\n");
    return r.finished ? r.out : "<did not finish> " + r.err;
}

// A file type: ".ext" names the type; the type's DefaultIcon holds icon (a type key without DefaultIcon
// when empty).
struct RegisteredType {
    std::string extension;
    std::string type;
    std::string icon;
    std::string valueType = "REG_SZ";
};

std::vector<RegisteredType> RegisteredTypes()
{
    const std::string dll = Narrow(IconDll());
    const std::string dir = Narrow(IconDir());
    return {
        {".kwepcls", "KwepComboClass", dll + ",0"},
        {".kwepenv", "KwepComboEnv", "%KWEP_COMBO_ICONS%\\cx_combo_icons.dll,1", "REG_EXPAND_SZ"},
        {".kwepneg", "KwepComboNeg", dll + ",-103"},
        {".kwepico", "KwepComboIco", dir + "\\d.ico"},
        {".kwepbare", "KwepComboBare", ""},
        {".kweplost", "KwepComboLost", dir + "\\missing.dll,0"},
        {".kwepself", "KwepComboSelf", Narrow(ProgramDir()) + ",0"},
        {".kwepcomma", "KwepComboComma", "C:\\odd,name\\x.dll,2"},
        // Never read: "*.*" takes the shell's icon without asking.
        {".*", "KwepComboStar", dir + "\\d.ico"},
    };
}

// Registers the file types for the whole program and removes them at its end.
class RegistryFixture : public ::testing::Environment {
public:
    void SetUp() override
    {
        const std::wstring dll = IconDll();
        SetEnvironmentVariableW(L"KWEP_COMBO_ICONS", dll.substr(0, dll.find_last_of(L'\\')).c_str());
        std::vector<std::string> commands;
        for (const RegisteredType& t : RegisteredTypes()) {
            commands.push_back("add " + ShellQuote("HKCR\\" + t.extension) + " /ve /d " + ShellQuote(t.type) + " /f");
            if (!t.icon.empty())
                commands.push_back("add " + ShellQuote("HKCR\\" + t.type + "\\DefaultIcon") + " /ve /t " + t.valueType +
                                   " /d " + ShellQuote(t.icon) + " /f");
            else
                commands.push_back("add " + ShellQuote("HKCR\\" + t.type) + " /ve /d " + ShellQuote(t.type) + " /f");
        }
        ASSERT_EQ(RegAll(commands), "");
    }
    void TearDown() override
    {
        std::vector<std::string> commands;
        for (const RegisteredType& t : RegisteredTypes()) {
            commands.push_back("delete " + ShellQuote("HKCR\\" + t.extension) + " /f");
            commands.push_back("delete " + ShellQuote("HKCR\\" + t.type) + " /f");
        }
        RegAll(commands);
    }
};
const auto* const g_registry = ::testing::AddGlobalTestEnvironment(new RegistryFixture);

// Makes the process take the ANSI calls while it lives (platform code given), or the wide ones.
class PlatformScope {
public:
    explicit PlatformScope(DWORD platform)
    {
        if (platform != 0)
            CxForcePlatform(platform);
    }
    ~PlatformScope() { CxClearForcedPlatform(); }
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;
};

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// ---- The program's path ----

int g_readings = 0;
HRESULT FailingReader(CxString* text)
{
    ++g_readings;
    text->Assign(L"never handed out");
    return E_UNEXPECTED;
}
HRESULT GoodReader(CxString* text)
{
    ++g_readings;
    return text->Assign(L"C:\\kwep\\program.exe");
}

TEST(ModuleFolder, IsTheProgramFileAndTheSameOnEveryCall)
{
    wchar_t expected[1024] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, expected, 1024), 0u);
    for (int call = 0; call < 2; ++call) {
        CxString path;
        ASSERT_EQ(CxGetModuleFolder(&path), S_OK);
        EXPECT_EQ(Str(path), expected);
    }
    EXPECT_EQ(CxGetModuleFolder(nullptr), E_INVALIDARG);
}

TEST(ModuleFolder, AnsiReadingGivesTheSamePath)
{
    CxString wide;
    ASSERT_EQ(CxReadModulePath(&wide), S_OK);
    PlatformScope ansi(CX_PLATFORM_WIN98);
    CxString converted;
    ASSERT_EQ(CxReadModulePath(&converted), S_OK);
    EXPECT_EQ(Str(converted), Str(wide));
}

TEST(ModuleFolder, IsReadOnceAndAFailureIsKept)
{
    struct Case {
        CxKeptReading::Reader reader;
        HRESULT result;
        const wchar_t* text;
    };
    for (const Case& c : {Case{FailingReader, E_UNEXPECTED, L""}, Case{GoodReader, S_OK, L"C:\\kwep\\program.exe"}}) {
        g_readings = 0;
        CxKeptReading kept(c.reader);
        for (int call = 0; call < 3; ++call) {
            CxString out(L"old");
            EXPECT_EQ(kept.Copy(&out), c.result);
            EXPECT_EQ(Str(out), c.text);
        }
        EXPECT_EQ(g_readings, 1);
    }
}

// ---- Icon locations ----

TEST(FileMaskIconLocation, FollowsTheRegistry)
{
    const std::wstring dll = IconDll();
    const std::wstring dir = IconDir();
    struct Case {
        const wchar_t* mask;
        HRESULT result;
        std::wstring location;
    };
    const std::vector<Case> cases = {
        {L"*.*", S_OK, L"shell32.dll?0"},
        {L"*.kwepunknown", S_OK, L"shell32.dll?0"},
        {L"*.kwepbare", S_OK, L"shell32.dll?0"},
        {L"*.kwepcls", S_OK, dll + L"?0"},
        {L"*.KWEPCLS", S_OK, dll + L"?0"},
        {L"music.tar.kwepenv", S_OK, dll + L"?1"},  // the last "." counts
        {L"*.kwepneg", S_OK, dll + L"?-103"},
        {L"*.kwepico", S_OK, dir + L"\\d.ico"},
        {L"*.kwepcomma", S_OK, L"C:\\odd,name\\x.dll?2"},
        {L"*", E_INVALIDARG, L""},
        {L"", E_INVALIDARG, L""},
        {nullptr, E_INVALIDARG, L""},
    };
    for (DWORD platform : {DWORD{0}, CX_PLATFORM_WIN95}) {
        PlatformScope scope(platform);
        for (const Case& c : cases) {
            SCOPED_TRACE(Narrow(Str(c.mask)) + (platform != 0 ? " (ANSI)" : ""));
            CxString location(L"old");
            EXPECT_EQ(CxFileMaskIconLocation(c.mask, &location), c.result);
            EXPECT_EQ(Str(location), c.location);
        }
    }
    EXPECT_EQ(CxFileMaskIconLocation(L"*.mp3", nullptr), E_INVALIDARG);
}

TEST(LoadSmallIcon, ResultsOfEachKindOfLocation)
{
    const std::wstring dir = IconDir();
    struct Case {
        std::wstring location;
        HRESULT result;
    };
    const std::vector<Case> cases = {
        {L"shell32.dll?0", S_OK},
        {IconDll() + L"?0", S_OK},
        {IconDll() + L"?-103", S_OK},
        {dir + L"\\d.ico", S_OK},
        {ProgramDir() + L"?0", S_OK},
        {IconDll() + L"?7", E_ACCESSDENIED},       // no such icon
        {IconDll() + L"?-999", E_ACCESSDENIED},    // no such resource id
        {dir + L"\\missing.dll?0", E_UNEXPECTED},  // the extraction fails
        {dir + L"\\missing.ico", E_ACCESSDENIED},
        {IconDll() + L"?one", E_INVALIDARG},
        {L"", E_INVALIDARG},
    };
    for (DWORD platform : {DWORD{0}, CX_PLATFORM_WIN95}) {
        PlatformScope scope(platform);
        for (const Case& c : cases) {
            SCOPED_TRACE(Narrow(c.location) + (platform != 0 ? " (ANSI)" : ""));
            HICON icon = reinterpret_cast<HICON>(1);
            const HRESULT hr = CxLoadSmallIcon(c.location.c_str(), &icon);
            EXPECT_EQ(hr, c.result);
            EXPECT_EQ(icon != nullptr, c.result == S_OK);
            if (icon != nullptr) {
                ICONINFO info{};
                ASSERT_TRUE(GetIconInfo(icon, &info));
                BITMAP bitmap{};
                GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
                EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXSMICON));
                DeleteObject(info.hbmColor);
                DeleteObject(info.hbmMask);
                DestroyIcon(icon);
            }
        }
    }
}

// ---- The filter combo ----

// The parent: names the combo's skin section and file, counts CBN_SELCHANGE, passes CBEN_DELETEITEM
// back to the combo when asked to, and may answer a selection change with one of its own.
struct ParentState {
    int selChanges = 0;
    int deleteNotices = 0;
    bool reflect = false;
    int answerWith = -2;  // an index to select in answer to CBN_SELCHANGE; -2: none
    std::wstring skinFile;
};
ParentState g_parent;

LRESULT CALLBACK ParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kComboId && HIWORD(wParam) == CBN_SELCHANGE) {
            ++g_parent.selChanges;
            if (g_parent.answerWith != -2)
                SendMessageW(reinterpret_cast<HWND>(lParam), CB_SETCURSEL, static_cast<WPARAM>(g_parent.answerWith), 0);
        }
        return 0;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != kComboId || header->code != static_cast<UINT>(CBEN_DELETEITEM))
            return 0;
        ++g_parent.deleteNotices;
        return g_parent.reflect ? SendMessageW(header->hwndFrom, OCM_NOTIFY, wParam, lParam) : 0;
    }
    case CXM_GETSKINSECTION:
        if (wParam == kComboId + 2 && lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = L"filter";
        return 1;
    case CXM_GETSKINFILE:
        if (g_parent.skinFile.empty())
            return 0;
        CxStrDup(reinterpret_cast<wchar_t**>(wParam), g_parent.skinFile.c_str());
        return 1;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

const wchar_t* ParentClass()
{
    static const wchar_t* name = RegisterTestWindowClass(L"KwepComboParent", ParentProc);
    return name;
}

std::vector<std::pair<std::wstring, std::wstring>> FilterRows()
{
    // display text, mask
    return {{L"All files", L"*.*"},          {L"Class", L"*.kwepcls"}, {L"Variables", L"*.kwepenv"},
            {L"Negative", L"*.kwepneg"},     {L"Lost", L"*.kweplost"}, {L"Icon file", L"*.kwepico"},
            {L"Own program", L"*.kwepself"}, {L"", L"*.kwepbare"}};
}

void FillFilters(CxArray<CxFileMaskFilter>& filters, const std::vector<std::pair<std::wstring, std::wstring>>& rows)
{
    for (const auto& [text, mask] : rows)
        ASSERT_TRUE(filters.Add(CxFileMaskFilter{CxString(text.c_str()), CxString(mask.c_str())}));
}

class FileMaskComboTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_parent = ParentState();
        CxString warm;
        CxGetModuleFolder(&warm);  // its kept copy lives for the process: not one of the counted blocks
        parent = CreateWindowExW(0, ParentClass(), L"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30, 30, 400, 300,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
    }
    void TearDown() override
    {
        combo.reset();
        DestroyWindow(parent);
        Pump();
    }

    void MakeCombo()
    {
        combo = std::make_unique<CxFileMaskComboBox>();
        ASSERT_TRUE(combo->Create(parent, RECT{10, 10, 210, 200}, kComboId));
    }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return SendMessageW(combo->m_hWnd, message, wParam, lParam);
    }

    // The item as the control holds it; text "-" for none.
    struct Item {
        bool ok = false;
        std::wstring text;
        int image = -1;
        int selected = -1;
        LPARAM data = 0;
    };
    Item GetItem(int index)
    {
        wchar_t text[260] = {};
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
        item.iItem = index;
        item.pszText = text;
        item.cchTextMax = 260;
        Item out;
        out.ok = Send(CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != 0;
        out.text = text[0] != 0 ? text : L"-";
        out.image = item.iImage;
        out.selected = item.iSelectedImage;
        out.data = item.lParam;
        return out;
    }

    HWND parent = nullptr;
    std::unique_ptr<CxFileMaskComboBox> combo;
};

// The image as the list keeps it: 32-bit pixels (b, g, r, a) and whether the mask leaves each out.
struct ListImage {
    std::vector<uint32_t> pixels;
    std::vector<bool> maskedOut;
};

std::vector<uint32_t> BitmapPart(HBITMAP bitmap, const RECT& part)
{
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = info.bmWidth;
    header.bmiHeader.biHeight = -info.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> all(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, info.bmHeight, all.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    std::vector<uint32_t> out;
    for (LONG y = part.top; y < part.bottom; ++y)
        for (LONG x = part.left; x < part.right; ++x)
            out.push_back(all[static_cast<size_t>(y) * info.bmWidth + x]);
    return out;
}

ListImage TakeImage(HIMAGELIST list, int index)
{
    ListImage image;
    HICON icon = ImageList_GetIcon(list, index, ILD_NORMAL);
    if (icon == nullptr)
        return image;
    ICONINFO info{};
    GetIconInfo(icon, &info);
    const RECT all{0, 0, 16, 16};
    image.pixels = BitmapPart(info.hbmColor, all);
    for (uint32_t m : BitmapPart(info.hbmMask, all))
        image.maskedOut.push_back((m & 0xFFFFFF) != 0);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    return image;
}

// The 16 x 16 image icoutils extract (combo_icon_pixels.py): r, g, b, a per pixel.
std::vector<uint8_t> ReferencePixels(const std::vector<std::string>& arguments)
{
    TempFolder folder;
    const std::string out = folder.UnixFile("pixels.rgba");
    std::string command = "/usr/bin/python3 " + ShellQuote(KWEP_COMBO_PIXELS_SCRIPT) + " " + ShellQuote(out);
    for (const std::string& a : arguments)
        command += " " + ShellQuote(a);
    const ShellResult r = RunShell(command);
    EXPECT_TRUE(r.finished && r.exitCode == 0) << r.err;
    std::ifstream in(folder.File("pixels.rgba"), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Pixel for pixel: opaque and partly transparent pixels by colour and alpha; fully transparent ones
// left out by the mask or by alpha 0. The number of pixels that differ.
int Differences(const ListImage& image, const std::vector<uint8_t>& reference)
{
    if (image.pixels.size() != 256 || reference.size() != 256 * 4)
        return -1;
    int differ = 0;
    for (size_t i = 0; i < 256; ++i) {
        const uint8_t r = reference[i * 4], g = reference[i * 4 + 1], b = reference[i * 4 + 2],
                      a = reference[i * 4 + 3];
        const uint32_t p = image.pixels[i];
        const uint8_t pa = static_cast<uint8_t>(p >> 24);
        if (a == 0) {
            differ += (image.maskedOut[i] || pa == 0) ? 0 : 1;
            continue;
        }
        const uint32_t expected = (static_cast<uint32_t>(a) << 24) | (r << 16) | (g << 8) | b;
        differ += p == expected ? 0 : 1;
    }
    return differ;
}

// Whether the 16 x 16 image appears somewhere in the pixels (0x00RRGGBB, top row first) drawn by the
// control: every pixel the image does not leave out, by colour.
bool ShowsImage(const std::vector<uint32_t>& shown, int width, int height, const ListImage& image)
{
    for (int top = 0; top + 16 <= height; ++top) {
        for (int left = 0; left + 16 <= width; ++left) {
            bool all = true;
            for (int i = 0; i < 256 && all; ++i) {
                if (image.maskedOut[i] || (image.pixels[i] >> 24) != 0xFF)
                    continue;
                all = (shown[static_cast<size_t>(top + i / 16) * width + left + i % 16] & 0xFFFFFF) ==
                      (image.pixels[i] & 0xFFFFFF);
            }
            if (all)
                return true;
        }
    }
    return false;
}

TEST_F(FileMaskComboTest, IconsEqualWhatIcoutilsExtract)
{
    MakeCombo();
    CxArray<CxFileMaskFilter> filters;
    FillFilters(filters, FilterRows());
    // One icon cannot be loaded ("Lost"): every item still goes in.
    ASSERT_EQ(combo->SetFilters(filters), S_FALSE);
    ASSERT_EQ(Send(CB_GETCOUNT), 8);
    HIMAGELIST list = combo->GetImageList();
    ASSERT_NE(list, nullptr);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(list, &cx, &cy);
    EXPECT_EQ(cx, GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(cy, GetSystemMetrics(SM_CYSMICON));
    EXPECT_EQ(ImageList_GetImageCount(list), 7);
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(Send(CBEM_GETIMAGELIST)), list);

    // The module ExtractIconEx reads for "shell32.dll".
    wchar_t shellPath[MAX_PATH + 1] = {};
    HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(shell, nullptr);
    GetModuleFileNameW(shell, shellPath, MAX_PATH);
    FreeLibrary(shell);
    const std::string shellModule = test_support::UnixPath(shellPath);
    const std::string dll = KWEP_COMBO_ICONS_DLL;
    const std::string program = KWEP_COMBO_TEST_PROGRAM;
    struct Case {
        int item;
        int image;                           // -1: none
        std::vector<std::string> reference;  // combo_icon_pixels.py's arguments
    };
    const std::vector<Case> cases = {
        {0, 0, {"index", "0", shellModule}},  // "*.*"
        {1, 1, {"index", "0", dll}},          // a class key and its DefaultIcon
        {2, 2, {"index", "1", dll}},          // environment variables
        {3, 3, {"id", "103", dll}},           // a negative index: a resource id
        {4, -1, {}},                          // no icon
        {5, 4, {"file", std::string(KWEP_COMBO_ICON_DIR) + "/d.ico"}},
        {6, 5, {"id", "1", program}},         // a folder: this program's own icon
        {7, 6, {"index", "0", shellModule}},  // a type without DefaultIcon
    };
    std::vector<ListImage> images;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        const Item item = GetItem(c.item);
        ASSERT_TRUE(item.ok);
        if (c.image < 0)
            continue;
        EXPECT_EQ(item.image, c.image);
        EXPECT_EQ(item.selected, c.image);
        images.push_back(TakeImage(list, c.image));
        EXPECT_EQ(Differences(images.back(), ReferencePixels(c.reference)), 0);
    }

    // What the control shows for the selected item: its own icon, or none of the list's.
    SetFocus(parent);
    RECT client{};
    GetClientRect(combo->m_hWnd, &client);
    const int width = client.right, height = client.bottom;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        Send(CB_SETCURSEL, static_cast<WPARAM>(c.item));
        RedrawWindow(combo->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        HDC screen = GetDC(combo->m_hWnd);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        ReleaseDC(combo->m_hWnd, screen);
        const std::vector<uint32_t> shown = BitmapPart(bitmap, client);
        DeleteObject(bitmap);
        DeleteDC(memory);
        if (c.image >= 0) {
            EXPECT_TRUE(ShowsImage(shown, width, height, TakeImage(list, c.image)));
            continue;
        }
        for (const ListImage& image : images)
            EXPECT_FALSE(ShowsImage(shown, width, height, image));
    }
}

TEST_F(FileMaskComboTest, RefusesNoFiltersAndNoWindow)
{
    CxArray<CxFileMaskFilter> filters;
    FillFilters(filters, {{L"All", L"*.*"}});
    CxFileMaskComboBox unmade;
    EXPECT_EQ(unmade.SetFilters(filters), E_ACCESSDENIED);
    MakeCombo();
    CxArray<CxFileMaskFilter> none;
    EXPECT_EQ(combo->SetFilters(none), E_INVALIDARG);
    EXPECT_EQ(Send(CB_GETCOUNT), 0);
    EXPECT_EQ(combo->GetImageList(), nullptr);
}

TEST_F(FileMaskComboTest, ItemsHoldTheirTextAndACopyOfTheMask)
{
    for (DWORD platform : {DWORD{0}, CX_PLATFORM_WIN95}) {
        SCOPED_TRACE(platform);
        PlatformScope scope(platform);
        MakeCombo();
        CxArray<CxFileMaskFilter> filters;
        FillFilters(filters, {{L"All files", L"*.*"}, {L"", L"*.kwepcls"}, {L"Sounds (MP3)", L"*.MP3"}});
        EXPECT_EQ(combo->SetFilters(filters), S_OK);
        ASSERT_EQ(Send(CB_GETCOUNT), 3);
        const wchar_t* texts[] = {L"All files", L"-", L"Sounds (MP3)"};
        for (int i = 0; i < 3; ++i) {
            const Item item = GetItem(i);
            EXPECT_EQ(item.text, texts[i]);
            const auto* mask = reinterpret_cast<const wchar_t*>(Send(CB_GETITEMDATA, static_cast<WPARAM>(i)));
            ASSERT_NE(mask, nullptr);
            EXPECT_EQ(Str(mask), Str(filters.GetAt(i).mask));
            EXPECT_NE(mask, static_cast<const wchar_t*>(filters.GetAt(i).mask));  // a copy
            EXPECT_EQ(item.data, reinterpret_cast<LPARAM>(mask));
        }
        combo.reset();
    }
}

// Each way items go frees each mask copy once: the framework heap's count of live blocks comes back to
// where it was, never below (a second free would take it lower, or fail on the heap).
TEST_F(FileMaskComboTest, EachMaskCopyIsFreedOnce)
{
    enum class Way { DeleteEach, ResetContent, Destroy };
    for (bool reflect : {false, true}) {
        for (Way way : {Way::DeleteEach, Way::ResetContent, Way::Destroy}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(way)) + (reflect ? " reflected" : ""));
            g_parent.reflect = reflect;
            g_parent.deleteNotices = 0;
            const long before = CxAllocCount();
            MakeCombo();
            CxArray<CxFileMaskFilter> filters;
            FillFilters(filters, {{L"All", L"*.*"}, {L"Class", L"*.kwepcls"}, {L"Icon", L"*.kwepico"}});
            const long withFilters = CxAllocCount();
            ASSERT_EQ(combo->SetFilters(filters), S_OK);
            EXPECT_EQ(CxAllocCount(), withFilters + 3);
            switch (way) {
            case Way::DeleteEach:  // CB_DELETESTRING, also known as CBEM_DELETEITEM
                EXPECT_EQ(Send(CB_DELETESTRING, 1), 2);
                EXPECT_EQ(CxAllocCount(), withFilters + 2);
                EXPECT_EQ(Str(reinterpret_cast<const wchar_t*>(Send(CB_GETITEMDATA, 1))), L"*.kwepico");
                Send(CB_DELETESTRING, 1);
                Send(CB_DELETESTRING, 0);
                EXPECT_EQ(Send(CB_DELETESTRING, 0), CB_ERR);  // nothing left: nothing freed
                break;
            case Way::ResetContent:
                Send(CB_RESETCONTENT);
                break;
            case Way::Destroy:
                break;
            }
            if (way != Way::Destroy) {
                EXPECT_EQ(Send(CB_GETCOUNT), 0);
                EXPECT_EQ(CxAllocCount(), withFilters);
            }
            combo.reset();
            filters.RemoveAll();
            EXPECT_EQ(CxAllocCount(), before);
            // Wine's control sends no deletion notice for CB_RESETCONTENT: the combo frees the copies itself.
            if (way == Way::DeleteEach) {
                EXPECT_EQ(g_parent.deleteNotices, 3);
            }
        }
    }
}

// A notice reflected for an item that went past the combo's own entries (deleted in its inner combo)
// frees that item's copy.
TEST_F(FileMaskComboTest, AReflectedDeletionNoticeFreesTheCopy)
{
    g_parent.reflect = true;
    MakeCombo();
    CxArray<CxFileMaskFilter> filters;
    FillFilters(filters, {{L"All", L"*.*"}, {L"Class", L"*.kwepcls"}});
    ASSERT_EQ(combo->SetFilters(filters), S_OK);
    const long withCopies = CxAllocCount();
    HWND inner = reinterpret_cast<HWND>(Send(CBEM_GETCOMBOCONTROL));
    ASSERT_NE(inner, nullptr);
    SendMessageW(inner, CB_DELETESTRING, 0, 0);
    EXPECT_EQ(g_parent.deleteNotices, 1);
    EXPECT_EQ(CxAllocCount(), withCopies - 1);
    EXPECT_EQ(Send(CB_GETCOUNT), 1);
}

TEST_F(FileMaskComboTest, SelectionsByCodeAreReportedOnce)
{
    MakeCombo();
    CxArray<CxFileMaskFilter> filters;
    FillFilters(filters, {{L"All", L"*.*"}, {L"Class", L"*.kwepcls"}, {L"Icon", L"*.kwepico"}});
    ASSERT_EQ(combo->SetFilters(filters), S_OK);
    struct Case {
        int index;
        int answerWith;
        LRESULT result;
        int selection;
    };
    const Case cases[] = {
        {1, -2, 1, 1},        {2, -2, 2, 2},
        {-1, -2, CB_ERR, -1}, {7, -2, CB_ERR, -1},  // out of range: the control refuses, the parent still hears of it
        {0, 2, 0, 2},  // the parent selects again while it handles the notice: no second notice
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        g_parent.selChanges = 0;
        g_parent.answerWith = c.answerWith;
        EXPECT_EQ(Send(CB_SETCURSEL, static_cast<WPARAM>(c.index)), c.result);
        EXPECT_EQ(g_parent.selChanges, 1);
        EXPECT_EQ(Send(CB_GETCURSEL), c.selection);
    }
}

// Another process reads the combo through its messages, with the item record and text buffer placed in
// the combo's process.
TEST_F(FileMaskComboTest, AnotherProcessReadsTheItems)
{
    MakeCombo();
    CxArray<CxFileMaskFilter> filters;
    FillFilters(filters, FilterRows());
    ASSERT_EQ(combo->SetFilters(filters), S_FALSE);
    std::vector<Item> local;
    for (int i = 0; i < 8; ++i)
        local.push_back(GetItem(i));

    TempFolder folder;
    const std::wstring out = folder.File("items.txt").wstring();
    test_support::HostProcess reader(test_support::BuildTreeProgram(KWEP_COMBO_READER),
                                     std::to_wstring(reinterpret_cast<INT_PTR>(combo->m_hWnd)) + L" \"" + out + L"\"");
    ASSERT_TRUE(reader.Started());
    // The reader's messages are answered on this thread while it waits.
    for (;;) {
        HANDLE process = reader.Handle();
        const DWORD wait = MsgWaitForMultipleObjects(1, &process, FALSE, 120000, QS_ALLINPUT);
        if (wait != WAIT_OBJECT_0 + 1)
            break;
        Pump();
    }
    ASSERT_EQ(reader.Wait(0), 0u);
    std::ifstream in(folder.File("items.txt"));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "count 8");
    const auto rows = FilterRows();
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(std::getline(in, line));
        std::ostringstream expected;
        const std::string text =
            rows[static_cast<size_t>(i)].first.empty() ? "-" : Narrow(rows[static_cast<size_t>(i)].first);
        std::string shown = text;
        for (char& ch : shown)
            if (ch == ' ')
                ch = '?';
        expected << "item " << i << " ok 1 image " << local[static_cast<size_t>(i)].image << " selected "
                 << local[static_cast<size_t>(i)].selected << " data 1 text " << shown << " mask "
                 << Narrow(rows[static_cast<size_t>(i)].second);
        EXPECT_EQ(line, expected.str());
    }
    EXPECT_FALSE(std::getline(in, line));
}

// The combo is placed by the "pos" key of the section its parent names for it.
TEST_F(FileMaskComboTest, IsPlacedByItsSkinSection)
{
    TempFolder folder;
    const std::filesystem::path ini = folder.File("skin.ini");
    {
        std::ofstream out(ini);
        out << "[filter]\npos=24,36,150,120\n";
    }
    g_parent.skinFile = ini.wstring();
    MakeCombo();
    RECT rect{};
    GetWindowRect(combo->m_hWnd, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 24);
    EXPECT_EQ(rect.top, 36);
    EXPECT_EQ(rect.right - rect.left, 150);
    EXPECT_EQ(SendMessageW(combo->m_hWnd, CXM_INITCONTROL, 0, 0), 1);
}

}  // namespace
