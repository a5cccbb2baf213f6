// The main window's translation tables and menus: loads the built-in language file or a pack of the
// LANGUAGES folder, answers text lookups from any thread, translates the main menu and the lists'
// context menus, keeps the Language menu and re-translates the windows when the language changes.
// A member object of the main window, which it reaches through CLanguageHost.
#pragma once

#include "manager/framework/packs/cx_pack_list.h"
#include "manager/framework/windows/cx_persist.h"
#include "manager/main/language/language_keys.h"
#include "manager/main/language/text_lookup.h"

#include <windows.h>

#include <memory>

class CCmdUI;

// Command ids of the Language menu.
constexpr UINT kIdRebuildLanguageList = 60257;  // "Rebuild List" (F10): the packs go before it
constexpr UINT kIdLanguageSeparator = 60513;    // after the packs
// The built-in language file: resource 140 of type "INI".
constexpr UINT kBuiltInLanguageResource = 140;
// Text id of the main window's title.
constexpr UINT kIdsMainTitle = 62622;

// What the language manager needs of the window that owns it. Called on the window's thread.
class CLanguageHost {
public:
    virtual HWND GetLanguageWindow() = 0;
    // The main menu (kMainMenuId) or a list's context menu (kPcListMenuId, kPlayerListMenuId,
    // kPlayListMenuId), the context menus loaded on first use; null when the window has none.
    virtual HMENU GetLanguageMenu(UINT menuId) = 0;
    // TRUE while the window's menus are locked (high flag CXFH_MENUSLOCKED): language items are disabled.
    virtual BOOL AreMenusLocked() = 0;
    // Re-translates the window's control texts, the tool tips of its controls and the list column
    // titles (widths unchanged); called before the menus are translated.
    virtual void TranslateWindowTexts() = 0;
    // Rebuilds the panes' status texts; called after the menus are translated.
    virtual void RebuildPaneTexts() = 0;

protected:
    ~CLanguageHost() = default;
};

struct CTranslationEntry {
    UINT id = 0;
    CxString text;
};

struct CMenuTextEntry {
    UINT item = 0;  // a command id, or kPopupItemBase plus a popup index
    CxString text;
    UINT menu = 0;
};

// The loaded texts: one entry per text id, one per {item, menu}.
struct CLanguageTables {
    CxArray<CTranslationEntry> texts{64};
    CxArray<CMenuTextEntry> menus{32};
};

class CLanguageManager : public CTextLookup {
public:
    explicit CLanguageManager(CLanguageHost& host);
    ~CLanguageManager();
    CLanguageManager(const CLanguageManager&) = delete;
    CLanguageManager& operator=(const CLanguageManager&) = delete;

    // No current language command; builds the built-in location from the program's resource 140.
    HRESULT InitLanguage();
    // Any thread: the loaded text of the id, else the program's string table. FALSE with an empty text
    // when neither has it.
    BOOL LookupTranslation(CxString& text, UINT id) override;
    // The location, or the pack with the command id when it is empty; a file that is not there (or a
    // folder, or a pattern) gives the built-in file. Stores it as the current language and sends
    // CXM_TRANSLATE to the window and then to every window below it. Answers 1.
    int SelectLanguage(const wchar_t* location, int command);
    // Any thread: a copy of the current language location (empty when none). E_OUTOFMEMORY.
    HRESULT GetCurrentLanguage(CxString* location);

    void OnLanguageCommand(UINT id);
    void OnUpdateLanguageCommand(CCmdUI* ui);
    void OnRebuildLanguageList();
    // Lists the packs and the built-in file and puts them in the Language menu before "Rebuild List".
    // E_NOTIMPL when the main menu has no kIdRebuildLanguageList.
    HRESULT RebuildLanguageMenu();
    // Builds the key tables and loads the location with them, applying it.
    HRESULT TranslateMainMenu(const wchar_t* location);
    // Loads the built-in file first (unless the location is the built-in file), then the location over
    // it; a failure leaves the tables unchanged. A pack's text whose format conversions differ from the
    // built-in text's is not taken where the text serves as a format.
    HRESULT LoadLanguageFile(const wchar_t* location, const CLanguageKeyTables& keys, BOOL apply);
    // The window's texts, the menus, then the panes' status texts.
    void ApplyLanguage();
    void ApplyMenuTranslations();

    // The menu holding the index-th popup (items with a submenu counted depth first, from 0) and its
    // position there; null when there is no such popup.
    static HMENU FindPopupByIndex(HMENU menu, int index, int* position);
    // Sets an item's text (converted to the system code page), keeping its type. E_INVALIDARG for a bad
    // menu or no text, E_FAIL when the item is not there or cannot be set.
    static HRESULT SetMenuItemText(HMENU menu, UINT item, BOOL byPosition, const wchar_t* text);
    // path (empty: the program file) followed by "?<id>,<type>".
    static HRESULT BuildResourceLocation(UINT id, const wchar_t* type, CxString* location, const wchar_t* path);
    static HRESULT BuildResourceLocation(UINT id, UINT type, CxString* location, const wchar_t* path);

    // CXM_GETLANGUAGE .. CXM_TRANSLATE; the window's message map calls this first.
    BOOL ProcessLanguageMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    // The Language menu's commands and their update (kIdRebuildLanguageList, CX_ID_LANGUAGE_FIRST ..
    // CX_ID_LANGUAGE_LAST), for the window's OnCmdMsg; TRUE when handled.
    BOOL OnLanguageCmdMsg(UINT id, int code, void* extra, void* handlerInfo);
    // Rebuilds the Language menu while the pack list is empty; the window calls it when asked whether its
    // persisted settings may be saved or loaded (so at start).
    HRESULT EnsureLanguageMenu();

    // The persisted "Language" entry of the window: saved through CXM_GETLANGUAGE, restored through
    // CXM_SELECTLANGUAGE.
    static CxPersistEntry LanguageEntry(HWND hWnd);
    static HRESULT LanguageGet(CxPersistCall& call);
    static HRESULT LanguageSet(CxPersistCall& call);

    // Window thread only.
    const wchar_t* GetBuiltInLanguage() const { return m_builtIn; }
    int GetCurrentLanguageCommand() const { return m_currentCommand; }
    const CxPackEntries& GetLanguagePacks() const { return *m_packs; }
    // Any thread: the loaded text of the id or of {item, menu}, without the string table.
    BOOL FindLoadedText(CxString& text, UINT id);
    BOOL FindMenuText(CxString& text, UINT item, UINT menu);

private:
    class Lock;
    HRESULT LoadInto(const wchar_t* location, const CLanguageKeyTables& keys, CLanguageTables& tables,
                     const CxArray<CTranslationEntry>* reference, CxArray<CTranslationEntry>* collect);
    HRESULT CopyTables(CLanguageTables& copy);
    BOOL IsUsableLanguageFile(const CxString& file);
    void UpdateCurrentCommand();
    LRESULT OnGetLanguageText(const CxPackTextRequest* request, CxString* text);
    void OnTranslate(const wchar_t* location);

    CLanguageHost& m_host;
    mutable CRITICAL_SECTION m_lock;
    std::unique_ptr<CLanguageTables> m_tables;
    std::unique_ptr<CxPackEntries> m_packs;
    CxString m_current;
    CxString m_builtIn;
    int m_currentCommand = -1;
    int m_builtInIndex = -1;
};

// Whether a pack's text may replace the built-in text of the id: where the text serves as a format
// (the ids known to, or a built-in text holding a conversion), its conversions must be the built-in
// text's, in order.
BOOL IsSafeTranslation(UINT id, const wchar_t* builtIn, const wchar_t* pack);
