// The media player control (KwepMediaPlayer.dll): its interfaces, its open and error paths in this
// process (made through the DLL's class object), and whole playbacks by media_host.exe, whose sound goes
// through ALSA's file plugin into a file, checked against mpg123's decode (MP3) or the file's own PCM
// (WAV); durations, bit rates and tags against mutagen. The files are made at test time
// (make_media_fixtures.py: Python, lame, mutagen, mpg123).
#include "platform/mediaplayer/mediaplayer.h"
#include "tests/support/host_process.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::RunShell;
using test_support::ShellQuote;

const CLSID kClsid = {0x6BF52A52, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};
const IID kDiidEvents = {0x6BF52A51, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};

// The control's error codes (FACILITY_ITF 0x03xx).
constexpr long kErrFileOpen = static_cast<long>(0x80040301);
constexpr long kErrEmptyFile = static_cast<long>(0x80040302);
constexpr long kErrUnsupported = static_cast<long>(0x80040303);
constexpr long kErrBadTag = static_cast<long>(0x80040304);
constexpr long kErrTruncated = static_cast<long>(0x80040305);
constexpr long kErrNoOutput = static_cast<long>(0x80040309);


std::string Utf8(const std::wstring& w)
{
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::string Unhex(const std::string& hex)
{
    if (hex == "-")
        return {};
    std::string s;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        s += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    return s;
}

std::string Take(BSTR b)
{
    std::string s = b ? Utf8(std::wstring(b, SysStringLen(b))) : std::string();
    SysFreeString(b);
    return s;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What outside tools say of one fixture.
struct Facts {
    double length = 0;
    long bitrate = 0;
    int rate = 0;
    int channels = 0;
    bool estimated = false;  // mutagen's length is an estimate from the file's size
    std::string title;
    std::string author;
};

// The fixtures, made once for the whole program.
class Fixtures {
public:
    static Fixtures& Get()
    {
        static Fixtures f;
        return f;
    }
    bool ok = false;
    std::string why;
    test_support::TempFolder folder;
    std::map<std::string, Facts> facts;

    // A fixture by its UTF-8 name.
    std::wstring File(const std::string& name) const
    {
        std::wstring wide(name.size(), L'\0');
        const int n = MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(),
                                          static_cast<int>(wide.size()));
        wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return (folder.Path() / wide).wstring();
    }

private:
    Fixtures()
    {
        const test_support::ShellResult r =
            RunShell("/usr/bin/python3 " + ShellQuote(KWEP_MEDIA_FIXTURES) + " " + ShellQuote(folder.UnixFile("")));
        if (!r.finished || r.exitCode != 0) {
            why = "fixtures: " + r.err + r.out;
            return;
        }
        std::istringstream lines(r.out);
        std::string name, key, value;
        while (lines >> name >> key >> value) {
            Facts& f = facts[name];
            if (key == "length")
                f.length = std::strtod(value.c_str(), nullptr);
            else if (key == "bitrate")
                f.bitrate = std::strtol(value.c_str(), nullptr, 10);
            else if (key == "rate")
                f.rate = std::atoi(value.c_str());
            else if (key == "channels")
                f.channels = std::atoi(value.c_str());
            else if (key == "estimated")
                f.estimated = value == "1";
            else if (key == "title")
                f.title = Unhex(value);
            else if (key == "author")
                f.author = Unhex(value);
        }
        ok = facts.size() == 8;
        if (!ok)
            why = "fixtures: unexpected output " + r.out;
    }
};

// ---- the control in this process ----

// Records the control's events as text ("5101:3", "5501", "5802:media" ...).
class EventSink : public IDispatch {
public:
    std::vector<std::string> events;
    DWORD thread = GetCurrentThreadId();
    bool wrongThread = false;

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kDiidEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(GetTypeInfoCount)(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (GetCurrentThreadId() != thread)
            wrongThread = true;
        std::string e = std::to_string(id);
        if ((id == 5001 || id == 5101) && p->cArgs == 1)
            e += ":" + std::to_string(p->rgvarg[0].lVal);
        else if (id == 5802 && p->cArgs == 1)
            e += p->rgvarg[0].vt == VT_DISPATCH && p->rgvarg[0].pdispVal ? ":media" : ":none";
        else if (id == 5202 && p->cArgs == 2) {
            char text[64];
            std::snprintf(text, sizeof text, ":%.3f:%.3f", p->rgvarg[1].dblVal, p->rgvarg[0].dblVal);
            e += text;
        }
        events.push_back(e);
        return S_OK;
    }
    LONG refs = 0;
};

// One control made through the DLL's class object, with a sink advised on its events.
class Control {
public:
    Control()
    {
        module_ = LoadLibraryW(test_support::BuildTreeProgram(KWEP_MEDIAPLAYER_DLL).c_str());
        if (!module_)
            return;
        using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
        auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        IClassFactory* factory = nullptr;
        if (!get || FAILED(get(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
            return;
        factory->CreateInstance(nullptr, __uuidof(IWMPPlayer2), reinterpret_cast<void**>(&player));
        factory->Release();
        if (!player)
            return;
        IConnectionPointContainer* container = nullptr;
        if (SUCCEEDED(player->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
            container->FindConnectionPoint(kDiidEvents, &point_);
            container->Release();
        }
        if (point_)
            point_->Advise(&sink, &cookie_);
    }
    ~Control()
    {
        if (point_) {
            point_->Unadvise(cookie_);
            point_->Release();
        }
        if (player)
            player->Release();
    }
    bool Ready() const { return player && cookie_ != 0; }

    // Handles messages until `done` holds; false after the safety limit (a minute) without it.
    bool PumpUntil(const std::function<bool()>& done)
    {
        const UINT_PTR timer = SetTimer(nullptr, 0, 60000, nullptr);
        bool ok = true;
        MSG msg;
        while (!done()) {
            if (GetMessageW(&msg, nullptr, 0, 0) <= 0 || (msg.message == WM_TIMER && msg.wParam == timer)) {
                ok = false;
                break;
            }
            DispatchMessageW(&msg);
        }
        KillTimer(nullptr, timer);
        return ok;
    }
    bool Saw(const std::string& e) const
    {
        for (const std::string& s : sink.events)
            if (s == e)
                return true;
        return false;
    }
    HRESULT Open(const std::wstring& path)
    {
        BSTR url = SysAllocString(path.c_str());
        const HRESULT hr = player->put_URL(url);
        SysFreeString(url);
        return hr;
    }

    IWMPPlayer2* player = nullptr;
    EventSink sink;

private:
    HMODULE module_ = nullptr;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
};

class MediaPlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void SetUp() override
    {
        ASSERT_TRUE(test_support::RunningUnderWine());
        ASSERT_TRUE(Fixtures::Get().ok) << Fixtures::Get().why;
    }
};

TEST_F(MediaPlayerTest, AnswersItsInterfacesAndNotImplForMembersItDoesNotHave)
{
    Control c;
    ASSERT_TRUE(c.Ready());
    const IID used[] = {__uuidof(IWMPPlayer2), __uuidof(IWMPCore), __uuidof(IWMPControls), __uuidof(IWMPSettings),
                        __uuidof(IWMPError), IID_IDispatch, IID_IConnectionPointContainer, IID_IOleObject,
                        IID_IOleInPlaceObject, IID_IViewObject2, IID_IPersistStreamInit};
    for (const IID& iid : used) {
        IUnknown* p = nullptr;
        EXPECT_EQ(S_OK, c.player->QueryInterface(iid, reinterpret_cast<void**>(&p)));
        if (p)
            p->Release();
    }
    IWMPControls* controls = nullptr;
    IWMPSettings* settings = nullptr;
    IWMPError* error = nullptr;
    ASSERT_EQ(S_OK, c.player->get_controls(&controls));
    ASSERT_EQ(S_OK, c.player->get_settings(&settings));
    ASSERT_EQ(S_OK, c.player->get_Error(&error));
    BSTR text = nullptr;
    VARIANT_BOOL flag = VARIANT_FALSE;
    double number = 0;
    long count = 0;
    WMPOpenState open{};
    const std::pair<const char*, std::function<HRESULT()>> unused[] = {
        {"close", [&] { return c.player->close(); }},
        {"get_URL", [&] { return c.player->get_URL(&text); }},
        {"get_openState", [&] { return c.player->get_openState(&open); }},
        {"get_versionInfo", [&] { return c.player->get_versionInfo(&text); }},
        {"put_fullScreen", [&] { return c.player->put_fullScreen(VARIANT_TRUE); }},
        {"put_windowlessVideo", [&] { return c.player->put_windowlessVideo(VARIANT_TRUE); }},
        {"fastForward", [&] { return controls->fastForward(); }},
        {"next", [&] { return controls->next(); }},
        {"get_isAvailable", [&] { return controls->get_isAvailable(nullptr, &flag); }},
        {"get_autoStart", [&] { return settings->get_autoStart(&flag); }},
        {"get_rate", [&] { return settings->get_rate(&number); }},
        {"get_balance", [&] { return settings->get_balance(&count); }},
        {"webHelp", [&] { return error->webHelp(); }},
    };
    for (const auto& [name, call] : unused)
        EXPECT_EQ(E_NOTIMPL, call()) << name;

    // The members used answer, before any file is open.
    WMPPlayState state = wmppsPlaying;
    EXPECT_EQ(S_OK, c.player->get_playState(&state));
    EXPECT_EQ(wmppsUndefined, state);
    IWMPMedia* media = reinterpret_cast<IWMPMedia*>(1);
    EXPECT_EQ(S_OK, c.player->get_currentMedia(&media));
    EXPECT_EQ(nullptr, media);
    EXPECT_EQ(S_OK, c.player->put_enabled(VARIANT_TRUE));
    BSTR none = SysAllocString(L"none");
    EXPECT_EQ(S_OK, c.player->put_uiMode(none));
    SysFreeString(none);
    // Read back as set, so a host can check its configuration.
    EXPECT_EQ(S_OK, c.player->get_enabled(&flag));
    EXPECT_EQ(VARIANT_TRUE, flag);
    EXPECT_EQ(S_OK, c.player->get_uiMode(&text));
    EXPECT_STREQ(L"none", text);
    SysFreeString(text);
    text = nullptr;
    EXPECT_EQ(E_UNEXPECTED, controls->play());
    EXPECT_EQ(S_OK, controls->get_currentPosition(&number));
    EXPECT_EQ(0, number);

    // Its dual interfaces answer by name too (the type library in the DLL).
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, c.player->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    LPOLESTR name = const_cast<LPOLESTR>(L"playState");
    DISPID id = 0;
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(10, id);
    DISPPARAMS none_params{};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none_params, &result,
                                     nullptr, nullptr));
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(0, result.lVal);
    dispatch->Release();
    controls->Release();
    settings->Release();
    error->Release();
}

TEST_F(MediaPlayerTest, VolumeAndMuteKeepWhatWasSetAndRefuseOutOfRange)
{
    Control c;
    ASSERT_TRUE(c.Ready());
    IWMPSettings* settings = nullptr;
    ASSERT_EQ(S_OK, c.player->get_settings(&settings));
    long volume = -1;
    VARIANT_BOOL mute = VARIANT_TRUE;
    EXPECT_EQ(S_OK, settings->get_volume(&volume));
    EXPECT_EQ(100, volume);
    EXPECT_EQ(S_OK, settings->get_mute(&mute));
    EXPECT_EQ(VARIANT_FALSE, mute);
    EXPECT_EQ(S_OK, settings->put_volume(37));
    EXPECT_EQ(E_INVALIDARG, settings->put_volume(101));
    EXPECT_EQ(E_INVALIDARG, settings->put_volume(-1));
    EXPECT_EQ(S_OK, settings->get_volume(&volume));
    EXPECT_EQ(37, volume);
    EXPECT_EQ(S_OK, settings->put_mute(VARIANT_TRUE));
    EXPECT_EQ(S_OK, settings->get_mute(&mute));
    EXPECT_EQ(VARIANT_TRUE, mute);
    settings->Release();
}

// Every broken or unplayable file gives exactly one error item and one Error event, and no media.
TEST_F(MediaPlayerTest, BrokenFilesGiveOneErrorItemEach)
{
    struct Case {
        const char* file;
        long code;
    };
    const Case cases[] = {
        {"truncated.mp3", kErrTruncated}, {"empty.mp3", kErrEmptyFile}, {"garbage.mp3", kErrUnsupported},
        {"hugeid3.mp3", kErrBadTag},      {"float.wav", kErrUnsupported}, {"missing.mp3", kErrFileOpen},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        Control c;
        ASSERT_TRUE(c.Ready());
        EXPECT_EQ(k.code, c.Open(Fixtures::Get().File(k.file)));
        ASSERT_TRUE(c.PumpUntil([&] { return c.Saw("5501"); }));
        EXPECT_EQ(std::vector<std::string>{"5501"}, c.sink.events);
        EXPECT_FALSE(c.sink.wrongThread);
        IWMPError* error = nullptr;
        ASSERT_EQ(S_OK, c.player->get_Error(&error));
        long count = 0;
        EXPECT_EQ(S_OK, error->get_errorCount(&count));
        EXPECT_EQ(1, count);
        IWMPErrorItem* item = nullptr;
        ASSERT_EQ(S_OK, error->get_Item(0, &item));
        long code = 0;
        BSTR text = nullptr;
        EXPECT_EQ(S_OK, item->get_errorCode(&code));
        EXPECT_EQ(k.code, code);
        EXPECT_EQ(S_OK, item->get_errorDescription(&text));
        EXPECT_GT(Take(text).size(), 10u);
        item->Release();
        EXPECT_EQ(E_INVALIDARG, error->get_Item(1, &item));
        EXPECT_EQ(S_OK, error->clearErrorQueue());
        EXPECT_EQ(S_OK, error->get_errorCount(&count));
        EXPECT_EQ(0, count);
        error->Release();
        IWMPMedia* media = nullptr;
        EXPECT_EQ(S_OK, c.player->get_currentMedia(&media));
        EXPECT_EQ(nullptr, media);
        WMPPlayState state = wmppsPlaying;
        c.player->get_playState(&state);
        EXPECT_EQ(wmppsUndefined, state);
    }
}

// The error queue keeps the latest 64 items, however many errors come before the host clears it; every
// error still has its event.
TEST_F(MediaPlayerTest, ErrorQueueIsBounded)
{
    Control c;
    ASSERT_TRUE(c.Ready());
    for (int i = 0; i < 70; ++i)
        c.Open(Fixtures::Get().File(i % 2 ? "missing.mp3" : "empty.mp3"));
    ASSERT_TRUE(c.PumpUntil([&] { return c.sink.events.size() == 70; }));
    IWMPError* error = nullptr;
    ASSERT_EQ(S_OK, c.player->get_Error(&error));
    long count = 0;
    EXPECT_EQ(S_OK, error->get_errorCount(&count));
    EXPECT_EQ(64, count);
    IWMPErrorItem* item = nullptr;
    ASSERT_EQ(S_OK, error->get_Item(63, &item));
    long code = 0;
    item->get_errorCode(&code);
    EXPECT_EQ(kErrFileOpen, code);  // the 70th
    item->Release();
    error->Release();
}

// An opened file gives its media (duration, bit rate, title and author as mutagen reads them) with the
// open, media and ready events, in that order; an empty URL closes it again.
TEST_F(MediaPlayerTest, OpenedFilesReportWhatMutagenReads)
{
    for (const auto& [name, facts] : Fixtures::Get().facts) {
        SCOPED_TRACE(name);
        Control c;
        ASSERT_TRUE(c.Ready());
        EXPECT_EQ(S_OK, c.Open(Fixtures::Get().File(name)));
        ASSERT_TRUE(c.PumpUntil([&] { return c.Saw("5101:10"); }));
        EXPECT_EQ((std::vector<std::string>{"5001:13", "5802:media", "5101:10"}), c.sink.events);
        IWMPMedia* media = nullptr;
        ASSERT_EQ(S_OK, c.player->get_currentMedia(&media));
        ASSERT_NE(nullptr, media);
        double duration = 0;
        EXPECT_EQ(S_OK, media->get_duration(&duration));
        // Without a VBR frame mutagen estimates the length from the file's size; the control counts the
        // frames, which the estimate comes within a frame of.
        EXPECT_NEAR(facts.length, duration, facts.estimated ? 1152.0 / facts.rate : 1e-9);
        BSTR text = nullptr;
        EXPECT_EQ(S_OK, media->get_durationString(&text));
        const int seconds = static_cast<int>(facts.length);
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02d:%02d", seconds / 60, seconds % 60);
        EXPECT_EQ(expected, Take(text));
        long count = 0;
        EXPECT_EQ(S_OK, media->get_attributeCount(&count));
        ASSERT_EQ(3, count);
        std::map<std::string, std::string> attributes;
        for (long i = 0; i < count; ++i) {
            BSTR attribute = nullptr;
            ASSERT_EQ(S_OK, media->getAttributeName(i, &attribute));
            BSTR value = nullptr;
            EXPECT_EQ(S_OK, media->getItemInfo(attribute, &value));
            attributes[Take(attribute)] = Take(value);
        }
        EXPECT_EQ(std::to_string(facts.bitrate), attributes["Bitrate"]);
        EXPECT_EQ(facts.title, attributes["Title"]);
        EXPECT_EQ(facts.author, attributes["Author"]);
        BSTR upper = SysAllocString(L"TITLE");
        EXPECT_EQ(S_OK, media->getItemInfo(upper, &text));
        EXPECT_EQ(facts.title, Take(text));
        SysFreeString(upper);
        media->Release();

        c.sink.events.clear();
        EXPECT_EQ(S_OK, c.Open(L""));
        ASSERT_TRUE(c.PumpUntil([&] { return c.Saw("5101:0"); }));
        EXPECT_EQ((std::vector<std::string>{"5802:none", "5101:0"}), c.sink.events);
        media = reinterpret_cast<IWMPMedia*>(1);
        EXPECT_EQ(S_OK, c.player->get_currentMedia(&media));
        EXPECT_EQ(nullptr, media);
    }
}

std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name)
{
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"<none>";
    return value;
}

using DllEntry = HRESULT(WINAPI*)();

DllEntry Export(const char* name)
{
    HMODULE module = LoadLibraryW(test_support::BuildTreeProgram(KWEP_MEDIAPLAYER_DLL).c_str());
    return module ? reinterpret_cast<DllEntry>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Registration writes the class under the player's id, in place of what was there, and removal takes
// every key it wrote. Run against a private key standing in for HKEY_CLASSES_ROOT, so the prefix's own
// classes stay as they are.
TEST_F(MediaPlayerTest, RegistersTheClassInPlaceOfTheSystemsAndRemovesIt)
{
    const std::wstring base = L"Software\\KwepMediaPlayerTest\\" + std::to_wstring(GetCurrentProcessId());
    HKEY root = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, base.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &root, nullptr));
    const std::wstring clsid = L"CLSID\\{6BF52A52-394A-11D3-B153-00C04F79FAA6}";
    // What the system's player left: replaced whole.
    HKEY old = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, (clsid + L"\\ProgID").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &old, nullptr));
    RegCloseKey(old);
    DllEntry reg = Export("DllRegisterServer");
    DllEntry unreg = Export("DllUnregisterServer");
    ASSERT_TRUE(reg && unreg);

    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, root));
    const HRESULT registered = reg();
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    EXPECT_EQ(S_OK, registered);
    EXPECT_EQ(test_support::BuildTreeProgram(KWEP_MEDIAPLAYER_DLL), ReadString(root, clsid + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Apartment", ReadString(root, clsid + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(L"131473", ReadString(root, clsid + L"\\MiscStatus\\1", nullptr));
    HKEY probe = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, (clsid + L"\\Control").c_str(), 0, KEY_READ, &probe));
    if (probe)
        RegCloseKey(probe);
    probe = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(root, (clsid + L"\\ProgID").c_str(), 0, KEY_READ, &probe));
    if (probe)
        RegCloseKey(probe);
    // No type library is registered: the interface keys stay the system's.
    probe = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(root, L"TypeLib", 0, KEY_READ, &probe));
    if (probe)
        RegCloseKey(probe);

    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, root));
    const HRESULT removed = unreg();
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    EXPECT_EQ(S_OK, removed);
    probe = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(root, clsid.c_str(), 0, KEY_READ, &probe));
    if (probe)
        RegCloseKey(probe);
    RegCloseKey(root);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KwepMediaPlayerTest");
}

