// The media player control: an apartment-threaded ActiveX control under the media player's class id that
// opens a file by its URL, plays, pauses, stops and seeks it, and reports its state, media and errors
// through the player's interfaces and events. Members nobody here uses answer E_NOTIMPL.
//
// Threading: every call and every event is on the thread that made the control. Playback runs on a
// thread of its own, which only posts to the control's message window; the window turns that into the
// events, so an event never reaches a sink on another thread.
#pragma once

#include "platform/atl/atlctl.h"
#include "platform/mediaplayer/media_playback.h"
#include "platform/mediaplayer/mediaplayer.h"

#include <deque>
#include <string>

namespace mediaplayer {

inline constexpr CLSID kClsidMediaPlayer = {0x6BF52A52, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};
inline constexpr IID kDiidMediaPlayerEvents = {0x6BF52A51, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};

// The event dispatch ids.
constexpr DISPID kDispidOpenStateChange = 5001;
constexpr DISPID kDispidPlayStateChange = 5101;
constexpr DISPID kDispidPositionChange = 5202;
constexpr DISPID kDispidError = 5501;
constexpr DISPID kDispidMediaChange = 5802;

// The play states the control takes.
constexpr long kPlayUndefined = 0;
constexpr long kPlayStopped = 1;
constexpr long kPlayPaused = 2;
constexpr long kPlayPlaying = 3;
constexpr long kPlayMediaEnded = 8;
constexpr long kPlayReady = 10;
// The open state of a file that opened.
constexpr long kOpenMediaOpen = 13;

// Error items kept at most; the oldest go first.
constexpr size_t kMaxErrorItems = 64;

constexpr DWORD kMediaPlayerMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                         OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;

class CMediaPlayerControl : public CComObjectRootEx,
                            public CComCoClass<CMediaPlayerControl, &kClsidMediaPlayer>,
                            public IDispatchImpl<CMediaPlayerControl, IWMPPlayer2>,
                            public IDispatchImpl<CMediaPlayerControl, IWMPControls>,
                            public IDispatchImpl<CMediaPlayerControl, IWMPSettings>,
                            public IDispatchImpl<CMediaPlayerControl, IWMPError>,
                            public IConnectionPointContainerImpl<CMediaPlayerControl>,
                            public IConnectionPointImpl<CMediaPlayerControl, &kDiidMediaPlayerEvents>,
                            public CComControlBase,
                            public IViewObjectExImpl<CMediaPlayerControl>,
                            public IOleObjectImpl<CMediaPlayerControl, kMediaPlayerMiscStatus>,
                            public IOleControlImpl<CMediaPlayerControl>,
                            public IPersistStreamInitImpl<CMediaPlayerControl>,
                            public IOleInPlaceObjectWindowlessImpl<CMediaPlayerControl>,
                            public IOleInPlaceActiveObjectImpl<CMediaPlayerControl> {
public:
    CMediaPlayerControl() = default;
    ~CMediaPlayerControl();

    static HRESULT WINAPI UpdateRegistry(BOOL bRegister);
    HRESULT FinalConstruct();
    void FinalRelease();

    BEGIN_COM_MAP(CMediaPlayerControl)
    COM_INTERFACE_ENTRY(IWMPPlayer2)
    COM_INTERFACE_ENTRY2(IWMPCore, IWMPPlayer2)
    COM_INTERFACE_ENTRY2(IDispatch, IWMPPlayer2)
    COM_INTERFACE_ENTRY(IWMPControls)
    COM_INTERFACE_ENTRY(IWMPSettings)
    COM_INTERFACE_ENTRY(IWMPError)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IViewObjectEx)
    COM_INTERFACE_ENTRY2(IViewObject2, IViewObjectEx)
    COM_INTERFACE_ENTRY2(IViewObject, IViewObjectEx)
    COM_INTERFACE_ENTRY(IOleObject)
    COM_INTERFACE_ENTRY(IOleControl)
    COM_INTERFACE_ENTRY(IPersistStreamInit)
    COM_INTERFACE_ENTRY2(IPersist, IPersistStreamInit)
    COM_INTERFACE_ENTRY(IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY2(IOleInPlaceObject, IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY2(IOleWindow, IOleInPlaceObjectWindowless)
    COM_INTERFACE_ENTRY(IOleInPlaceActiveObject)
    END_COM_MAP()
    BEGIN_CONNECTION_POINT_MAP(CMediaPlayerControl)
    CONNECTION_POINT_ENTRY(kDiidMediaPlayerEvents, EventsPoint)
    END_CONNECTION_POINT_MAP()
    using EventsPoint = IConnectionPointImpl<CMediaPlayerControl, &kDiidMediaPlayerEvents>;

    // IWMPCore
    STDMETHOD(close)() override { return E_NOTIMPL; }
    STDMETHOD(get_URL)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_URL)(BSTR url) override;
    STDMETHOD(get_openState)(WMPOpenState*) override { return E_NOTIMPL; }
    STDMETHOD(get_playState)(WMPPlayState* state) override;
    STDMETHOD(get_controls)(IWMPControls** controls) override;
    STDMETHOD(get_settings)(IWMPSettings** settings) override;
    STDMETHOD(get_currentMedia)(IWMPMedia** media) override;
    STDMETHOD(put_currentMedia)(IWMPMedia*) override { return E_NOTIMPL; }
    STDMETHOD(get_mediaCollection)(IWMPMediaCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_playlistCollection)(IWMPPlaylistCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_versionInfo)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(launchURL)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_network)(IWMPNetwork**) override { return E_NOTIMPL; }
    STDMETHOD(get_currentPlaylist)(IWMPPlaylist**) override { return E_NOTIMPL; }
    STDMETHOD(put_currentPlaylist)(IWMPPlaylist*) override { return E_NOTIMPL; }
    STDMETHOD(get_cdromCollection)(IWMPCdromCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_closedCaption)(IWMPClosedCaption**) override { return E_NOTIMPL; }
    STDMETHOD(get_isOnline)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(get_Error)(IWMPError** error) override;
    STDMETHOD(get_status)(BSTR*) override { return E_NOTIMPL; }
    // IWMPPlayer2
    STDMETHOD(get_enabled)(VARIANT_BOOL* enabled) override;
    STDMETHOD(put_enabled)(VARIANT_BOOL enabled) override;
    STDMETHOD(get_fullScreen)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_fullScreen)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_enableContextMenu)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_enableContextMenu)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(put_uiMode)(BSTR mode) override;
    STDMETHOD(get_uiMode)(BSTR* mode) override;
    STDMETHOD(get_stretchToFit)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_stretchToFit)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_windowlessVideo)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_windowlessVideo)(VARIANT_BOOL) override { return E_NOTIMPL; }

    // IWMPControls (and IWMPSettings' isAvailable, the same slot signature)
    STDMETHOD(get_isAvailable)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(play)() override;
    STDMETHOD(stop)() override;
    STDMETHOD(pause)() override;
    STDMETHOD(fastForward)() override { return E_NOTIMPL; }
    STDMETHOD(fastReverse)() override { return E_NOTIMPL; }
    STDMETHOD(get_currentPosition)(double* position) override;
    STDMETHOD(put_currentPosition)(double position) override;
    STDMETHOD(get_currentPositionString)(BSTR* text) override;
    STDMETHOD(next)() override { return E_NOTIMPL; }
    STDMETHOD(previous)() override { return E_NOTIMPL; }
    STDMETHOD(currentItem)(IWMPMedia**) override { return E_NOTIMPL; }
    STDMETHOD(put_currentItem)(IWMPMedia*) override { return E_NOTIMPL; }
    STDMETHOD(get_currentMarker)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_currentMarker)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(playItem)(IWMPMedia*) override { return E_NOTIMPL; }

    // IWMPSettings
    STDMETHOD(get_autoStart)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_autoStart)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_baseURL)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_baseURL)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_defaultFrame)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_defaultFrame)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_invokeURLs)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_invokeURLs)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_mute)(VARIANT_BOOL* mute) override;
    STDMETHOD(put_mute)(VARIANT_BOOL mute) override;
    STDMETHOD(get_playCount)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_playCount)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_rate)(double*) override { return E_NOTIMPL; }
    STDMETHOD(put_rate)(double) override { return E_NOTIMPL; }
    STDMETHOD(get_balance)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_balance)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_volume)(LONG* volume) override;
    STDMETHOD(put_volume)(LONG volume) override;
    STDMETHOD(getMode)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(setMode)(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_enableErrorDialogs)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_enableErrorDialogs)(VARIANT_BOOL) override { return E_NOTIMPL; }

    // IWMPError
    STDMETHOD(clearErrorQueue)() override;
    STDMETHOD(get_errorCount)(LONG* count) override;
    STDMETHOD(get_Item)(LONG index, IWMPErrorItem** item) override;
    STDMETHOD(webHelp)() override { return E_NOTIMPL; }

    // The control shows no picture of its own: its area is painted black.
    HRESULT OnDraw(ATL_DRAWINFO& di);

