// A small host of the media player control for the tests: it makes the control through the DLL's own
// class object (so it plays the DLL just built, whatever the prefix has registered under the class id),
// advises an event sink, opens one file, and plays it to its end in a message loop, waiting for the
// control's events. What it saw goes to standard output, one "key=value" line each (UTF-8).
//
//   media_host.exe DLL FILE [--volume N] [--mute] [--seek SECONDS] [--seek-while-playing SECONDS] [--pause]
//                  [--release]
//
// --pause pauses the playback on its first playing state and resumes it on the paused state; --release
// lets the control go (every reference) as soon as it plays.
// Exit code 0 when the run went as the events said (played to its end, or an error event came), 2 when
// the control could not be made, 3 when no event came within the safety limit.
#include "platform/mediaplayer/mediaplayer.h"

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const CLSID kClsid = {0x6BF52A52, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};
const IID kDiidEvents = {0x6BF52A51, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};

std::string Utf8(const std::wstring& w)
{
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Take(BSTR b)
{
    std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    return s;
}

void Line(const char* key, const std::string& value)
{
    std::printf("%s=%s\n", key, value.c_str());
}

struct Options {
    long volume = -1;
    bool mute = false;
    double seek = -1;
    bool pause = false;
    bool release = false;  // let the control go while it plays
    double seekPlaying = -1;  // seek there on the first playing state
};

// The event sink: records every event and decides what the host does next.
class Sink : public IDispatch {
public:
    IWMPPlayer2* player = nullptr;
    Options options;
    std::vector<std::string> events;
    bool errorSeen = false;
    bool ended = false;
    bool ready = false;
    bool pausedOnce = false;
    bool playing = false;
    DWORD thread = GetCurrentThreadId();
    bool wrongThread = false;

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kDiidEvents) {
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(GetTypeInfoCount)(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (GetCurrentThreadId() != thread)
            wrongThread = true;
        char text[96];
        const UINT n = params ? params->cArgs : 0;
        if ((id == 5001 || id == 5101) && n == 1 && params->rgvarg[0].vt == VT_I4) {
            std::snprintf(text, sizeof text, "%ld:%ld", static_cast<long>(id), static_cast<long>(params->rgvarg[0].lVal));
            events.push_back(text);
            if (id == 5101)
                OnPlayState(params->rgvarg[0].lVal);
        } else if (id == 5202 && n == 2) {
            std::snprintf(text, sizeof text, "5202:%.3f:%.3f", params->rgvarg[1].dblVal, params->rgvarg[0].dblVal);
            events.push_back(text);
        } else if (id == 5802 && n == 1) {
            events.push_back(params->rgvarg[0].vt == VT_DISPATCH && params->rgvarg[0].pdispVal ? "5802:media" : "5802:none");
        } else {
            std::snprintf(text, sizeof text, "%ld", static_cast<long>(id));
            events.push_back(text);
            if (id == 5501)
                errorSeen = true;
        }
        return S_OK;
    }

    void OnPlayState(long state)
    {
        IWMPControls* controls = nullptr;
        if (state == 10)
            ready = true;
        if (state == 3 && options.seekPlaying >= 0 && !playing && SUCCEEDED(player->get_controls(&controls))) {
            controls->put_currentPosition(options.seekPlaying);
            controls->Release();
            controls = nullptr;
        }
        if (state == 3)
            playing = true;
        if (state == 3 && options.pause && !pausedOnce && SUCCEEDED(player->get_controls(&controls))) {
            pausedOnce = true;
            controls->pause();
        } else if (state == 2 && options.pause && SUCCEEDED(player->get_controls(&controls))) {
            controls->play();
        } else if (state == 1 && !events.empty() && events.size() >= 2 && events[events.size() - 2] == "5101:8") {
            ended = true;
        }
        if (controls)
            controls->Release();
    }
};

// Runs the message loop until `done` holds, or the safety limit passes (false then).
template <class Done>
bool Pump(Done done)
{
    const UINT_PTR timer = SetTimer(nullptr, 0, 120000, nullptr);
    MSG msg;
    bool ok = true;
    while (!done()) {
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0)
            break;
        if (msg.message == WM_TIMER && msg.wParam == timer) {
            ok = false;
            break;
        }
        DispatchMessageW(&msg);
    }
    KillTimer(nullptr, timer);
    // What the control posted meanwhile (the events after an error) is handled before the host reports.
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    return ok;
}

void PrintErrors(IWMPPlayer2* player)
{
    IWMPError* error = nullptr;
    if (FAILED(player->get_Error(&error)) || !error)
        return;
    long count = 0;
    error->get_errorCount(&count);
    Line("errors", std::to_string(count));
    for (long i = 0; i < count; ++i) {
        IWMPErrorItem* item = nullptr;
        if (FAILED(error->get_Item(i, &item)))
            continue;
        long code = 0;
        BSTR text = nullptr;
        item->get_errorCode(&code);
        item->get_errorDescription(&text);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(code));
        Line("error_code", hex);
        Line("error_text", Utf8(Take(text)));
        item->Release();
    }
    error->Release();
}