// Registered in the prefix (as its set-up does), the class id string gives this control: the system's
// has no IWMPPlayer2.
TEST_F(MediaPlayerTest, TheRegisteredClassIdMakesThisControl)
{
    // regsvr32 takes any argument that begins with "/" as a switch: the DLL goes by its Windows path.
    const test_support::ShellResult r =
        RunShell("WINEDEBUG=-all /usr/lib/wine/wine64 regsvr32 /s " +
                 ShellQuote(Utf8(test_support::BuildTreeProgram(KWEP_MEDIAPLAYER_DLL))));
    ASSERT_TRUE(r.finished && r.exitCode == 0) << r.err;
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromString(L"{6BF52A52-394A-11D3-B153-00C04F79FAA6}", &clsid));
    IWMPPlayer2* player = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWMPPlayer2),
                                     reinterpret_cast<void**>(&player)));
    IWMPSettings* settings = nullptr;
    EXPECT_EQ(S_OK, player->get_settings(&settings));
    long volume = 0;
    EXPECT_EQ(S_OK, settings->get_volume(&volume));
    EXPECT_EQ(100, volume);
    settings->Release();
    player->Release();
}

// ---- whole playbacks, heard through ALSA's file plugin ----

struct HostRun {
    bool ran = false;
    std::string why;
    std::map<std::string, std::string> lines;
    std::vector<std::uint8_t> pcm;
};

