// The file list pane: the skinned report list the main window shows three times (the PC list, the
// player list and the playlist). Beside the list view base it has a status column with a progress bar
// over the row in transfer, a status line under the list, its own drawing of every cell (skin colours
// per selection state, small icons, the overlay of folders that hold subfolders), Delete, F2 and Ctrl+A,
// dropped shell files, and the timed scroll used while something is dragged over it.
#pragma once

#include "manager/controls/bars/cx_progress_bar.h"
#include "manager/controls/bars/cx_text_bar.h"
#include "manager/controls/cx_ctrl_layers.h"
#include "manager/controls/cx_skin_ctrl.h"
#include "manager/main/panes/pane_colours.h"
#include "manager/controls/lists/cx_list_view.h"
#include "manager/device/file_item.h"
#include "manager/framework/windows/cx_string.h"

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>

class CPaneImages;
class CFileListViewCtrl;

// The three lists and their children.
constexpr UINT IDC_PC_LIST = 4020;
constexpr UINT IDC_PLAYER_LIST = 4021;
constexpr UINT IDC_PLAYLIST = 4022;
constexpr UINT IDC_PC_LIST_PROGRESS = 4320;
constexpr UINT IDC_PLAYER_LIST_PROGRESS = 4321;
constexpr UINT IDC_PLAYLIST_PROGRESS = 4322;
constexpr UINT IDC_PC_LIST_STATUS = 4342;
constexpr UINT IDC_PLAYER_LIST_STATUS = 4343;
constexpr UINT IDC_PLAYLIST_STATUS = 4344;

// Commands a list sends its parent for its keys: Erase File(s), Rename File.
constexpr UINT ID_FILE_ERASE = 32923;
constexpr UINT ID_FILE_RENAME = 32924;

// The timer of the scroll while something is dragged over a list.
constexpr UINT_PTR FILE_LIST_AUTOSCROLL_TIMER = 0x212850E;

// The icon group of the lists' own small image list.
constexpr int FILE_LIST_ICON_GROUP = 200;

// The item data of a row: the holder of the row's file item. The code that inserts rows makes it with
// new; the list deletes it with the row.
struct CFileItemHolder {
    virtual ~CFileItemHolder() = default;
    CFileItem item;
};

// The main window's handler of shell files dropped on a list. It reads the drop and leaves it open: the
// list finishes it.
class CFileListDropHandler {
public:
    virtual void OnFilesDropped(CFileListViewCtrl& list, HDROP drop) = 0;

protected:
    ~CFileListDropHandler() = default;
};

// {row, column} of the cell under label editing (wParam of CXM_SETEDITCELL).
struct CFileListCell {
    int row;
    int column;
};

class CFileListViewCtrl : public CxStaticLayerT<CxListViewCtrl, false>, public CxSkinCtrl {
public:
    // The colour states of a row (CPaneColours).
    enum { kStateCount = CPaneColours::kStateCount };

    explicit CFileListViewCtrl(int statusColumn = 1);
    ~CFileListViewCtrl() override;

    // The shared images are lent by the main window and must outlive the list's window.
    void SetPaneImages(CPaneImages* images) { m_images = images; }
    // Where dropped shell files go; null drops them unread.
    void SetDropHandler(CFileListDropHandler* handler) { m_dropHandler = handler; }

    // Once the window exists: the small image list (icon group 200 of the program's file) and the
    // progress bar. TRUE.
    BOOL InitPane();