void PrintMedia(IWMPPlayer2* player)
{
    IWMPMedia* media = nullptr;
    if (FAILED(player->get_currentMedia(&media)) || !media) {
        Line("media", "none");
        return;
    }
    double duration = 0;
    BSTR durationText = nullptr;
    media->get_duration(&duration);
    media->get_durationString(&durationText);
    char number[64];
    std::snprintf(number, sizeof number, "%.6f", duration);
    Line("duration", number);
    Line("duration_string", Utf8(Take(durationText)));
    long count = 0;
    media->get_attributeCount(&count);
    for (long i = 0; i < count; ++i) {
        BSTR name = nullptr;
        if (FAILED(media->getAttributeName(i, &name)))
            continue;
        BSTR value = nullptr;
        media->getItemInfo(name, &value);
        const std::string key = "attribute_" + Utf8(Take(name));
        Line(key.c_str(), Utf8(Take(value)));
    }
    media->Release();
}

int Run(const wchar_t* dll, const wchar_t* file, const Options& options)
{
    HMODULE module = LoadLibraryW(dll);
    if (!module) {
        Line("failure", "LoadLibrary " + std::to_string(GetLastError()));
        return 2;
    }
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IWMPPlayer2* player = nullptr;
    if (!get || FAILED(get(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, __uuidof(IWMPPlayer2), reinterpret_cast<void**>(&player)))) {
        Line("failure", "the control cannot be made");
        return 2;
    }
    factory->Release();

    Sink sink;
    sink.player = player;
    sink.options = options;
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    if (FAILED(player->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) ||
        FAILED(container->FindConnectionPoint(kDiidEvents, &point)) || FAILED(point->Advise(&sink, &cookie))) {
        Line("failure", "the events cannot be advised");
        return 2;
    }
    container->Release();

    IWMPSettings* settings = nullptr;
    player->get_settings(&settings);
    if (options.volume >= 0)
        settings->put_volume(options.volume);
    if (options.mute)
        settings->put_mute(VARIANT_TRUE);

    BSTR url = SysAllocString(file);
    char hr[16];
    std::snprintf(hr, sizeof hr, "%08lX", static_cast<unsigned long>(player->put_URL(url)));
    SysFreeString(url);
    Line("put_url", hr);
    int code = 0;
    if (!Pump([&] { return sink.ready || sink.errorSeen; }))
        code = 3;
    PrintMedia(player);
    if (code == 0 && sink.ready) {
        IWMPControls* controls = nullptr;
        player->get_controls(&controls);
        if (options.seek >= 0)
            controls->put_currentPosition(options.seek);
        std::snprintf(hr, sizeof hr, "%08lX", static_cast<unsigned long>(controls->play()));
        Line("play", hr);
        if (!Pump([&] { return sink.ended || sink.errorSeen || (options.release && sink.playing); }))
            code = 3;
        if (options.release && sink.playing) {
            // Every reference goes while the playback thread runs: the control must end it and go.
            controls->Release();
            settings->Release();
            point->Unadvise(cookie);
            point->Release();
            const ULONG left = player->Release();
            Line("released", std::to_string(left));
            return code;
        }
        WMPPlayState state = wmppsUndefined;
        player->get_playState(&state);
        Line("final_state", std::to_string(static_cast<int>(state)));
        controls->Release();
    }
    PrintErrors(player);
    std::string events;
    for (const std::string& e : sink.events)
        events += (events.empty() ? "" : " ") + e;
    Line("events", events);
    Line("events_thread", sink.wrongThread ? "other" : "creator");
    point->Unadvise(cookie);
    point->Release();
    settings->Release();
    player->Release();
    return code;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return 1;
    if (argc < 3) {
        std::fprintf(stderr, "usage: media_host DLL FILE [--volume N] [--mute] [--seek S] [--pause]\n");
        return 1;
    }
    Options options;
    for (int i = 3; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--volume") == 0 && i + 1 < argc)
            options.volume = std::wcstol(argv[++i], nullptr, 10);
        else if (std::wcscmp(argv[i], L"--mute") == 0)
            options.mute = true;
        else if (std::wcscmp(argv[i], L"--seek") == 0 && i + 1 < argc)
            options.seek = std::wcstod(argv[++i], nullptr);
        else if (std::wcscmp(argv[i], L"--pause") == 0)
            options.pause = true;
        else if (std::wcscmp(argv[i], L"--release") == 0)
            options.release = true;
        else if (std::wcscmp(argv[i], L"--seek-while-playing") == 0 && i + 1 < argc)
            options.seekPlaying = std::wcstod(argv[++i], nullptr);
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    const int code = Run(argv[1], argv[2], options);
    std::fflush(stdout);
    CoUninitialize();
    return code;
}
