#include "manager/player/media_player_host.h"

#include "manager/controls/bars/cx_text_bar.h"
#include "manager/framework/windows/cx_app.h"
#include "manager/framework/windows/cx_msgbox.h"
#include "manager/framework/windows/cx_string.h"

#include <commctrl.h>

#include <climits>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kCreateCaption[] = L"Windows Media Player Window";
constexpr wchar_t kNoDescription[] = L"No error description.";

// Seconds as hundredths for the seek bar: truncated, negative (and unreadable) values as 0, bounded.
LPARAM ToHundredths(double seconds)
{
    if (!(seconds > 0))
        return 0;
    const double hundredths = seconds * 100.0;
    if (hundredths >= static_cast<double>(LONG_MAX))
        return LONG_MAX;
    return static_cast<LPARAM>(static_cast<long>(hundredths));
}

// The value's leading decimal digits; 0 without any, bounded at LONG_MAX.
long LeadingNumber(const wchar_t* text)
{
    long value = 0;
    for (const wchar_t* p = text; p != nullptr && *p >= L'0' && *p <= L'9'; ++p) {
        const int digit = *p - L'0';
        if (value > (LONG_MAX - digit) / 10)
            return LONG_MAX;
        value = value * 10 + digit;
    }
    return value;
}

CxString LoadText(UINT id)
{
    CxString text;
    if (CxWinApp* app = CxGetApp())
        app->GetString(text, id);
    return text;
}

bool IsEmptyText(BSTR text)
{
    return text == nullptr || *text == L'\0';
}

void SetBarText(CxTextBarCtrl* bar, const wchar_t* text)
{
    if (bar != nullptr)
        bar->SetText(text, FALSE);
}

}  // namespace

BEGIN_MESSAGE_MAP(CMediaPlayer7, CWnd)
ON_WM_TIMER()
END_MESSAGE_MAP()

CMediaPlayer7::CMediaPlayer7() = default;

CMediaPlayer7::~CMediaPlayer7()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
    ReleasePlayer();
}

// ---- Creation ----

HRESULT CMediaPlayer7::HostControl(CAxWindow& host)
{
    return host.CreateControl(kMediaPlayerClsid);
}

BOOL CMediaPlayer7::CreatePlayer(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                                 UINT id, void* createContext, CMediaPlayerOwner* owner)
{
    m_owner = owner;
    if (m_hWnd != nullptr)
        return FALSE;
    if (className == nullptr || *className == L'\0')
        className = AfxRegisterWndClass(0);
    if (className == nullptr ||
        !CreateEx(0, className, windowName != nullptr ? windowName : L"", style, rect, parent, id, createContext))
        return FALSE;

    m_host.reset(new (std::nothrow) CAxWindow);
    if (!m_host) {
        DestroyWindow();
        return FALSE;
    }
    m_host->Attach(m_hWnd);
    CComPtr<IWMPPlayer2> player;
    if (FAILED(HostControl(*m_host)) || FAILED(m_host->QueryControl(&player)) || player == nullptr ||
        FAILED(m_sink.DispEventAdvise(player))) {
        FailAndDestroy();
        return FALSE;
    }
    m_player = player;

    EnableWindow(TRUE);
    CComBSTR none(L"none");
    if ((none.get() == nullptr) || FAILED(m_player->put_enabled(VARIANT_TRUE)) || FAILED(m_player->put_uiMode(none)) ||
        FAILED(m_player->get_controls(&m_controls)) || FAILED(m_player->get_settings(&m_settings)) ||
        FAILED(m_player->get_currentMedia(&m_currentMedia))) {
        FailAndDestroy();
        return FALSE;
    }
    return TRUE;
}

void CMediaPlayer7::FailAndDestroy()
{
    CxString text = LoadText(IDS_PLAYER_CREATE_FAILED);
    HWND boxOwner = HasOwner() ? m_owner->GetPlayerOwnerWindow() : nullptr;
    ExtMessageBox(boxOwner, text, kCreateCaption, MB_ICONERROR, 0);
    // Releasing everything first keeps a destroyed window from leaving a half-usable player behind.
    ReleasePlayer();
    if (m_hWnd != nullptr)
        DestroyWindow();
}

