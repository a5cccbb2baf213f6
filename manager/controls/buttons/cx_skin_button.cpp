#include "manager/controls/buttons/cx_skin_button.h"

namespace {

// The button type bits of a style, and the owner-drawn type.
constexpr LONG kTypeMask = 0xF;
constexpr DWORD kSkinButtonStartFlags = CXFL_NOCHECKEMULATION | CXFL_PRESSABLE;
// A radio group is walked for at most this many steps.
constexpr int kMaxGroupWalk = 1024;
// Background painting suppressed during a re-layout.
constexpr DWORD kBkgndRelayout = 0x00100000;

// The parent's answer to a skin or pack query of one of its image controls.
bool IsQueryForParent(UINT message)
{
    return message == CXM_GETSKINFILE || message == CXM_GETPACKTEXT || message == CXM_ASKOWNER ||
           message == CXM_GETPACKFILE;
}

}  // namespace

// ---- CxSkinImageCtrl ----

const wchar_t* CxSkinImageCtrl::GetSectionName()
{
    HWND hWnd = GetWnd();
    HWND parent = hWnd != nullptr ? GetParent(hWnd) : nullptr;
    if (parent == nullptr)
        return nullptr;
    const wchar_t* section = nullptr;
    ::SendMessageW(parent, CXM_GETSKINSECTION, static_cast<WPARAM>(::GetDlgCtrlID(hWnd) + 2),
                   reinterpret_cast<LPARAM>(&section));
    return section;
}

HRESULT CxSkinImageCtrl::GetSkinProps(CxSkinPropEntries& list)
{
    const wchar_t* section = GetSectionName();
    if (section != nullptr && *section != L'\0') {
        if (!list.Add(CxSkinPropEntry{section, L"img", GetImageCount(), GetWnd(), CxSkinParseImage}) ||
            !list.Add(CxSkinPropEntry{section, L"pos", 1, GetWnd(), CxSkinParseSize}))
            return E_OUTOFMEMORY;
    }
    return CxSkinProps::GetSkinProps(list);
}

HRESULT CxSkinImageCtrl::LoadSkinOnce()
{
    if (m_flagsLow & CXFL_SKINLOADED)
        return S_FALSE;
    m_flagsLow |= CXFL_SKINLOADED;
    CxSkinPropEntries list;
    HRESULT hr = GetSkinProps(list);
    if (FAILED(hr))
        return hr;
    HWND hWnd = GetWnd();
    HWND parent = hWnd != nullptr ? GetParent(hWnd) : nullptr;
    wchar_t* file = nullptr;
    if (parent != nullptr && !(m_flagsLow & CXFL_SKINREGION) &&
        ::SendMessageW(parent, CXM_GETSKINFILE, reinterpret_cast<WPARAM>(&file), 0) != 0 && file != nullptr &&
        *file != L'\0')
        hr = ApplySkinFile(file);
    CxFree(file);
    return hr;
}

HRESULT CxSkinImageCtrl::ApplySkinFile(const wchar_t* skinFile)
{
    // Every key is read again: the images and the point start empty.
    Invalidate();
    m_points.RemoveAll();
    const wchar_t* section = GetSectionName();
    if (section == nullptr || *section == L'\0')
        return S_FALSE;  // the control keeps its template look
    if (GetSkinRecords().GetCount() == 0) {
        CxSkinPropEntries list;
        const HRESULT hr = GetSkinProps(list);
        if (FAILED(hr))
            return hr;
    }
    void* targets[] = {&GetImageList(), &m_points};
    // The control's pack queries go to its parent, so the parent's answers stand in for them.
    HWND hWnd = GetWnd();
    const CxSkinPackData* pack = hWnd != nullptr ? GetPackData(GetParent(hWnd)) : nullptr;
    const HRESULT hr = CxIniReadSection(GetSkinRecords(), section, skinFile, targets, 2, 0, nullptr, pack);
    ZeroOffsets();
    const HRESULT shown = UpdateLook();
    return FAILED(hr) ? hr : shown;
}

HRESULT CxSkinImageCtrl::GetPos(POINT* topLeft)
{
    if (topLeft == nullptr)
        return E_POINTER;
    if (m_points.GetCount() == 0)
        return E_ABORT;
    const CxSkinSize& point = m_points.ElementAt(0);
    if (!point.set)
        return E_FAIL;
    SIZE size{0, 0};
    HBITMAP image = nullptr;
    BITMAP info{};
    if (SUCCEEDED(GetImageList().GetImage(GetImageList().m_state, &image, TRUE)) &&
        GetObjectW(image, sizeof(info), &info) != 0) {
        size = SIZE{info.bmWidth, info.bmHeight};
    } else {
        RECT client{};
        GetClientRect(GetWnd(), &client);
        size = SIZE{client.right, client.bottom};
    }
    topLeft->x = point.cx - size.cx / 2 + m_dx;
    topLeft->y = point.cy - size.cy / 2 + m_dy;
    return S_OK;
}

