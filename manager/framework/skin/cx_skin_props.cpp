#include "manager/framework/skin/cx_skin_props.h"

#include <cerrno>
#include <climits>
#include <cwchar>

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// A decimal int, optionally signed, with blanks around it; nothing else.
bool ParseInt(const wchar_t* text, int* value)
{
    if (text == nullptr)
        return false;
    while (IsBlank(*text))
        ++text;
    const wchar_t* digits = text;
    if (*digits == L'-' || *digits == L'+')
        ++digits;
    if (*digits < L'0' || *digits > L'9')
        return false;
    wchar_t* end = nullptr;
    errno = 0;
    const long n = wcstol(text, &end, 10);
    if (errno == ERANGE || n < INT_MIN || n > INT_MAX)
        return false;
    while (IsBlank(*end))
        ++end;
    if (*end != L'\0')
        return false;
    *value = static_cast<int>(n);
    return true;
}

// Exactly `count` numbers from the first `count` comma-separated fields (the rest of the text is
// ignored). E_FAIL when fewer fields or one that is not a number.
HRESULT ParseNumbers(const wchar_t* text, int* numbers, int count)
{
    CxArray<CxString> fields;
    const HRESULT hr = CxStrSplit(text, L",", fields, count);
    if (FAILED(hr))
        return hr;
    if (fields.GetCount() < count)
        return E_FAIL;
    for (int i = 0; i < count; ++i) {
        if (!ParseInt(fields.ElementAt(i), &numbers[i]))
            return E_FAIL;
    }
    return S_OK;
}

HRESULT ParsePosition(const wchar_t* text, CxSkinPosition* out)
{
    int n[4] = {};
    const HRESULT hr = ParseNumbers(text, n, 4);
    *out = CxSkinPosition{n[0], n[1], n[2], n[3], SUCCEEDED(hr)};
    if (FAILED(hr))
        *out = CxSkinPosition{0, 0, 0, 0, FALSE};
    return hr;
}

HRESULT ParseSizeText(const wchar_t* text, CxSkinSize* out)
{
    int n[2] = {};
    const HRESULT hr = ParseNumbers(text, n, 2);
    *out = SUCCEEDED(hr) ? CxSkinSize{n[0], n[1], TRUE} : CxSkinSize{0, 0, FALSE};
    return hr;
}

HRESULT ParseColorText(const wchar_t* text, CxSkinColor* out)
{
    *out = CxSkinColor{0, FALSE};
    int n[3] = {};
    const HRESULT hr = ParseNumbers(text, n, 3);
    if (FAILED(hr))
        return hr;
    for (int component : n) {
        if (component < 0 || component > 255)
            return E_FAIL;
    }
    *out = CxSkinColor{RGB(n[0], n[1], n[2]), TRUE};
    return S_OK;
}

HRESULT ParseTextPart(const wchar_t* text, CxString* out)
{
    return out->Assign(text);
}

// The shared shape of the list parsers: split, parse each part into the target, and take a failed
// part from the pack file when the owner allows it.
template <class T, class ParseOne>
HRESULT ParseList(const CxSkinValue& value, ParseOne parseOne)
{
    auto* target = static_cast<CxArray<T>*>(value.target);
    if (target == nullptr || FAILED(CxIsWindow(value.owner)))
        return E_INVALIDARG;
    CxArray<CxString> parts;
    HRESULT hr = CxSkinSplitValue(value.value, value.count, parts);
    if (FAILED(hr))
        return hr;
    HRESULT result = S_OK;
    for (int i = 0; i < parts.GetCount(); ++i) {
        T element{};
        hr = parseOne(parts.ElementAt(i), &element);
        if (!target->Add(element))
            return E_OUTOFMEMORY;
        if (SUCCEEDED(hr))
            continue;
        CxString fallback;
        const HRESULT fallbackResult = CxSkinReadFallbackPart(value, i, &fallback);
        if (SUCCEEDED(fallbackResult)) {
            target->SetSize(target->GetCount() - 1);
            T again{};
            hr = parseOne(fallback, &again);
            if (!target->Add(again))
                return E_OUTOFMEMORY;
        } else if (fallbackResult != E_ACCESSDENIED) {
            hr = fallbackResult;
        }
        if (FAILED(hr))
            result = hr;
    }
    return result;
}

struct FallbackRead {
    const wchar_t* section;
    const wchar_t* key;
    CxString text;
};

HRESULT ReadFallbackKey(const CxResolvedFile& file)
{
    auto* read = static_cast<FallbackRead*>(file.context);
    return CxIniReadString(file.path, read->section, read->key, &read->text);
}

struct SectionWalk {
    const CxSkinPropRecords* entries;
    const wchar_t* section;
    void* const* targets;
    int targetCount;
    int firstTarget;
    const wchar_t* keyFilter;
    const CxSkinPackData* pack;
};