// Runs media_host.exe on `file` in a Wine process whose HOME makes ALSA's default device a file (or no
// device at all), and returns what it printed and what the device received.
HostRun PlayInHost(const std::string& file, const std::string& options, bool withDevice = true)
{
    HostRun run;
    test_support::TempFolder home;
    const std::string capture = home.UnixFile("capture.raw");
    {
        std::ofstream rc(home.File(".asoundrc"), std::ios::binary);
        if (withDevice)
            rc << "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" << capture
               << "\"\n  format \"raw\"\n}\n";
        else
            rc << "pcm.!default {\n  type hw\n  card 99\n}\nctl.!default {\n  type hw\n  card 99\n}\n";
    }
    const test_support::ShellResult r =
        RunShell("HOME=" + ShellQuote(home.UnixFile("")) + " WINEDEBUG=-all /usr/lib/wine/wine64 " +
                     ShellQuote(KWEP_MEDIA_HOST) + " " + ShellQuote(Utf8(test_support::BuildTreeProgram(KWEP_MEDIAPLAYER_DLL))) +
                     " " + ShellQuote(Utf8(Fixtures::Get().File(file))) + " " + options,
                 300000);
    if (!r.finished || r.exitCode != 0) {
        run.why = "host: exit " + std::to_string(r.exitCode) + " " + r.err + "\n" + r.out;
        return run;
    }
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            run.lines[line.substr(0, eq)] = line.substr(eq + 1);
    }
    run.pcm = ReadBytes(home.File("capture.raw"));
    run.ran = true;
    return run;
}

