// Skin files: location specs (a file path, or "[module]?id,type[,options]" naming a resource of a
// loaded module), temporary copies of resources, and INI reading through the system's profile calls.
#pragma once

#include "manager/framework/windows/cx_array.h"
#include "manager/framework/windows/cx_string.h"

#include <windows.h>

// The built-in skin: an INI resource of the program.
constexpr UINT CX_IDR_BUILTIN_SKIN = 139;
constexpr const wchar_t* CX_BUILTIN_SKIN_SPEC = L"?139,INI";

// Splits text at delimiter into at most maxParts parts (text after the last allowed part is dropped).
// With maxParts < 1, an empty text or an empty delimiter the whole text is the one part (S_FALSE). The
// array is emptied first. E_OUTOFMEMORY.
HRESULT CxStrSplit(const wchar_t* text, const wchar_t* delimiter, CxArray<CxString>& parts, int maxParts);
// Appends empty texts until the array has n elements (-1: at least one). E_OUTOFMEMORY.
HRESULT CxArraySetMinCount(CxArray<CxString>& array, int n);

// Frees a global memory block unless it was handed on.
class CxGlobalOwner {
public:
    explicit CxGlobalOwner(HGLOBAL memory = nullptr) : m_memory(memory) {}
    ~CxGlobalOwner()
    {
        if (m_memory != nullptr)
            GlobalFree(m_memory);
    }
    CxGlobalOwner(const CxGlobalOwner&) = delete;
    CxGlobalOwner& operator=(const CxGlobalOwner&) = delete;
    HGLOBAL Get() const { return m_memory; }
    HGLOBAL* Receive() { return &m_memory; }
    HGLOBAL Release()
    {
        HGLOBAL memory = m_memory;
        m_memory = nullptr;
        return memory;
    }

private:
    HGLOBAL m_memory;
};

// ---- Location specs ----

struct CxResourceSpec {
    CxString module;  // empty: the program itself
    UINT id = 0;
    WORD typeId = 0;    // the type when given as a number
    CxString typeName;  // the type when given as a name ("IMG", "INI")
    CxString options;   // whatever follows the type (",/cut" -> "/cut")

    bool HasType() const { return typeId != 0 || !typeName.IsEmpty(); }
    // The type as FindResource takes it.
    LPCWSTR Type() const { return typeId != 0 ? MAKEINTRESOURCEW(typeId) : static_cast<const wchar_t*>(typeName); }
};

// S_OK for a resource spec; S_FALSE for a plain path (no "?" or nothing behind it); E_UNEXPECTED when
// the id or a numeric type is not a number that fits; E_OUTOFMEMORY.
HRESULT CxParseResourceSpec(const wchar_t* spec, CxResourceSpec* out);
// The module a spec names, among the modules already loaded; never loads one (skin files are not
// trusted to choose code). Null when it is not loaded.
HMODULE CxFindSpecModule(const wchar_t* module);
// A copy of the resource's bytes in movable, zero-initialised global memory, which the caller frees.
// E_INVALIDARG when the module is not loaded or the resource is missing, E_OUTOFMEMORY.
HRESULT CxLoadResourceToGlobal(const CxResourceSpec& spec, HGLOBAL* memory, DWORD* size);
// Writes size bytes of the memory to a new file (no sharing, replacing one of the same name).
// E_INVALIDARG for an empty path or a size beyond the memory, E_ACCESSDENIED when the file cannot be
// created or the memory locked, E_ABORT when fewer bytes were written (the partial file is removed).
HRESULT CxWriteGlobalToFile(const wchar_t* path, HGLOBAL memory, DWORD size, BOOL flush);
// A new path in the manager's temporary folder: "TMP" and the hexadecimal fields of a new GUID.
HRESULT CxMakeTempFileName(CxString* path);
// For a resource spec: its bytes into global memory when memory is given; otherwise into a new
// temporary file whose path replaces the spec (S_OK: the caller deletes it). E_FAIL for a plain path,
// which the caller reads as it is; otherwise the failure of the step.
HRESULT CxResolveLocation(CxString& spec, HGLOBAL* memory, DWORD* size);

struct CxResolvedFile {
    const wchar_t* path;   // the file to read
    const wchar_t* given;  // the spec as given when path is a temporary copy of a resource, else null
    void* context;
};
using CxResolvedFileCallback = HRESULT (*)(const CxResolvedFile& file);
// Resolves the spec to a file, calls back with it and deletes a temporary copy afterwards. E_INVALIDARG
// for a null callback, E_UNEXPECTED when no path remains, a resolving failure, else the callback's.
HRESULT CxWithResolvedFile(const wchar_t* spec, CxResolvedFileCallback callback, void* context);

// True for a file path that is neither a resource spec nor absolute ("C:\...", "\...", "\\server\...").
bool CxIsRelativeFilePath(const wchar_t* spec);
// Puts the pack folder in front of a relative file path ("folder\spec"); resource specs, absolute paths
// and an empty folder leave the spec as it is (S_FALSE). E_OUTOFMEMORY.
HRESULT CxPrefixPackFolder(CxString& spec, const wchar_t* folder);

// ---- INI reading ----

// The value of a key as the system's profile reader gives it ("" when the key or section is missing).
// E_INVALIDARG for a null file, section or key or out; E_OUTOFMEMORY.
HRESULT CxIniReadString(const wchar_t* file, const wchar_t* section, const wchar_t* key, CxString* value);
// Longest value read, in characters.
constexpr DWORD CX_INI_VALUE_CHARS = 16384;
