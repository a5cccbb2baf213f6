// Skin properties: the keys a skinned window reads from its skin section, the value parsers that turn
// per-state values into positions, sizes, colours and texts, the section reader, and the position
// component that places a window from its "pos" key.
#pragma once

#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/windows/cx_array.h"
#include "manager/framework/windows/cx_string.h"
#include "manager/framework/windows/cx_wnd.h"

// ---- What a skin switch hands down ----

// lParam of CXM_APPLYSKINFILE when a window applies a skin to itself and every window below it: its own
// answers to the pack queries, taken once, so that the readers of every window use them instead of
// asking again for every value. Valid for the call. A window whose pack queries would not reach `owner`
// does not use it and asks as before.
struct CxSkinPackData {
    UINT size = sizeof(CxSkinPackData);      // a record of another size is not used
    HWND owner = nullptr;                    // the window whose answers these are
    const wchar_t* currentFolder = nullptr;  // CXM_GETPACKTEXT: the folder of the current pack
    const wchar_t* secondFolder = nullptr;   // CXM_GETPACKTEXT: the folder of the second pack
    const wchar_t* packFile = nullptr;       // CXM_GETPACKFILE: the pack file to fall back to; null for none
    // CXM_ASKOWNER: nonzero when a failing value of the section's key may be read from the pack file.
    BOOL (*allowFallback)(void* context, const wchar_t* section, const wchar_t* key) = nullptr;
    void* context = nullptr;
};

// The pack data in lParam of CXM_APPLYSKINFILE, or null when there is none.
const CxSkinPackData* CxSkinPackDataFrom(LPARAM lParam);

// ---- Values and parsers ----

// One key's value as the reader hands it to a parser.
struct CxSkinValue {
    const wchar_t* section;
    const wchar_t* key;
    int count;             // per-state values wanted; -1: as many as the value has, at least one
    HWND owner;            // the window the value is for; asked for the pack fallback
    const wchar_t* file;   // the file read
    const wchar_t* given;  // the spec given when file is a temporary copy of a resource, else null
    const wchar_t* value;  // the value text
    void* target;          // the list the parser appends to
    // The owner's answers to the pack queries, handed down with a skin switch; null: ask the owner.
    const CxSkinPackData* pack = nullptr;
};
// Appends one element per state value to the target. The last failure of an element, else S_OK.
using CxSkinParser = HRESULT (*)(const CxSkinValue& value);

// Splits a value at "|" into at most count parts and pads it with empty parts up to count (at least
// one). Parsers of other keys (the image list's among them) start with this.
HRESULT CxSkinSplitValue(const wchar_t* text, int count, CxArray<CxString>& parts);
// The pack file a failing value of the section's key may be read again from: the one the owner names
// (CXM_GETPACKFILE) when it is not the file being read and the owner agrees (CXM_ASKOWNER); with pack
// data the answers come from it. E_ACCESSDENIED when there is no such file, the owner is gone or refuses.
HRESULT CxGetFallbackPackFile(HWND owner, const CxSkinPackData* pack, const wchar_t* reading, const wchar_t* section,
                              const wchar_t* key, CxString* packFile);
// The part at index of the same key in the owner's pack file (CxGetFallbackPackFile). E_ACCESSDENIED
// when there is no such file or the owner refuses, E_NOTIMPL when that value has fewer parts, else the
// reading's failure.
HRESULT CxSkinReadFallbackPart(const CxSkinValue& value, int index, CxString* part);

// "x,y,w,h": set when all four numbers were read.
struct CxSkinPosition {
    int x;
    int y;
    int w;
    int h;
    BOOL set;
};
// "w,h" (also the "x,y" point of image controls): set when both numbers were read.
struct CxSkinSize {
    int cx;
    int cy;
    BOOL set;
};
// "r,g,b", each 0-255.
struct CxSkinColor {
    COLORREF color;
    BOOL set;
};

using CxSkinPositions = CxArray<CxSkinPosition>;
using CxSkinSizes = CxArray<CxSkinSize>;
using CxSkinColors = CxArray<CxSkinColor>;
using CxSkinTexts = CxArray<CxString>;

// "pos" and "grid" (target CxSkinPositions): at most four numbers; numbers beyond the fourth are
// ignored, fewer leave the element unset (a failure).
HRESULT CxSkinParsePos(const CxSkinValue& value);
// "grip" and the point of image controls (target CxSkinSizes): the first two numbers.
HRESULT CxSkinParseSize(const CxSkinValue& value);
// "frgnd", "bkgnd", "status", "frame" (target CxSkinColors).
HRESULT CxSkinParseColor(const CxSkinValue& value);
// "name", "dscr", "path", "icon" (target CxSkinTexts): the parts as they stand.
HRESULT CxSkinParseText(const CxSkinValue& value);
// The image list parser of "img" and "thumb" is CxSkinParseImage (cx_image_spec.h).

// ---- Registered keys ----

// A key as a window's GetSkinProps declares it.
struct CxSkinPropEntry {
    const wchar_t* section;
    const wchar_t* key;
    int count;
    HWND owner;
    CxSkinParser parser;
};
// The registered copy: it owns its names.
struct CxSkinPropRecord {
    CxString section;
    CxString key;
    int count = 1;
    HWND owner = nullptr;
    CxSkinParser parser = nullptr;
};
using CxSkinPropEntries = CxArray<CxSkinPropEntry>;
using CxSkinPropRecords = CxArray<CxSkinPropRecord>;