// The device is fed silence whenever it has nothing else (Wine's ALSA driver keeps it from running
// dry), so a capture may end in whole periods of silence after the last sample played: zeros, or 0x80
// for unsigned 8-bit samples. Those are cut off here; the rest must be what was played.
std::vector<std::uint8_t> WithoutTrailingSilence(std::vector<std::uint8_t> pcm, size_t played,
                                                 std::uint8_t silence = 0)
{
    if (pcm.size() > played && std::all_of(pcm.begin() + static_cast<std::ptrdiff_t>(played), pcm.end(),
                                           [silence](std::uint8_t b) { return b == silence; }))
        pcm.resize(played);
    return pcm;
}

// While paused the device is fed silence too: runs of zeros far longer than any in the fixtures' noisy
// tones, which are cut out.
std::vector<std::uint8_t> WithoutSilenceRuns(const std::vector<std::uint8_t>& pcm)
{
    constexpr size_t kLongRun = 64;
    std::vector<std::uint8_t> out;
    size_t i = 0;
    while (i < pcm.size()) {
        size_t j = i;
        while (j < pcm.size() && pcm[j] == 0)
            ++j;
        if (j - i < kLongRun)
            out.insert(out.end(), pcm.begin() + static_cast<std::ptrdiff_t>(i), pcm.begin() + static_cast<std::ptrdiff_t>(j));
        if (j < pcm.size())
            out.push_back(pcm[j]);
        i = j + 1;
    }
    return out;
}

