// The media player control: opening by URL, transport, settings, error queue and events.
#include "platform/mediaplayer/media_player_control.h"

#include "platform/mediaplayer/mediaplayer_resource.h"

#include <cmath>

namespace mediaplayer {

namespace {

// The control window's messages: queued events to fire, and the playback thread's report.
constexpr UINT kMsgFireEvents = WM_APP + 1;
constexpr UINT kMsgPlayback = WM_APP + 2;
constexpr wchar_t kWindowClass[] = L"KwepMediaPlayerNotify";

HRESULT CopyOut(const std::wstring& text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CopyTime(double seconds, BSTR* out)
{
    try {
        return CopyOut(FormatMediaTime(seconds), out);
    } catch (const std::bad_alloc&) {
        if (out)
            *out = nullptr;
        return E_OUTOFMEMORY;
    }
}

// ---- media object ----

class CMediaItem : public CComObjectRootEx, public IDispatchImpl<CMediaItem, IWMPMedia> {
public:
    BEGIN_COM_MAP(CMediaItem)
    COM_INTERFACE_ENTRY(IWMPMedia)
    COM_INTERFACE_ENTRY2(IDispatch, IWMPMedia)
    END_COM_MAP()

    void Init(const MediaInfo& info)
    {
        duration_ = info.duration;
        values_[0] = info.title;
        values_[1] = info.author;
        values_[2] = info.bitrate > 0 ? std::to_wstring(info.bitrate) : std::wstring();
    }

    STDMETHOD(get_isIdentical)(IWMPMedia*, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(get_sourceURL)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_name)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_name)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_imageSourceWidth)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_imageSourceHeight)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_markerCount)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(getMarkerTime)(LONG, double*) override { return E_NOTIMPL; }
    STDMETHOD(getMarkerName)(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_duration)(double* duration) override
    {
        if (!duration)
            return E_POINTER;
        *duration = duration_;
        return S_OK;
    }
    STDMETHOD(get_durationString)(BSTR* text) override { return CopyTime(duration_, text); }
    STDMETHOD(get_attributeCount)(LONG* count) override
    {
        if (!count)
            return E_POINTER;
        *count = kAttributes;
        return S_OK;
    }
    STDMETHOD(getAttributeName)(LONG index, BSTR* name) override
    {
        if (!name)
            return E_POINTER;
        *name = nullptr;
        if (index < 0 || index >= kAttributes)
            return E_INVALIDARG;
        return CopyOut(kNames[index], name);
    }
    STDMETHOD(getItemInfo)(BSTR name, BSTR* value) override
    {
        if (!value)
            return E_POINTER;
        *value = nullptr;
        // An attribute the media does not have reads as empty.
        for (int i = 0; i < kAttributes; ++i) {
            if (name && lstrcmpiW(name, kNames[i]) == 0)
                return CopyOut(values_[i], value);
        }
        return CopyOut(std::wstring(), value);
    }
    STDMETHOD(setItemInfo)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(getItemInfoByAtom)(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(isMemberOf)(IWMPPlaylist*, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(isReadOnlyItem)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }

private:
    static constexpr int kAttributes = 3;
    static constexpr const wchar_t* kNames[kAttributes] = {L"Title", L"Author", L"Bitrate"};
    double duration_ = 0;
    std::wstring values_[kAttributes];
};

// ---- error item ----

class CErrorItem : public CComObjectRootEx, public IDispatchImpl<CErrorItem, IWMPErrorItem> {
public:
    BEGIN_COM_MAP(CErrorItem)
    COM_INTERFACE_ENTRY(IWMPErrorItem)
    COM_INTERFACE_ENTRY2(IDispatch, IWMPErrorItem)
    END_COM_MAP()

    void Init(HRESULT code, const std::wstring& text)
    {
        code_ = code;
        text_ = text;
    }
    STDMETHOD(get_errorCode)(LONG* code) override
    {
        if (!code)
            return E_POINTER;
        *code = static_cast<LONG>(code_);
        return S_OK;
    }
    STDMETHOD(get_errorDescription)(BSTR* text) override { return CopyOut(text_, text); }
    STDMETHOD(get_errorContext)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_remedy)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_customUrl)(BSTR*) override { return E_NOTIMPL; }

private:
    HRESULT code_ = S_OK;
    std::wstring text_;
};

ATOM RegisterWindowClass()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = _Module.GetModuleInstance();
    wc.lpszClassName = kWindowClass;
    return RegisterClassW(&wc);
}

}  // namespace

