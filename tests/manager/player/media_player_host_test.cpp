// The media player's window with the real media player control (KwepMediaPlayer.dll, registered in the
// test prefix), in a parent that stands in for the player panel, owned by a window that stands in for the
// main dialog with a real seek bar (a track bar) and three text bars. Files are written by the test: WAV
// files of chosen lengths, a small MP3 with an ID3v1 tag, and files the control refuses, whose errors
// exercise the error boxes; the boxes are read and closed by a hook as they come up on this thread.
#include "manager/controls/bars/cx_text_bar.h"
#include "manager/framework/windows/cx_app.h"
#include "manager/framework/windows/cx_msgbox.h"
#include "manager/player/media_player_host.h"
#include "manager/player/player_panel.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/message_pump.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

const wchar_t kCreateFailed[] =
    L"Error creating Windows Media Player window.\nPlease install Windows Media Player ver.7 or higher.";
const wchar_t kErrorCaption[] = L"Error while playing a file...";
const wchar_t kErrorFormat[] = L"Error code: 0x%X\nError description: %s";

class TestApp : public CxWinApp {
public:
    const GUID* GetAppGuid() override
    {
        static const GUID guid = {0x5b0e7c21, 0x93d4, 0x4f6a, {0xa1, 0x2c, 0x7e, 0x48, 0x0b, 0x95, 0x3d, 0x16}};
        return &guid;
    }
    int GetInstanceScope() override { return 0; }
    void InitRegistry() override {}
    BOOL GetString(CxString& text, UINT id) override
    {
        text.Empty();
        switch (id) {
        case IDS_PLAYER_CREATE_FAILED:
            return SUCCEEDED(text.Assign(kCreateFailed));
        case IDS_PLAYER_ERROR_CAPTION:
            return SUCCEEDED(text.Assign(kErrorCaption));
        case IDS_PLAYER_ERROR_FORMAT:
            return SUCCEEDED(text.Assign(kErrorFormat));
        default:
            return FALSE;
        }
    }
};

// ---- Waiting for events ----

using test_support::PumpUntil;

// ---- Message boxes ----

struct SeenBox {
    std::wstring caption;
    std::wstring text;
    HWND owner;
};

// Every framework box that comes up on this thread while it lives: its caption, text and owner are kept
// and the box is closed with OK.
class BoxAnswerer {
public:
    BoxAnswerer()
    {
        Current() = this;
        m_hook = SetWindowsHookExW(WH_CALLWNDPROCRET, &Hook, nullptr, GetCurrentThreadId());
    }
    ~BoxAnswerer()
    {
        UnhookWindowsHookEx(m_hook);
        Current() = nullptr;
    }
    std::vector<SeenBox> boxes;

private:
    static BoxAnswerer*& Current()
    {
        static BoxAnswerer* current = nullptr;
        return current;
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && msg->message == WM_INITDIALOG && Current() != nullptr &&
            GetDlgItem(msg->hwnd, CXID_TEXT) != nullptr) {
            wchar_t caption[256] = {};
            wchar_t text[1024] = {};
            GetWindowTextW(msg->hwnd, caption, 256);
            GetDlgItemTextW(msg->hwnd, CXID_TEXT, text, 1024);
            Current()->boxes.push_back({caption, text, GetWindow(msg->hwnd, GW_OWNER)});
            PostMessageW(msg->hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(msg->hwnd, IDOK)));
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK m_hook = nullptr;
};

// ---- Fixtures ----

