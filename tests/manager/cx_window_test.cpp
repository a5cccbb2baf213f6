// The Cx window core with real windows: flags through ModifyFlags and the private messages, the
// component map ids, dragging, ending dialogs, the framework window procedure's order, and the
// send and post helpers with the texts they carry.
#include "manager/framework/windows/cx_string.h"
#include "manager/framework/windows/cx_wnd.h"
#include "tests/manager/test_window_class.h"
#include "tests/platform/dialog_template.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_log;

LRESULT CALLBACK ClassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP && message < WM_APP + 100) {
        g_log.push_back("default");
        return 30;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

const wchar_t* TestClass()
{
    static const wchar_t* name = RegisterTestWindowClass(L"KwepCxTestClass", ClassProc);
    return name;
}

// Messages of the order table: who handles them.
constexpr UINT kPreHandles = WM_APP + 1;   // pre-map: 11
constexpr UINT kMapHandles = WM_APP + 2;   // afx map: 20
constexpr UINT kNobody = WM_APP + 3;       // default: 30
constexpr UINT kPostHandles = WM_APP + 4;  // afx map 20, post-map 40
constexpr UINT kPreAndPost = WM_APP + 5;   // pre-map 11, post-map 40

// A framework window: the window procedure of the framework over an afx window, with the end-dialog
// component (and through it the link) in its pre-map.
class CxTestWnd : public CxWindowProcT<CWnd>, public CxEndDialogLink {
public:
    CxTestWnd() { CxWndLink::Attach(&m_hWnd); }

    int releaseCaptureCalls = 0;
    LRESULT flagsChangedAnswer = 1;
    int flagsChangedCalls = 0;
    bool postMapSawNonZero = false;
    std::vector<UINT> postMapMessages;
    bool* deadFlag = nullptr;  // set at PostNcDestroy: nothing may be offered afterwards
    bool deleteItself = false;
    bool* deletedFlag = nullptr;
    std::vector<std::wstring> texts;
    bool takesTexts = true;

    ~CxTestWnd() override
    {
        if (deletedFlag != nullptr)
            *deletedFlag = true;
    }

    void ReleaseCapture() override { ++releaseCaptureCalls; }

    bool Create() { return CreateEx(0, TestClass(), L"cx", WS_POPUP, 0, 0, 120, 100, nullptr, nullptr) != FALSE; }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (message >= WM_APP && message < WM_APP + 100)
            g_log.push_back("pre");
        if (message == kPreHandles || message == kPreAndPost) {
            lResult = 11;
            return TRUE;
        }
        if (message == CXM_FLAGSCHANGED) {
            ++flagsChangedCalls;
            lResult = flagsChangedAnswer;
            return TRUE;
        }
        if (message == CXM_SETTEXT && takesTexts) {
            auto* text = reinterpret_cast<wchar_t*>(wParam);
            texts.push_back(text != nullptr ? text : L"<null>");
            CxFree(text);  // the receiver owns the posted text and says so
            lResult = 1;
            return TRUE;
        }
        return CxEndDialogLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }

    BOOL PostMap(HWND, UINT message, WPARAM, LPARAM, LRESULT& lResult, DWORD) override
    {
        if (deadFlag != nullptr && *deadFlag)
            ADD_FAILURE() << "post-map offered a message after PostNcDestroy";
        postMapMessages.push_back(message);
        if (lResult != 0)
            postMapSawNonZero = true;
        if (message >= WM_APP && message < WM_APP + 100)
            g_log.push_back("post");
        if (message == kPostHandles || message == kPreAndPost) {
            lResult = 40;
            return TRUE;
        }
        return FALSE;
    }

    void PostNcDestroy() override
    {
        if (deadFlag != nullptr)
            *deadFlag = true;
        if (deleteItself)
            delete this;
    }

    LRESULT OnMapMessage(WPARAM, LPARAM)
    {
        g_log.push_back("map");
        return 20;
    }
    LRESULT OnDragInMap(WPARAM, LPARAM)
    {
        g_log.push_back("map drag");
        return 77;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CxTestWnd, CWnd)
ON_MESSAGE(kMapHandles, OnMapMessage)
ON_MESSAGE(kPostHandles, OnMapMessage)
ON_MESSAGE(CXM_DRAGWINDOW, OnDragInMap)
END_MESSAGE_MAP()

// A framework dialog.
class CxTestDlg : public CxWindowProcT<CDialog>, public CxEndDialogLink {
public:
    CxTestDlg() { CxWndLink::Attach(&m_hWnd); }
    std::function<void(CxTestDlg&)> onInit;

    BOOL OnInitDialog() override
    {
        if (onInit)
            onInit(*this);
        return TRUE;
    }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        return CxEndDialogLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

// A window that records the WM_NCLBUTTONDOWN that a drag sends it (and so does not really drag).
class DragTarget : public CWnd {
public:
    std::vector<std::pair<WPARAM, LPARAM>> presses;

protected:
    LRESULT OnNcLButtonDown(WPARAM wParam, LPARAM lParam)
    {
        presses.emplace_back(wParam, lParam);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DragTarget, CWnd)
ON_MESSAGE(WM_NCLBUTTONDOWN, OnNcLButtonDown)
END_MESSAGE_MAP()

std::vector<std::wstring> g_traces;
void RecordTrace(const wchar_t* text)
{
    g_traces.push_back(text);
}

class CxWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        g_traces.clear();
        m_previousTrace = CxSetTraceHook(&RecordTrace);
    }
    void TearDown() override { CxSetTraceHook(m_previousTrace); }

private:
    CxTraceHook m_previousTrace = nullptr;
};

HWND DeadWindow()
{
    HWND hWnd = CreateWindowExW(0, TestClass(), L"dead", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(hWnd);
    return hWnd;
}

TEST_F(CxWindowTest, ModifyFlagsTable)
{
    struct Case {
        const char* name;
        DWORD low, high;  // before
        DWORD setLow, setHigh, clearLow, clearHigh;
        DWORD expectLow, expectHigh;
        // clang-format off
    } const cases[] = {
        {"set low", 0, 0, 0x1, 0, 0, 0, 0x1, 0},
        {"set high", 0, 0, 0, 0x80000000, 0, 0, 0, 0x80000000},
        {"clear low", 0x7, 0x3, 0, 0, 0x2, 0, 0x5, 0x3},
        {"clear high", 0x7, 0x3, 0, 0, 0, 0x1, 0x7, 0x2},
        {"same bit set and cleared ends cleared", 0, 0, 0x10, 0x10, 0x10, 0x10, 0, 0},
        {"set and clear other bits in both halves", 0xF0, 0x0F, 0x01, 0x10, 0x80, 0x08, 0x71, 0x17},
        {"the main window's start", 0, 0, CXFL_MAINWINDOWSTART, CXFH_MAINWINDOWSTART, 0, 0, 0x4F, 0x28C0026},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CxTestWnd wnd;
        wnd.ModifyFlags(c.low, c.high, 0xFFFFFFFF & ~c.low, 0xFFFFFFFF & ~c.high);
        EXPECT_EQ(wnd.ModifyFlags(c.setLow, c.setHigh, c.clearLow, c.clearHigh), S_OK);
        EXPECT_EQ(wnd.GetLow(), c.expectLow);
        EXPECT_EQ(wnd.GetHigh(), c.expectHigh);
        EXPECT_EQ(wnd.Get(), (static_cast<ULONGLONG>(c.expectHigh) << 32) | c.expectLow);
        EXPECT_EQ(wnd.flagsChangedCalls, 0);
    }
}

TEST_F(CxWindowTest, ModifyFlagsNotifiesBySendOrPost)
{
    struct Case {
        const char* name;
        bool live;
        DWORD post;
        LRESULT answer;
        HRESULT result;
        int callsAtOnce;
        int callsAfterPump;
        // clang-format off
    } const cases[] = {
        {"sent, answered nonzero", true, 0, 1, S_OK, 1, 1},
        {"sent, answered 0", true, 0, 0, S_FALSE, 1, 1},
        {"posted", true, 1, 0, S_OK, 0, 1},
        {"no window", false, 0, 1, E_INVALIDARG, 0, 0},
        {"no window, posted", false, 1, 1, E_INVALIDARG, 0, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CxTestWnd wnd;
        if (c.live) {
            ASSERT_TRUE(wnd.Create());
        }
        wnd.flagsChangedAnswer = c.answer;
        EXPECT_EQ(wnd.ModifyFlags(0x8, 0x2, 0, 0, 0, 1, c.post), c.result);
        EXPECT_EQ(wnd.GetLow(), 0x8u);  // changed in every case
        EXPECT_EQ(wnd.GetHigh(), 0x2u);
        EXPECT_EQ(wnd.flagsChangedCalls, c.callsAtOnce);
        PumpWaiting();
        EXPECT_EQ(wnd.flagsChangedCalls, c.callsAfterPump);
    }
}

TEST_F(CxWindowTest, FlagMessages)
{
    CxTestWnd wnd;
    ASSERT_TRUE(wnd.Create());
    wnd.ModifyFlags(0x21, 0x4000001, 0, 0);

    // Null wParam: handled with result 0, nothing changes (the afx map and default are not reached).
    EXPECT_EQ(wnd.SendMessage(CXM_GETFLAGS, 0, 0), 0);
    EXPECT_EQ(wnd.SendMessage(CXM_MODIFYFLAGS, 0, 0), 0);
    EXPECT_EQ(wnd.Get(), 0x400000100000021ull);

    DWORD halves[2] = {0xDEAD, 0xBEEF};
    EXPECT_EQ(wnd.SendMessage(CXM_GETFLAGS, reinterpret_cast<WPARAM>(halves), 0), 1);
    EXPECT_EQ(halves[0], 0x21u);
    EXPECT_EQ(halves[1], 0x4000001u);

    CxModifyFlagsParams params{0x100, 0x2, 0x1, 0x4000000, 0, 1, 0};
    EXPECT_EQ(wnd.SendMessage(CXM_MODIFYFLAGS, reinterpret_cast<WPARAM>(&params), 0), 1);
    EXPECT_EQ(wnd.GetLow(), 0x120u);
    EXPECT_EQ(wnd.GetHigh(), 0x3u);
    EXPECT_EQ(wnd.flagsChangedCalls, 1);  // notified by send
}

TEST_F(CxWindowTest, ComponentMapIdTable)
{
    CxTestWnd wnd;
    ASSERT_TRUE(wnd.Create());
    struct Case {
        DWORD mapId;
        UINT message;
        BOOL handled;
        bool traced;
        // clang-format off
    } const cases[] = {
        {CX_MAPID_CHAIN, CXM_GETFLAGS, TRUE, false},    // the link's entries first
        {CX_MAPID_CHAIN, CXM_ENDDIALOG, TRUE, false},   // then the component's own
        {CX_MAPID_OWN, CXM_GETFLAGS, FALSE, false},     // own entries only
        {CX_MAPID_OWN, CXM_ENDDIALOG, TRUE, false},
        {CX_MAPID_SKIN, CXM_GETFLAGS, FALSE, false},    // not a skin component
        {CX_MAPID_SKIN, CXM_ENDDIALOG, FALSE, false},
        {5, CXM_GETFLAGS, FALSE, true},
        {5, CXM_ENDDIALOG, FALSE, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.mapId) << " " << std::hex << c.message);
        g_traces.clear();
        DWORD halves[2] = {};
        LRESULT result = -5;
        const BOOL handled = wnd.CxEndDialogLink::ProcessWindowMessage(
            wnd.m_hWnd, c.message, reinterpret_cast<WPARAM>(halves), 0, result, c.mapId);
        EXPECT_EQ(handled, c.handled);
        EXPECT_EQ(result, c.handled ? 1 : -5);
        if (c.traced) {
            EXPECT_EQ(g_traces, (std::vector<std::wstring>{L"Invalid message map ID (5)\n"}));
        } else {
            EXPECT_TRUE(g_traces.empty());
        }
    }
    // The link alone: ids 0 and -1 run its entries.
    for (DWORD mapId : {CX_MAPID_CHAIN, CX_MAPID_OWN}) {
        DWORD halves[2] = {};
        LRESULT result = 0;
        EXPECT_TRUE(wnd.CxWndLink::ProcessWindowMessage(wnd.m_hWnd, CXM_GETFLAGS, reinterpret_cast<WPARAM>(halves), 0,
                                                        result, mapId));
    }
    EXPECT_TRUE(IsWindow(wnd.m_hWnd));  // the CXM_ENDDIALOG cases ended nothing: not a dialog
}

TEST_F(CxWindowTest, DragWindowTable)
{
    DragTarget target;
    ASSERT_TRUE(target.CreateEx(0, TestClass(), L"target", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr));
    struct Case {
        const char* name;
        DWORD high;
        HWND wParam;
        LRESULT result;
        std::vector<std::string> log;
        int releases;
        size_t presses;
        // clang-format off
    } const cases[] = {
        {"dragged", 0, target.m_hWnd, 1, {}, 1, 1},
        {"high flag 0x1: never dragged", CXFH_NODRAG, target.m_hWnd, 77, {"map drag"}, 0, 0},
        {"dead window", 0, DeadWindow(), 77, {"map drag"}, 0, 0},
        {"no window", 0, nullptr, 77, {"map drag"}, 0, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CxTestWnd wnd;
        ASSERT_TRUE(wnd.Create());
        wnd.ModifyFlags(0, c.high, 0, 0);
        target.presses.clear();
        g_log.clear();
        EXPECT_EQ(wnd.SendMessage(CXM_DRAGWINDOW, reinterpret_cast<WPARAM>(c.wParam), 0), c.result);
        EXPECT_EQ(g_log, c.log);  // not handled: the afx map gets it
        EXPECT_EQ(wnd.releaseCaptureCalls, c.releases);
        ASSERT_EQ(target.presses.size(), c.presses);
        if (c.presses == 1) {
            EXPECT_EQ(target.presses[0].first, static_cast<WPARAM>(HTCAPTION));
            EXPECT_EQ(target.presses[0].second, 0);
        }
    }
}

TEST_F(CxWindowTest, EndDialogMessageAndHelper)
{
    // To a modal dialog: posted from its initialisation, ends the run with the result.
    {
        DialogTemplate dt(WS_POPUP, 100, 50, L"cx");
        CxTestDlg dialog;
        ASSERT_TRUE(dialog.InitModalIndirect(dt.Get()));
        dialog.onInit = [](CxTestDlg& d) {
            EXPECT_EQ(d.PostEndDialog(42), S_OK);
        };
        EXPECT_EQ(dialog.DoModal(), 42);
        EXPECT_EQ(dialog.PostEndDialog(1), E_INVALIDARG);  // the window is gone
    }
    // Sent to a live modeless dialog: handled, and the dialog ends (hidden).
    {
        DialogTemplate dt(WS_POPUP, 100, 50, L"cx");
        CxTestDlg dialog;
        ASSERT_TRUE(dialog.CreateIndirect(dt.Get()));
        dialog.ShowWindow(SW_SHOWNA);
        EXPECT_TRUE(dialog.IsWindowVisible());
        EXPECT_EQ(dialog.SendMessage(CXM_ENDDIALOG, 0, 3), 1);
        EXPECT_FALSE(dialog.IsWindowVisible());
    }
    // To a window that is not a dialog: still handled, nothing ends.
    {
        CxTestWnd wnd;
        ASSERT_TRUE(wnd.Create());
        wnd.ShowWindow(SW_SHOWNA);
        EXPECT_EQ(wnd.SendMessage(CXM_ENDDIALOG, 0, 3), 1);
        EXPECT_TRUE(IsWindow(wnd.m_hWnd));
        EXPECT_TRUE(wnd.IsWindowVisible());
        EXPECT_EQ(wnd.PostEndDialog(1), S_OK);
        PumpWaiting();
        EXPECT_TRUE(IsWindow(wnd.m_hWnd));
    }
    // The helper's run-time class test.
    CxTestWnd notDialog;
    ASSERT_TRUE(notDialog.Create());
    CxTestDlg deadDialog;
    EXPECT_EQ(CxEndDialog(nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(CxEndDialog(&notDialog, 1), E_INVALIDARG);
    EXPECT_EQ(CxEndDialog(&deadDialog, 1), E_INVALIDARG);
}

TEST_F(CxWindowTest, WindowProcedureOrderTable)
{
    CxTestWnd wnd;
    ASSERT_TRUE(wnd.Create());
    struct Case {
        const char* name;
        UINT message;
        LRESULT result;
        std::vector<std::string> log;
        // clang-format off
    } const cases[] = {
        {"pre-map handles: afx map and default skipped", kPreHandles, 11, {"pre", "post"}},
        {"afx map handles", kMapHandles, 20, {"pre", "map", "post"}},
        {"nobody: default processing", kNobody, 30, {"pre", "default", "post"}},
        {"post-map result replaces the map's", kPostHandles, 40, {"pre", "map", "post"}},
        {"post-map result replaces the pre-map's", kPreAndPost, 40, {"pre", "post"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        EXPECT_EQ(wnd.SendMessage(c.message), c.result);
        EXPECT_EQ(g_log, c.log);
    }
    EXPECT_FALSE(wnd.postMapSawNonZero);  // the post-map always starts from 0
}

TEST_F(CxWindowTest, NothingIsOfferedAfterNcDestroy)
{
    // Marked dead in PostNcDestroy: the post-map must not run for WM_NCDESTROY.
    {
        bool dead = false;
        CxTestWnd wnd;
        wnd.deadFlag = &dead;
        ASSERT_TRUE(wnd.Create());
        wnd.DestroyWindow();
        EXPECT_TRUE(dead);
        EXPECT_EQ(wnd.m_hWnd, nullptr);
        EXPECT_NE(std::find(wnd.postMapMessages.begin(), wnd.postMapMessages.end(), static_cast<UINT>(WM_DESTROY)),
                  wnd.postMapMessages.end());
        EXPECT_EQ(std::find(wnd.postMapMessages.begin(), wnd.postMapMessages.end(), static_cast<UINT>(WM_NCDESTROY)),
                  wnd.postMapMessages.end());
    }
    // Deleting itself there.
    {
        bool deleted = false;
        auto* wnd = new CxTestWnd;
        wnd->deleteItself = true;
        wnd->deletedFlag = &deleted;
        ASSERT_TRUE(wnd->Create());
        HWND hWnd = wnd->m_hWnd;
        DestroyWindow(hWnd);
        EXPECT_TRUE(deleted);
        EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
    }
}

TEST_F(CxWindowTest, SendAndPostResultsTable)
{
    CxTestWnd wnd;
    ASSERT_TRUE(wnd.Create());
    HWND dead = DeadWindow();
    struct Case {
        const char* name;
        BOOL post;
        HWND hWnd;
        UINT message;
        HRESULT result;
        // clang-format off
    } const cases[] = {
        {"sent, nonzero answer", FALSE, wnd.m_hWnd, kPreHandles, S_OK},
        {"sent, zero answer", FALSE, wnd.m_hWnd, WM_NULL, S_FALSE},
        {"posted", TRUE, wnd.m_hWnd, kMapHandles, S_OK},
        {"sent to a dead window", FALSE, dead, kPreHandles, E_INVALIDARG},
        {"posted to a dead window", TRUE, dead, kPreHandles, E_INVALIDARG},
        {"no window", FALSE, nullptr, kPreHandles, E_INVALIDARG},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        EXPECT_EQ(CxSendMessage(c.post, c.hWnd, c.message, 0, 0), c.result);
        if (c.post && c.result == S_OK) {
            EXPECT_TRUE(g_log.empty());  // not yet delivered
            PumpWaiting();
            EXPECT_EQ(g_log, (std::vector<std::string>{"pre", "map", "post"}));
        }
    }
    EXPECT_EQ(CxPostMessage(dead, WM_NULL, 0, 0), E_INVALIDARG);
    EXPECT_EQ(CxPostMessage(wnd.m_hWnd, WM_NULL, 0, 0), S_OK);
    EXPECT_EQ(CxIsWindow(wnd.m_hWnd), S_OK);
    EXPECT_EQ(CxIsWindow(dead), E_INVALIDARG);
    EXPECT_EQ(CxIsWindow(nullptr), E_INVALIDARG);
    PumpWaiting();
}

TEST_F(CxWindowTest, PostedTextsAreOwnedAndNeverLeaked)
{
    const long blocks = CxAllocCount();
    // Delivered: the receiver takes and frees it.
    {
        CxTestWnd wnd;
        ASSERT_TRUE(wnd.Create());
        EXPECT_EQ(CxPostText(wnd.m_hWnd, CXM_SETTEXT, L"hover"), S_OK);
        EXPECT_EQ(CxPostText(wnd.m_hWnd, CXM_SETTEXT, nullptr), S_OK);  // the mouse left
        EXPECT_EQ(CxAllocCount(), blocks + 1);
        PumpWaiting();
        EXPECT_EQ(wnd.texts, (std::vector<std::wstring>{L"hover", L"<null>"}));
        EXPECT_EQ(CxAllocCount(), blocks);
    }
    // Delivered and taken by no handler: the window procedure frees it.
    {
        CxTestWnd wnd;
        wnd.takesTexts = false;
        ASSERT_TRUE(wnd.Create());
        EXPECT_EQ(CxPostText(wnd.m_hWnd, CXM_SETTEXT, L"hover"), S_OK);
        EXPECT_EQ(CxAllocCount(), blocks + 1);
        PumpWaiting();
        EXPECT_EQ(CxAllocCount(), blocks);
    }
    // The target is dead: the copy is freed at once.
    EXPECT_EQ(CxPostText(DeadWindow(), CXM_SETTEXT, L"hover"), E_INVALIDARG);
    EXPECT_EQ(CxAllocCount(), blocks);
    // The target dies before the text is delivered: freed when it is destroyed.
    {
        CxTestWnd wnd;
        ASSERT_TRUE(wnd.Create());
        EXPECT_EQ(CxPostText(wnd.m_hWnd, CXM_SETTEXT, L"one"), S_OK);
        EXPECT_EQ(CxPostText(wnd.m_hWnd, CXM_SETTEXT, L"two"), S_OK);
        EXPECT_EQ(CxAllocCount(), blocks + 2);
        wnd.DestroyWindow();
        EXPECT_EQ(CxAllocCount(), blocks);
        PumpWaiting();
        EXPECT_TRUE(wnd.texts.empty());
    }
}

}  // namespace
