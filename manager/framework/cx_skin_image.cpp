#include "manager/framework/cx_skin_image.h"

#include "manager/framework/cx_platform.h"
#include "manager/framework/cx_skin_file.h"
#include "manager/framework/cx_skin_props.h"

#include <cstring>
#include <cwchar>
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

// A bitmap resource is a packed DIB: decoders want the file header in front. A new block holding the
// header and the packed bytes.
HRESULT PrependBitmapFileHeader(HGLOBAL packed, DWORD length, HGLOBAL* memory, DWORD* size)
{
    constexpr DWORD prefix = sizeof(BITMAPFILEHEADER);
    if (length == 0 || length > MAXDWORD - prefix)
        return E_INVALIDARG;
    CxGlobalOwner block;
    *block.Receive() = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length + prefix);
    auto* to = block.Get() != nullptr ? static_cast<BYTE*>(GlobalLock(block.Get())) : nullptr;
    if (to == nullptr)
        return E_OUTOFMEMORY;
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(packed));
    if (bytes == nullptr) {
        GlobalUnlock(block.Get());
        return E_OUTOFMEMORY;
    }
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfSize = length + prefix;
    DWORD headerSize = 0;
    if (length >= sizeof(DWORD))
        std::memcpy(&headerSize, bytes, sizeof(DWORD));
    DWORD table = 0;
    if (headerSize >= sizeof(BITMAPINFOHEADER) && length >= sizeof(BITMAPINFOHEADER)) {
        BITMAPINFOHEADER info;
        std::memcpy(&info, bytes, sizeof(info));
        const DWORD colors = info.biClrUsed != 0    ? info.biClrUsed
                             : info.biBitCount <= 8 ? (1u << info.biBitCount)
                                                    : 0;
        table = colors * 4 + (headerSize == 40 && info.biCompression == BI_BITFIELDS ? 12 : 0);
    } else if (headerSize == sizeof(BITMAPCOREHEADER) && length >= sizeof(BITMAPCOREHEADER)) {
        BITMAPCOREHEADER core;
        std::memcpy(&core, bytes, sizeof(core));
        table = core.bcBitCount <= 8 ? (3u << core.bcBitCount) : 0;
    }
    header.bfOffBits = prefix + headerSize + table;
    std::memcpy(to, &header, sizeof(header));
    std::memcpy(to + prefix, bytes, length);
    GlobalUnlock(packed);
    GlobalUnlock(block.Get());
    *memory = block.Release();
    *size = length + prefix;
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

// ---- Decoding ----

HRESULT CxReadFileToGlobal(const wchar_t* path, HGLOBAL* memory, DWORD* size, DWORD access, DWORD share,
                           DWORD disposition)
{
    if (path == nullptr || memory == nullptr || size == nullptr)
        return E_INVALIDARG;
    *memory = nullptr;
    *size = 0;
    HANDLE file = CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return E_ACCESSDENIED;
    HRESULT hr = S_OK;
    const DWORD length = GetFileSize(file, nullptr);
    HGLOBAL block = nullptr;
    if (length == INVALID_FILE_SIZE) {
        hr = E_FAIL;
    } else {
        block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length != 0 ? length : 1);
        void* to = block != nullptr ? GlobalLock(block) : nullptr;
        if (to == nullptr) {
            hr = E_OUTOFMEMORY;
        } else {
            DWORD read = 0;
            if (!ReadFile(file, to, length, &read, nullptr) || read != length)
                hr = E_ABORT;
            GlobalUnlock(block);
        }
    }
    CloseHandle(file);
    if (FAILED(hr)) {
        if (block != nullptr)
            GlobalFree(block);
        return hr;
    }
    *memory = block;
    *size = length;
    return S_OK;
}

HRESULT CxLoadPicture(HGLOBAL memory, DWORD size, IPicture** picture)
{
    if (picture == nullptr)
        return E_POINTER;
    *picture = nullptr;
    if (memory == nullptr || memory == reinterpret_cast<HGLOBAL>(-1) || size == 0)
        return E_INVALIDARG;
    IStream* stream = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(memory, FALSE, &stream);
    if (FAILED(hr))
        return hr;
    hr = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture, reinterpret_cast<void**>(picture));
    stream->Release();
    if (SUCCEEDED(hr) && *picture == nullptr)
        hr = E_FAIL;
    return hr;
}

