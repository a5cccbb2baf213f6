#include "manager/framework/images/cx_image_spec.h"

#include "manager/framework/images/cx_image_load.h"
#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/windows/cx_platform.h"
#include "manager/framework/windows/cx_wnd.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

HRESULT ExpandEnvironment(const std::wstring& spec, std::wstring* expanded)
{
    char* ansi = CxW2ANew(spec.c_str());
    if (ansi == nullptr)
        return E_FAIL;
    std::vector<char> buffer(0x8000);
    DWORD needed = ExpandEnvironmentStringsA(ansi, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (needed > buffer.size()) {
        buffer.resize(needed);
        needed = ExpandEnvironmentStringsA(ansi, buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    CxFree(ansi);
    if (needed == 0 || needed > buffer.size())
        return E_FAIL;
    wchar_t* wide = CxA2WNew(buffer.data());
    if (wide == nullptr)
        return E_FAIL;
    *expanded = wide;
    CxFree(wide);
    return S_OK;
}

// The fallback's reader of a skin value: the built-in skin is a resource ("?139,INI"), read through a
// temporary copy; a plain path is read as it is.
HRESULT ReadSkinValue(const wchar_t* file, const wchar_t* section, const wchar_t* key, CxString* value)
{
    struct Request {
        const wchar_t* section;
        const wchar_t* key;
        CxString* value;
    } request{section, key, value};
    return CxWithResolvedFile(
        file,
        [](const CxResolvedFile& resolved) {
            const auto* r = static_cast<const Request*>(resolved.context);
            return CxIniReadString(resolved.path, r->section, r->key, r->value);
        },
        &request);
}

// The folder of the reader's pack: from the pack data for the current and the second pack, else
// asked of the owner (CXM_GETPACKTEXT).
HRESULT GetPackFolder(const CxSkinImageReader& reader, CxString* folder)
{
    if (reader.pack != nullptr && reader.packSelector == CX_PACK_CURRENT)
        return folder->Assign(reader.pack->currentFolder);
    if (reader.pack != nullptr && reader.packSelector == CX_PACK_BUILTIN)
        return folder->Assign(reader.pack->secondFolder);
    CxPackTextRequest request{CX_PACKTEXT_PATH, 0, reader.packId, reader.packSelector};
    SendMessageW(reader.owner, CXM_GETPACKTEXT, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(folder));
    return S_OK;
}

}  // namespace

// ---- Options ----

HRESULT CxParseImageOptions(CxString& spec, ULONGLONG* options, BOOL strip)
{
    if (options == nullptr)
        return E_INVALIDARG;
    *options = 0;
    CxArray<CxString> parts;
    const HRESULT split = CxStrSplit(spec, L",", parts, 3);
    if (FAILED(split))
        return split;
    if (parts.GetCount() <= 1)
        return S_FALSE;
    static const struct {
        const wchar_t* name;
        ULONGLONG bit;
    } kOptions[] = {{L"/cut", CX_IMAGEOPT_CUT}};
    const wchar_t* last = parts.GetAt(parts.GetCount() - 1);
    for (const auto& option : kOptions) {
        if (last != nullptr && wcsstr(last, option.name) != nullptr)
            *options |= option.bit;
    }
    if (*options == 0)
        return S_FALSE;
    if (strip) {
        std::wstring text = static_cast<const wchar_t*>(spec);
        const HRESULT hr = spec.Assign(text.substr(0, text.rfind(L',')).c_str());
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// ---- The image key's parser ----

HRESULT CxLoadImageSpec(CxSkinImageReader* reader, const wchar_t* spec)
{
    if (reader == nullptr || reader->target == nullptr)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    HBITMAP bitmap = nullptr;
    HRGN region = nullptr;
    do {
        CxString text(spec);
        if (text.IsEmpty()) {
            hr = E_INVALIDARG;
            break;
        }
        ULONGLONG options = 0;
        hr = CxParseImageOptions(text, &options, TRUE);
        if (FAILED(hr))
            break;
        std::wstring location = static_cast<const wchar_t*>(text);
        // The pack's folder is the base of relative file paths; resources and rooted paths (also those
        // an environment reference makes rooted) stand alone.
        std::wstring expanded;
        if (SUCCEEDED(ExpandEnvironment(location, &expanded)) && CxIsRelativeFilePath(expanded.c_str()) &&
            IsWindow(reader->owner)) {
            CxString folder;
            const HRESULT known = GetPackFolder(*reader, &folder);
            if (FAILED(known)) {
                hr = known;
                break;
            }
            if (!folder.IsEmpty())
                location = std::wstring(folder) + L"\\" + location;
        }
        hr = ExpandEnvironment(location, &location);
        if (FAILED(hr))
            break;
        CxResourceSpec resource;
        const HRESULT parsed = CxParseResourceSpec(location.c_str(), &resource);
        if (FAILED(parsed)) {
            hr = parsed;
            break;
        }
        bool wantRegion = false;
        if (options & CX_IMAGEOPT_CUT) {
            DWORD flags[2] = {0, 0};
            if (IsWindow(reader->owner) &&
                SendMessageW(reader->owner, CXM_GETFLAGS, reinterpret_cast<WPARAM>(flags), 0) != 0)
                wantRegion = (flags[1] & CXFH_NOREGIONCUT) == 0;
        }
        HRGN* regionOut = wantRegion ? &region : nullptr;
        if (parsed == S_OK) {
            // A resource without a type is a bitmap.
            hr = CxLoadSkinImage(CX_IMAGE_RESOURCE, resource.module, resource.id,
                                 resource.HasType() ? resource.Type() : RT_BITMAP, reader->owner, regionOut, &bitmap);
        } else {
            hr = CxLoadSkinImage(CX_IMAGE_FILE, location.c_str(), 0, nullptr, reader->owner, regionOut, &bitmap);
        }
    } while (false);
    const HRESULT added = reader->target->Add(bitmap, region);
    return FAILED(hr) ? hr : added;
}

namespace {

// Loads the same part of the built-in skin in place of the failed last entry.
HRESULT FallBackToBuiltIn(CxSkinImageReader* reader, int index)
{
    CxString builtIn;
    const HRESULT allowed =
        CxGetFallbackPackFile(reader->owner, reader->pack, reader->file, reader->section, reader->key, &builtIn);
    if (FAILED(allowed))
        return allowed;
    if (reader->target == nullptr || reader->target->GetCount() == 0)
        return E_NOTIMPL;
    CxString value;
    CxSkinValueReader read = reader->readValue != nullptr ? reader->readValue : ReadSkinValue;
    if (FAILED(read(builtIn, reader->section, reader->key, &value)))
        return E_ABORT;
    CxArray<CxString> parts;
    if (FAILED(CxStrSplit(value, L"|", parts, INT_MAX)) || !parts.IsValidIndex(index) || parts.GetAt(index).IsEmpty())
        return E_ABORT;
    if (FAILED(reader->target->RemoveLast()))
        return E_UNEXPECTED;
    const int selector = reader->packSelector;
    reader->packSelector = CX_PACK_BUILTIN;
    const HRESULT hr = CxLoadImageSpec(reader, parts.GetAt(index));
    reader->packSelector = selector;
    return hr;
}

}  // namespace

HRESULT CxSkinParseImageList(CxSkinImageReader* reader)
{
    if (reader == nullptr || reader->target == nullptr)
        return E_INVALIDARG;
    CxArray<CxString> parts;
    HRESULT result = CxSkinSplitValue(reader->value, reader->valueCount, parts);
    if (FAILED(result))
        return result;
    result = S_OK;
    reader->target->SetGrowBy(parts.GetCount());
    for (int i = 0; i < parts.GetCount(); ++i) {
        HRESULT hr = CxLoadImageSpec(reader, parts.GetAt(i));
        if (FAILED(hr)) {
            const HRESULT fallback = FallBackToBuiltIn(reader, i);
            if (SUCCEEDED(fallback))
                hr = fallback;
        }
        if (FAILED(hr))
            result = hr;
    }
    return result;
}

HRESULT CxSkinParseImage(const CxSkinValue& value)
{
    CxSkinImageReader reader;
    reader.owner = value.owner;
    reader.file = value.given != nullptr ? value.given : value.file;
    reader.section = value.section;
    reader.key = value.key;
    reader.valueCount = value.count;
    reader.value = value.value;
    reader.target = static_cast<CxSkinImageList*>(value.target);
    reader.pack = value.pack;
    return CxSkinParseImageList(&reader);
}
