// Decoding skin images: files and module resources read into memory, checked, and decoded by OLE's
// picture loader into a bitmap compatible with a window, with the key-colour region when asked.
#pragma once

#include "manager/framework/images/cx_memdc.h"

#include <windows.h>

constexpr int CX_IMAGE_FILE = 1;
constexpr int CX_IMAGE_RESOURCE = 2;

// Reads a whole file into new movable memory: E_ACCESSDENIED when it cannot be opened, E_FAIL when its
// size cannot be read, E_OUTOFMEMORY, E_ABORT for a short read.
HRESULT CxReadFileToGlobal(const wchar_t* path, HGLOBAL* memory, DWORD* size, DWORD access, DWORD share,
                           DWORD disposition);
// Decodes an image (BMP, GIF, JPEG, icon) held in memory through OLE's picture loader; the memory
// stays the caller's. E_INVALIDARG for a null handle or no bytes.
HRESULT CxLoadPicture(HGLOBAL memory, DWORD size, IPicture** picture);
HRESULT CxLoadPictureFromFile(const wchar_t* path, IPicture** picture);
// A resource of a loaded module (null or empty name: the program); modules are never loaded for it.
// A bitmap resource (type 2) is stored without its file header, which is put in front for decoding.
HRESULT CxLoadPictureFromResource(const wchar_t* module, UINT id, const wchar_t* type, IPicture** picture);

// Decodes the image of a file (source 1, name = path) or a module resource (source 2, name = module)
// into a 32-bit DIB section compatible with the window; with a region out-parameter the key-colour
// region is cut too. On any failure nothing is handed out.
HRESULT CxLoadSkinImage(int source, const wchar_t* name, UINT id, const wchar_t* type, HWND hWnd, HRGN* region,
                        HBITMAP* bitmap);