HRESULT CxLoadPictureFromFile(const wchar_t* path, IPicture** picture)
{
    CxGlobalOwner memory;
    DWORD size = 0;
    HRESULT hr = CxReadFileToGlobal(path, memory.Receive(), &size, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (FAILED(hr))
        return hr;
    return CxLoadPicture(memory.Get(), size, picture);
}

HRESULT CxLoadPictureFromResource(const wchar_t* module, UINT id, const wchar_t* type, IPicture** picture)
{
    if (picture == nullptr)
        return E_POINTER;
    *picture = nullptr;
    CxResourceSpec spec;
    spec.id = id;
    if (type == nullptr)
        type = RT_BITMAP;
    if (FAILED(spec.module.Assign(module)) || (!IS_INTRESOURCE(type) && FAILED(spec.typeName.Assign(type))))
        return E_OUTOFMEMORY;
    if (IS_INTRESOURCE(type))
        spec.typeId = LOWORD(reinterpret_cast<ULONG_PTR>(type));
    CxGlobalOwner memory;
    DWORD size = 0;
    HRESULT hr = CxLoadResourceToGlobal(spec, memory.Receive(), &size);
    if (FAILED(hr))
        return hr;
    if (type == RT_BITMAP) {
        CxGlobalOwner file;
        hr = PrependBitmapFileHeader(memory.Get(), size, file.Receive(), &size);
        if (FAILED(hr))
            return hr;
        return CxLoadPicture(file.Get(), size, picture);
    }
    return CxLoadPicture(memory.Get(), size, picture);
}

HRESULT CxLoadSkinImage(int source, const wchar_t* name, UINT id, const wchar_t* type, HWND hWnd, HRGN* region,
                        HBITMAP* bitmap)
{
    if (bitmap == nullptr)
        return E_POINTER;
    *bitmap = nullptr;
    if (region != nullptr)
        *region = nullptr;
    CPicturePtr picture;
    HRESULT hr;
    if (source == CX_IMAGE_FILE)
        hr = CxLoadPictureFromFile(name, picture.Receive());
    else if (source == CX_IMAGE_RESOURCE)
        hr = CxLoadPictureFromResource(name, id, type, picture.Receive());
    else
        hr = E_INVALIDARG;
    if (FAILED(hr))
        return hr;
    CxMemDC dc(hWnd);
    hr = dc.AttachPicture(picture.Get(), 32);
    if (FAILED(hr))
        return hr;
    CxGdiOwner<HRGN> cut;
    if (region != nullptr) {
        hr = CxRegionFromDibSection(dc, cut.Receive());
        if (FAILED(hr))
            return hr;
    }
    *bitmap = dc.DetachBitmap();
    if (region != nullptr)
        *region = cut.Release();
    return S_OK;
}

// ---- Regions ----

HRESULT CxRunRectsFromPixels(const DWORD* pixels, int width, int height, CxRunRects* runs)
{
    if (pixels == nullptr || width <= 0 || height <= 0 || runs == nullptr)
        return E_INVALIDARG;
    // The last stored row is the image's top row; its first pixel is the key.
    const size_t total = static_cast<size_t>(width) * static_cast<size_t>(height);
    const DWORD key = pixels[total - width];
    auto close = [runs](RECT& run, bool& open) {
        if (!open)
            return true;
        open = false;
        if (!runs->rects.Add(run))
            return false;
        RECT& b = runs->bound;
        b.left = run.left < b.left ? run.left : b.left;
        b.top = run.top < b.top ? run.top : b.top;
        b.right = run.right > b.right ? run.right : b.right;
        b.bottom = run.bottom > b.bottom ? run.bottom : b.bottom;
        return true;
    };
    size_t i = total;
    for (int y = 0; y < height; ++y) {
        RECT run{};
        bool open = false;
        for (int x = width - 1; x >= 0; --x) {
            const DWORD pixel = pixels[--i];
            if (pixel != key) {
                if (!open)
                    run = RECT{x, y, x + 1, y + 1};
                open = true;
                run.left = x;
            } else if (!close(run, open)) {
                return E_OUTOFMEMORY;
            }
        }
        if (!close(run, open))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CxCreateRegionFromRects(const CxRunRects& runs, HRGN* region)
{
    if (region == nullptr)
        return E_POINTER;
    *region = nullptr;
    const int count = runs.rects.GetCount();
    if (count == 0)
        return E_INVALIDARG;
    std::vector<BYTE> block;
    CxGdiOwner<HRGN> result;
    for (int first = 0; first < count; first += kCxRegionChunk) {
        const int k = count - first < kCxRegionChunk ? count - first : kCxRegionChunk;
        try {
            block.assign(sizeof(RGNDATAHEADER) + sizeof(RECT) * static_cast<size_t>(k), 0);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        auto* data = reinterpret_cast<RGNDATA*>(block.data());
        data->rdh.dwSize = sizeof(RGNDATAHEADER);
        data->rdh.iType = RDH_RECTANGLES;
        data->rdh.nCount = static_cast<DWORD>(k);
        data->rdh.nRgnSize = static_cast<DWORD>(sizeof(RECT) * k);
        data->rdh.rcBound = runs.bound;
        for (int j = 0; j < k; ++j)
            std::memcpy(data->Buffer + sizeof(RECT) * j, &runs.rects.GetAt(first + j), sizeof(RECT));
        HRGN chunk = ExtCreateRegion(nullptr, static_cast<DWORD>(block.size()), data);
        if (result.Get() == nullptr) {
            if (chunk == nullptr)
                return E_ABORT;
            *result.Receive() = chunk;
            continue;
        }
        if (chunk == nullptr)
            return E_OUTOFMEMORY;
        const int combined = CombineRgn(result.Get(), result.Get(), chunk, RGN_OR);
        DeleteObject(chunk);
        if (combined == ERROR || combined == NULLREGION)
            return E_ABORT;
    }
    *region = result.Release();
    return S_OK;
}

HRESULT CxRegionFromDibSection(const CxMemDC& dc, HRGN* region)
{
    const DIBSECTION& section = dc.GetDibSection();
    if (dc.GetBits() == nullptr || section.dsBm.bmBitsPixel != 32)
        return E_INVALIDARG;
    CxRunRects runs;
    const HRESULT hr = CxRunRectsFromPixels(static_cast<const DWORD*>(dc.GetBits()), section.dsBm.bmWidth,
                                            section.dsBm.bmHeight, &runs);
    if (FAILED(hr))
        return hr;
    return CxCreateRegionFromRects(runs, region);
}

// ---- Image list ----

void CxSkinImageList::Reset()
{
    for (int i = 0; i < m_entries.GetCount(); ++i) {
        const CxSkinImageEntry& entry = m_entries.GetAt(i);
        if (entry.bitmap != nullptr)
            DeleteObject(entry.bitmap);
        if (entry.region != nullptr)
            DeleteObject(entry.region);
    }
    m_entries.RemoveAll();
    m_state = -1;
}

HRESULT CxSkinImageList::Add(HBITMAP bitmap, HRGN region)
{
    if (m_entries.Add(CxSkinImageEntry{bitmap, region}))
        return S_OK;
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    if (region != nullptr)
        DeleteObject(region);
    return E_OUTOFMEMORY;
}

HRESULT CxSkinImageList::RemoveLast()
{
    const int last = m_entries.GetCount() - 1;
    if (last < 0)
        return E_UNEXPECTED;
    const CxSkinImageEntry entry = m_entries.GetAt(last);
    if (!m_entries.SetSize(last))
        return E_UNEXPECTED;
    if (entry.bitmap != nullptr)
        DeleteObject(entry.bitmap);
    if (entry.region != nullptr)
        DeleteObject(entry.region);
    return S_OK;
}

HRESULT CxSkinImageList::GetImage(int index, HBITMAP* bitmap, BOOL mustExist) const
{
    if (bitmap == nullptr || !m_entries.IsValidIndex(index))
        return E_INVALIDARG;
    *bitmap = m_entries.GetAt(index).bitmap;
    return (*bitmap == nullptr && mustExist) ? E_FAIL : S_OK;
}

HRESULT CxSkinImageList::GetRegionHandle(int index, HRGN* region) const
{
    if (region == nullptr || !m_entries.IsValidIndex(index))
        return E_INVALIDARG;
    *region = m_entries.GetAt(index).region;
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
            CxPackTextRequest request{CX_PACKTEXT_PATH, 0, reader->packId, reader->packSelector};
            CxString folder;
            SendMessageW(reader->owner, CXM_GETPACKTEXT, reinterpret_cast<WPARAM>(&request),
                         reinterpret_cast<LPARAM>(&folder));
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
    if (!IsWindow(reader->owner))
        return E_ACCESSDENIED;
    CxString builtIn;
    if (SendMessageW(reader->owner, CXM_GETPACKFILE, reinterpret_cast<WPARAM>(&builtIn), 0) == 0 || builtIn.IsEmpty())
        return E_ACCESSDENIED;
    if (reader->file != nullptr && CxStrCompare(builtIn, reader->file, 1) == 0)
        return E_ACCESSDENIED;
    if (SendMessageW(reader->owner, CXM_ASKOWNER, reinterpret_cast<WPARAM>(reader->section),
                     reinterpret_cast<LPARAM>(reader->key)) == 0)
        return E_ACCESSDENIED;
    if (reader->target == nullptr || reader->target->GetCount() == 0)
        return E_NOTIMPL;
    CxString value;
    CxSkinValueReader read = reader->readValue != nullptr ? reader->readValue : ReadSkinValue;
    if (FAILED(read(builtIn, reader->section, reader->key, &value)))
        return E_ABORT;
    CxArray<CxString> parts;
    if (FAILED(CxStrSplit(value, L"|", parts, INT_MAX)) || !parts.IsValidIndex(index) ||
        parts.GetAt(index).IsEmpty())
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
    return CxSkinParseImageList(&reader);
}

// ---- Window components ----

CxSkinImage::~CxSkinImage()
{
    if (m_hImage != nullptr)
        DeleteObject(m_hImage);
}

void CxSkinImage::SetImageBitmap(HBITMAP bitmap)
{
    if (m_hImage != nullptr && m_hImage != bitmap)
        DeleteObject(m_hImage);
    m_hImage = bitmap;
}

CxSkinBkImage::CxSkinBkImage(bool applyOnCreate)
{
    if (applyOnCreate)
        m_flagsLow |= CXFL_APPLYSHAPEONCREATE;
}

CxSkinBkImage::~CxSkinBkImage()
{
    if (m_hBackground != nullptr)
        DeleteObject(m_hBackground);
}

HRESULT CxSkinBkImage::GetRegion(HRGN*)
{
    return E_NOTIMPL;
}

HRESULT CxSkinBkImage::SetBackground(HBITMAP bitmap)
{
    if (m_flagsLow & CXFL_PAINTINGBKGND) {
        if (bitmap != nullptr && bitmap != m_hBackground)
            DeleteObject(bitmap);
        return E_ACCESSDENIED;
    }
    m_flagsLow |= CXFL_BKGNDBLOCKED;
    if (m_hBackground != nullptr && m_hBackground != bitmap)
        DeleteObject(m_hBackground);
    m_hBackground = bitmap;
    m_flagsLow &= ~CXFL_BKGNDBLOCKED;
    return S_OK;
}

HRESULT CxSkinBkImage::Paint(HDC hdc)
{
    BITMAP info{};
    if (m_hBackground == nullptr || GetObjectW(m_hBackground, sizeof(info), &info) == 0)
        return E_FAIL;
    HWND hWnd = GetWnd();
    HDC target = hdc != nullptr ? hdc : GetDC(hWnd);
    if (target == nullptr)
        return E_FAIL;
    HRESULT hr = S_OK;
    {
        CxMemDC dc(hWnd);
        HGDIOBJ old = dc.GetSafeHdc() != nullptr ? SelectObject(dc.GetSafeHdc(), m_hBackground) : nullptr;
        if (old == nullptr || old == HGDI_ERROR) {
            hr = E_FAIL;
        } else {
            // The target's own clip region is put back afterwards.
            HRGN previousClip = CreateRectRgn(0, 0, 0, 0);
            const bool hadClip = previousClip != nullptr && GetClipRgn(target, previousClip) == 1;
            HRGN clip = nullptr;
            if (SUCCEEDED(GetRegion(&clip)) && clip != nullptr) {
                ExtSelectClipRgn(target, clip, RGN_AND);
                DeleteObject(clip);
            }
            m_flagsLow |= CXFL_PAINTINGBKGND;
            if (!BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, dc.GetSafeHdc(), 0, 0, SRCCOPY))
                hr = E_FAIL;
            m_flagsLow &= ~CXFL_PAINTINGBKGND;
            SelectClipRgn(target, hadClip ? previousClip : nullptr);
            if (previousClip != nullptr)
                DeleteObject(previousClip);
            SelectObject(dc.GetSafeHdc(), old);
        }
    }
    if (hdc == nullptr)
        ReleaseDC(hWnd, target);
    return hr;
}

HRESULT CxSkinShape::GetRegion(HRGN* region)
{
    if (region == nullptr)
        return E_POINTER;
    *region = nullptr;
    HRGN held = nullptr;
    HRESULT hr = m_images.GetRegionHandle(m_images.m_state, &held);
    if (FAILED(hr))
        return hr;
    if (held == nullptr)
        return E_FAIL;
    HRGN copy = CreateRectRgn(0, 0, 0, 0);
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    if (CombineRgn(copy, held, nullptr, RGN_COPY) == ERROR) {
        DeleteObject(copy);
        return E_FAIL;
    }
    *region = copy;
    return S_OK;
}

HRESULT CxSkinShape::ApplyImage()
{
    const int wanted = GetWantedState();
    if (wanted == m_images.m_state)
        return S_FALSE;
    const int previous = m_images.m_state;
    m_images.m_state = wanted;
    HRESULT hr = S_OK;
    CxGdiOwner<HRGN> regionCopy;
    CxGdiOwner<HBITMAP> bitmapCopy;
    do {
        if (m_images.GetCount() == 0) {
            hr = E_ABORT;
            break;
        }
        HBITMAP bitmap = nullptr;
        HRGN region = nullptr;
        hr = m_images.GetImage(wanted, &bitmap, TRUE);
        if (SUCCEEDED(hr))
            hr = m_images.GetRegionHandle(wanted, &region);
        if (FAILED(hr))
            break;
        if (region != nullptr && (m_flagsHigh & CXFH_NOREGIONCUT) == 0) {
            *regionCopy.Receive() = CreateRectRgn(0, 0, 0, 0);
            if (regionCopy.Get() == nullptr || CombineRgn(regionCopy.Get(), region, nullptr, RGN_COPY) == ERROR) {
                hr = E_OUTOFMEMORY;
                break;
            }
        }
        CxMemDC dc(GetWnd());
        hr = dc.AttachBitmap(bitmap, -1);
        if (FAILED(hr))
            break;
        *bitmapCopy.Receive() = dc.DetachBitmap();
        hr = ApplyToWindow(bitmapCopy.Release(), regionCopy.Release());
    } while (false);
    if (FAILED(hr))
        m_images.m_state = previous;
    return hr;
}

HRESULT CxSkinShape::ApplyToWindow(HBITMAP bitmap, HRGN region)
{
    CxGdiOwner<HBITMAP> ownedBitmap(bitmap);
    CxGdiOwner<HRGN> ownedRegion(region);
    HWND hWnd = GetWnd();
    BITMAP info{};
    if (hWnd == nullptr || GetObjectW(bitmap, sizeof(info), &info) == 0)
        return E_ABORT;
    if ((m_flagsLow & CXFL_FRAMEIMAGE) == 0) {
        m_flagsLow |= CXFL_FRAMEIMAGE;
        const UINT frameChanged = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED;
        LONG style = GetWindowLongW(hWnd, GWL_STYLE) | WS_CLIPSIBLINGS;
        if ((m_flagsHigh & CXFH_KEEPFRAMESTYLE) == 0)
            style &= ~static_cast<LONG>(WS_CAPTION | WS_THICKFRAME | DS_MODALFRAME);
        SetWindowLongW(hWnd, GWL_STYLE, style);
        SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, frameChanged);
        if ((m_flagsHigh & CXFH_KEEPFRAMESTYLE) == 0) {
            const LONG exStyle =
                GetWindowLongW(hWnd, GWL_EXSTYLE) &
                ~static_cast<LONG>(WS_EX_STATICEDGE | WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE | WS_EX_DLGMODALFRAME);
            SetWindowLongW(hWnd, GWL_EXSTYLE, exStyle);
            SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, frameChanged);
        }
    }
    CxFrameMetrics frame{};
    if (FAILED(CxGetFrameMetrics(hWnd, &frame)))
        return E_ABORT;
    if (ownedRegion.Get() != nullptr)
        OffsetRgn(ownedRegion.Get(), frame.left, frame.top);
    const int width = info.bmWidth + frame.extraWidth;
    const int height = info.bmHeight + frame.extraHeight;

    // The new bitmap goes to the painter unless a paint is running.
    if ((m_flagsLow & CXFL_PAINTINGBKGND) == 0)
        SetBackground(ownedBitmap.Release());
    UINT flags = SWP_NOCOPYBITS | SWP_FRAMECHANGED | SWP_NOACTIVATE | SWP_NOMOVE;
    if (m_hWndInsertAfter == nullptr)
        flags |= SWP_NOZORDER;
    const bool stretch = (m_flagsHigh & CXFH_STRETCH) != 0;
    const bool maximized = stretch && IsZoomed(hWnd);
    if (stretch) {
        SendMessageW(hWnd, CXM_PRESIZE, static_cast<WPARAM>(width), static_cast<LPARAM>(height));
        if (maximized)
            flags |= SWP_NOSIZE;
    }
    if (!SetWindowPos(hWnd, m_hWndInsertAfter, 0, 0, width, height, flags) && IsWindow(hWnd))
        return E_UNEXPECTED;
    if (maximized) {
        RECT client{};
        GetClientRect(hWnd, &client);
        SendMessageW(hWnd, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(client.right, client.bottom));
    }
    if (ownedRegion.Get() != nullptr)
        SendMessageW(hWnd, CXM_SETREGION, reinterpret_cast<WPARAM>(ownedRegion.Release()), 0);
    if ((m_flagsLow & CXFL_SKINREGION) == 0) {
        m_flagsLow |= CXFL_SKINREGION;
        SendMessageW(hWnd, CXM_FRAMEIMAGESET, 1, 0);
    }
    InvalidateRgn(hWnd, nullptr, TRUE);
    UpdateWindow(hWnd);
    return S_OK;
}

namespace {

// The menu bar of a top-level window, in window coordinates: the rows between the frame above the client
// area (caption and border, as the styles give them) and the client area, as wide as the client area;
// false for a window without one.
bool MenuBarRect(HWND hWnd, RECT* bar)
{
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hWnd, GWL_STYLE));
    if ((style & WS_CHILD) || GetMenu(hWnd) == nullptr)
        return false;
    RECT above{0, 0, 0, 0};
    RECT window{};
    RECT client{};
    POINT origin{0, 0};
    if (!AdjustWindowRectEx(&above, style, FALSE, static_cast<DWORD>(GetWindowLongW(hWnd, GWL_EXSTYLE))) ||
        !GetWindowRect(hWnd, &window) || !GetClientRect(hWnd, &client) || !ClientToScreen(hWnd, &origin))
        return false;
    const int left = origin.x - window.left;
    *bar = RECT{left, -above.top, left + client.right, origin.y - window.top};
    return !IsRectEmpty(bar);
}

}  // namespace

