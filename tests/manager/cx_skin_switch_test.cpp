// A skin switch on a main dialog with skinned children: the pack data goes down with the file, so the
// owner gets no pack query while the windows read the skin, and every window shows what it shows when
// each of them asks for itself.
#include "manager/controls/bars/cx_text_bar.h"
#include "manager/controls/buttons/cx_skin_button.h"
#include "manager/dialogs/cx_main_dlg.h"
#include "tests/manager/cx_test_pixels.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using test_support::TempFolder;

constexpr UINT kTemplate = 301;
constexpr int kFirstButton = 401;
constexpr int kSecondButton = 402;
constexpr int kBarId = 403;
constexpr int kLateButton = 404;

// Solid images: the pack's frame and faces, and the face of the pack values fall back to.
constexpr uint32_t kFrame = 0x305070;
constexpr uint32_t kOne = 0xC03020;
constexpr uint32_t kTwo = 0x20A040;
constexpr uint32_t kBase = 0x2040E0;
constexpr uint32_t kNoImage = 0xFFFFFFFF;

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::string crlf;
    for (char c : text) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    std::ofstream(path, std::ios::binary) << crlf;
}

// A 24-bit BMP of one colour.
void WriteSolidImage(const std::filesystem::path& path, int width, int height, uint32_t colour)
{
    cx_test::WriteBmp24(path, width, height, [colour](int, int) { return colour; });
}

// The main dialog of the test: it offers the test's pack besides its built-in one, names the sections
// of its children and counts the pack queries it answers.
class SwitchDlg : public CxMainDlg {
public:
    SwitchDlg() : CxMainDlg(kTemplate, nullptr) {}
    ~SwitchDlg() override
    {
        if (m_hWnd != nullptr)
            DestroyWindow();
    }

    std::wstring extraPack;
    int packTexts = 0;
    int packFiles = 0;
    int askOwners = 0;

    int Queries() const { return packTexts + packFiles + askOwners; }
    void ResetCounts() { packTexts = packFiles = askOwners = 0; }

