#include "manager/framework/images/cx_image_load.h"

#include "manager/framework/images/cx_bitmap.h"
#include "manager/framework/images/cx_image_region.h"
#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/windows/cx_platform.h"

#include <cstring>

namespace {

// A bitmap resource is a packed DIB: decoders want the file header in front. A new block holding the
// header and the packed bytes; E_INVALIDARG for a DIB the layout check refuses.
HRESULT PrependBitmapFileHeader(HGLOBAL packed, DWORD length, HGLOBAL* memory, DWORD* size)
{
    constexpr DWORD prefix = sizeof(BITMAPFILEHEADER);
    if (length == 0 || length > MAXDWORD - prefix || length > GlobalSize(packed))
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
    DibLayout layout;
    const bool valid = DibCheckLayout(bytes, length, &layout);
    if (valid) {
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;
        header.bfSize = length + prefix;
        header.bfOffBits = prefix + layout.bitsOffset;
        std::memcpy(to, &header, sizeof(header));
        std::memcpy(to + prefix, bytes, length);
    }
    GlobalUnlock(packed);
    GlobalUnlock(block.Get());
    if (!valid)
        return E_INVALIDARG;
    *memory = block.Release();
    *size = length + prefix;
    return S_OK;
}

// The icon file's directory and the images it names lie inside the data.
bool IsIconWithin(const BYTE* bytes, size_t size)
{
    constexpr size_t kDirectory = 6;
    constexpr size_t kEntry = 16;
    if (size < kDirectory)
        return false;
    WORD count = 0;
    std::memcpy(&count, bytes + 4, sizeof(count));
    if (count == 0 || size < kDirectory + kEntry * count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = kDirectory + kEntry * i;
        DWORD length = 0;
        DWORD offset = 0;
        std::memcpy(&length, bytes + entry + 8, sizeof(length));
        std::memcpy(&offset, bytes + entry + 12, sizeof(offset));
        if (length == 0 || offset < kDirectory + kEntry * count || offset > size || length > size - offset)
            return false;
    }
    return true;
}

// What may reach OLE's picture loader, which trusts the headers it reads: a bitmap only when the DIB
// reader's layout check passes, an icon only when its directory lies inside the data, GIF and JPEG by
// their signatures (their decoders bound their own reads). Anything else is refused.
bool IsPictureSafeToDecode(const BYTE* bytes, size_t size)
{
    static const BYTE kGif[] = {'G', 'I', 'F', '8'};
    static const BYTE kJpeg[] = {0xFF, 0xD8, 0xFF};
    static const BYTE kIcon[] = {0, 0, 1, 0};
    auto startsWith = [&](const BYTE* signature, size_t length) {
        return size >= length && std::memcmp(bytes, signature, length) == 0;
    };
    if (size > sizeof(BITMAPFILEHEADER) && bytes[0] == 'B' && bytes[1] == 'M') {
        BITMAPFILEHEADER header;
        std::memcpy(&header, bytes, sizeof(header));
        DibLayout layout;
        return DibCheckFileLayout(header, bytes + sizeof(header), size - sizeof(header), &layout);
    }
    if (startsWith(kIcon, sizeof(kIcon)))
        return IsIconWithin(bytes, size);
    return startsWith(kGif, sizeof(kGif)) || startsWith(kJpeg, sizeof(kJpeg));
}

}  // namespace

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
    if (size > GlobalSize(memory))
        return E_INVALIDARG;
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(memory));
    if (bytes == nullptr)
        return E_OUTOFMEMORY;
    const bool safe = IsPictureSafeToDecode(bytes, size);
    GlobalUnlock(memory);
    if (!safe)
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
