#include "manager/main/panes/file_list_pane.h"

#include "manager/controls/combo/cx_file_mask_combo.h"
#include "manager/framework/windows/cx_app.h"
#include "manager/main/panes/pane_images.h"

namespace {

// The children of each list: progress bar id, status bar id, status bar option word (DrawText flags).
struct ListChildren {
    UINT list;
    UINT progress;
    UINT status;
    UINT statusFormat;
};
constexpr ListChildren kChildren[] = {
    {IDC_PC_LIST, IDC_PC_LIST_PROGRESS, IDC_PC_LIST_STATUS, 0x8826},
    {IDC_PLAYER_LIST, IDC_PLAYER_LIST_PROGRESS, IDC_PLAYER_LIST_STATUS, 0x8826},
    {IDC_PLAYLIST, IDC_PLAYLIST_PROGRESS, IDC_PLAYLIST_STATUS, 0x8824},
};

const ListChildren* ChildrenOf(HWND list)
{
    const UINT id = list != nullptr ? static_cast<UINT>(GetDlgCtrlID(list)) : 0;
    for (const ListChildren& children : kChildren) {
        if (children.list == id)
            return &children;
    }
    return nullptr;
}

// The skin sections of the progress bars, by bar id.
const wchar_t* ProgressSection(UINT id)
{
    switch (id) {
    case IDC_PC_LIST_PROGRESS:
        return L"pc.list.progress";
    case IDC_PLAYER_LIST_PROGRESS:
        return L"kwep.list.progress";
    case IDC_PLAYLIST_PROGRESS:
        return L"playlist.progress";
    default:
        return nullptr;
    }
}

constexpr UINT kCellFormat = DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX;
// Characters of a cell's text read for drawing (4096 bytes).
constexpr int kCellTextChars = 2048;

// The left and right edges of a column in the list's client area, from the header's columns in their
// shown order, with the width a header notification reports for its column (which neither the header nor
// the list may hold yet).
bool StatusColumnEdges(HWND list, int column, const NMHEADERW& change, LONG* left, LONG* right)
{
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (header == nullptr)
        return false;
    constexpr int kMaxColumns = 64;
    const auto count = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    int order[kMaxColumns];
    if (count <= column || count > kMaxColumns ||
        ::SendMessageW(header, HDM_GETORDERARRAY, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(order)) == 0)
        return false;
    RECT first{};
    if (::SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(order[0]), reinterpret_cast<LPARAM>(&first)) == 0)
        return false;
    const bool reported = change.pitem != nullptr && (change.pitem->mask & HDI_WIDTH) != 0;
    POINT edges[2] = {{first.left, 0}, {first.left, 0}};
    for (int position = 0; position < count; ++position) {
        const int index = order[position];
        int width = 0;
        if (reported && index == change.iItem) {
            width = change.pitem->cxy;
        } else {
            HDITEMW item{};
            item.mask = HDI_WIDTH;
            if (::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) == 0)
                return false;
            width = item.cxy;
        }
        if (index == column) {
            edges[1].x = edges[0].x + width;
            ::MapWindowPoints(header, list, edges, 2);
            *left = edges[0].x;
            *right = edges[1].x;
            return true;
        }
        edges[0].x += width;
    }
    return false;
}

}  // namespace

CFileListViewCtrl::CFileListViewCtrl(int statusColumn) : m_statusColumn(statusColumn)
{
    CxWndLink::Attach(&m_hWnd);
    // The owner places both bars: the progress bar over its row, the status line under the list.
    m_progressBar.ModifyFlags(0, CXFH_PROGRESS_NOMOVE | CXFH_PROGRESS_BITBLT, 0, 0);
    m_statusBar.ModifyFlags(0, CXFH_UNDERBUDDY | CXFH_DRAWOPTION2, 0, 0);
}

CFileListViewCtrl::~CFileListViewCtrl()
{
    // The rows' holders go with the window, while this object can still free them.
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
}