HRESULT CreateMediaObject(const MediaInfo& info, IWMPMedia** media)
{
    if (!media)
        return E_POINTER;
    *media = nullptr;
    CComObject<CMediaItem>* item = nullptr;
    HRESULT hr = CComObject<CMediaItem>::CreateInstance(&item);
    if (FAILED(hr))
        return hr;
    try {
        item->Init(info);
    } catch (const std::bad_alloc&) {
        delete item;
        return E_OUTOFMEMORY;
    }
    return item->QueryInterface(__uuidof(IWMPMedia), reinterpret_cast<void**>(media));
}

HRESULT CreateErrorItem(HRESULT code, const std::wstring& text, IWMPErrorItem** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    CComObject<CErrorItem>* item = nullptr;
    HRESULT hr = CComObject<CErrorItem>::CreateInstance(&item);
    if (FAILED(hr))
        return hr;
    try {
        item->Init(code, text);
    } catch (...) {
        delete item;
        return E_OUTOFMEMORY;
    }
    return item->QueryInterface(__uuidof(IWMPErrorItem), reinterpret_cast<void**>(out));
}

// ---- the control ----

HRESULT WINAPI CMediaPlayerControl::UpdateRegistry(BOOL bRegister)
{
    return _Module.UpdateRegistryFromResource(IDR_MEDIAPLAYER, bRegister);
}

CMediaPlayerControl::~CMediaPlayerControl() = default;

HRESULT CMediaPlayerControl::FinalConstruct()
{
    static const ATOM atom = RegisterWindowClass();
    if (!atom && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return HRESULT_FROM_WIN32(GetLastError());
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, _Module.GetModuleInstance(),
                              nullptr);
    if (!window_)
        return HRESULT_FROM_WIN32(GetLastError());
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CMediaPlayerControl::WindowProc));
    return S_OK;
}

void CMediaPlayerControl::FinalRelease()
{
    // The thread ends before the window goes, so nothing it posts reaches a freed control.
    playback_.Stop();
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
        window_ = nullptr;
    }
    events_.clear();
    media_.Release();
    file_.Close();
}

