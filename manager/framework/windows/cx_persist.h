// Persisted properties: settings a window or the application keeps in the current user's registry as
// text values, one value per named property, described once as a table of entries and saved or loaded
// in one pass. Also the registry helpers beneath them and the window placement property.
#pragma once

#include "manager/framework/windows/cx_array.h"
#include "manager/framework/windows/cx_string.h"
#include "manager/framework/windows/cx_wnd.h"

// A registry key path below a root key, one component per element.
using CxKeyPath = CxArray<CxString>;

// Appends one component to a path; E_OUTOFMEMORY when it cannot grow.
HRESULT CxKeyPathAdd(CxKeyPath& path, const wchar_t* component);

// ---- Registry helpers (wide calls on the NT family, ANSI ones otherwise) ----

// Creates or opens each component in turn (read, create-subkey and set-value access); the last key is
// handed to the caller, who closes it. E_INVALIDARG for an empty path, E_ABORT when a key cannot be
// created or opened, E_OUTOFMEMORY.
HRESULT CxRegOpenKeyPath(HKEY root, const CxKeyPath& path, HKEY* key);
// The value's text, the keys opened for reading only (a query creates nothing and needs no write access):
// S_OK when a string value was read, S_FALSE when the default was used (no key, no
// value, not a string value, or an unreasonably long one). The text read is always terminated.
HRESULT CxRegQueryValue(HKEY root, const CxKeyPath& path, const wchar_t* name, const wchar_t* defaultText,
                        CxString* value);
// Writes a REG_SZ value with its terminator, or deletes the value for an empty or null text. Any
// registry failure is E_ACCESSDENIED.
HRESULT CxRegSetValue(HKEY root, const CxKeyPath& path, const wchar_t* name, const wchar_t* text);

// Longest value text that is read (characters, terminator excluded).
constexpr DWORD CX_MAX_PERSIST_TEXT = 16383;

// ---- Property entries and records ----

// What a callback gets: the value text (the working slot), the entry's format and value count, the
// callback's context, the record's key path and the property name.
struct CxPersistCall {
    CxString text;
    const wchar_t* format;
    int valueCount;
    void* context;
    const CxKeyPath* path;
    const wchar_t* name;
};
using CxPersistCallback = HRESULT (*)(CxPersistCall& call);
// Frees a context that the record list owns.
using CxPersistContextFree = void (*)(void* context);

// One property as a window's builder declares it; a table ends with an entry whose name is null.
struct CxPersistEntry {
    const wchar_t* name;      // also the registry value name
    const wchar_t* format;    // printf/scanf format of the value text
    int valueCount;           // fields the set callback parses
    const wchar_t* saveText;  // written when there is no get callback
    CxPersistCallback get;    // stores the current value as text
    void* getContext;
    const wchar_t* loadDefault;  // used when the registry holds no value
    CxPersistCallback set;       // applies a loaded text
    void* setContext;
    CxPersistContextFree freeContext;  // when set, the record list owns the contexts and frees them once
};

// The stored copy of an entry; its texts are owned copies.
struct CxPersistRecord {
    CxString value;
    CxString name;
    CxString format;
    int valueCount = 0;
    CxString saveText;
    CxPersistCallback get = nullptr;
    void* getContext = nullptr;
    CxString loadDefault;
    CxPersistCallback set = nullptr;
    void* setContext = nullptr;
    CxPersistContextFree freeContext = nullptr;
};

using CxPersistEntries = CxArray<CxPersistEntry>;

// ---- The component ----

class CxPersistProps : public virtual CxWndFlags {
public:
    CxPersistProps(const CxPersistProps&) = delete;
    CxPersistProps& operator=(const CxPersistProps&) = delete;

    // The class's builder: appends its entries to the list, then the base builds the records.
    virtual HRESULT GetPersistProps(CxPersistEntries& list);
    // S_OK when allowed is nonzero, else E_ACCESSDENIED.
    virtual HRESULT CanLoad(BOOL allowed);
    // HKEY_CURRENT_USER.
    virtual HKEY GetRootKey();
    // Appends the class's key path components.
    virtual HRESULT GetPersistKeyPath(CxKeyPath& path) = 0;

    // Asks root and path once, empties the stored list and stores one record per entry.
    HRESULT Build(const CxPersistEntries& list);
    // Writes every record (low flag 0x1 required). S_OK or the last failure.
    HRESULT Save();
    // Reads every record and applies it (CanLoad with low flag 0x2). S_OK or the last failure.
    HRESULT Load();
    // Builds the list through GetPersistProps and loads it.
    HRESULT Restore();

    int GetRecordCount() const { return m_records.GetCount(); }
    const CxKeyPath& GetStoredPath() const { return m_path; }

protected:
    CxPersistProps() = default;
    virtual ~CxPersistProps();

private:
    void ClearRecords();

    CxArray<CxPersistRecord> m_records;
    HKEY m_root = nullptr;
    CxKeyPath m_path;
};

// Binds the component to a window: answers the save, load, root-key and key-path messages.
class CxPersistWnd : public virtual CxPersistProps, public virtual CxWndLink {
public:
    // Map id 0 runs the link's entries first, -1 only these.
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxPersistWnd() = default;
    ~CxPersistWnd() override = default;
};

// The component of a child window: its values live under its parent's key, so the root key and the
// key path are asked of the parent.
class CxPersistChild : public CxPersistWnd {
public:
    HKEY GetRootKey() override;
    HRESULT GetPersistKeyPath(CxKeyPath& path) override;

protected:
    CxPersistChild() = default;
    ~CxPersistChild() override = default;
};

// ---- Window placement ----

// The "Placement" entry of a window: "%d,%d,%d,%d,%d,%d" = normal rectangle, show command, flags.
CxPersistEntry CxPlacementEntry(HWND hWnd);
HRESULT CxPlacementGet(CxPersistCall& call);
HRESULT CxPlacementSet(CxPersistCall& call);