BOOL CFileListViewCtrl::InitPane()
{
    if (m_hWnd == nullptr)
        return TRUE;
    const SIZE icon = PaneSmallIconSize(m_images);
    if (m_smallImages.m_hImageList == nullptr && m_smallImages.Create(icon.cx, icon.cy, ILC_COLOR32 | ILC_MASK, 0, 1)) {
        wchar_t program[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
        CxString location;
        HICON loaded = nullptr;
        if (length > 0 && length < MAX_PATH && SUCCEEDED(location.Format(L"%s?%d", program, -FILE_LIST_ICON_GROUP)) &&
            SUCCEEDED(CxLoadSmallIcon(location, &loaded))) {
            ImageList_AddIcon(m_smallImages.m_hImageList, loaded);
            DestroyIcon(loaded);
        }
        // The list keeps the image list without owning it: this object destroys it.
        ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, ::GetWindowLongPtrW(m_hWnd, GWL_STYLE) | LVS_SHAREIMAGELISTS);
        ::SendMessageW(m_hWnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_smallImages.m_hImageList));
    }
    const ListChildren* children = ChildrenOf(m_hWnd);
    if (children != nullptr && m_progressBar.m_hWnd == nullptr &&
        m_progressBar.Create(m_hWnd, RECT{0, 0, 0, 0}, children->progress, WS_CHILD | PBS_SMOOTH))
        ::SendMessageW(m_progressBar.m_hWnd, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(m_hWnd, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(m_colours.Back(0).color));
    return TRUE;
}

// ---- Status texts and progress ----

HRESULT CFileListViewCtrl::SetStatusText(int row, const wchar_t* text)
{
    HWND list = m_hWnd;
    if (list == nullptr)
        return E_FAIL;
    LVITEMW item{};
    item.iSubItem = m_statusColumn;
    item.pszText = const_cast<wchar_t*>(text != nullptr ? text : L"");
    return ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) != 0
               ? S_OK
               : E_FAIL;
}

HRESULT CFileListViewCtrl::SetStatusTextById(int row, int textId)
{
    CxString text;
    if (textId != -1) {
        CxWinApp* app = CxGetApp();
        if (app != nullptr)
            app->GetString(text, static_cast<UINT>(textId));
    }
    return SetStatusText(row, text);
}

HRESULT CFileListViewCtrl::SetItemStatus(int row, BOOL inProgress, int textId)
{
    if (inProgress)
        return SetItemProgress(row, 0, textId);
    if (m_progressBar.m_hWnd != nullptr && ::IsWindowVisible(m_progressBar.m_hWnd))
        ShowItemProgressBar(row, FALSE);
    return SetStatusTextById(row, textId);
}

HRESULT CFileListViewCtrl::FormatProgressText(CxString& text, int percent, int labelId)
{
    CxString label;
    if (labelId != -1) {
        CxWinApp* app = CxGetApp();
        if (app != nullptr)
            app->GetString(label, static_cast<UINT>(labelId));
    }
    if (label.IsEmpty())
        return text.Format(L"%d%%", percent);
    return text.Format(L"%d%% %s ", percent, static_cast<const wchar_t*>(label));
}

HRESULT CFileListViewCtrl::SetItemProgress(int row, int percent, int labelId)
{
    CxString progress;
    HRESULT hr = FormatProgressText(progress, percent, labelId);
    CxString cell;
    if (SUCCEEDED(hr))
        hr = cell.Format(L"%s  ", static_cast<const wchar_t*>(progress));
    if (FAILED(hr))
        return hr;
    // A bar still shown over another row comes over this one.
    HWND bar = m_progressBar.m_hWnd;
    if (bar == nullptr || !::IsWindowVisible(bar) || m_progressRow.load() != row)
        ShowItemProgressBar(row, TRUE);
    hr = SetStatusText(row, cell);
    if (bar != nullptr)
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    return hr;
}

HRESULT CFileListViewCtrl::ShowItemProgressBar(int row, BOOL show)
{
    HWND list = m_hWnd;
    if (list == nullptr)
        return 0;
    const LONG_PTR style = ::GetWindowLongPtrW(list, GWL_STYLE);
    if (show) {
        if (!(style & WS_CLIPCHILDREN))
            ::SetWindowLongPtrW(list, GWL_STYLE, style | WS_CLIPCHILDREN);
        m_progressRow.store(row);
        PlaceProgressBar(Place::Show);
    } else {
        if (style & WS_CLIPCHILDREN)
            ::SetWindowLongPtrW(list, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_CLIPCHILDREN));
        m_progressRow.store(-1);
        if (m_progressBar.m_hWnd != nullptr)
            ::ShowWindow(m_progressBar.m_hWnd, SW_HIDE);
    }
    return 0;
}

