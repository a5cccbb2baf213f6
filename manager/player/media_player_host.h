// The window in which the manager plays music files on the PC: it hosts the media player control, keeps
// its interfaces for the main window's transport commands, and turns the control's events into changes
// of the main window's player display (seek bar, title line, bitrate and time displays) and into the
// advance to the next playlist entry once a file has ended.
#pragma once

#include "platform/afx/afx.h"
#include "platform/atl/atldispsink.h"
#include "platform/atl/atlhost.h"
#include "platform/mediaplayer/mediaplayer.h"

#include <memory>

class CxTextBarCtrl;

// The control the window hosts.
inline constexpr wchar_t kMediaPlayerClsid[] = L"{6BF52A52-394A-11D3-B153-00C04F79FAA6}";
// The control's event interface.
inline constexpr IID kMediaPlayerEventsIid = {0x6BF52A51, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};
// The style the main window creates the player's window with: a hidden child that clips its siblings.
constexpr DWORD kMediaPlayerStyle = 0x44000201;
// The owner's timer that starts the next playlist entry, armed by the player 200 ms ahead.
constexpr UINT_PTR kPlayerAdvanceTimer = 0x212850B;
constexpr UINT kPlayerAdvanceDelay = 200;
// The player's own timer that follows the playing position.
constexpr UINT_PTR kPlayerPositionTimer = 0x212850F;
constexpr UINT kPlayerPositionPeriod = 100;

// The control's play states that end playing (undefined, stopped, media ended).
constexpr long kPlayStateUndefined = 0;
constexpr long kPlayStateStopped = 1;
constexpr long kPlayStateMediaEnded = 8;

// Texts the player shows.
constexpr UINT IDS_PLAYER_CREATE_FAILED = 62311;
constexpr UINT IDS_PLAYER_ERROR_CAPTION = 62529;
constexpr UINT IDS_PLAYER_ERROR_FORMAT = 62530;

// What the main window provides to its player.
class CMediaPlayerOwner {
public:
    virtual HWND GetPlayerOwnerWindow() = 0;
    // Set while the main window plays a playlist entry; cleared when the user stops.
    virtual bool IsPlaylistPlaying() = 0;
    // The seek bar (a track bar).
    virtual HWND GetSeekBar() = 0;
    virtual CxTextBarCtrl* GetTitleBar() = 0;
    virtual CxTextBarCtrl* GetBitrateBar() = 0;
    virtual CxTextBarCtrl* GetTimeBar() = 0;
    // The stored id of the owner's advance timer (kPlayerAdvanceTimer), 0 while it does not run.
    virtual UINT_PTR GetAdvanceTimer() = 0;
    virtual void SetAdvanceTimer(UINT_PTR id) = 0;
    // Seek bar back to 0..100 at 0, the three text bars empty.
    virtual void ClearPlayerInfo() = 0;

protected:
    ~CMediaPlayerOwner() = default;
};

class CMediaPlayer7 : public CWnd {
public:
    CMediaPlayer7();
    ~CMediaPlayer7() override;

    // Creates the window (no class name: a plain window class of its own), hosts the control in it,
    // advises the events and configures the control (enabled, no user interface of its own). A failure
    // after the window exists shows the failure box and destroys the window. FALSE on any failure.
    virtual BOOL CreatePlayer(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                              UINT id, void* createContext, CMediaPlayerOwner* owner);

    // Keeps both strings and opens `url` in the control.
    void SetURL(const wchar_t* url, const wchar_t* displayName);
    // The control's play state; 0 without a player or when it cannot be read.
    long GetPlayState();

    // The player is created until its window is destroyed, whatever destroyed it: the interfaces are
    // released then and the main window's transport commands find none.
    bool IsPlayerCreated() const { return m_player != nullptr; }
    IWMPPlayer2* GetPlayer() const { return m_player; }
    IWMPControls* GetControls() const { return m_controls; }
    IWMPSettings* GetSettings() const { return m_settings; }

    // Position to seek to on the next position tick, in hundredths of a second; -1 for none.
    void SetPendingSeek(long hundredths) { m_pendingSeek = hundredths; }
    long GetPendingSeek() const { return m_pendingSeek; }

    const wchar_t* GetURL() const { return m_url; }
    const wchar_t* GetDisplayName() const { return m_displayName; }
    const wchar_t* GetTitle() const { return m_title; }
    const wchar_t* GetAuthor() const { return m_author; }
    long GetBitrate() const { return m_bitrate; }
    double GetDuration() const { return m_duration; }
    double GetPosition() const { return m_position; }
    bool IsPositionTimerRunning() const { return m_positionTimer != 0; }

    // The control's events. Each returns E_FAIL and does nothing while the owner is not a window.
    HRESULT OnOpenStateChange(long state);
    HRESULT OnPlayStateChange(long state);
    HRESULT OnError();
    HRESULT OnMediaChange(IDispatch* item);
    HRESULT OnPositionChange(double oldPosition, double newPosition);

    BEGIN_SINK_MAP(CMediaPlayer7)
    SINK_ENTRY(5001, OnOpenStateChange)
    SINK_ENTRY(5101, OnPlayStateChange)
    SINK_ENTRY(5501, OnError)
    SINK_ENTRY(5802, OnMediaChange)
    SINK_ENTRY(5202, OnPositionChange)
    END_SINK_MAP()

protected:
    // Makes the control in the host; tests make it fail here.
    virtual HRESULT HostControl(CAxWindow& host);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnTimer(UINT_PTR id);

    DECLARE_MESSAGE_MAP()

private:
    bool HasOwner() const;
    // The failure box (text 62311), then the window is destroyed.
    void FailAndDestroy();
    // Kills the position timer, ends the events, tears the control down and releases every interface.
    void ReleasePlayer();
    void StopPositionTimer();
    // Restarts the owner's advance timer and clears its display; the owner starts the next entry.
    void ArmAdvance();
    void SetSeekBarPos(double seconds);

    CDispEventSink<CMediaPlayer7> m_sink{this, kMediaPlayerEventsIid};
    std::unique_ptr<CAxWindow> m_host;
    CComPtr<IWMPPlayer2> m_player;
    CComPtr<IWMPControls> m_controls;
    CComPtr<IWMPSettings> m_settings;
    CComPtr<IWMPMedia> m_currentMedia;
    CComPtr<IWMPError> m_error;
    CComBSTR m_displayName;
    CComBSTR m_url;
    CComBSTR m_title;
    CComBSTR m_author;
    long m_bitrate = 0;
    double m_duration = 0;
    double m_position = 0;
    UINT_PTR m_positionTimer = 0;
    long m_pendingSeek = -1;
    CMediaPlayerOwner* m_owner = nullptr;
};