HRESULT CxSkinImageCtrl::ApplyPos()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return E_INVALIDARG;
    POINT target{};
    const HRESULT hr = GetPos(&target);
    if (FAILED(hr))
        return hr;
    RECT now{};
    GetWindowRect(hWnd, &now);
    MapWindowPoints(HWND_DESKTOP, GetParent(hWnd), reinterpret_cast<POINT*>(&now), 2);
    if (now.left == target.x && now.top == target.y)
        return S_FALSE;
    UINT flags = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
    if (m_flagsLow & CXFL_NOREDRAWMOVE)
        flags |= SWP_NOREDRAW | SWP_NOCOPYBITS;
    return SetWindowPos(hWnd, nullptr, target.x, target.y, 0, 0, flags) ? S_OK : E_UNEXPECTED;
}

HRESULT CxSkinImageCtrl::UpdateLook()
{
    const int state = GetStateIndex();
    CxSkinImageList& images = GetImageList();
    // The new state's image is centred on the point before it is shown.
    const int shown = images.m_state;
    images.m_state = state;
    ApplyPos();
    images.m_state = shown;
    if (state == shown || images.GetCount() == 0)
        return S_FALSE;
    return ApplyImage();
}

HRESULT CxSkinImageCtrl::PaintGuarded(HDC hdc)
{
    if (m_flagsLow & kBkgndRelayout)
        return S_FALSE;
    if ((m_flagsLow & CXFL_BKGNDBLOCKED) || GetBackground() == nullptr)
        return S_FALSE;
    return Paint(hdc);
}

BOOL CxSkinImageCtrl::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                           DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId, true);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (run == CxMapRun::BaseAndOwn && CxWndLink::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    const bool full = mapId != CX_MAPID_SKIN;
    if (SkinFileMessage(message, wParam, lParam, lResult, [this](const wchar_t* file) { ApplySkinFile(file); }))
        return TRUE;
    switch (message) {
    case WM_CREATE:
        LoadSkinOnce();
        return FALSE;
    case CXM_INITCONTROL:
        LoadSkinOnce();
        lResult = 1;
        return TRUE;
    case CXM_ADDOFFSETS:
        if (!full)
            return FALSE;
        AddOffsets(reinterpret_cast<const POINT*>(wParam), reinterpret_cast<const SIZE*>(lParam));
        lResult = 1;
        return TRUE;
    case CXM_SETREGION: {
        // A control's region is its own: it shapes the control and nothing else.
        if (!full)
            return FALSE;
        HRGN region = reinterpret_cast<HRGN>(wParam);
        lResult = region != nullptr && SetWindowRgn(hWnd, region, TRUE);
        if (region != nullptr && !lResult)
            DeleteObject(region);
        return TRUE;
    }
    case CXM_GETREGION: {
        if (!full)
            return FALSE;
        auto* out = reinterpret_cast<HRGN*>(wParam);
        lResult = out != nullptr && SUCCEEDED(GetRegion(out));
        return TRUE;
    }
    case CXM_GETSKINSECTION:
        // An image control holds no controls of its own.
        if (lParam != 0)
            *reinterpret_cast<const wchar_t**>(lParam) = nullptr;
        lResult = lParam != 0;
        return TRUE;
    case CXM_FLAGSCHANGED:
        UpdateLook();
        lResult = 1;
        return TRUE;
    default:
        break;
    }
    if (IsQueryForParent(message)) {
        // The skin reader asks the control; the parent knows the skin and its packs.
        HWND parent = GetParent(hWnd);
        lResult = parent != nullptr ? ::SendMessageW(parent, message, wParam, lParam) : 0;
        return TRUE;
    }
    if (full && CxChildRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_OWN))
        return TRUE;
    return FALSE;
}

// ---- CxSkinButton ----

CxSkinButton::CxSkinButton()
{
    m_flagsLow |= kSkinButtonStartFlags;
}

int CxSkinButton::GetStateIndex()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return 1;
    const bool checked = (::SendMessageW(hWnd, BM_GETSTATE, 0, 0) & 3) != 0;
    const int base = checked ? 4 : 0;
    if (!IsWindowEnabled(hWnd))
        return base;
    if (m_flagsLow & (CXFL_MOUSEPRESSED | CXFL_KEYPRESSED))
        return base + 3;
    if (m_flagsLow & CXFL_CAPTURED)
        return base + 2;
    return base + 1;
}