void CMediaPlayer7::ReleasePlayer()
{
    StopPositionTimer();
    if (m_sink.IsAdvised())
        m_sink.DispEventUnadvise();
    m_host.reset();
    m_error.Release();
    m_currentMedia.Release();
    m_settings.Release();
    m_controls.Release();
    m_player.Release();
}

LRESULT CMediaPlayer7::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        ReleasePlayer();
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---- Commands of the main window ----

void CMediaPlayer7::SetURL(const wchar_t* url, const wchar_t* displayName)
{
    m_url = CComBSTR(url);
    m_displayName = CComBSTR(displayName);
    if (m_player != nullptr)
        m_player->put_URL(m_url.get() != nullptr ? m_url.get() : CComBSTR(L"").get());
}

long CMediaPlayer7::GetPlayState()
{
    if (m_player == nullptr)
        return 0;
    WMPPlayState state = wmppsUndefined;
    if (FAILED(m_player->get_playState(&state)))
        return 0;
    return static_cast<long>(state);
}

// ---- Events ----

bool CMediaPlayer7::HasOwner() const
{
    return m_owner != nullptr && ::IsWindow(m_owner->GetPlayerOwnerWindow());
}

void CMediaPlayer7::StopPositionTimer()
{
    if (m_positionTimer != 0) {
        if (m_hWnd != nullptr)
            ::KillTimer(m_hWnd, m_positionTimer);
        m_positionTimer = 0;
    }
}

void CMediaPlayer7::ArmAdvance()
{
    // A second end while the first is pending restarts the timer: one advance, never two.
    HWND owner = m_owner->GetPlayerOwnerWindow();
    if (m_owner->GetAdvanceTimer() != 0)
        ::KillTimer(owner, kPlayerAdvanceTimer);
    m_owner->SetAdvanceTimer(::SetTimer(owner, kPlayerAdvanceTimer, kPlayerAdvanceDelay, nullptr));
    m_owner->ClearPlayerInfo();
}

void CMediaPlayer7::SetSeekBarPos(double seconds)
{
    HWND bar = m_owner->GetSeekBar();
    if (bar != nullptr)
        ::SendMessageW(bar, TBM_SETPOS, TRUE, ToHundredths(seconds));
}

HRESULT CMediaPlayer7::OnOpenStateChange(long)
{
    return HasOwner() ? S_OK : E_FAIL;
}

HRESULT CMediaPlayer7::OnPlayStateChange(long state)
{
    if (!HasOwner())
        return E_FAIL;
    if (state == kPlayStateUndefined || state == kPlayStateStopped || state == kPlayStateMediaEnded) {
        if (m_owner->IsPlaylistPlaying())
            ArmAdvance();
        StopPositionTimer();
    }
    return S_OK;
}

HRESULT CMediaPlayer7::OnError()
{
    if (!HasOwner())
        return E_FAIL;
    CxString caption = LoadText(IDS_PLAYER_ERROR_CAPTION);
    CxString format = LoadText(IDS_PLAYER_ERROR_FORMAT);
    CComPtr<IWMPError> error;
    if (m_player != nullptr && SUCCEEDED(m_player->get_Error(&error)) && error != nullptr) {
        m_error = error;
        // The texts are read and the queue cleared before the first box: a box's message loop lets the
        // next error event in, which must find only errors that came after these.
        std::vector<CxString> texts;
        CxString text(kNoDescription);
        long count = 0;
        if (FAILED(error->get_errorCount(&count)) || count < 0)
            count = 0;
        for (long i = 0; i < count; ++i) {
            CComPtr<IWMPErrorItem> item;
            if (SUCCEEDED(error->get_Item(i, &item)) && item != nullptr) {
                long code = 0;
                CComBSTR description;
                item->get_errorCode(&code);
                item->get_errorDescription(&description);
                CxString next;
                if (SUCCEEDED(next.Format(format, static_cast<unsigned>(code),
                                          description.get() != nullptr ? description.get() : L"")))
                    text = next;
            }
            try {
                texts.push_back(text);
            } catch (const std::bad_alloc&) {
                break;
            }
        }
        error->clearErrorQueue();
        for (const CxString& shown : texts)
            ExtMessageBox(m_hWnd, shown, caption, MB_ICONERROR, 0);
    }
    if (HasOwner() && m_owner->IsPlaylistPlaying())
        ArmAdvance();
    return S_OK;
}