HRESULT WalkSection(const CxResolvedFile& file)
{
    const auto* walk = static_cast<const SectionWalk*>(file.context);
    int next = walk->firstTarget;
    HRESULT result = S_FALSE;
    for (int i = 0; i < walk->entries->GetCount(); ++i) {
        const CxSkinPropRecord& entry = walk->entries->ElementAt(i);
        if (CxStrCompare(entry.section, walk->section, 1) != 0)
            continue;
        if (walk->keyFilter != nullptr && CxStrCompare(entry.key, walk->keyFilter, 1) != 0)
            continue;
        if (next >= walk->targetCount)
            return E_ABORT;
        const HRESULT hr = CxIniRead(file.path, entry.section, entry.key, nullptr, entry.parser, entry.owner,
                                     entry.count, walk->targets[next++], file.given, walk->pack);
        if (FAILED(hr))
            result = hr;
    }
    return result;
}

}  // namespace

// ---- Values ----

HRESULT CxSkinSplitValue(const wchar_t* text, int count, CxArray<CxString>& parts)
{
    const HRESULT hr = CxStrSplit(text, L"|", parts, count < 0 ? INT_MAX : count);
    if (FAILED(hr))
        return hr;
    return CxArraySetMinCount(parts, count < 1 ? -1 : count);
}

const CxSkinPackData* CxSkinPackDataFrom(LPARAM lParam)
{
    const auto* pack = reinterpret_cast<const CxSkinPackData*>(lParam);
    return pack != nullptr && pack->size == sizeof(CxSkinPackData) ? pack : nullptr;
}

HRESULT CxGetFallbackPackFile(HWND owner, const CxSkinPackData* pack, const wchar_t* reading, const wchar_t* section,
                              const wchar_t* key, CxString* packFile)
{
    if (packFile == nullptr)
        return E_INVALIDARG;
    packFile->Empty();
    if (FAILED(CxIsWindow(owner)))
        return E_ACCESSDENIED;
    if (pack != nullptr) {
        if (FAILED(packFile->Assign(pack->packFile)))
            return E_OUTOFMEMORY;
    } else if (SendMessageW(owner, CXM_GETPACKFILE, reinterpret_cast<WPARAM>(packFile), 0) == 0) {
        packFile->Empty();
        return E_ACCESSDENIED;
    }
    if (packFile->IsEmpty() || CxStrCompare(*packFile, reading, 1) == 0) {
        packFile->Empty();
        return E_ACCESSDENIED;
    }
    const BOOL agreed =
        pack != nullptr
            ? pack->allowFallback != nullptr && pack->allowFallback(pack->context, section, key)
            : SendMessageW(owner, CXM_ASKOWNER, reinterpret_cast<WPARAM>(section), reinterpret_cast<LPARAM>(key)) != 0;
    if (!agreed) {
        packFile->Empty();
        return E_ACCESSDENIED;
    }
    return S_OK;
}

HRESULT CxSkinReadFallbackPart(const CxSkinValue& value, int index, CxString* part)
{
    if (part == nullptr || index < 0)
        return E_INVALIDARG;
    part->Empty();
    CxString pack;
    const wchar_t* reading = value.given != nullptr ? value.given : value.file;
    HRESULT hr = CxGetFallbackPackFile(value.owner, value.pack, reading, value.section, value.key, &pack);
    if (FAILED(hr))
        return hr;
    FallbackRead read{value.section, value.key, CxString()};
    hr = CxWithResolvedFile(pack, ReadFallbackKey, &read);
    if (FAILED(hr))
        return hr;
    CxArray<CxString> parts;
    hr = CxStrSplit(read.text, L"|", parts, index + 1);
    if (FAILED(hr))
        return hr;
    if (parts.GetCount() <= index)
        return E_NOTIMPL;
    return part->Assign(parts.ElementAt(index));
}

HRESULT CxSkinParsePos(const CxSkinValue& value)
{
    return ParseList<CxSkinPosition>(value, ParsePosition);
}

HRESULT CxSkinParseSize(const CxSkinValue& value)
{
    return ParseList<CxSkinSize>(value, ParseSizeText);
}

HRESULT CxSkinParseColor(const CxSkinValue& value)
{
    return ParseList<CxSkinColor>(value, ParseColorText);
}

HRESULT CxSkinParseText(const CxSkinValue& value)
{
    return ParseList<CxString>(value, ParseTextPart);
}

// ---- Reading ----

HRESULT CxIniRead(const wchar_t* file, const wchar_t* section, const wchar_t* key, CxString* raw, CxSkinParser parser,
                  HWND owner, int count, void* target, const wchar_t* given, const CxSkinPackData* pack)
{
    if (raw != nullptr)
        raw->Empty();
    if (CxStrLen(file) == 0 || CxStrLen(section) == 0 || CxStrLen(key) == 0)
        return E_INVALIDARG;
    CxString text;
    HRESULT hr = CxIniReadString(file, section, key, &text);
    if (FAILED(hr))
        return hr;
    HRESULT result = S_FALSE;
    if (parser != nullptr) {
        const CxSkinValue value{section, key, count, owner, file, given, text, target, pack};
        result = parser(value);
        if (FAILED(result))
            result = E_ACCESSDENIED;
    }
    if (raw != nullptr)
        *raw = std::move(text);
    return result;
}