std::vector<std::int16_t> Samples(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return s;
}

// The PCM of a WAV fixture's data chunk (the fixtures have one fmt and one data chunk).
std::vector<std::uint8_t> WaveData(const std::string& name)
{
    std::vector<std::uint8_t> bytes = ReadBytes(Fixtures::Get().folder.File(name));
    if (bytes.size() < 44)
        return {};
    return std::vector<std::uint8_t>(bytes.begin() + 44, bytes.end());
}

class MediaPlaybackTest : public MediaPlayerTest {
protected:
    static void SetUpTestSuite()
    {
        MediaPlayerTest::SetUpTestSuite();
        // The prefix's sound goes through ALSA, whose device each host's HOME chooses. A prefix-wide
        // setting that no other test depends on.
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"Audio", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"alsa"), 10);
            RegCloseKey(key);
        }
    }
};

// Every MP3 kind plays to its end: the device hears mpg123's decode (no gapless trimming) sample for sample
// within 2 LSB and exactly as long; the events come in order on the host's thread.
TEST_F(MediaPlaybackTest, Mp3PlaysAsMpg123DecodesIt)
{
    for (const char* name : {"cbr.mp3", "vbr.mp3", "mpeg2.mp3", "mpeg25.mp3", "noinfo.mp3"}) {
        SCOPED_TRACE(name);
        const HostRun run = PlayInHost(name, "");
        ASSERT_TRUE(run.ran) << run.why;
        EXPECT_EQ("00000000", run.lines.at("play"));
        EXPECT_EQ("5001:13 5802:media 5101:10 5101:3 5101:8 5101:1", run.lines.at("events"));
        EXPECT_EQ("creator", run.lines.at("events_thread"));
        EXPECT_EQ("1", run.lines.at("final_state"));
        EXPECT_EQ("0", run.lines.at("errors"));
        const std::vector<std::uint8_t> refBytes = ReadBytes(Fixtures::Get().folder.File(std::string(name) + ".ref"));
        const std::vector<std::int16_t> ref = Samples(refBytes);
        const std::vector<std::int16_t> heard = Samples(WithoutTrailingSilence(run.pcm, refBytes.size()));
        ASSERT_EQ(ref.size(), heard.size());
        int worst = 0;
        for (size_t i = 0; i < ref.size(); ++i)
            worst = std::max(worst, std::abs(ref[i] - heard[i]));
        EXPECT_LE(worst, 2);
    }
}