HRESULT CMediaPlayer7::OnMediaChange(IDispatch*)
{
    if (!HasOwner())
        return E_FAIL;
    m_title = CComBSTR();
    m_author = CComBSTR();
    m_bitrate = 0;
    if (m_player == nullptr)
        return S_OK;

    CComBSTR durationText;
    // Without current media (a stop empties the URL) the title line shows the display name alone.
    if (FAILED(m_player->get_currentMedia(&m_currentMedia))) {
        FailAndDestroy();
        return S_OK;
    }
    if (m_currentMedia != nullptr) {
        double duration = 0;
        if (FAILED(m_currentMedia->get_duration(&duration)))
            duration = 0;
        m_duration = duration;
        m_currentMedia->get_durationString(&durationText);
        // Two messages: one 16-bit range word would overflow past 655.35 s.
        if (HWND bar = m_owner->GetSeekBar()) {
            ::SendMessageW(bar, TBM_SETRANGEMIN, FALSE, 0);
            ::SendMessageW(bar, TBM_SETRANGEMAX, FALSE, ToHundredths(m_duration));
        }
        if (m_duration > 0 && m_positionTimer == 0)
            m_positionTimer = ::SetTimer(m_hWnd, kPlayerPositionTimer, kPlayerPositionPeriod, nullptr);

        long count = 0;
        if (FAILED(m_currentMedia->get_attributeCount(&count))) {
            FailAndDestroy();
            return S_OK;
        }
        for (long i = 0; i < count; ++i) {
            CComBSTR name;
            CComBSTR value;
            if (FAILED(m_currentMedia->getAttributeName(i, &name)) || name.get() == nullptr)
                continue;
            m_currentMedia->getItemInfo(name, &value);
            if (_wcsicmp(name, L"Author") == 0) {
                m_author = value;
            } else if (_wcsicmp(name, L"Title") == 0) {
                m_title = value;
            } else if (_wcsicmp(name, L"Bitrate") == 0) {
                m_bitrate = LeadingNumber(value);
                if (m_bitrate / 1000 != 0) {
                    wchar_t kbits[16];
                    std::swprintf(kbits, std::size(kbits), L"%3ld", m_bitrate / 1000);
                    SetBarText(m_owner->GetBitrateBar(), kbits);
                }
            }
        }
    } else {
        m_duration = 0;
    }

    std::wstring line;
    if (!IsEmptyText(m_author) || !IsEmptyText(m_title)) {
        if (!IsEmptyText(m_author))
            line += m_author.get();
        if (!IsEmptyText(m_author) && !IsEmptyText(m_title))
            line += L"  ";
        if (!IsEmptyText(m_title))
            line += m_title.get();
    } else if (!IsEmptyText(m_displayName)) {
        line = m_displayName.get();
    }
    if (!IsEmptyText(durationText)) {
        line += L" <";
        line += durationText.get();
        line += L"> ";
    }
    SetBarText(m_owner->GetTitleBar(), line.c_str());
    return S_OK;
}

HRESULT CMediaPlayer7::OnPositionChange(double, double newPosition)
{
    if (!HasOwner())
        return E_FAIL;
    SetSeekBarPos(newPosition);
    return S_OK;
}

// ---- Position timer ----

void CMediaPlayer7::OnTimer(UINT_PTR id)
{
    if (id != kPlayerPositionTimer) {
        Default();
        return;
    }
    if (!HasOwner())
        return;
    if (m_player == nullptr)
        return;
    if (FAILED(m_player->get_controls(&m_controls))) {
        FailAndDestroy();
        return;
    }
    if (m_controls != nullptr) {
        if (m_pendingSeek >= 0) {
            m_position = m_pendingSeek / 100.0;
            m_controls->put_currentPosition(m_position);
            m_pendingSeek = -1;
        }
        double position = 0;
        if (SUCCEEDED(m_controls->get_currentPosition(&position))) {
            m_position = position;
            SetSeekBarPos(position);
            CComBSTR text;
            if (SUCCEEDED(m_controls->get_currentPositionString(&text)))
                SetBarText(m_owner->GetTimeBar(), text.get() != nullptr ? text.get() : L"");
        }
    }
    Default();
}