    const wchar_t* GetSkinSectionName(WPARAM key) override
    {
        switch (static_cast<int>(key) - 2) {
        case kFirstButton:
        case kLateButton:
            return L"b1";
        case kSecondButton:
            return L"b2";
        case kBarId:
            return L"bar";
        default:
            return CxMainDlg::GetSkinSectionName(key);
        }
    }
    BOOL OnInitDialog() override
    {
        CxMainDlg::OnInitDialog();
        m_textBar.Create(m_hWnd, RECT{0, 100, 200, 118}, kBarId);
        return TRUE;
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (mapId == CX_MAPID_CHAIN) {
            packTexts += message == CXM_GETPACKTEXT;
            packFiles += message == CXM_GETPACKFILE;
            askOwners += message == CXM_ASKOWNER;
            if (message == CXM_PACKLISTBUILT && wParam != 0 && !extraPack.empty())
                reinterpret_cast<CxArray<CxString>*>(wParam)->Add(CxString(extraPack.c_str()));
        }
        return CxMainDlg::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

class TestSkinButton : public CxSkinButton {
public:
    bool Create(HWND parent, int id)
    {
        return CxButton::Create(parent, RECT{5, 5, 25, 17}, static_cast<UINT>(id),
                                WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON) != FALSE;
    }
};

// What the windows show, fact by fact.
using Look = std::vector<std::pair<std::string, long long>>;

uint32_t MiddlePixel(CxSkinImageList& images, int index)
{
    HBITMAP bitmap = nullptr;
    if (FAILED(images.GetImage(index, &bitmap, TRUE)))
        return kNoImage;
    const cx_test::Pixels pixels = cx_test::ReadBitmap(bitmap);
    return pixels.rgb.empty() ? kNoImage : pixels.At(pixels.width / 2, pixels.height / 2);
}

RECT PlaceInParent(HWND wnd)
{
    RECT r{};
    GetWindowRect(wnd, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(wnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

Look LookOf(SwitchDlg& dlg, TestSkinButton (&buttons)[2])
{
    Look look;
    auto add = [&look](const std::string& what, long long value) {
        look.emplace_back(what, value);
    };
    add("frame image", MiddlePixel(dlg.GetImageTarget(), 0));
    add("grip set", dlg.GetGrip().set);
    add("grip cx", dlg.GetGrip().cx);
    add("grip cy", dlg.GetGrip().cy);
    for (int b = 0; b < 2; ++b) {
        const std::string name = "button " + std::to_string(b + 1);
        CxSkinImageList& images = buttons[b].GetImageList();
        add(name + " images", images.GetCount());
        for (int i = 0; i < images.GetCount(); ++i)
            add(name + " image " + std::to_string(i), MiddlePixel(images, i));
        const RECT r = PlaceInParent(buttons[b].m_hWnd);
        add(name + " centre x", (r.left + r.right) / 2);
        add(name + " centre y", (r.top + r.bottom) / 2);
    }
    CxTextBarCtrl& bar = dlg.GetTextBar();
    const RECT r = PlaceInParent(bar.m_hWnd);
    add("bar left", r.left);
    add("bar top", r.top);
    add("bar width", r.right - r.left);
    add("bar colour", bar.GetTextColor());
    return look;
}

long long Fact(const Look& look, const std::string& what)
{
    for (const auto& fact : look) {
        if (fact.first == what)
            return fact.second;
    }
    ADD_FAILURE() << "no fact " << what;
    return -1;
}

BOOL CALLBACK ApplyToChild(HWND child, LPARAM file)
{
    SendMessageW(child, CXM_APPLYSKINFILE, static_cast<WPARAM>(file), 0);
    return TRUE;
}

// The skin file sent to every window without pack data, as a window that reads its skin on its own
// does: each reader asks the owner.
void ApplyAskingOwner(HWND dlg, const std::wstring& file)
{
    EnumChildWindows(dlg, &ApplyToChild, reinterpret_cast<LPARAM>(file.c_str()));
    SendMessageW(dlg, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(file.c_str()), 0);
}

TEST(CxSkinSwitchTest, ThePackDataGoesDownOnceAndTheWindowsShowTheSame)
{
    TempFolder folder;
    // The chosen pack: relative images in its folder, values that fail and fall back to the base pack.
    const std::filesystem::path packIni = folder.File("switch") / "switch.ini";
    WriteText(packIni,
              "[common]\nname=Switch\npath=img\n"
              "[main]\nimg=frame.bmp\ngrip=bad\n"
              "[b1]\nimg=one.bmp|gone.bmp|one.bmp|one.bmp|one.bmp|one.bmp|one.bmp|one.bmp\npos=bad\n"
              "[b2]\nimg=two.bmp\npos=150,60\n"
              "[bar]\npos=bad\nfrgnd=10,20,30\n");
    WriteSolidImage(folder.File("switch") / "img" / "frame.bmp", 200, 120, kFrame);
    WriteSolidImage(folder.File("switch") / "img" / "one.bmp", 20, 12, kOne);
    WriteSolidImage(folder.File("switch") / "img" / "two.bmp", 20, 12, kTwo);
    // The pack the values fall back to, with its images in a folder of its own.
    const std::filesystem::path baseIni = folder.File("base") / "base.ini";
    WriteText(baseIni,
              "[common]\nname=Base\npath=art\n"
              "[main]\ngrip=12,14\n"
              "[b1]\nimg=base.bmp|base.bmp|base.bmp|base.bmp|base.bmp|base.bmp|base.bmp|base.bmp\npos=40,30\n"
              "[b2]\nimg=base.bmp|base.bmp|base.bmp|base.bmp|base.bmp|base.bmp|base.bmp|base.bmp\npos=1,1\n"
              "[bar]\npos=5,5,50,10\n");
    WriteSolidImage(folder.File("base") / "art" / "base.bmp", 20, 12, kBase);
    const std::filesystem::path emptyIni = folder.File("empty.ini");
    WriteText(emptyIni, "[other]\nkey=1\n");

    SwitchDlg dlg;
    dlg.extraPack = packIni.wstring();
    dlg.SetBuiltInPackFile(baseIni.wstring().c_str());
    ASSERT_TRUE(dlg.Create(kTemplate, nullptr));
    dlg.SetSkinSection(L"main");
    TestSkinButton buttons[2];
    ASSERT_TRUE(buttons[0].Create(dlg.m_hWnd, kFirstButton));
    ASSERT_TRUE(buttons[1].Create(dlg.m_hWnd, kSecondButton));
    ASSERT_EQ(dlg.BuildPackMenu(GetMenu(dlg.m_hWnd), -1), S_OK);
    std::wstring switchFile;
    for (int i = 0; i < dlg.GetPacks().GetCount(); ++i) {
        const CxPackEntry& pack = dlg.GetPacks().ElementAt(i);
        if (CxStrCompare(pack.Name(), L"Base", 0) == 0)
            dlg.SetSecondPack(pack.id);
        if (CxStrCompare(pack.Name(), L"Switch", 0) == 0)
            switchFile = pack.IniPath();
    }
    ASSERT_FALSE(switchFile.empty()) << "the test's pack is not in the list";

    // The switch: not one pack query reaches the owner.
    dlg.ResetCounts();
    SendMessageW(dlg.m_hWnd, CXM_APPLYSELECTEDSKIN, reinterpret_cast<WPARAM>(switchFile.c_str()), -1);
    EXPECT_EQ(dlg.packTexts, 0);
    EXPECT_EQ(dlg.packFiles, 0);
    EXPECT_EQ(dlg.askOwners, 0);
    ASSERT_STREQ(dlg.GetCurrentSkinFile(), switchFile.c_str());
    const Look switched = LookOf(dlg, buttons);
    struct Expected {
        const char* what;
        long long value;
    };
    const Expected expected[] = {
        {"frame image", kFrame},  // relative to the chosen pack's folder
        {"grip set", 1},          // from the base pack
        {"grip cx", 12},
        {"grip cy", 14},
        {"button 1 images", 8},
        {"button 1 image 0", kOne},
        {"button 1 image 1", kBase},  // a missing file falls back, relative to the base pack's folder
        {"button 1 centre x", 40},    // a bad point falls back
        {"button 1 centre y", 30},
        {"button 2 image 0", kTwo},
        {"button 2 image 7", kBase},  // missing parts fall back
        {"button 2 centre x", 150},
        {"button 2 centre y", 60},
        {"bar colour", RGB(10, 20, 30)},
        // The bar's own readers ask the bar, which answers nothing: its bad point keeps the template's.
        {"bar left", 0},
        {"bar top", 100},
    };
    for (const Expected& e : expected)
        EXPECT_EQ(Fact(switched, e.what), e.value) << e.what;

    // Another file changes what the windows show ...
    ApplyAskingOwner(dlg.m_hWnd, emptyIni.wstring());
    EXPECT_NE(LookOf(dlg, buttons), switched);
    // ... and the chosen pack, every window asking the owner for itself, gives what the switch gave.
    dlg.ResetCounts();
    ApplyAskingOwner(dlg.m_hWnd, switchFile);
    EXPECT_GT(dlg.packTexts, 0);
    EXPECT_GT(dlg.packFiles, 0);
    EXPECT_GT(dlg.askOwners, 0);
    EXPECT_EQ(LookOf(dlg, buttons), switched);

    // A window made after the switch reads the skin on its own and asks.
    dlg.ResetCounts();
    TestSkinButton late;
    ASSERT_TRUE(late.Create(dlg.m_hWnd, kLateButton));
    EXPECT_GT(dlg.Queries(), 0);
    EXPECT_EQ(MiddlePixel(late.GetImageList(), 0), kOne);
    EXPECT_EQ(MiddlePixel(late.GetImageList(), 1), kBase);

    late.DestroyWindow();
    buttons[0].DestroyWindow();
    buttons[1].DestroyWindow();
    dlg.DestroyWindow();
    Pump();
}

}  // namespace