HRESULT CFileListViewCtrl::PlaceProgressBar(Place how, const NMHEADERW* change)
{
    const int row = m_progressRow.load();
    if (row == -1)
        return S_FALSE;
    HWND bar = m_progressBar.m_hWnd;
    RECT cell{};
    cell.top = m_statusColumn;
    cell.left = LVIR_LABEL;
    if (m_hWnd == nullptr ||
        ::SendMessageW(m_hWnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell)) == 0)
        return E_UNEXPECTED;
    if (change != nullptr && !StatusColumnEdges(m_hWnd, m_statusColumn, *change, &cell.left, &cell.right))
        return E_UNEXPECTED;
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (how == Place::Move)
        flags |= SWP_NOSIZE;
    else if (how == Place::Show)
        flags |= SWP_SHOWWINDOW;
    if (bar == nullptr ||
        !::SetWindowPos(bar, nullptr, cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, flags))
        return E_FAIL;
    return S_OK;
}

LRESULT CFileListViewCtrl::DefaultThenPlace(UINT message, WPARAM wParam, LPARAM lParam, Place how,
                                            const NMHEADERW* change)
{
    const LRESULT result = CxListViewCtrl::WindowProc(message, wParam, lParam);
    PlaceProgressBar(how, change);
    return result;
}

// ---- Selection ----

void CFileListViewCtrl::SelectAll()
{
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    ::SendMessageW(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
}

void CFileListViewCtrl::SelectSingleItem(int row)
{
    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    const auto count = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
    int at = -1;
    // Each pass clears one selected row, so the walk ends within the row count.
    for (int n = 0; n < count; ++n) {
        at = static_cast<int>(
            ::SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(at), MAKELPARAM(LVNI_SELECTED, 0)));
        if (at < 0)
            break;
        ::SendMessageW(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&clear));
    }
    if (row == -1)
        return;
    LVITEMW set{};
    set.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    set.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&set));
}

int CFileListViewCtrl::FindItemByText(const wchar_t* text) const
{
    if (m_hWnd == nullptr || text == nullptr)
        return -1;
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;
    find.psz = text;
    return static_cast<int>(
        ::SendMessageW(m_hWnd, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

BOOL CFileListViewCtrl::IsItemSelected(int row) const
{
    if (m_hWnd == nullptr || row < 0)
        return FALSE;
    return ::SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(row - 1), MAKELPARAM(LVNI_SELECTED, 0)) == row;
}

void CFileListViewCtrl::OnDeleteItemData(DWORD_PTR data)
{
    delete reinterpret_cast<CFileItemHolder*>(data);
}

// ---- Status line ----

HRESULT CFileListViewCtrl::CreateStatusBar()
{
    if (m_statusBar.m_hWnd != nullptr)
        return S_FALSE;
    const ListChildren* children = ChildrenOf(m_hWnd);
    if (children == nullptr)
        return CX_E_NOTREGISTERED;
    HWND parent = ::GetParent(m_hWnd);
    m_statusBar.SetBuddy(m_hWnd);
    m_statusBar.SetFormat(children->statusFormat);
    if (parent == nullptr || !m_statusBar.Create(parent, RECT{0, 0, 0, 0}, children->status, WS_CHILD | WS_VISIBLE))
        return E_UNEXPECTED;
    return S_OK;
}

// ---- Skin ----

HRESULT CFileListViewCtrl::GetSkinProps(CxSkinPropEntries& list)
{
    return CPaneColours::GetSkinProps(*this, list);
}

HRESULT CFileListViewCtrl::ApplySection(const wchar_t* skinFile)
{
    return m_colours.ApplySection(*this, skinFile, LVM_SETBKCOLOR);
}

const wchar_t* CFileListViewCtrl::SectionFromCtrlId(WPARAM id)
{
    return id >= 2 ? ProgressSection(static_cast<UINT>(id - 2)) : nullptr;
}

// ---- Cell drawing ----

int CFileListViewCtrl::ColourState(int row) const
{
    if (!IsItemSelected(row))
        return 0;
    return (m_flagsLow & CXFL_CLASSSTATE) ? 2 : 1;
}

LRESULT CFileListViewCtrl::OnCustomDraw(NMLVCUSTOMDRAW* draw)
{
    if (draw == nullptr)
        return 0;
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        const int state = ColourState(static_cast<int>(draw->nmcd.dwItemSpec));
        draw->clrText = m_colours.Text(state).color;
        draw->clrTextBk = m_colours.Back(state).color;
        return CDRF_NOTIFYSUBITEMDRAW;
    }
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
        DrawCell(draw);
        return CDRF_SKIPDEFAULT;
    default:
        return 0;
    }
}