LRESULT CALLBACK CMediaPlayerControl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CMediaPlayerControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == kMsgFireEvents) {
        // A sink may release the control from inside an event: it stays alive until the queue is done.
        self->InternalAddRef();
        self->FireQueued();
        self->ReleaseFromWindow();
        return 0;
    }
    if (self && message == kMsgPlayback) {
        self->InternalAddRef();
        self->OnPlaybackMessage(wParam, lParam);
        self->ReleaseFromWindow();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void CMediaPlayerControl::Queue(DISPID id, long value, double oldPosition, double newPosition, IDispatch* item)
{
    try {
        events_.push_back(PendingEvent{id, value, oldPosition, newPosition, CComPtr<IDispatch>(item)});
    } catch (...) {
        return;  // an event that cannot be queued is lost; the state it reports stays readable
    }
    if (events_.size() == 1 && window_)
        PostMessageW(window_, kMsgFireEvents, 0, 0);
}

void CMediaPlayerControl::FireQueued()
{
    // One at a time: an event's sink may queue more (by calling the control), which then follow in order.
    while (!events_.empty()) {
        PendingEvent e = std::move(events_.front());
        events_.pop_front();
        VARIANT args[2];
        VariantInit(&args[0]);
        VariantInit(&args[1]);
        UINT count = 0;
        switch (e.id) {
        case kDispidOpenStateChange:
        case kDispidPlayStateChange:
            args[0].vt = VT_I4;
            args[0].lVal = e.value;
            count = 1;
            break;
        case kDispidPositionChange:
            // Reverse order: the new position is the last argument.
            args[0].vt = VT_R8;
            args[0].dblVal = e.newPosition;
            args[1].vt = VT_R8;
            args[1].dblVal = e.oldPosition;
            count = 2;
            break;
        case kDispidMediaChange:
            args[0].vt = VT_DISPATCH;
            args[0].pdispVal = e.item;
            count = 1;
            break;
        default:
            break;
        }
        AtlFireDispatch(Sinks(), e.id, args, count);
    }
}

void CMediaPlayerControl::SetPlayState(long state, bool always)
{
    if (state == playState_ && !always)
        return;
    playState_ = state;
    Queue(kDispidPlayStateChange, state);
}

void CMediaPlayerControl::AddError(HRESULT code, const wchar_t* text)
{
    try {
        if (errors_.size() >= kMaxErrorItems)
            errors_.pop_front();
        errors_.push_back(ErrorEntry{code, std::wstring(text ? text : L"")});
    } catch (...) {
    }
    Queue(kDispidError);
}

double CMediaPlayerControl::SampleRate() const
{
    return info_.pcm.nSamplesPerSec ? static_cast<double>(info_.pcm.nSamplesPerSec) : 1.0;
}

double CMediaPlayerControl::PositionSeconds()
{
    if (!mediaOpen_)
        return 0;
    std::uint64_t samples = startSample_;
    if (playback_.Running())
        samples += playback_.SamplesPlayed();
    const double seconds = static_cast<double>(samples) / SampleRate();
    return seconds < info_.duration ? seconds : info_.duration;
}

void CMediaPlayerControl::CloseMedia()
{
    playback_.Stop();
    ++generation_;
    mediaOpen_ = false;
    media_.Release();
    file_.Close();
    info_ = MediaInfo{};
    startSample_ = 0;
}

HRESULT CMediaPlayerControl::StartPlayback(bool paused)
{
    ++generation_;
    playback_.SetVolume(volume_, mute_);
    MediaOpenResult r = playback_.Start(info_, file_.Data(), file_.Size(), startSample_, paused, window_, kMsgPlayback,
                                        generation_);
    if (FAILED(r.hr))
        AddError(r.hr, r.message.c_str());
    return r.hr;
}

void CMediaPlayerControl::OnPlaybackMessage(WPARAM generation, LPARAM what)
{
    if (generation != generation_ || !playback_.Running())
        return;  // from a playback that was stopped meanwhile
    const MediaOpenResult failure = playback_.Failure();
    playback_.Stop();
    startSample_ = 0;
    if (what == kPlaybackFailed) {
        AddError(failure.hr, failure.message.c_str());
        SetPlayState(kPlayStopped);
        return;
    }
    SetPlayState(kPlayMediaEnded, true);
    SetPlayState(kPlayStopped, true);
}

STDMETHODIMP CMediaPlayerControl::put_URL(BSTR url)
{
    try {
        return OpenUrl(url);
    } catch (const std::bad_alloc&) {
        CloseMedia();
        AddError(E_OUTOFMEMORY, L"Not enough memory to open the file.");
        SetPlayState(kPlayUndefined);
        return E_OUTOFMEMORY;
    }
}

HRESULT CMediaPlayerControl::OpenUrl(BSTR url)
{
    const bool hadMedia = mediaOpen_;
    CloseMedia();
    if (!url || SysStringLen(url) == 0) {
        // No file any more: the media is gone and nothing can play.
        if (hadMedia)
            Queue(kDispidMediaChange);
        SetPlayState(kPlayUndefined);
        return S_OK;
    }
    std::wstring path(url, SysStringLen(url));
    // A file: URL names a local file too.
    if (path.size() > 8 && _wcsnicmp(path.c_str(), L"file:///", 8) == 0)
        path.erase(0, 8);
    if (path.find(L'\0') != std::wstring::npos) {
        AddError(E_INVALIDARG, L"The file name is not valid.");
        SetPlayState(kPlayUndefined);
        return E_INVALIDARG;
    }
    MediaOpenResult r = file_.Open(path.c_str());
    if (SUCCEEDED(r.hr))
        r = ParseMediaBytes(file_.Data(), file_.Size(), &info_);
    if (SUCCEEDED(r.hr)) {
        IWMPMedia* media = nullptr;
        r.hr = CreateMediaObject(info_, &media);
        if (SUCCEEDED(r.hr))
            media_.Attach(media);
        else
            r.message = L"Not enough memory to open the file.";
    }
    if (FAILED(r.hr)) {
        CloseMedia();
        AddError(r.hr, r.message.c_str());
        SetPlayState(kPlayUndefined);
        // Reported both ways: to the caller, and through the error queue and its event, as a file that
        // fails while it plays is.
        return r.hr;
    }
    mediaOpen_ = true;
    Queue(kDispidOpenStateChange, kOpenMediaOpen);
    CComPtr<IDispatch> item;
    media_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&item));
    Queue(kDispidMediaChange, 0, 0, 0, item);
    SetPlayState(kPlayReady, true);
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_playState(WMPPlayState* state)
{
    if (!state)
        return E_POINTER;
    *state = static_cast<WMPPlayState>(playState_);
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_controls(IWMPControls** controls)
{
    if (!controls)
        return E_POINTER;
    *controls = static_cast<IWMPControls*>(this);
    (*controls)->AddRef();
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_settings(IWMPSettings** settings)
{
    if (!settings)
        return E_POINTER;
    *settings = static_cast<IWMPSettings*>(this);
    (*settings)->AddRef();
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_currentMedia(IWMPMedia** media)
{
    if (!media)
        return E_POINTER;
    // No file open: no media, which is not a failure.
    *media = media_;
    if (*media)
        (*media)->AddRef();
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_Error(IWMPError** error)
{
    if (!error)
        return E_POINTER;
    *error = static_cast<IWMPError*>(this);
    (*error)->AddRef();
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_enabled(VARIANT_BOOL* enabled)
{
    if (!enabled)
        return E_POINTER;
    *enabled = enabled_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::put_enabled(VARIANT_BOOL enabled)
{
    enabled_ = enabled != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_uiMode(BSTR* mode)
{
    if (!mode)
        return E_POINTER;
    *mode = nullptr;
    return uiMode_.CopyTo(mode);
}

STDMETHODIMP CMediaPlayerControl::put_uiMode(BSTR mode)
{
    CComBSTR copy(mode ? mode : L"");
    if (mode && !copy.get())
        return E_OUTOFMEMORY;
    uiMode_ = std::move(copy);
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::play()
{
    if (!mediaOpen_)
        return E_UNEXPECTED;
    if (playState_ == kPlayPlaying)
        return S_OK;
    if (playState_ == kPlayPaused && playback_.Running()) {
        const HRESULT hr = playback_.Resume();
        if (FAILED(hr))
            return hr;
        SetPlayState(kPlayPlaying);
        return S_OK;
    }
    const HRESULT hr = StartPlayback(false);
    if (FAILED(hr)) {
        SetPlayState(kPlayStopped);
        return hr;
    }
    SetPlayState(kPlayPlaying);
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::stop()
{
    if (!mediaOpen_)
        return S_OK;
    playback_.Stop();
    ++generation_;
    startSample_ = 0;
    if (playState_ == kPlayPlaying || playState_ == kPlayPaused || playState_ == kPlayReady)
        SetPlayState(kPlayStopped);
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::pause()
{
    if (!mediaOpen_)
        return E_UNEXPECTED;
    if (playState_ != kPlayPlaying)
        return S_OK;
    const HRESULT hr = playback_.Pause();
    if (FAILED(hr))
        return hr;
    SetPlayState(kPlayPaused);
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_currentPosition(double* position)
{
    if (!position)
        return E_POINTER;
    *position = PositionSeconds();
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::put_currentPosition(double position)
{
    if (!mediaOpen_)
        return E_UNEXPECTED;
    if (!std::isfinite(position))
        return E_INVALIDARG;
    if (position < 0)
        position = 0;
    if (position > info_.duration)
        position = info_.duration;
    const double old = PositionSeconds();
    std::uint64_t sample = static_cast<std::uint64_t>(position * SampleRate());
    // MP3 plays from a frame's start: the position is that frame's.
    if (info_.kind == MediaInfo::Kind::kMp3 && info_.mpeg.samplesPerFrame)
        sample -= sample % info_.mpeg.samplesPerFrame;
    const bool running = playback_.Running();
    playback_.Stop();
    ++generation_;
    startSample_ = sample;
    Queue(kDispidPositionChange, 0, old, static_cast<double>(sample) / SampleRate());
    if (running && FAILED(StartPlayback(playState_ == kPlayPaused))) {
        startSample_ = 0;
        SetPlayState(kPlayStopped);
    }
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_currentPositionString(BSTR* text)
{
    if (!mediaOpen_)
        return CopyOut(std::wstring(), text);
    return CopyTime(PositionSeconds(), text);
}

STDMETHODIMP CMediaPlayerControl::get_mute(VARIANT_BOOL* mute)
{
    if (!mute)
        return E_POINTER;
    *mute = mute_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::put_mute(VARIANT_BOOL mute)
{
    mute_ = mute != VARIANT_FALSE;
    playback_.SetVolume(volume_, mute_);
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_volume(LONG* volume)
{
    if (!volume)
        return E_POINTER;
    *volume = volume_;
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::put_volume(LONG volume)
{
    if (volume < 0 || volume > 100)
        return E_INVALIDARG;
    volume_ = volume;
    playback_.SetVolume(volume_, mute_);
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::clearErrorQueue()
{
    errors_.clear();
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_errorCount(LONG* count)
{
    if (!count)
        return E_POINTER;
    *count = static_cast<LONG>(errors_.size());
    return S_OK;
}

STDMETHODIMP CMediaPlayerControl::get_Item(LONG index, IWMPErrorItem** item)
{
    if (!item)
        return E_POINTER;
    *item = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= errors_.size())
        return E_INVALIDARG;
    const ErrorEntry& e = errors_[static_cast<size_t>(index)];
    return CreateErrorItem(e.code, e.text, item);
}

HRESULT CMediaPlayerControl::OnDraw(ATL_DRAWINFO& di)
{
    if (!di.hdcDraw || !di.prcBounds)
        return E_POINTER;
    RECT r{di.prcBounds->left, di.prcBounds->top, di.prcBounds->right, di.prcBounds->bottom};
    FillRect(di.hdcDraw, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    return S_OK;
}

}  // namespace mediaplayer