HRESULT CxSkinButton::LoadSkinOnce()
{
    UseHandCursor();
    const HRESULT hr = CxSkinImageCtrl::LoadSkinOnce();
    if (hr == S_FALSE)
        return hr;
    HWND hWnd = GetWnd();
    HWND parent = hWnd != nullptr ? GetParent(hWnd) : nullptr;
    if (parent != nullptr &&
        ::SendMessageW(parent, CXM_DISABLEKEYCLICK, static_cast<WPARAM>(::GetDlgCtrlID(hWnd)), 0) != 0)
        m_flagsHigh |= CXFH_NOKEYCLICK;
    return hr;
}

void CxSkinButton::Click()
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return;
    const int check = static_cast<int>(::SendMessageW(hWnd, BM_GETCHECK, 0, 0));
    int next = 0;
    if (check == 0) {
        next = 1;
    } else if (check == 1) {
        const int style = CxGetButtonStyle(hWnd);
        if ((style & 6) == 6 || (style & 5) == 5)
            next = 2;
        else if ((style & 3) == 3 || (style & 2) == 2)
            next = 0;
        else
            next = 1;
    }
    ::SendMessageW(hWnd, BM_SETCHECK, static_cast<WPARAM>(next), 0);
}

HRESULT CxSkinButton::UpdateRadioGroup(int check)
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return E_INVALIDARG;
    const int type = m_keptStyle & kTypeMask;
    if (type != BS_RADIOBUTTON && type != BS_AUTORADIOBUTTON)
        return S_FALSE;
    HWND parent = GetParent(hWnd);
    wchar_t ownClass[256] = {};
    if (parent == nullptr || GetClassNameW(hWnd, ownClass, 256) == 0)
        return E_UNEXPECTED;

    // This button first, then the group in walk order. The walk ends where it started; one that never
    // comes back (this button disabled or hidden, which the walk skips) ends when it repeats itself.
    HWND members[kMaxGroupWalk];
    int count = 0;
    members[count++] = hWnd;
    HWND first = nullptr;
    HWND item = hWnd;
    for (int step = 0; step < kMaxGroupWalk; ++step) {
        item = GetNextDlgGroupItem(parent, item, FALSE);
        if (item == nullptr)
            return E_UNEXPECTED;
        if (item == hWnd || item == first)
            break;
        if (first == nullptr)
            first = item;
        wchar_t itemClass[256] = {};
        if (GetClassNameW(item, itemClass, 256) == 0 || wcscmp(itemClass, ownClass) != 0)
            continue;
        const int itemType = CxGetButtonStyle(item) & kTypeMask;
        if ((itemType == BS_RADIOBUTTON || itemType == BS_AUTORADIOBUTTON) && count < kMaxGroupWalk)
            members[count++] = item;
    }
    if (count < 2)
        return S_FALSE;
    HWND chosen = check != 0 ? hWnd : members[1];
    for (int i = 1; i < count; ++i)
        ::SendMessageW(members[i], BM_SETCHECK, members[i] == chosen ? 1 : 0, static_cast<LPARAM>(-1));
    return S_OK;
}

void CxSkinButton::SwitchOwnerDraw(BOOL imageSet)
{
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return;
    LONG style = GetWindowLongW(hWnd, GWL_STYLE);
    const LONG type = style & kTypeMask;
    bool setOwnerDrawn = false;
    bool clearOwnerDrawn = false;
    // A second announcement finds the button owner-drawn already: its own type is kept from the first.
    if (imageSet && !(m_flagsLow & CXFL_OWNERDRAWSET)) {
        if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON)
            m_flagsLow &= ~CXFL_NOCHECKEMULATION;
        if (!(m_flagsLow & CXFL_NOCHECKEMULATION)) {
            m_keptStyle = static_cast<int>(style | BS_PUSHLIKE);
            // The check the native button held carries over.
            m_keptCheck = static_cast<int>(CWnd::WindowProc(BM_GETCHECK, 0, 0)) & 3;
        }
        // The type is replaced, not OR-ed: radio and three-state types OR-ed with the owner-drawn bits
        // would make another native type that draws itself.
        if (type != BS_OWNERDRAW) {
            m_typeBeforeOwnerDraw = static_cast<int>(type);
            style = (style & ~kTypeMask) | BS_OWNERDRAW;
            setOwnerDrawn = true;
        }
    } else if (!imageSet) {
        if (!(m_flagsLow & CXFL_NOCHECKEMULATION))
            style |= m_keptStyle;
        if (m_flagsLow & CXFL_OWNERDRAWSET) {
            style = (style & ~kTypeMask) | m_typeBeforeOwnerDraw;
            clearOwnerDrawn = true;
        }
    }
    SetWindowLongW(hWnd, GWL_STYLE, style);
    ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (setOwnerDrawn)
        m_flagsLow |= CXFL_OWNERDRAWSET;
    if (clearOwnerDrawn)
        m_flagsLow &= ~CXFL_OWNERDRAWSET;
    if (!imageSet && !(m_flagsLow & CXFL_NOCHECKEMULATION))
        CWnd::WindowProc(BM_SETCHECK, static_cast<WPARAM>(m_keptCheck & 3), 0);
}