void CxWndRegion::OutlineMenuBar(HWND hWnd, const RECT& bar)
{
    HBITMAP background = m_pShape != nullptr ? m_pShape->GetBackground() : nullptr;
    BITMAP info{};
    if (background == nullptr || GetObjectW(background, sizeof(info), &info) == 0 || info.bmHeight <= 0)
        return;
    // The outline's colour: the frame's left edge halfway down.
    CxMemDC memory(hWnd);
    HGDIOBJ old = SelectObject(memory.GetSafeHdc(), background);
    if (old == nullptr || old == HGDI_ERROR)
        return;
    const COLORREF edge = GetPixel(memory.GetSafeHdc(), 0, info.bmHeight / 2);
    SelectObject(memory.GetSafeHdc(), old);
    HDC dc = GetWindowDC(hWnd);
    if (dc == nullptr || edge == CLR_INVALID) {
        if (dc != nullptr)
            ReleaseDC(hWnd, dc);
        return;
    }
    HBRUSH brush = CreateSolidBrush(edge);
    if (brush != nullptr) {
        const RECT lines[] = {{bar.left, bar.top, bar.right, bar.top + 1},
                              {bar.left, bar.top, bar.left + 1, bar.bottom},
                              {bar.right - 1, bar.top, bar.right, bar.bottom}};
        for (const RECT& line : lines)
            FillRect(dc, &line, brush);
        DeleteObject(brush);
    }
    ReleaseDC(hWnd, dc);
}