std::wstring TempPath(const wchar_t* name)
{
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"kwep_host_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

bool WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

void Le(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// An 8-bit mono PCM WAV of `seconds` of silence at `rate` samples per second (bitrate rate * 8 bit/s).
std::vector<std::uint8_t> Wave(std::uint32_t seconds, std::uint32_t rate)
{
    const std::uint32_t data = seconds * rate;
    std::vector<std::uint8_t> b;
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    Le(b, 36 + data, 4);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Le(b, 16, 4);
    Le(b, 1, 2);     // PCM
    Le(b, 1, 2);     // mono
    Le(b, rate, 4);  // samples per second
    Le(b, rate, 4);  // bytes per second
    Le(b, 1, 2);     // block align
    Le(b, 8, 2);     // bits per sample
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    Le(b, data, 4);
    b.insert(b.end(), data, 0x80);
    return b;
}

// 100 silent MPEG-1 layer III frames (128 kbit/s, 44.1 kHz, mono: 2.6 s) and an ID3v1 tag.
std::vector<std::uint8_t> TaggedMp3(const char* title, const char* artist)
{
    std::vector<std::uint8_t> b;
    for (int i = 0; i < 100; ++i) {
        b.insert(b.end(), {0xFF, 0xFB, 0x90, 0xC0});
        b.insert(b.end(), 417 - 4, 0);
    }
    std::vector<std::uint8_t> tag(128, 0);
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    for (size_t i = 0; title[i] != '\0' && i < 30; ++i)
        tag[3 + i] = static_cast<std::uint8_t>(title[i]);
    for (size_t i = 0; artist[i] != '\0' && i < 30; ++i)
        tag[33 + i] = static_cast<std::uint8_t>(artist[i]);
    tag[127] = 255;
    b.insert(b.end(), tag.begin(), tag.end());
    return b;
}

// ---- The owner ----

// Stands in for the main dialog: a top-level window with the panel-like parent of the player, a seek bar,
// the title line, bitrate and time bars, the playback flag and the advance timer, which it kills when it
// fires and counts as an advance to the next entry.
class OwnerWindow : public CMediaPlayerOwner {
public:
    bool Create()
    {
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES};
        InitCommonControlsEx(&classes);
        const wchar_t* cls = RegisterTestWindowClass(L"KwepPlayerHostOwner", &Proc);
        m_hwnd = CreateWindowExW(0, cls, L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 600, 300, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        if (m_hwnd == nullptr)
            return false;
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        const wchar_t* panelCls = RegisterTestWindowClass(L"KwepPlayerHostPanel", &DefWindowProcW);
        panel = CreateWindowExW(0, panelCls, L"", WS_CHILD | WS_VISIBLE, 0, 0, 300, 100, m_hwnd, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        seekBar = CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 120, 300, 30, m_hwnd,
                                  reinterpret_cast<HMENU>(4220), GetModuleHandleW(nullptr), nullptr);
        return panel != nullptr && seekBar != nullptr && title.Create(m_hwnd, RECT{0, 160, 300, 180}, 4221) &&
               bitrate.Create(m_hwnd, RECT{0, 180, 100, 200}, 4222) &&
               time.Create(m_hwnd, RECT{100, 180, 200, 200}, 4223);
    }
    void Destroy()
    {
        if (m_hwnd != nullptr && IsWindow(m_hwnd))
            DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }

    HWND GetPlayerOwnerWindow() override { return m_hwnd; }
    bool IsPlaylistPlaying() override { return playing; }
    HWND GetSeekBar() override { return seekBar; }
    CxTextBarCtrl* GetTitleBar() override { return &title; }
    CxTextBarCtrl* GetBitrateBar() override { return &bitrate; }
    CxTextBarCtrl* GetTimeBar() override { return &time; }
    UINT_PTR GetAdvanceTimer() override { return advanceTimer; }
    void SetAdvanceTimer(UINT_PTR id) override { advanceTimer = id; }
    void ClearPlayerInfo() override
    {
        ++cleared;
        SendMessageW(seekBar, TBM_SETRANGEMIN, FALSE, 0);
        SendMessageW(seekBar, TBM_SETRANGEMAX, FALSE, 100);
        SendMessageW(seekBar, TBM_SETPOS, TRUE, 0);
        title.SetText(nullptr, FALSE);
        bitrate.SetText(nullptr, FALSE);
        time.SetText(nullptr, FALSE);
    }

    long RangeMax() const { return static_cast<long>(SendMessageW(seekBar, TBM_GETRANGEMAX, 0, 0)); }
    long Pos() const { return static_cast<long>(SendMessageW(seekBar, TBM_GETPOS, 0, 0)); }
    static std::wstring Text(const CxTextBarCtrl& bar)
    {
        const wchar_t* t = bar.GetMainText();
        return t != nullptr ? t : L"";
    }

    HWND panel = nullptr;
    HWND seekBar = nullptr;
    CxTextBarCtrl title;
    CxTextBarCtrl bitrate;
    CxTextBarCtrl time;
    bool playing = false;
    UINT_PTR advanceTimer = 0;
    int cleared = 0;
    int advances = 0;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<OwnerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr && message == WM_TIMER && wParam == kPlayerAdvanceTimer) {
            KillTimer(hwnd, kPlayerAdvanceTimer);
            self->advanceTimer = 0;
            ++self->advances;
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    HWND m_hwnd = nullptr;
};

// A player whose control cannot be made, as where the control is not installed.
class UninstalledPlayer : public CMediaPlayer7 {
protected:
    HRESULT HostControl(CAxWindow&) override { return REGDB_E_CLASSNOTREG; }
};

class MediaPlayerHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Once for the program: the control's DLL stays loaded from one case to the next.
        static const HRESULT ole = OleInitialize(nullptr);
        ASSERT_TRUE(SUCCEEDED(ole));
        ASSERT_TRUE(owner.Create());
    }
    void TearDown() override
    {
        for (const std::wstring& f : files)
            DeleteFileW(f.c_str());
        if (player.m_hWnd != nullptr)
            player.DestroyWindow();
        owner.Destroy();
    }
    BOOL Create(CMediaPlayer7& p)
    {
        CWnd* parent = CWnd::FromHandlePermanent(owner.panel);
        CWnd temp;
        if (parent == nullptr) {
            temp.Attach(owner.panel);
            parent = &temp;
        }
        const BOOL ok = p.CreatePlayer(nullptr, L"", kMediaPlayerStyle, RECT{0, 0, 300, 80}, parent,
                                       IDC_PLAYER_PANEL_DISPLAY, nullptr, &owner);
        temp.Detach();
        return ok;
    }
    std::wstring Fixture(const wchar_t* name, const std::vector<std::uint8_t>& bytes)
    {
        std::wstring path = TempPath(name);
        files.push_back(path);
        EXPECT_TRUE(WriteBytes(path, bytes));
        return path;
    }
    // Opens the file and waits for the media change that follows.
    void Open(const std::wstring& path, const wchar_t* display)
    {
        player.SetURL(path.c_str(), display);
        ASSERT_TRUE(PumpUntil([&] { return !OwnerWindow::Text(owner.title).empty(); }));
    }
    std::wstring DurationText()
    {
        CComPtr<IWMPMedia> media;
        CComBSTR text;
        if (FAILED(player.GetPlayer()->get_currentMedia(&media)) || media == nullptr ||
            FAILED(media->get_durationString(&text)) || text.get() == nullptr)
            return L"";
        return text.get();
    }

    TestApp app;
    OwnerWindow owner;
    CMediaPlayer7 player;
    std::vector<std::wstring> files;
};