// An MP3 seek starts at the frame that holds the position (0.5 s is in frame 19, which starts at
// 0.496 s): the device hears the file from that frame on. The decoder starts cold there, without the
// bit reservoir and the overlap of the frames before, so the first three frames differ from a decode
// of the whole file; from the fourth on they agree within 2 LSB.
TEST_F(MediaPlaybackTest, Mp3SeekStartsAtTheFrameOfThePosition)
{
    const HostRun run = PlayInHost("cbr.mp3", "--seek 0.5");
    ASSERT_TRUE(run.ran) << run.why;
    EXPECT_EQ("5001:13 5802:media 5101:10 5202:0.000:0.496 5101:3 5101:8 5101:1", run.lines.at("events"));
    const std::vector<std::uint8_t> refBytes = ReadBytes(Fixtures::Get().folder.File("cbr.mp3.ref"));
    const size_t frameBytes = 1152 * 2 * 2;
    ASSERT_GT(refBytes.size(), 19 * frameBytes);
    const std::vector<std::int16_t> ref = Samples(refBytes);
    const std::vector<std::int16_t> heard = Samples(WithoutTrailingSilence(run.pcm, refBytes.size() - 19 * frameBytes));
    ASSERT_EQ(ref.size() - 19 * 2304, heard.size());
    int worst = 0;
    for (size_t i = 3 * 2304; i < heard.size(); ++i)
        worst = std::max(worst, std::abs(ref[19 * 2304 + i] - heard[i]));
    EXPECT_LE(worst, 2);
}