CxWndRegion::~CxWndRegion()
{
    if (m_hWaitingRegion != nullptr)
        DeleteObject(m_hWaitingRegion);
}

HRESULT CxWndRegion::SetRegion(HRGN region, HWND leaveOut)
{
    CxGdiOwner<HRGN> owned(region);
    if (m_flagsHigh & CXFH_NOREGIONCUT)
        return E_ACCESSDENIED;
    HWND hWnd = GetWnd();
    if (hWnd == nullptr)
        return E_INVALIDARG;
    if (IsIconic(hWnd)) {
        if (m_hWaitingRegion != nullptr)
            DeleteObject(m_hWaitingRegion);
        m_hWaitingRegion = owned.Release();
        m_flagsLow |= CXFL_REGIONPENDING;
        return S_OK;
    }
    if (owned.Get() != nullptr) {
        for (HWND child = GetWindow(hWnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            if (child != leaveOut)
                SendMessageW(child, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(owned.Get()), RGN_OR);
        }
        HWND parent = GetParent(hWnd);
        if (parent != nullptr && IsWindow(parent) && (GetWindowLongW(hWnd, GWL_STYLE) & WS_POPUP) == 0) {
            const HRESULT hr = ShareWithParent(hWnd, owned.Get());
            if (FAILED(hr))
                return hr;
        }
    }
    // The frame image covers the client area; a menu bar above it stays part of the window, shown and
    // reachable by the mouse.
    RECT bar{};
    if (owned.Get() != nullptr && MenuBarRect(hWnd, &bar)) {
        CxGdiOwner<HRGN> strip(CreateRectRgnIndirect(&bar));
        if (strip.Get() == nullptr || CombineRgn(owned.Get(), owned.Get(), strip.Get(), RGN_OR) == ERROR)
            return E_OUTOFMEMORY;
    }
    if (!SetWindowRgn(hWnd, owned.Get(), TRUE))
        return E_UNEXPECTED;
    owned.Release();  // the system's now
    return S_OK;
}

HRESULT CxWndRegion::ShareWithParent(HWND hWnd, HRGN region)
{
    HWND parent = GetParent(hWnd);
    CxGdiOwner<HRGN> parentRegion;
    if (!SendMessageW(parent, CXM_GETREGION, reinterpret_cast<WPARAM>(parentRegion.Receive()), 1) ||
        parentRegion.Get() == nullptr) {
        *parentRegion.Receive() = CreateRectRgn(0, 0, 0, 0);
        if (parentRegion.Get() == nullptr)
            return E_UNEXPECTED;
        const int kind = GetWindowRgn(parent, parentRegion.Get());
        if (kind == ERROR)
            return E_ABORT;
    }
    CxGdiOwner<HRGN> own(CreateRectRgn(0, 0, 0, 0));
    if (own.Get() == nullptr || CombineRgn(own.Get(), region, nullptr, RGN_COPY) == ERROR)
        return E_UNEXPECTED;
    RECT window{}, parentWindow{};
    GetWindowRect(hWnd, &window);
    GetWindowRect(parent, &parentWindow);
    OffsetRgn(own.Get(), window.left - parentWindow.left, window.top - parentWindow.top);
    if (CombineRgn(parentRegion.Get(), parentRegion.Get(), own.Get(), RGN_OR) == ERROR)
        return E_UNEXPECTED;
    SendMessageW(parent, CXM_SETREGION, reinterpret_cast<WPARAM>(parentRegion.Release()),
                 reinterpret_cast<LPARAM>(hWnd));
    return S_OK;
}

BOOL CxWndRegion::ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                       DWORD mapId)
{
    const CxMapRun run = CxMapRunFor(mapId);
    if (run == CxMapRun::Nothing)
        return FALSE;
    if (CxChildRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId))
        return TRUE;
    switch (message) {
    case WM_SETFOCUS:
        if (m_flagsLow & CXFL_REGIONPENDING) {
            m_flagsLow &= ~CXFL_REGIONPENDING;
            HRGN waiting = m_hWaitingRegion;
            m_hWaitingRegion = nullptr;
            SetRegion(waiting, nullptr);
        }
        return FALSE;
    case CXM_SETREGION:
        if (wParam == 0) {
            lResult = FALSE;
            return TRUE;
        }
        SetRegion(reinterpret_cast<HRGN>(wParam), reinterpret_cast<HWND>(lParam));
        lResult = TRUE;
        return TRUE;
    case WM_SYSCOMMAND:
        if ((m_flagsLow & CXFL_SKINREGION) && ((wParam & 0xFFF0) == SC_SIZE || (wParam & 0xFFF0) == SC_MOVE)) {
            BOOL full = TRUE;
            SystemParametersInfoW(SPI_GETDRAGFULLWINDOWS, 0, &full, 0);
            if (!full) {
                SystemParametersInfoW(SPI_SETDRAGFULLWINDOWS, TRUE, nullptr, 0);
                m_flagsLow |= CXFL_FULLDRAGSWITCHED;
            }
        }
        return FALSE;
    case WM_EXITSIZEMOVE:
        if (m_flagsLow & CXFL_FULLDRAGSWITCHED) {
            SystemParametersInfoW(SPI_SETDRAGFULLWINDOWS, FALSE, nullptr, 0);
            m_flagsLow &= ~CXFL_FULLDRAGSWITCHED;
        }
        return FALSE;
    case WM_CREATE:
        if (m_flagsLow & CXFL_APPLYSHAPEONCREATE)
            SendMessageW(hWnd, CXM_APPLYSHAPE, 0, 0);
        return FALSE;
    case WM_NCPAINT: {
        if ((m_flagsHigh & CXFH_SYSTEMNCPAINT) || (m_flagsLow & CXFL_SKINREGION) == 0)
            return FALSE;
        // A shaped window has no frame to paint, only its menu bar if it has one: the system paints the
        // bar, and the frame's outline goes on around it.
        lResult = 0;
        RECT bar{};
        if (MenuBarRect(hWnd, &bar)) {
            lResult = DefWindowProcW(hWnd, WM_NCPAINT, wParam, lParam);
            OutlineMenuBar(hWnd, bar);
        }
        return TRUE;
    }
    case CXM_APPLYSHAPE:
        lResult = (m_pShape == nullptr || FAILED(m_pShape->ApplyImage())) ? 2 : 1;
        return TRUE;
    case CXM_GETREGION: {
        auto* out = reinterpret_cast<HRGN*>(wParam);
        lResult = FALSE;
        if (out != nullptr && m_pShape != nullptr && SUCCEEDED(m_pShape->GetRegion(out))) {
            if (lParam != 0) {
                CxFrameMetrics frame{};
                if (SUCCEEDED(CxGetFrameMetrics(hWnd, &frame)))
                    OffsetRgn(*out, frame.left, frame.top);
            }
            lResult = TRUE;
        }
        return TRUE;
    }
    case CXM_PAINTBKGND: {
        lResult = FALSE;
        HDC target = reinterpret_cast<HDC>(wParam);
        HBITMAP background = m_pShape != nullptr ? m_pShape->GetBackground() : nullptr;
        BITMAP info{};
        if (target == nullptr || background == nullptr || GetObjectW(background, sizeof(info), &info) == 0)
            return TRUE;
        int part[4] = {0, 0, info.bmWidth, info.bmHeight};
        if (lParam != 0)
            std::memcpy(part, reinterpret_cast<const int*>(lParam), sizeof(part));
        CxMemDC dc(hWnd);
        HGDIOBJ old = SelectObject(dc.GetSafeHdc(), background);
        if (old != nullptr && old != HGDI_ERROR) {
            lResult = BitBlt(target, 0, 0, part[2], part[3], dc.GetSafeHdc(), part[0], part[1], SRCCOPY);
            SelectObject(dc.GetSafeHdc(), old);
        }
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// ---- CxSkinFrame ----

HRESULT CxSkinFrame::GetSkinProps(CxSkinPropEntries& list)
{
    if (!m_section.IsEmpty() && !list.Add(CxSkinPropEntry{m_section, L"img", 1, GetWnd(), CxSkinParseImage}))
        return E_OUTOFMEMORY;
    return CxSkinProps::GetSkinProps(list);
}

HRESULT CxSkinFrame::SetSkinSection(const wchar_t* section)
{
    const HRESULT hr = m_section.Assign(section);
    if (FAILED(hr) || GetSkinRecords().GetCount() == 0)
        return hr;
    CxSkinPropEntries list;
    return GetSkinProps(list);
}

void CxSkinFrame::RegisterSkinProps()
{
    if (GetSkinRecords().GetCount() != 0)
        return;
    CxSkinPropEntries list;
    GetSkinProps(list);
}

HRESULT CxSkinFrame::ApplySkinSection(const wchar_t* skinFile)
{
    Invalidate();
    if (m_section.IsEmpty())
        return S_FALSE;
    RegisterSkinProps();
    void* targets[] = {&GetImageList()};
    // A missing image leaves the list empty, and the apply keeps the window as it is.
    CxIniReadSection(GetSkinRecords(), m_section, skinFile, targets, 1, 0, L"img");
    return ApplyImage();
}