// ---- Creation ----

TEST_F(MediaPlayerHostTest, CreatesTheHiddenChildWithTheConfiguredControl)
{
    ASSERT_TRUE(Create(player));
    ASSERT_TRUE(player.IsPlayerCreated());
    EXPECT_EQ(GetParent(player.m_hWnd), owner.panel);
    EXPECT_EQ(GetDlgCtrlID(player.m_hWnd), 4235);
    EXPECT_FALSE(IsWindowVisible(player.m_hWnd));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(player.m_hWnd, GWL_STYLE)) & ~WS_DISABLED, kMediaPlayerStyle);
    EXPECT_NE(player.GetControls(), nullptr);
    EXPECT_NE(player.GetSettings(), nullptr);

    VARIANT_BOOL enabled = VARIANT_FALSE;
    CComBSTR mode;
    ASSERT_TRUE(SUCCEEDED(player.GetPlayer()->get_enabled(&enabled)));
    ASSERT_TRUE(SUCCEEDED(player.GetPlayer()->get_uiMode(&mode)));
    EXPECT_EQ(enabled, VARIANT_TRUE);
    EXPECT_STREQ(mode.get(), L"none");
    EXPECT_EQ(player.GetPlayState(), 0);
    EXPECT_EQ(player.GetPendingSeek(), -1);
    EXPECT_FALSE(player.IsPositionTimerRunning());
}

TEST_F(MediaPlayerHostTest, ControlThatCannotBeMadeShowsTheBoxAndLeavesNoWindow)
{
    UninstalledPlayer broken;
    BoxAnswerer boxes;
    EXPECT_FALSE(Create(broken));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, L"Windows Media Player Window");
    EXPECT_EQ(boxes.boxes[0].text, kCreateFailed);
    EXPECT_EQ(broken.m_hWnd, nullptr);
    EXPECT_EQ(GetDlgItem(owner.panel, 4235), nullptr);
    EXPECT_FALSE(broken.IsPlayerCreated());
    EXPECT_EQ(broken.GetControls(), nullptr);
    EXPECT_EQ(broken.GetPlayState(), 0);
}