    // The status column's text of a row. E_FAIL when the list refuses it.
    HRESULT SetStatusText(int row, const wchar_t* text);
    // The translated text of an id (-1: an empty text) as the row's status text.
    HRESULT SetStatusTextById(int row, int textId);
    // In progress: the bar at 0 on the row with the label; otherwise the bar hidden and the text id's
    // text as the row's status.
    HRESULT SetItemStatus(int row, BOOL inProgress, int textId);
    // The progress text and the bar's position on the row, the bar shown there first when it is not.
    // A formatting failure leaves the row as it was.
    HRESULT SetItemProgress(int row, int percent, int labelId);
    // "%d%%" without a label (id -1 or an empty translation), else "%d%% %s " with it.
    static HRESULT FormatProgressText(CxString& text, int percent, int labelId);
    // Shows the bar over the row's status cell (the list clips its children while it shows) or hides it.
    HRESULT ShowItemProgressBar(int row, BOOL show);

    void SelectAll();
    // Only the row selected and focused; -1 leaves no row selected.
    void SelectSingleItem(int row);
    // The first row whose first column is the whole text, or -1.
    int FindItemByText(const wchar_t* text) const;
    BOOL IsItemSelected(int row) const;

    // The status line: created on the first WM_SIZE. CX_E_NOTREGISTERED for a list of another id,
    // E_UNEXPECTED when it cannot be created; S_FALSE when it exists already.
    HRESULT CreateStatusBar();

    int GetStatusColumn() const { return m_statusColumn; }
    int GetProgressRow() const { return m_progressRow.load(); }
    CxProgressBarCtrl& GetProgressBar() { return m_progressBar; }
    CxTextBarCtrl& GetStatusBar() { return m_statusBar; }
    CxSkinColor GetTextColour(int state) const { return m_colours.Text(state); }
    CxSkinColor GetBackColour(int state) const { return m_colours.Back(state); }
    CFileListCell GetEditedCell() const { return m_editedCell; }

    // The auto-scroll state, written by the main window's drag code (the timer id as SetTimer gave it).
    UINT_PTR m_autoScrollTimer = 0;
    BOOL m_autoScrollUp = FALSE;
    BOOL m_autoScrollActive = FALSE;
    int m_autoScrollInterval = 500;
    BOOL m_dragImageShown = FALSE;

    // Registers "pos", "frgnd" (three colours) and "bkgnd" (three colours) of the list's section.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // Reads the keys, takes the colours (system ones where the skin sets none), the state-0 background
    // as the list's background, and places the list.
    HRESULT ApplySection(const wchar_t* skinFile) override;
    // The progress bar's section.
    const wchar_t* SectionFromCtrlId(WPARAM id) override;
    int GetPosIndex() override { return 0; }

protected:
    // Deletes the row's holder, and with it the row's file item.
    void OnDeleteItemData(DWORD_PTR data) override;
    BOOL OnNotifyReflect(NMHDR* header, LRESULT* pResult) override;
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

private:
    // How a bar placement changes the bar.
    enum class Place { Move, MoveAndSize, Show };
    // Over the status cell of the progress row; with a header's change, the cell's edges come from the
    // header's columns with the reported width. 1 without a progress row, E_UNEXPECTED when the row's
    // cell cannot be read, E_FAIL when the bar cannot be placed.
    HRESULT PlaceProgressBar(Place how, const NMHEADERW* change = nullptr);
    // The default handling of the message, then the bar moved (and sized).
    LRESULT DefaultThenPlace(UINT message, WPARAM wParam, LPARAM lParam, Place how,
                             const NMHEADERW* change = nullptr);
    int ColourState(int row) const;
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);
    void DrawCell(NMLVCUSTOMDRAW* draw);
    void OnTimer(WPARAM id, LPARAM lParam, LRESULT& lResult);
    void OnDropFiles(HDROP drop);

    const int m_statusColumn;
    CxProgressBarCtrl m_progressBar;
    CxTextBarCtrl m_statusBar;
    // Written by workers through ShowItemProgressBar, read on the user-interface thread.
    std::atomic<int> m_progressRow{-1};
    CImageList m_smallImages;
    CImageList m_overlayImages;
    CFileListCell m_editedCell{-1, -1};
    CPaneColours m_colours;
    CPaneImages* m_images = nullptr;
    CFileListDropHandler* m_dropHandler = nullptr;
};