void CFileListViewCtrl::DrawCell(NMLVCUSTOMDRAW* draw)
{
    HWND list = m_hWnd;
    HDC dc = draw->nmcd.hdc;
    const int row = static_cast<int>(draw->nmcd.dwItemSpec);
    const int column = draw->iSubItem;
    if (list == nullptr || dc == nullptr || row < 0 || column < 0)
        return;
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    if (::SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell)) == 0)
        return;
    // The bounds of column 0 are the whole row's: the header gives the column's width.
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    HDITEMW width{};
    width.mask = HDI_WIDTH;
    if (header != nullptr && ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column),
                                            reinterpret_cast<LPARAM>(&width)) != 0)
        cell.right = cell.left + width.cxy;

    const int state = ColourState(row);
    const SIZE icon = PaneSmallIconSize(m_images);
    HIMAGELIST system = (column == 0 && m_images != nullptr) ? m_images->SystemSmallImageList() : nullptr;
    int image = -1;
    bool overlay = false;
    if (system != nullptr) {
        LVITEMW item{};
        item.mask = LVIF_IMAGE | LVIF_PARAM;
        item.iItem = row;
        if (::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != 0) {
            image = item.iImage;
            const auto* holder = reinterpret_cast<const CFileItemHolder*>(item.lParam);
            overlay = holder != nullptr && holder->item.kind == kFileItemFolder && holder->item.hasSubfolders != 0;
        }
    }
    const bool hasIcon = image >= 0;

    wchar_t text[kCellTextChars] = {};
    if (row != m_editedCell.row || column != m_editedCell.column) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = kCellTextChars;
        ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        text[kCellTextChars - 1] = L'\0';
    }

    RECT fill = cell;
    if (hasIcon)
        fill.left += icon.cx + 4;
    m_colours.FillBack(dc, fill, state);
    if (hasIcon) {
        const int x = cell.left;
        const int y = cell.top + ((cell.bottom - cell.top) - icon.cy) / 2;
        bool drawn = false;
        HICON rowIcon = ImageList_GetIcon(system, image, ILD_NORMAL);
        HICON overlayIcon = overlay ? m_images->FolderOverlayIcon() : nullptr;
        if (rowIcon != nullptr && overlayIcon != nullptr) {
            // Masked, without an alpha channel: Wine's image lists draw no overlay over images with alpha.
            if (m_overlayImages.m_hImageList == nullptr)
                m_overlayImages.Create(icon.cx, icon.cy, ILC_COLOR24 | ILC_MASK, 2, 1);
            HIMAGELIST scratch = m_overlayImages.m_hImageList;
            if (scratch != nullptr) {
                ImageList_Remove(scratch, -1);
                if (ImageList_AddIcon(scratch, rowIcon) == 0 && ImageList_AddIcon(scratch, overlayIcon) == 1 &&
                    ImageList_SetOverlayImage(scratch, 1, 1))
                    drawn = ImageList_Draw(scratch, 0, dc, x, y, ILD_TRANSPARENT | INDEXTOOVERLAYMASK(1)) != FALSE;
            }
        }
        if (!drawn && rowIcon != nullptr)
            DrawIconEx(dc, x, y, rowIcon, icon.cx, icon.cy, 0, nullptr, DI_NORMAL);
        if (rowIcon != nullptr)
            DestroyIcon(rowIcon);
    }
    RECT where = cell;
    where.left += hasIcon ? icon.cx + 6 : 2;
    m_colours.DrawLabel(dc, where, text, state, kCellFormat);
}

// ---- Messages ----

void CFileListViewCtrl::OnTimer(WPARAM, LPARAM, LRESULT& lResult)
{
    HWND hWnd = m_hWnd;
    if (m_autoScrollTimer != 0)
        ::KillTimer(hWnd, m_autoScrollTimer);
    m_autoScrollTimer = ::SetTimer(hWnd, FILE_LIST_AUTOSCROLL_TIMER, static_cast<UINT>(m_autoScrollInterval), nullptr);
    const BOOL dragImage = m_dragImageShown;
    if (dragImage)
        ImageList_DragShowNolock(FALSE);
    ::SendMessageW(hWnd, WM_VSCROLL, m_autoScrollUp ? SB_LINEUP : SB_LINEDOWN, 0);
    if (dragImage)
        ImageList_DragShowNolock(TRUE);
    lResult = 0;
}