// Whatever destroys the window (a failing handler does it too) leaves no interface behind, so the
// main window's transport commands find no player.
TEST_F(MediaPlayerHostTest, DestroyedWindowReleasesThePlayer)
{
    ASSERT_TRUE(Create(player));
    const std::wstring wav = Fixture(L"gone.wav", Wave(2, 8000));
    Open(wav, L"gone.wav");
    EXPECT_TRUE(player.IsPositionTimerRunning());
    player.DestroyWindow();
    EXPECT_FALSE(player.IsPlayerCreated());
    EXPECT_EQ(player.GetControls(), nullptr);
    EXPECT_EQ(player.GetSettings(), nullptr);
    EXPECT_FALSE(player.IsPositionTimerRunning());
    EXPECT_EQ(player.GetPlayState(), 0);
    player.SetURL(wav.c_str(), L"gone.wav");  // nothing to open it in
    EXPECT_STREQ(player.GetURL(), wav.c_str());
}

// ---- Media change ----

TEST_F(MediaPlayerHostTest, OpenedFilesFillTheDisplay)
{
    ASSERT_TRUE(Create(player));
    struct Case {
        const wchar_t* name;
        std::vector<std::uint8_t> bytes;
        std::wstring line;  // before the duration text
        const wchar_t* kbits;
        long rangeMax;
    };
    const Case cases[] = {
        // No author or title: the display name.
        {L"short.wav", Wave(2, 8000), L"short.wav", L" 64", 200},
        // Past 655.35 s, which one 16-bit range word cannot hold.
        {L"long.wav", Wave(700, 1000), L"long.wav", L"  8", 70000},
        {L"tagged.mp3", TaggedMp3("Song Title", "Kwep Artist"), L"Kwep Artist  Song Title", L"128", -1},
        {L"titled.mp3", TaggedMp3("Only Title", ""), L"Only Title", L"128", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "file " << std::string(c.name, c.name + wcslen(c.name)));
        owner.ClearPlayerInfo();
        const std::wstring path = Fixture(c.name, c.bytes);
        Open(path, c.name);
        const std::wstring duration = DurationText();
        ASSERT_FALSE(duration.empty());
        EXPECT_EQ(OwnerWindow::Text(owner.title), c.line + L" <" + duration + L"> ");
        EXPECT_EQ(OwnerWindow::Text(owner.bitrate), c.kbits);
        const long expectMax = c.rangeMax >= 0 ? c.rangeMax : static_cast<long>(player.GetDuration() * 100);
        EXPECT_EQ(owner.RangeMax(), expectMax);
        EXPECT_EQ(SendMessageW(owner.seekBar, TBM_GETRANGEMIN, 0, 0), 0);
        EXPECT_TRUE(player.IsPositionTimerRunning());
        EXPECT_STREQ(player.GetDisplayName(), c.name);
    }
    EXPECT_EQ(owner.RangeMax(), static_cast<long>(player.GetDuration() * 100));
    EXPECT_GT(player.GetDuration(), 2.5);
    EXPECT_STREQ(player.GetTitle(), L"Only Title");
    EXPECT_EQ(player.GetBitrate(), 128000);
}

// Stop empties the URL: the media change then finds no media, which is no failure.
TEST_F(MediaPlayerHostTest, MediaChangeWithoutMediaShowsTheDisplayName)
{
    ASSERT_TRUE(Create(player));
    BoxAnswerer boxes;
    player.SetURL(L"", L"stopped.mp3");
    EXPECT_EQ(player.OnMediaChange(nullptr), S_OK);
    EXPECT_EQ(OwnerWindow::Text(owner.title), L"stopped.mp3");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(player.IsPlayerCreated());
    EXPECT_NE(player.m_hWnd, nullptr);
    EXPECT_FALSE(player.IsPositionTimerRunning());
}

// ---- Play state ----

TEST_F(MediaPlayerHostTest, EndingStatesArmTheAdvanceWhilePlayingAList)
{
    ASSERT_TRUE(Create(player));
    const std::wstring wav = Fixture(L"state.wav", Wave(2, 8000));
    struct Case {
        long state;
        bool playing;
        bool advance;
        bool stopsTimer;
    };
    const Case cases[] = {
        {kPlayStateMediaEnded, true, true, true}, {kPlayStateStopped, true, true, true},
        {kPlayStateUndefined, true, true, true},  {kPlayStateMediaEnded, false, false, true},
        {3 /* playing */, true, false, false},    {2 /* paused */, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " playing " << c.playing);
        owner.ClearPlayerInfo();
        Open(wav, L"state.wav");
        ASSERT_TRUE(player.IsPositionTimerRunning());
        owner.playing = c.playing;
        const int cleared = owner.cleared;
        const int advances = owner.advances;
        EXPECT_EQ(player.OnPlayStateChange(c.state), S_OK);
        EXPECT_EQ(player.IsPositionTimerRunning(), !c.stopsTimer);
        EXPECT_EQ(owner.cleared, cleared + (c.advance ? 1 : 0));
        EXPECT_EQ(owner.advanceTimer != 0, c.advance);
        if (c.advance) {
            EXPECT_TRUE(OwnerWindow::Text(owner.title).empty());
            ASSERT_TRUE(PumpUntil([&] { return owner.advances == advances + 1; }));
        }
        owner.playing = false;
    }
}

