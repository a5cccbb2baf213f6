// Which keys of a language file are read, and where their texts go: the translation group (text ids)
// and the four menu groups (command ids and popup keys of the main menu and the lists' context menus).
#pragma once

#include "manager/framework/windows/cx_array.h"

#include <windows.h>

// Menu resources the menu groups translate.
constexpr UINT kMainMenuId = 133;
constexpr UINT kPlayListMenuId = 400;
constexpr UINT kPlayerListMenuId = 401;
constexpr UINT kPcListMenuId = 402;

// A menu text's item for a popup: this plus the popup's depth-first index in its menu.
constexpr UINT kPopupItemBase = 0x10000000;

// One key: the text goes to item (a text id, a command id, or kPopupItemBase plus a popup index) and is
// read from a numeric key, or from a named key when name is set.
struct CLanguageKey {
    UINT item;
    UINT number;
    const wchar_t* name;
};

struct CLanguageKeyGroup {
    const wchar_t* section = nullptr;
    UINT menu = 0;  // 0: the translation table
    CxArray<CLanguageKey> keys{32};
};

constexpr int kLanguageGroupCount = 5;

struct CLanguageKeyTables {
    CLanguageKeyGroup groups[kLanguageGroupCount];
};

// Fills the five groups (translation, menu.main, menu.pc.list, menu.kwep.list, menu.play.list); the
// groups are emptied first. E_OUTOFMEMORY.
HRESULT BuildLanguageKeyTables(CLanguageKeyTables* tables);
