// The image key's value: image options, and the parser that loads every "|"-separated image spec of
// a skin key into an image list, falling back to the built-in skin's part for a part that fails.
#pragma once

#include "manager/framework/images/cx_image_list.h"
#include "manager/framework/skin/cx_skin_props.h"
#include "manager/framework/windows/cx_string.h"

#include <windows.h>

// ---- Image options ----

// "/cut": cut the window region out of the image by its key colour.
constexpr ULONGLONG CX_IMAGEOPT_CUT = 1;

// Finds the options in the last of at most three ","-separated parts of the spec; with strip the spec
// is cut at its last "," when any was found. S_OK when options were found, S_FALSE when none.
HRESULT CxParseImageOptions(CxString& spec, ULONGLONG* options, BOOL strip);

// ---- The image key's value parser ----

// The record {key 2 ("path"), element, pack id, selector} of CXM_GETPACKTEXT.
struct CxPackTextRequest {
    int key;
    int element;
    int packId;
    int selector;
};
constexpr int CX_PACKTEXT_PATH = 2;
constexpr int CX_PACK_CURRENT = 1;
constexpr int CX_PACK_BUILTIN = 2;

// Reads the text of a key from a skin file (a path or a resource location) into value.
using CxSkinValueReader = HRESULT (*)(const wchar_t* file, const wchar_t* section, const wchar_t* key, CxString* value);

// What the skin reader hands the parser of an image key.
struct CxSkinImageReader {
    HWND owner = nullptr;           // the window the images are for; asked for pack paths and fallbacks
    const wchar_t* file = nullptr;  // the skin file being read
    const wchar_t* section = nullptr;
    const wchar_t* key = nullptr;
    int valueCount = 1;              // -1: as many as the value has, at least one
    const wchar_t* value = nullptr;  // the key's text
    CxSkinImageList* target = nullptr;
    int packId = 0;
    int packSelector = CX_PACK_CURRENT;
    // Reads the built-in skin's value for the fallback; null reads the file or resource the owner names.
    CxSkinValueReader readValue = nullptr;
    // The owner's answers to the pack queries, handed down with a skin switch; null: ask the owner.
    const CxSkinPackData* pack = nullptr;
};

// Loads every "|"-separated part of the value into the target list (padded with empty parts up to the
// count); a part that fails falls back to the same part of the built-in skin. The last failure, else S_OK.
HRESULT CxSkinParseImageList(CxSkinImageReader* reader);
// The same as the skin reader's parser of "img" and "thumb" (target: a CxSkinImageList); the file compared
// with the built-in skin is the spec given for a temporary copy.
HRESULT CxSkinParseImage(const CxSkinValue& value);
// Loads one spec and appends its entry (empty on failure).
HRESULT CxLoadImageSpec(CxSkinImageReader* reader, const wchar_t* spec);