BOOL CxSkinButton::KeyMap(HWND hWnd, UINT message, WPARAM wParam, LRESULT& lResult)
{
    if (message != WM_KEYDOWN && message != WM_KEYUP)
        return FALSE;
    if (wParam == VK_ESCAPE) {
        if (!(m_flagsHigh & CXFH_SWALLOWESCAPE))
            return FALSE;
        lResult = 0;
        return TRUE;
    }
    if (wParam != VK_RETURN && wParam != VK_SPACE)
        return FALSE;
    if (m_flagsHigh & CXFH_NOKEYCLICK) {
        lResult = 0;
        return TRUE;
    }
    if (message == WM_KEYDOWN) {
        ModifyFlags(CXFL_KEYPRESSED, 0, 0, 0, 0, Announces());
    } else if (m_flagsLow & CXFL_KEYPRESSED) {
        ::SendMessageW(hWnd, CXM_BUTTONCLICK, 0, 0);
        ModifyFlags(0, 0, CXFL_KEYPRESSED, 0, 0, Announces());
    }
    return FALSE;
}

BOOL CxSkinButton::CheckStateMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    const bool emulated = !(m_flagsLow & CXFL_NOCHECKEMULATION);
    switch (message) {
    case CXM_GETBUTTONSTYLE:
        lResult = m_keptStyle;
        return TRUE;
    case BM_GETCHECK:
        if (!emulated)
            return FALSE;
        lResult = m_keptCheck & 3;
        return TRUE;
    case BM_SETCHECK:
        if (!emulated)
            return FALSE;
        if (lParam == 0)
            UpdateRadioGroup(static_cast<int>(wParam & 3));
        m_keptCheck = static_cast<int>(wParam & 3);
        ::SendMessageW(hWnd, CXM_FLAGSCHANGED, 0, 0);
        lResult = 0;
        return TRUE;
    case BM_GETSTATE: {
        if (!emulated || (m_flagsLow & CXFL_GETSTATEFORWARD))
            return FALSE;
        m_flagsLow |= CXFL_GETSTATEFORWARD;
        const LRESULT state = ::SendMessageW(hWnd, BM_GETSTATE, 0, 0);
        m_flagsLow &= ~CXFL_GETSTATEFORWARD;
        lResult = (state & ~static_cast<LRESULT>(3)) | (m_keptCheck & 3);
        return TRUE;
    }
    case BM_SETSTYLE:
        if (!emulated)
            return FALSE;
        m_keptStyle |= static_cast<int>(wParam);
        if (LOWORD(lParam) != 0)
            ::SendMessageW(hWnd, CXM_FLAGSCHANGED, 0, 0);
        lResult = 0;
        return TRUE;
    case CXM_BUTTONCLICK:
        if (emulated)
            Click();
        lResult = 1;
        return TRUE;
    case WM_LBUTTONUP:
        // Before the native button tells the parent, so that its handler reads the new state.
        if (emulated && CxIsMouseOver(hWnd))
            Click();
        return FALSE;
    case CXM_FRAMEIMAGESET:
        SwitchOwnerDraw(wParam != 0);
        lResult = 1;
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CxSkinButton::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    if (CxSkinImageCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN))
        return TRUE;
    if (CheckStateMap(hWnd, message, wParam, lParam, lResult))
        return TRUE;
    if (KeyMap(hWnd, message, wParam, lResult))
        return TRUE;
    if (message == WM_ERASEBKGND && (m_flagsLow & CXFL_SKINREGION)) {
        PaintGuarded(reinterpret_cast<HDC>(wParam));
        lResult = TRUE;
        return TRUE;
    }
    return CxButton::PreMap(hWnd, message, wParam, lParam, lResult, mapId);
}
