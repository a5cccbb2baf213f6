// The file-type filter: a combo box whose items are file masks ("*.mp3") with a display text, each shown
// with the small shell icon of its file type. The combo owns a copy of each item's mask as the item's
// data, and reports selections made by code to its parent as the user's are reported.
#pragma once

#include "manager/controls/combo/cx_combo_box.h"
#include "manager/framework/windows/cx_array.h"
#include "manager/framework/windows/cx_string.h"

#include <commctrl.h>

// One entry of the filter.
struct CxFileMaskFilter {
    CxString text;  // shown; an empty text shows none
    CxString mask;  // "*.mp3"
};

// Where the small icon of a mask's file type is: "file?index" for an icon of a module (the registry's
// "file,index" with its last "," made "?"), or the path of an icon file. The type comes from
// HKEY_CLASSES_ROOT (".ext" names the type, "type\DefaultIcon" the icon, environment variables
// expanded); "*.*", an unknown type or a type without an icon give "shell32.dll?0". E_INVALIDARG for a
// mask without ".", E_OUTOFMEMORY, E_UNEXPECTED when the value cannot be expanded.
HRESULT CxFileMaskIconLocation(const wchar_t* mask, CxString* location);

// Loads the small icon (SM_CXSMICON x SM_CYSMICON) at a location of CxFileMaskIconLocation's form; a
// module path ending in "\" gets the program's own file name. The caller destroys the icon.
// E_INVALIDARG for an empty location or an index that is not a number, E_UNEXPECTED when the
// extraction fails, E_ACCESSDENIED when no icon is there.
HRESULT CxLoadSmallIcon(const wchar_t* location, HICON* icon);

class CxFileMaskComboBox : public CxSkinComboBox {
public:
    CxFileMaskComboBox();
    ~CxFileMaskComboBox() override;

    // Adds the icon of each filter's type to the image list (made at the first call) and hands the list
    // to the control, then inserts one item per filter at its index: the text, the icon (none when it
    // could not be loaded) and a copy of the mask. S_OK; S_FALSE when an icon or an item could not be
    // made (the items still go in); E_INVALIDARG for no filters; E_ACCESSDENIED without a window;
    // E_OUTOFMEMORY when the image list cannot be made.
    HRESULT SetFilters(const CxArray<CxFileMaskFilter>& filters);

    // Frees the mask copy of an item and clears its data; E_UNEXPECTED when the item's data cannot be read.
    HRESULT FreeItemData(int index);

    HIMAGELIST GetImageList() const { return m_imageList; }

protected:
    // The pre-map, the afx map, then the post-map.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Frees mask copies before the control deletes their items (one item, all of them, or the window's),
    // and on a reflected CBEN_DELETEITEM; then the combo chain.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
    // After CB_SETCURSEL, CBN_SELCHANGE to the parent.
    BOOL PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;

private:
    void FreeAllItemData();
    LRESULT InsertFilter(int index, const wchar_t* text, int image, wchar_t* maskCopy, bool withData);

    CImageList m_imageList;
    // Set while the parent handles a reported selection: a selection it makes then is not reported again.
    bool m_reportingSelection = false;
};
