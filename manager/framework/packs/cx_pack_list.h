// Skin and language packs: INI files found below "\SKINS" and "\LANGUAGES" beside the program, each
// described by its [common] section. The pack list finds and reads them, offers them in a menu, answers
// the pack queries of other windows, and validates, applies and remembers the chosen skin.
#pragma once

#include "manager/framework/images/cx_skin_image.h"
#include "manager/framework/skin/cx_skin_props.h"
#include "manager/framework/windows/cx_array.h"
#include "manager/framework/windows/cx_persist.h"
#include "manager/framework/windows/cx_string.h"
#include "manager/framework/windows/cx_wnd.h"

#include <windows.h>

// ---- Menu command ids ----

constexpr UINT CX_ID_PACK_ANCHOR = 60000;  // packs are inserted before this item
constexpr UINT CX_ID_PACK_FIRST = 60001;   // skin packs: first id + position in the sorted list
constexpr UINT CX_ID_PACK_LAST = 60255;
constexpr UINT CX_ID_PACK_SEPARATOR = 60256;  // separator after the skin packs
constexpr UINT CX_ID_LANGUAGE_FIRST = 60258;  // language packs
constexpr UINT CX_ID_LANGUAGE_LAST = 60512;
constexpr UINT CX_ID_TOOLTIPS = 60516;  // tool tips on/off
constexpr int CX_MAX_PACKS = 255;       // packs a menu offers

// ---- Pack entries ----

// The pack description section and its keys, in this order (the index is the key index of
// CXM_GETPACKTEXT): name and dscr ("|"-separated parts), path (0: the pack's folder, 1: the INI file
// itself, which identifies the pack), icon (up to two icon locations).
constexpr const wchar_t* CX_PACK_SECTION = L"common";
constexpr int CX_PACKKEY_NAME = 0;
constexpr int CX_PACKKEY_DSCR = 1;
constexpr int CX_PACKKEY_PATH = CX_PACKTEXT_PATH;
constexpr int CX_PACKKEY_ICON = 3;
constexpr int CX_PACKKEY_COUNT = 4;

struct CxPackEntry {
    CxSkinTexts keys[CX_PACKKEY_COUNT];
    int id = -1;  // the menu command id; -1 while the pack is in no menu

    // Element index of key, or null.
    const wchar_t* Text(int key, int index) const;
    const wchar_t* Name() const { return Text(CX_PACKKEY_NAME, 0); }
    const wchar_t* IniPath() const { return Text(CX_PACKKEY_PATH, 1); }
};

// The pack entries, owned one by one so that sorting moves pointers only.
class CxPackEntries {
public:
    CxPackEntries() = default;
    CxPackEntries(const CxPackEntries&) = delete;
    CxPackEntries& operator=(const CxPackEntries&) = delete;
    ~CxPackEntries() { RemoveAll(); }

    int GetCount() const { return m_entries.GetCount(); }
    CxPackEntry& ElementAt(int i) { return *m_entries.ElementAt(i); }
    const CxPackEntry& ElementAt(int i) const { return *m_entries.ElementAt(i); }
    // Takes the entry over (it is deleted when it cannot be added). E_INVALIDARG for null, E_OUTOFMEMORY.
    HRESULT Add(CxPackEntry* entry);
    void Swap(int i, int j);
    void RemoveAll();

private:
    CxArray<CxPackEntry*> m_entries{8};
};

// Appends the pack description keys (section "common": name 1 part, dscr 1, path 1, icon 2), read as
// texts for the owner.
HRESULT CxAppendPackKeys(CxSkinPropEntries& list, HWND owner);

// Reads the description of one pack file (a path or a resource location) for the owner: the four keys
// of its "common" section, the pack's folder resolved against the file's folder, the file's full path
// and its icons resolved the same way. E_FAIL when the file has no "common" section (or no file is
// there), E_INVALIDARG for a dead owner, else the reading's failure.
HRESULT CxReadPackEntry(HWND owner, const wchar_t* iniFile, CxPackEntry* entry);

// Resolves a folder or file named in a pack against the pack's folder without touching the process's
// current directory: environment references expanded, a relative path put below base, the result made
// absolute and a trailing "\" removed. Resource locations stay as they are. With mustBeFolder the result
// is emptied unless it names an existing folder. An empty value gives base itself.
HRESULT CxResolvePackPath(const wchar_t* value, const wchar_t* base, BOOL mustBeFolder, CxString* out);

// ---- Folders, files and menus ----

// The program file's folder followed by "\SKINS" (skins nonzero) or "\LANGUAGES".
HRESULT CxGetPackFolder(CxString* folder, BOOL skins);

// Deepest folder level below the root that the INI file search enters.
constexpr int CX_PACK_MAX_DEPTH = 16;
// Appends every file below the folder whose name ends in exactly ".INI" (case-sensitive), depth first in
// the order the search returns the entries. Folders that are reparse points, folders already visited
// (a link back to a folder above) and folders deeper than CX_PACK_MAX_DEPTH are not entered.
// E_INVALIDARG for an empty folder, E_OUTOFMEMORY; S_OK otherwise (a missing folder lists nothing).
HRESULT CxEnumIniFiles(const wchar_t* folder, CxArray<CxString>& files);