TEST_F(MediaPlayerHostTest, EventsWithoutTheOwnerWindowChangeNothing)
{
    ASSERT_TRUE(Create(player));
    owner.playing = true;
    HWND ownerWindow = owner.GetPlayerOwnerWindow();
    SetParent(player.m_hWnd, nullptr);  // the player outlives its owner here
    owner.Destroy();
    ASSERT_FALSE(IsWindow(ownerWindow));
    EXPECT_EQ(player.OnPlayStateChange(kPlayStateMediaEnded), E_FAIL);
    EXPECT_EQ(player.OnError(), E_FAIL);
    EXPECT_EQ(player.OnMediaChange(nullptr), E_FAIL);
    EXPECT_EQ(player.OnPositionChange(0, 5), E_FAIL);
    EXPECT_EQ(player.OnOpenStateChange(1), E_FAIL);
    EXPECT_EQ(owner.cleared, 0);
    EXPECT_EQ(owner.advanceTimer, 0u);
}

// ---- Position ----

TEST_F(MediaPlayerHostTest, PositionTimerAppliesThePendingSeekAndMovesTheBar)
{
    ASSERT_TRUE(Create(player));
    const std::wstring wav = Fixture(L"seek.wav", Wave(4, 8000));
    Open(wav, L"seek.wav");
    ASSERT_TRUE(player.IsPositionTimerRunning());
    player.SetPendingSeek(150);
    ASSERT_TRUE(PumpUntil([&] { return player.GetPendingSeek() == -1; }));
    double position = -1;
    CComBSTR text;
    ASSERT_TRUE(SUCCEEDED(player.GetControls()->get_currentPosition(&position)));
    ASSERT_TRUE(SUCCEEDED(player.GetControls()->get_currentPositionString(&text)));
    EXPECT_DOUBLE_EQ(position, 1.5);
    EXPECT_EQ(owner.Pos(), 150);
    EXPECT_EQ(OwnerWindow::Text(owner.time), text.get() != nullptr ? text.get() : L"");
    EXPECT_EQ(OwnerWindow::Text(owner.time), L"00:01");

    EXPECT_EQ(player.OnPositionChange(1.5, 2.257), S_OK);
    EXPECT_EQ(owner.Pos(), 225);
    EXPECT_EQ(player.OnPositionChange(2.257, -3), S_OK);
    EXPECT_EQ(owner.Pos(), 0);
}

// ---- Errors ----

// Two files the control refuses, opened in a row: their errors come as one box each, with the code and
// the control's description, the queue is empty afterwards, and while a list plays the next entry follows.
TEST_F(MediaPlayerHostTest, ErrorsShowOneBoxEachThenAdvance)
{
    ASSERT_TRUE(Create(player));
    std::vector<std::uint8_t> noData = Wave(1, 8000);
    noData.resize(36);  // the format chunk alone
    const std::wstring bad = Fixture(L"bad.wav", noData);
    const std::wstring empty = Fixture(L"empty.mp3", {});
    owner.playing = true;
    BoxAnswerer boxes;
    player.SetURL(bad.c_str(), L"bad.wav");
    player.SetURL(empty.c_str(), L"empty.mp3");
    ASSERT_TRUE(PumpUntil([&] { return boxes.boxes.size() >= 2 && owner.advances > 0; }));

    const std::wstring texts[] = {
        L"Error code: 0x80040306\nError description: The WAV file has no format or no data chunk.",
        L"Error code: 0x80040302\nError description: The file is empty.",
    };
    ASSERT_EQ(boxes.boxes.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(boxes.boxes[i].caption, kErrorCaption);
        EXPECT_EQ(boxes.boxes[i].text, texts[i]);
        EXPECT_EQ(boxes.boxes[i].owner, GetAncestor(player.m_hWnd, GA_ROOT));
    }
    CComPtr<IWMPError> error;
    long count = -1;
    ASSERT_TRUE(SUCCEEDED(player.GetPlayer()->get_Error(&error)));
    ASSERT_TRUE(SUCCEEDED(error->get_errorCount(&count)));
    EXPECT_EQ(count, 0);
    EXPECT_GE(owner.cleared, 1);
    EXPECT_TRUE(player.IsPlayerCreated());
}

}  // namespace