void CFileListViewCtrl::OnDropFiles(HDROP drop)
{
    if (drop == nullptr)
        return;
    if (m_dropHandler != nullptr)
        m_dropHandler->OnFilesDropped(*this, drop);
    DragFinish(drop);
}

BOOL CFileListViewCtrl::OnNotifyReflect(NMHDR* header, LRESULT* pResult)
{
    if (header->code == static_cast<UINT>(LVN_KEYDOWN)) {
        const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(header);
        if (m_progressRow.load() == -1) {
            HWND parent = ::GetParent(m_hWnd);
            if (key->wVKey == VK_DELETE)
                ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(ID_FILE_ERASE, 0), 0);
            else if (key->wVKey == VK_F2)
                ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(ID_FILE_RENAME, 0), 0);
            else if (key->wVKey == 'A' && GetKeyState(VK_CONTROL) < 0)
                SelectAll();
        }
        PlaceProgressBar(Place::Move);
        *pResult = 0;
        return TRUE;
    }
    return CxListViewCtrl::OnNotifyReflect(header, pResult);
}

BOOL CFileListViewCtrl::PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId)
{
    if (mapId != CX_MAPID_CHAIN)
        return FALSE;
    switch (message) {
    case WM_SIZE:
        lResult = CxListViewCtrl::WindowProc(message, wParam, lParam);
        if (m_statusBar.m_hWnd == nullptr)
            CreateStatusBar();
        m_statusBar.PlaceUnderBuddy();
        return TRUE;
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_KEYUP:
    // The wheel and the scrolls made by code move the rows too.
    case WM_MOUSEWHEEL:
    case LVM_SCROLL:
    case LVM_ENSUREVISIBLE:
        lResult = DefaultThenPlace(message, wParam, lParam, Place::Move);
        return TRUE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header == nullptr || header->hwndFrom != reinterpret_cast<HWND>(::SendMessageW(hWnd, LVM_GETHEADER, 0, 0)))
            return FALSE;
        switch (header->code) {
        case HDN_ITEMCHANGINGW:
        case HDN_ITEMCHANGINGA:
        case HDN_DIVIDERDBLCLICKW:
        case HDN_DIVIDERDBLCLICKA:
        // The list may take the new width only after the header's report of it.
        case HDN_ITEMCHANGEDW:
        case HDN_ITEMCHANGEDA:
            lResult = DefaultThenPlace(message, wParam, lParam, Place::MoveAndSize,
                                       reinterpret_cast<const NMHEADERW*>(lParam));
            return TRUE;
        default:
            return FALSE;
        }
    }
    case WM_SETFOCUS:
        ModifyFlags(CXFL_CLASSSTATE, 0, 0, 0);
        return FALSE;
    case WM_KILLFOCUS:
        ModifyFlags(0, 0, CXFL_CLASSSTATE, 0);
        return FALSE;
    case WM_TIMER:
        if (wParam != FILE_LIST_AUTOSCROLL_TIMER)
            return FALSE;
        if (!m_autoScrollActive) {
            ::KillTimer(hWnd, FILE_LIST_AUTOSCROLL_TIMER);
            m_autoScrollTimer = 0;
            return FALSE;
        }
        OnTimer(wParam, lParam, lResult);
        return TRUE;
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        lResult = 0;
        return TRUE;
    case CXM_CUSTOMDRAW:
        lResult = OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(wParam));
        return TRUE;
    case CXM_SETFONT:
        if (m_statusBar.m_hWnd != nullptr)
            ::SendMessageW(m_statusBar.m_hWnd, CXM_SETFONT, wParam, 0);
        lResult = 1;
        return TRUE;
    case CXM_SETEDITCELL:
        if (lParam != 0)
            m_editedCell = CFileListCell{-1, -1};
        else if (wParam != 0)
            m_editedCell = *reinterpret_cast<const CFileListCell*>(wParam);
        ::InvalidateRect(hWnd, nullptr, FALSE);
        lResult = 1;
        return TRUE;
    case CXM_GETSKINFILE:
        // The progress bar asks its parent, the list, for the skin file: the list's own parent knows it.
        lResult = ::SendMessageW(::GetParent(hWnd), message, wParam, lParam);
        return TRUE;
    default:
        break;
    }
    if (CxStaticLayerT<CxListViewCtrl, false>::PreMap(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    return CxSkinCtrl::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, CX_MAPID_CHAIN);
}