// Inserts the packs before the anchor item as radio-check items sorted by name (a pack without a name
// shows its INI file's title; a swap touching the pinned position is refused), ids firstId + position,
// check marks drawn from the pack's icons, then a separator. At most CX_MAX_PACKS are offered.
// E_INVALIDARG for a bad menu, E_FAIL without the anchor; S_FALSE with no packs or a failed insertion.
HRESULT CxAppendPackMenu(HMENU menu, CxPackEntries& packs, UINT anchorId, int pinned, UINT firstId, UINT separatorId);
// Deletes the items firstId..lastId and separatorId from the menu, with their check-mark bitmaps.
void CxRemovePackMenu(HMENU menu, UINT firstId, UINT lastId, UINT separatorId);

// ---- The pack list component ----

class CxPackList : public virtual CxWndLink, public virtual CxSkinProps {
public:
    CxPackList(const CxPackList&) = delete;
    CxPackList& operator=(const CxPackList&) = delete;

    // A plain file (no wildcards) that exists and is not a folder is kept, whatever its attribute bits;
    // otherwise the built-in pack file replaces it (S_OK), E_FAIL when there is none. Low flag 0x4 is
    // cleared on the window unless the built-in file passed the check.
    virtual HRESULT ValidateSkinFile(CxString& file);
    // CXM_ASKOWNER: nonzero for every named section, which lets readers fall back to the built-in skin.
    virtual BOOL AllowBuiltInFallback(const wchar_t* section, const wchar_t* key);
    // The position the menu keeps in place: the second pack number with low flag 0x40, else -1.
    virtual int GetPinnedPosition();

    // S_OK when an entry the pattern finds has any bit of the mask (a file with no attribute bits counts
    // as FILE_ATTRIBUTE_NORMAL); E_NOTIMPL otherwise and for a null or empty pattern.
    static HRESULT HasFiles(const wchar_t* pattern, DWORD mask);
    // The id of the first pack whose INI path equals the text, ignoring case; -1 when none.
    static int FindByText(const CxPackEntries& packs, const wchar_t* iniPath);
    // A new framework heap copy of the INI path of the pack with the id; null when none has it.
    static wchar_t* GetTextById(const CxPackEntries& packs, int id);

    // Empties the list, lists the skin packs when scanning, lets the window add its files
    // (CXM_PACKLISTBUILT) and reads each file; a file that cannot be read is left out.
    HRESULT Rebuild(BOOL scan);
    // Rebuilds the list and the pack items of the menu; pinned -1 takes GetPinnedPosition.
    HRESULT BuildPackMenu(HMENU menu, int pinned);
    // The skin file given, or the INI path of the pack with the id when the text is empty, validated,
    // stored as the current skin file and sent with CXM_APPLYSKINFILE to every descendant and then to
    // the window itself, with the window's answers to the pack queries (CxSkinPackData) so that no
    // reader asks them again. The validation's failure, else S_OK.
    HRESULT ApplySelectedSkin(const wchar_t* text, int packId);

    // CXM_BUILDPACKMENU .. CXM_GETPACKFILE, for map ids 0 (the link's entries first) and -1.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

    // The persisted "Skin" entry of the window: saved from CXM_GETSKINFILE, loaded through
    // CXM_APPLYSELECTEDSKIN (so it is validated).
    static CxPersistEntry SkinEntry(HWND hWnd);
    static HRESULT SkinGet(CxPersistCall& call);
    static HRESULT SkinSet(CxPersistCall& call);

    // The built-in pack (set by the owner), which comes first in the list and replaces invalid files.
    HRESULT SetBuiltInPackFile(const wchar_t* file) { return m_builtInFile.Assign(file); }
    void SetSecondPack(int number) { m_secondPack = number; }

    const CxPackEntries& GetPacks() const { return m_packs; }
    int GetCurrentPackId() const { return m_currentId; }
    const wchar_t* GetCurrentSkinFile() const { return m_skinFile; }

protected:
    CxPackList() = default;
    ~CxPackList() override = default;

private:
    // Element of a key text of the pack the request names (after its selector); empty and S_FALSE when
    // there is no such pack.
    HRESULT GetPackText(const CxPackTextRequest& request, CxString* text) const;
    LRESULT OnGetPackText(const CxPackTextRequest* request, CxString* text);
    // The fallback permission of the pack data a skin switch hands down (context: the pack list).
    static BOOL AllowFallbackFor(void* context, const wchar_t* section, const wchar_t* key);
    void OnPackListBuilt(CxArray<CxString>* files);
    void UpdateCurrentId();

    CxPackEntries m_packs;
    int m_currentId = -1;
    CxString m_skinFile;
    int m_secondPack = -1;
    CxString m_builtInFile;
};