// WAV plays bit for bit; volume and mute act on the samples; a seek before play starts there; a pause
// and resume loses nothing.
TEST_F(MediaPlaybackTest, WavPlaysItsOwnSamples)
{
    const std::vector<std::uint8_t> pcm16 = WaveData("tone16.wav");
    const std::vector<std::uint8_t> pcm8 = WaveData("tone8.wav");
    ASSERT_FALSE(pcm16.empty());
    std::vector<std::uint8_t> half(pcm16);
    for (size_t i = 0; i + 1 < half.size(); i += 2) {
        const int v = static_cast<std::int16_t>(half[i] | (half[i + 1] << 8)) * 50 / 100;
        half[i] = static_cast<std::uint8_t>(v & 0xFF);
        half[i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    }
    const std::vector<std::uint8_t> silence(pcm16.size(), 0);
    // 0.5 s into the 16-bit stereo file: 22050 sample frames of 4 bytes.
    const std::vector<std::uint8_t> fromSeek(pcm16.begin() + 22050 * 4, pcm16.end());
    struct Case {
        const char* file;
        const char* options;
        const std::vector<std::uint8_t>* expected;
        const char* events;
        bool paused = false;
    };
    const Case cases[] = {
        {"tone16.wav", "", &pcm16, "5001:13 5802:media 5101:10 5101:3 5101:8 5101:1"},
        {"tone8.wav", "", &pcm8, "5001:13 5802:media 5101:10 5101:3 5101:8 5101:1"},
        {"tone16.wav", "--volume 50", &half, "5001:13 5802:media 5101:10 5101:3 5101:8 5101:1"},
        {"tone16.wav", "--mute", &silence, "5001:13 5802:media 5101:10 5101:3 5101:8 5101:1"},
        {"tone16.wav", "--seek 0.5", &fromSeek, "5001:13 5802:media 5101:10 5202:0.000:0.500 5101:3 5101:8 5101:1"},
        {"tone16.wav", "--pause", &pcm16, "5001:13 5802:media 5101:10 5101:3 5101:2 5101:3 5101:8 5101:1", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.file) + " " + k.options);
        const HostRun run = PlayInHost(k.file, k.options);
        ASSERT_TRUE(run.ran) << run.why;
        EXPECT_EQ(k.events, run.lines.at("events"));
        EXPECT_EQ("0", run.lines.at("errors"));
        const std::uint8_t silence = k.expected == &pcm8 ? 0x80 : 0;
        const std::vector<std::uint8_t> heard =
            k.paused ? WithoutSilenceRuns(run.pcm) : WithoutTrailingSilence(run.pcm, k.expected->size(), silence);
        ASSERT_EQ(k.expected->size(), heard.size());
        EXPECT_TRUE(*k.expected == heard);
    }
}