HRESULT CxIniReadSection(const CxSkinPropRecords& entries, const wchar_t* section, const wchar_t* skinFile,
                         void* const* targets, int targetCount, int firstTarget, const wchar_t* keyFilter,
                         const CxSkinPackData* pack)
{
    if (targets == nullptr || targetCount <= 0 || firstTarget < 0 || CxStrLen(section) == 0 || CxStrLen(skinFile) == 0)
        return E_INVALIDARG;
    if (entries.GetCount() == 0)
        return CX_E_NOTREGISTERED;
    SectionWalk walk{&entries, section, targets, targetCount, firstTarget, keyFilter, pack};
    return CxWithResolvedFile(skinFile, WalkSection, &walk);
}

// ---- CxSkinProps ----

HRESULT CxSkinProps::GetSkinProps(CxSkinPropEntries& list)
{
    return Build(list);
}

HRESULT CxSkinProps::Build(const CxSkinPropEntries& list)
{
    m_records.RemoveAll();
    for (int i = 0; i < list.GetCount(); ++i) {
        const CxSkinPropEntry& entry = list.ElementAt(i);
        CxSkinPropRecord record;
        if (FAILED(record.section.Assign(entry.section)) || FAILED(record.key.Assign(entry.key))) {
            m_records.RemoveAll();
            return E_OUTOFMEMORY;
        }
        record.count = entry.count;
        record.owner = entry.owner;
        record.parser = entry.parser;
        if (!m_records.Add(record)) {
            m_records.RemoveAll();
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

// ---- Positions ----

void CxSkinRefRect::AddOffsets(const POINT* move, const SIZE* size)
{
    if (move != nullptr) {
        m_dx += move->x;
        m_dy += move->y;
    }
    if (size != nullptr) {
        m_dw += size->cx;
        m_dh += size->cy;
    }
}

void CxSkinPos::ForgetPositions()
{
    m_positions.RemoveAll();
    m_applied = -1;
}

HRESULT CxSkinPos::GetPos(int index, CxSkinPosition* position, BOOL required)
{
    if (position == nullptr || !m_positions.IsValidIndex(index))
        return E_INVALIDARG;
    *position = m_positions.ElementAt(index);
    if (required && !position->set)
        return E_FAIL;
    return S_OK;
}

HRESULT CxSkinPos::Apply(BOOL onlyIfChanged)
{
    const int index = GetPosIndex();
    if (onlyIfChanged && index == m_applied)
        return S_FALSE;
    const int previous = m_applied;
    m_applied = index;
    auto fail = [&](HRESULT hr) {
        m_applied = previous;
        return hr;
    };
    if (m_positions.GetCount() == 0)
        return fail(E_ABORT);
    CxSkinPosition position{};
    HRESULT hr = GetPos(index, &position, TRUE);
    if (FAILED(hr))
        return fail(hr);
    HWND wnd = GetWnd();
    if (wnd == nullptr)
        return fail(E_UNEXPECTED);
    const int x = position.x + m_dx;
    const int y = position.y + m_dy;
    const int w = position.w + m_dw;
    const int h = position.h + m_dh;
    // Where the window is now, in its parent's client coordinates (screen ones for a top-level window).
    RECT now{};
    GetWindowRect(wnd, &now);
    HWND parent = (GetWindowLongW(wnd, GWL_STYLE) & WS_CHILD) ? GetParent(wnd) : nullptr;
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&now), 2);
    if (now.left == x && now.top == y && now.right - now.left == w && now.bottom - now.top == h)
        return S_FALSE;
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (m_flagsLow & CXFL_NOREDRAWMOVE)
        flags |= SWP_NOREDRAW | SWP_NOCOPYBITS;
    if (!SetWindowPos(wnd, nullptr, x, y, w, h, flags))
        return fail(E_UNEXPECTED);
    return S_OK;
}

HRESULT CxApplyParentSkinFile(HWND hWnd)
{
    HWND parent = IsWindow(hWnd) ? GetParent(hWnd) : nullptr;
    if (parent == nullptr)
        return S_FALSE;
    DWORD flags[2] = {0, 0};
    SendMessageW(hWnd, CXM_GETFLAGS, reinterpret_cast<WPARAM>(flags), 0);
    wchar_t* file = nullptr;
    HRESULT hr = S_FALSE;
    if (SendMessageW(parent, CXM_GETSKINFILE, reinterpret_cast<WPARAM>(&file), 0) != 0 && file != nullptr &&
        *file != L'\0' && !(flags[0] & CXFL_SKINREGION)) {
        SendMessageW(hWnd, CXM_APPLYSKINFILE, reinterpret_cast<WPARAM>(file), 0);
        hr = S_OK;
    }
    CxFree(file);
    return hr;
}