// Reads one key and, with a parser, parses it into target. E_INVALIDARG for an empty file, section or
// key; E_ACCESSDENIED when the parser fails; S_FALSE without a parser; raw receives the text when given.
// The parser takes the pack data, when given, in place of the owner's answers.
HRESULT CxIniRead(const wchar_t* file, const wchar_t* section, const wchar_t* key, CxString* raw, CxSkinParser parser,
                  HWND owner, int count, void* target, const wchar_t* given, const CxSkinPackData* pack = nullptr);
// Reads the registered keys of section from the skin file (a path or a resource spec), each into the
// next target from firstTarget on; keyFilter, when given, limits the walk to that key. E_INVALIDARG
// without targets or with an empty section or file; 0x8000000A with no registered key; E_ABORT when the
// targets run out; otherwise the last failure of a key, else S_FALSE. The parsers take the pack data,
// when given, in place of the answers of the entries' owners.
HRESULT CxIniReadSection(const CxSkinPropRecords& entries, const wchar_t* section, const wchar_t* skinFile,
                         void* const* targets, int targetCount, int firstTarget, const wchar_t* keyFilter,
                         const CxSkinPackData* pack = nullptr);

// A window being created takes its parent's skin file: asks the parent (CXM_GETSKINFILE) and, when it
// names one and the window has no skin region yet (L:0x20), sends itself CXM_APPLYSKINFILE with it.
// S_FALSE when nothing was applied.
HRESULT CxApplyParentSkinFile(HWND hWnd);

// The registered keys of a window.
class CxSkinProps : public virtual CxWndFlags {
public:
    CxSkinProps(const CxSkinProps&) = delete;
    CxSkinProps& operator=(const CxSkinProps&) = delete;

    // Each class appends its entries and calls the base, which builds them.
    virtual HRESULT GetSkinProps(CxSkinPropEntries& list);
    // Replaces the registered keys by copies of the list's. E_OUTOFMEMORY leaves none registered.
    virtual HRESULT Build(const CxSkinPropEntries& list);

    // The skin-file messages every skinned window answers alike: CXM_INITSKIN registers the keys
    // (result 1); CXM_APPLYSKINFILE hands a non-empty skin file to apply (result 1), and leaves an empty
    // one to the rest of the map. FALSE for every other message. While apply runs, GetPackData gives
    // the pack data that came with the file.
    template <class Apply>
    BOOL SkinFileMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, Apply&& apply)
    {
        if (message == CXM_INITSKIN) {
            CxSkinPropEntries list;
            GetSkinProps(list);
            lResult = 1;
            return TRUE;
        }
        if (message != CXM_APPLYSKINFILE)
            return FALSE;
        const auto* file = reinterpret_cast<const wchar_t*>(wParam);
        if (file == nullptr || *file == L'\0')
            return FALSE;
        // Restored afterwards: an apply may apply another file on the way.
        const CxSkinPackData* outer = m_packData;
        m_packData = CxSkinPackDataFrom(lParam);
        apply(file);
        m_packData = outer;
        lResult = 1;
        return TRUE;
    }
    // While a skin file is applied: its pack data when it holds the answers of `answering` (the window
    // this window's pack queries go to), else null, and the readers ask.
    const CxSkinPackData* GetPackData(HWND answering) const
    {
        return m_packData != nullptr && answering != nullptr && m_packData->owner == answering ? m_packData : nullptr;
    }

    const CxSkinPropRecords& GetSkinRecords() const { return m_records; }

protected:
    CxSkinProps() = default;
    virtual ~CxSkinProps() = default;

private:
    CxSkinPropRecords m_records{4};
    const CxSkinPackData* m_packData = nullptr;
};

// ---- Positions ----

// Offsets a layout adds to a window's skin position.
class CxSkinRefRect : public virtual CxWndFlags {
public:
    void ZeroOffsets() { m_dx = m_dy = m_dw = m_dh = 0; }
    // CXM_ADDOFFSETS: wParam -> POINT {dx, dy}, lParam -> SIZE {dw, dh}; either may be null.
    void AddOffsets(const POINT* move, const SIZE* size);

    int m_dx = 0;
    int m_dy = 0;
    int m_dw = 0;
    int m_dh = 0;

protected:
    CxSkinRefRect() = default;
    ~CxSkinRefRect() = default;
};

// Places a window from its "pos" key: the positions parsed, one per state, and which applied last.
class CxSkinPos : public virtual CxSkinRefRect, public virtual CxWndLink {
public:
    // Moves the window to the current index's position plus the offsets. S_FALSE when the index did not
    // change (with onlyIfChanged) or the window is already there; E_ABORT with no positions; E_FAIL when
    // that position is not set; E_UNEXPECTED when the move fails. A failure keeps the index applied before.
    virtual HRESULT Apply(BOOL onlyIfChanged);
    // E_INVALIDARG past the end (or without out), E_FAIL when required and the position is not set.
    virtual HRESULT GetPos(int index, CxSkinPosition* position, BOOL required);
    // The index of the position that applies now.
    virtual int GetPosIndex() = 0;

    // Forgets the positions and the index applied last.
    void ForgetPositions();
    CxSkinPositions& GetPositions() { return m_positions; }
    int GetAppliedIndex() const { return m_applied; }

protected:
    CxSkinPos() = default;
    ~CxSkinPos() override = default;

private:
    CxSkinPositions m_positions{1};
    int m_applied = -1;
};