// A seek while the file plays goes on from there. The control reopens the device for it, and ALSA's file
// plugin starts its file afresh on every open: the file holds the rest of the file from the seek on.
TEST_F(MediaPlaybackTest, SeekWhilePlayingGoesOnFromThere)
{
    const std::vector<std::uint8_t> pcm16 = WaveData("tone16.wav");
    ASSERT_FALSE(pcm16.empty());
    // 0.6 s: 26460 sample frames of 4 bytes.
    const std::vector<std::uint8_t> rest(pcm16.begin() + 26460 * 4, pcm16.end());
    const HostRun run = PlayInHost("tone16.wav", "--seek-while-playing 0.6");
    ASSERT_TRUE(run.ran) << run.why;
    const std::string events = run.lines.at("events");
    EXPECT_EQ(0u, events.find("5001:13 5802:media 5101:10 5101:3 5202:")) << events;
    const std::string end = ":0.600 5101:8 5101:1";
    ASSERT_GE(events.size(), end.size());
    EXPECT_EQ(end, events.substr(events.size() - end.size())) << events;
    EXPECT_EQ("0", run.lines.at("errors"));
    const std::vector<std::uint8_t> heard = WithoutTrailingSilence(run.pcm, rest.size());
    ASSERT_EQ(rest.size(), heard.size());
    EXPECT_TRUE(rest == heard);
}

// The last reference going while the file plays ends the playback thread with the control.
TEST_F(MediaPlaybackTest, ReleasedWhilePlayingEndsCleanly)
{
    const HostRun run = PlayInHost("tone16.wav", "--release");
    ASSERT_TRUE(run.ran) << run.why;
    EXPECT_EQ("0", run.lines.at("released"));
    EXPECT_EQ(0u, run.lines.count("final_state"));
}

// With no output device the play fails with its own error item and event.
TEST_F(MediaPlaybackTest, NoOutputDeviceIsAnError)
{
    const HostRun run = PlayInHost("tone16.wav", "", false);
    ASSERT_TRUE(run.ran) << run.why;
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(kErrNoOutput));
    EXPECT_EQ(code, run.lines.at("play"));
    EXPECT_EQ("1", run.lines.at("errors"));
    EXPECT_EQ(code, run.lines.at("error_code"));
    EXPECT_EQ("No audio output device is available; the file cannot be played.", run.lines.at("error_text"));
    EXPECT_EQ("5001:13 5802:media 5101:10 5501 5101:1", run.lines.at("events"));
    EXPECT_TRUE(run.pcm.empty());
}

}  // namespace