private:
    struct PendingEvent {
        DISPID id;
        long value;
        double oldPosition;
        double newPosition;
        CComPtr<IDispatch> item;
    };

    // Drops the reference the window took while it fired (the last one frees the control).
    void ReleaseFromWindow() { static_cast<IWMPPlayer2*>(this)->Release(); }
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Queue(DISPID id, long value = 0, double oldPosition = 0, double newPosition = 0, IDispatch* item = nullptr);
    void FireQueued();
    void SetPlayState(long state, bool always = false);
    void AddError(HRESULT code, const wchar_t* text);
    void OnPlaybackMessage(WPARAM generation, LPARAM what);
    void CloseMedia();
    HRESULT OpenUrl(BSTR url);
    double SampleRate() const;
    double PositionSeconds();
    HRESULT StartPlayback(bool paused);

    HWND window_ = nullptr;
    std::deque<PendingEvent> events_;
    long playState_ = kPlayUndefined;
    // Kept as the host sets them: the control has no user interface of its own to enable or show.
    bool enabled_ = true;
    CComBSTR uiMode_;
    long volume_ = 100;
    bool mute_ = false;

    MediaFileBytes file_;
    MediaInfo info_;
    bool mediaOpen_ = false;
    CComPtr<IWMPMedia> media_;
    Playback playback_;
    WPARAM generation_ = 0;
    std::uint64_t startSample_ = 0;  // where playback starts or started (the position when not playing)

    struct ErrorEntry {
        HRESULT code;
        std::wstring text;
    };
    std::deque<ErrorEntry> errors_;
};

// Makes the media object of an opened file (its duration and attributes as they are now).
HRESULT CreateMediaObject(const MediaInfo& info, IWMPMedia** media);
// Makes one error item.
HRESULT CreateErrorItem(HRESULT code, const std::wstring& text, IWMPErrorItem** item);

}  // namespace mediaplayer
