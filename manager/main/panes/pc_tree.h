// The PC folder tree at the left of the main window: the shell's namespace from the desktop down, folders
// only (hidden ones too), each level read from the shell when it is opened and sorted by the shell's own
// order. It remembers the selected folder in the registry ("Path.4000" under its parent's key) and tells
// its parent which file-system folder is selected.
#pragma once

#include "manager/controls/cx_ctrl_layers.h"
#include "manager/controls/cx_skin_ctrl.h"
#include "manager/main/panes/pane_colours.h"
#include "manager/controls/lists/cx_tree_view.h"
#include "manager/framework/windows/cx_persist.h"
#include "manager/framework/windows/cx_string.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

class CPaneImages;

constexpr UINT IDC_PC_TREE = 4000;

// Sent to the tree's parent when the selection changes: wParam the new item (HTREEITEM), lParam the
// selected folder's file-system path (valid for the call), or null when it has none.
constexpr UINT WM_WATCH_PC_FOLDER = WM_USER + 1180;

// The icon groups of the expander glyphs (closed, open) in the program's own file.
constexpr int PC_TREE_ICON_CLOSED = 220;
constexpr int PC_TREE_ICON_OPEN = 221;

// The data of every item but the placeholders.
struct PCTreeItem {
    IShellFolder* folder;   // where the relative list is valid (the desktop for the root); one reference held
    LPITEMIDLIST relative;  // for the root: the desktop's absolute list
    LPITEMIDLIST absolute;  // the parent's absolute list and the relative one; null for the root
    int flags;              // PCTREE_PLACEHOLDER while the item has its placeholder child
    int spare;
};
constexpr int PCTREE_PLACEHOLDER = 0x1;

class CPCExplorer : public CxStaticLayerT<CxTreeViewCtrl, false>, public CxSkinCtrl, public CxPersistChild {
public:
    // The colour states of an item (CPaneColours).
    enum { kStateCount = CPaneColours::kStateCount };

    CPCExplorer();
    ~CPCExplorer() override;

    // The shared images are lent by the main window and must outlive the tree's window.
    void SetPaneImages(CPaneImages* images) { m_images = images; }

    // Once the window exists: the expander glyphs as the tree's normal image list, then the persisted
    // folder restored, which builds the tree. TRUE.
    BOOL InitTree();
    // Reads the item's children again. 1; 0 for a null item or one without data.
    int ReloadItem(HTREEITEM item);
    // Reads an opened item's children again (nothing while a persisted path is being opened).
    void ExpandItem(HTREEITEM item);
    // The first child whose text is the name, whatever its case; null when none is.
    HTREEITEM FindChildByName(HTREEITEM item, const wchar_t* name) const;
    // The shell's name of an item of the folder, freed by us whatever form the shell gave it in.
    // E_INVALIDARG without out, E_FAIL when the shell fails or the name is empty, E_UNEXPECTED for a name
    // in a form we do not know.
    HRESULT GetDisplayName(IShellFolder* folder, LPCITEMIDLIST id, CxString* out, DWORD flags) const;
    // The selected item's folder object (a new reference), null when nothing is selected or the shell
    // cannot give it.
    void GetSelectedFolder(IShellFolder** out) const;
    // The selected item's parsing name (for the desktop its file-system path). With fileSystem, only a
    // drive or network path is taken: anything else gives E_FAIL and an empty text.
    HRESULT GetSelectedFolderPath(CxString& out, BOOL fileSystem) const;
    // Builds the tree when it has no root yet, then opens the persisted path down to its deepest folder
    // that still exists and selects that one. An empty path (or one of separators only) leaves the
    // desktop's folders shown and nothing selected.
    void SelectPath(const wchar_t* path);
    // The selected folder as a persisted path: the parsing names from the top level down, each level
    // after "|", a whole name ended by a line feed, or what follows the level above's name when this one
    // begins with it. Empty when nothing below the desktop is selected; E_FAIL when a name cannot be read.
    HRESULT GetPersistPath(CxString& out) const;

    // The text of the levels' parsing names (above), and the reading of such a text one level at a time:
    // each call gives the next level's whole parsing name in `name` and the text after it, or null after
    // the last level. Neither has a limit of its own on a name's length.
    static HRESULT JoinPersistLevels(const CxString* names, int count, CxString& out);
    static const wchar_t* NextPersistLevel(const wchar_t* text, std::wstring& name);

    HTREEITEM GetRootItem() const { return TreeItem(nullptr, TVGN_ROOT); }
    CxSkinColor GetTextColour(int state) const { return m_colours.Text(state); }
    CxSkinColor GetBackColour(int state) const { return m_colours.Back(state); }
    HIMAGELIST GetExpanderImages() const { return m_expanderImages.m_hImageList; }

    // Registers "pos", "frgnd" (three colours) and "bkgnd" (three colours) of the tree's section.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;
    // Reads the keys, takes the colours (system ones where the skin sets none), the state-0 background
    // as the tree's background, and places the tree when the skin gives it a place.
    HRESULT ApplySection(const wchar_t* skinFile) override;
    int GetPosIndex() override { return 0; }
    // "Path." and the control id: the selected folder.
    HRESULT GetPersistProps(CxPersistEntries& list) override;

protected:
    // Frees the item's record.
    void DeleteItemData(LPARAM data) override;
    BOOL OnNotifyReflect(NMHDR* header, LRESULT* pResult) override;
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

private:
    HTREEITEM TreeItem(HTREEITEM item, UINT relation) const;
    PCTreeItem* ItemData(HTREEITEM item) const;
    // The root item with the desktop; S_FALSE when the desktop folder cannot be had (the tree stays empty).
    HRESULT BuildRoot();
    // Reads the item's children from the shell; the child named `select` (any case) is selected. The
    // child so selected, or null.
    HTREEITEM FillChildren(HTREEITEM item, const wchar_t* select);
    void DeleteChildren(HTREEITEM item);
    HRESULT ParsingName(HTREEITEM item, CxString& out) const;
    // A copy of an id list, or the two joined, in a block of the shell allocator ended by two zero bytes.
    LPITEMIDLIST JoinIdLists(LPCITEMIDLIST first, LPCITEMIDLIST second) const;
    void FreeShellMemory(void* block) const;
    int ColourState(HTREEITEM item) const;
    LRESULT OnCustomDraw(NMTVCUSTOMDRAW* draw);
    void DrawCell(NMTVCUSTOMDRAW* draw);

    IShellFolder* m_desktop = nullptr;
    IMalloc* m_malloc = nullptr;
    CImageList m_expanderImages;
    CPaneColours m_colours;
    CPaneImages* m_images = nullptr;
};
