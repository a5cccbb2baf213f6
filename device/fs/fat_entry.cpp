#include "device/fs/fat_entry.h"

#include "device/fs/engine_status.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace engine {

namespace {

constexpr int kFirstFatYear = 1980;
constexpr int kLastFatYear = 2107;
constexpr std::uint32_t kMaxTail = 99;
// Room for one name converted from or to ANSI (a DBCS name of 255 characters needs 510 bytes).
constexpr std::uint32_t kNameUnits = 1024;

bool EntrySetFits(std::uint32_t entryCount, std::uint32_t index, std::uint32_t count)
{
    return count >= 1 && count <= kMaxLongEntries + 1 && index < entryCount && index >= count - 1;
}

bool LongNameFits(const wchar_t* name)
{
    return name != nullptr && std::wcslen(name) <= kMaxLongNameChars;
}

std::tm FirstFatTime()
{
    std::tm t{};
    t.tm_year = kFirstFatYear - 1900;
    t.tm_mday = 1;
    return t;
}

std::tm LastFatTime()
{
    std::tm t{};
    t.tm_year = kLastFatYear - 1900;
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 58;
    return t;
}

std::tm ClampToFatRange(const std::tm* local)
{
    if (local == nullptr || local->tm_year + 1900 < kFirstFatYear)
        return FirstFatTime();
    if (local->tm_year + 1900 > kLastFatYear)
        return LastFatTime();
    return *local;
}

std::uint16_t FatDate(const std::tm& t)
{
    return std::uint16_t(((t.tm_year + 1900 - kFirstFatYear) << 9) | (((t.tm_mon + 1) & 0x0F) << 5) |
                         (t.tm_mday & 0x1F));
}

std::uint16_t FatTime(const std::tm& t)
{
    return std::uint16_t(((t.tm_hour & 0x1F) << 11) | ((t.tm_min & 0x3F) << 5) | ((t.tm_sec / 2) & 0x1F));
}

void StoreLittleEndian16(std::uint8_t* field, std::uint16_t v)
{
    field[0] = std::uint8_t(v);
    field[1] = std::uint8_t(v >> 8);
}

// Bytes 0-10 from text NAME.EXT: the base up to the first dot (at most 8), then up to 3 characters
// after it, both space padded. A leading 0xE5 is stored as 0x05 so the entry does not read as deleted.
void StoreShortName(FatShortEntry& e, const char* text)
{
    std::memset(e.name, ' ', sizeof e.name);
    std::memset(e.extension, ' ', sizeof e.extension);
    const char* dot = std::strchr(text, '.');
    const std::size_t baseLen = dot ? std::size_t(dot - text) : std::strlen(text);
    std::memcpy(e.name, text, std::min<std::size_t>(baseLen, sizeof e.name));
    if (dot) {
        for (std::size_t i = 0; i < sizeof e.extension && dot[1 + i] != '\0'; ++i)
            e.extension[i] = std::uint8_t(dot[1 + i]);
    }
    if (e.name[0] == kSlotDeleted)
        e.name[0] = kSlotE5Escape;
}

// count - 1 long-name entries in the slots before index, pieces of 13 characters counted from the
// short entry outwards; the name ends with one NUL and the rest of the last piece is 0xFFFF.
void WriteLongEntries(FatDirSlot* entries, std::uint32_t index, std::uint32_t count, const wchar_t* name,
                      std::uint8_t checksum)
{
    std::uint16_t chars[kMaxLongEntries * kLongEntryChars];
    std::fill(std::begin(chars), std::end(chars), std::uint16_t(0xFFFF));
    const std::size_t length = std::wcslen(name);  // at most 255, checked by the callers
    for (std::size_t i = 0; i < length; ++i)
        chars[i] = std::uint16_t(name[i]);
    if (length < std::size(chars))
        chars[length] = 0;

    for (std::uint32_t k = 0; k + 1 < count; ++k) {
        FatLongEntry& e = entries[index - k - 1].longEntry;
        const std::uint16_t* piece = chars + k * kLongEntryChars;
        e.sequence = std::uint8_t((k + 1) | (k + 2 == count ? kLastLongEntry : 0));
        for (int i = 0; i < 5; ++i)
            e.chars1[i] = piece[i];
        for (int i = 0; i < 6; ++i)
            e.chars2[i] = piece[5 + i];
        for (int i = 0; i < 2; ++i)
            e.chars3[i] = piece[11 + i];
        e.attributes = kAttrLongName;
        e.type = 0;
        e.checksum = checksum;
        e.firstCluster = 0;
    }
}

// The long name of an ANSI builder, through the ANSI code page; false when it does not convert or is
// longer than 255 characters.
bool ConvertLongName(const char* ansiName, wchar_t (&wide)[kMaxLongNameChars + 1])
{
    if (ansiName == nullptr)
        return false;
    return AnsiToWide(ansiName, wide, kMaxLongNameChars + 1) != 0 || ansiName[0] == '\0';
}

}  // namespace

std::tm FatLocalTime(std::time_t t)
{
    std::tm local{};
    if (localtime_s(&local, &t) != 0)
        return FirstFatTime();
    return ClampToFatRange(&local);
}

void EncodeFatDate(std::uint8_t* field, const std::tm* local)
{
    StoreLittleEndian16(field, FatDate(ClampToFatRange(local)));
}

void EncodeFatTime(std::uint8_t* field, const std::tm* local)
{
    StoreLittleEndian16(field, FatTime(ClampToFatRange(local)));
}

void StoreEntryTimes(FatShortEntry& e, std::time_t created, std::time_t accessed, std::time_t written)
{
    const std::tm c = FatLocalTime(created);
    e.createTime = FatTime(c);
    e.createDate = FatDate(c);
    e.createTenths = std::uint8_t((e.createTenths & 0x7F) | ((c.tm_sec & 1) ? 0x80 : 0));
    e.accessDate = FatDate(FatLocalTime(accessed));
    const std::tm w = FatLocalTime(written);
    e.writeTime = FatTime(w);
    e.writeDate = FatDate(w);
}

std::uint8_t ShortNameChecksum(const std::uint8_t* name11)
{
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = std::uint8_t(((sum & 1) << 7) + (sum >> 1) + name11[i]);
    return sum;
}

int IsValidShortNameChar(std::uint8_t c)
{
    static constexpr std::uint8_t kRefused[] = {0x20, 0x7B, 0x2B, 0x2C, 0x3B, 0x3D, 0x5B, 0x5D, 0x2E, 0x28, 0x29, 0x26,
                                                0x5E, 0x5C, 0x2F, 0x3A, 0x2A, 0x3F, 0x22, 0x3C, 0x3E, 0x7C, 0x7D};
    return std::find(std::begin(kRefused), std::end(kRefused), c) == std::end(kRefused) ? 1 : 0;
}

std::uint8_t FileAttributeForTypeCode(std::uint8_t typeCode)
{
    return (typeCode == 'C' || typeCode == 'F' || typeCode == 'K') ? kAttrSystemFile : kAttrPlayerFile;
}

std::uint32_t EntryCountForWideName(const wchar_t* name)
{
    if (name == nullptr)
        return 0;
    if (const wchar_t* slash = std::wcsrchr(name, L'\\'))
        name = slash + 1;
    const std::size_t length = std::wcslen(name);
    if (length > kMaxLongNameChars)
        return 0;
    if (length <= kLongEntryChars)
        return 2;
    return std::uint32_t((length + kLongEntryChars - 1) / kLongEntryChars + 1);
}

std::uint32_t CountLongNameEntries(const char* ansiName)
{
    // Counting on the UTF-16 form gives the same result as the ANSI byte-length test for short names:
    // a name of fewer than 13 bytes has fewer than 13 characters.
    wchar_t wide[kNameUnits];
    if (ansiName == nullptr || (AnsiToWide(ansiName, wide, kNameUnits) == 0 && ansiName[0] != '\0'))
        return 0;
    return EntryCountForWideName(wide);
}

std::int32_t FindFreeEntryRun(std::uint32_t count, const FatDirSlot* entries, std::uint32_t entryCount)
{
    if (count == 0 || entries == nullptr)
        return -1;
    std::uint32_t run = 0;
    for (std::uint32_t i = 0; i < entryCount && i <= std::uint32_t(INT32_MAX); ++i) {
        const std::uint8_t first = entries[i].raw[0];
        if (first == kSlotFree || first == kSlotDeleted) {
            if (++run == count)
                return std::int32_t(i);
        } else {
            run = 0;
        }
    }
    return -1;
}

EngineStatus MakeShortName(const char* ansiName, char* out, std::uint32_t outSize, const FatDirSlot* entries,
                           std::uint32_t entryCount)
{
    if (out == nullptr || outSize < kShortTextBytes)
        return kStatusFolderError;
    out[0] = '\0';
    if (ansiName == nullptr)
        return kStatusFolderError;
    const std::string name(ansiName);

    // A dot at index 0 does not separate an extension.
    const std::size_t dot = name.size() > 1 ? name.find_last_of('.') : std::string::npos;
    const bool hasDot = dot != std::string::npos && dot >= 1;

    std::string cleaned;
    bool lossy = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (hasDot && i == dot) {
            cleaned += '.';
            continue;
        }
        const std::uint8_t c = std::uint8_t(name[i]);
        if (IsValidShortNameChar(c))
            cleaned += char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        else
            lossy = true;
    }

    const std::size_t lastDot = cleaned.size() > 1 ? cleaned.find_last_of('.') : std::string::npos;
    const std::size_t p = (lastDot != std::string::npos && lastDot >= 1) ? lastDot : 0;
    if (cleaned.size() - p > 4 || p >= 9)
        lossy = true;

    if (!lossy) {
        std::memcpy(out, cleaned.c_str(), cleaned.size() + 1);  // at most 12 characters here
        return kStatusOk;
    }

    const std::string base = p > 0 ? cleaned.substr(0, p) : cleaned;
    const std::string extension = p > 0 ? cleaned.substr(p + 1, 3) : std::string();

    for (std::uint32_t tail = 0; tail <= kMaxTail; ++tail) {
        const std::string digits = std::to_string(tail);
        std::string candidate = base.substr(0, 8 - 1 - digits.size()) + '~' + digits;

        // Compared as the slot stores it: base and tail against the first bytes, the extension
        // against bytes 8-10.
        std::uint8_t stored[11];
        std::memset(stored, ' ', sizeof stored);
        std::memcpy(stored, candidate.data(), candidate.size());
        std::memcpy(stored + 8, extension.data(), extension.size());
        if (stored[0] == kSlotDeleted)
            stored[0] = kSlotE5Escape;

        bool taken = false;
        for (std::uint32_t i = 0; entries != nullptr && i < entryCount && !taken; ++i) {
            taken = std::memcmp(entries[i].raw, stored, candidate.size()) == 0 &&
                    std::memcmp(entries[i].raw + 8, stored + 8, extension.size()) == 0;
        }
        if (taken)
            continue;

        if (p > 0)
            candidate += '.' + extension;
        std::memcpy(out, candidate.c_str(), candidate.size() + 1);  // at most 12 characters
        return kStatusOk;
    }
    return kStatusFolderError;
}

EngineStatus WriteEntrySetAt(FatDirSlot* entries, std::uint32_t entryCount, std::uint32_t index, std::uint32_t count,
                             std::uint16_t firstCluster, std::uint16_t highCluster, const wchar_t* longName,
                             const char* shortText, std::uint8_t attributes, std::uint32_t size, std::time_t created,
                             std::time_t accessed, std::time_t written)
{
    if (entries == nullptr || shortText == nullptr || !EntrySetFits(entryCount, index, count) ||
        (count >= 2 && !LongNameFits(longName)))
        return kStatusFolderError;

    FatShortEntry& e = entries[index].entry;
    StoreShortName(e, shortText);
    e.attributes = attributes;
    e.size = size;
    StoreEntryTimes(e, created, accessed, written);
    e.firstCluster = firstCluster;
    e.firstClusterHigh = highCluster;

    if (count >= 2)
        WriteLongEntries(entries, index, count, longName, ShortNameChecksum(entries[index].raw));
    return kStatusOk;
}

EngineStatus WriteRenamedEntrySetAt(FatDirSlot* entries, std::uint32_t entryCount, std::uint32_t index,
                                    std::uint32_t count, const wchar_t* longName, const char* shortText,
                                    const FatDirSlot& oldEntry)
{
    if (entries == nullptr || shortText == nullptr || !EntrySetFits(entryCount, index, count) ||
        (count >= 2 && !LongNameFits(longName)))
        return kStatusFolderError;

    const FatDirSlot old = oldEntry;  // the old entry may lie inside the slots written below
    entries[index] = old;
    FatShortEntry& e = entries[index].entry;
    StoreShortName(e, shortText);
    const std::tm now = FatLocalTime(std::time(nullptr));
    e.accessDate = FatDate(now);
    e.writeDate = FatDate(now);
    e.writeTime = FatTime(now);

    if (count >= 2)
        WriteLongEntries(entries, index, count, longName, ShortNameChecksum(entries[index].raw));
    return kStatusOk;
}

EngineStatus BuildFileEntrySet(std::uint32_t index, std::uint32_t count, std::uint16_t firstCluster,
                               const char* ansiLongName, const char* shortText, std::uint8_t typeCode,
                               std::uint32_t size, std::time_t created, std::time_t accessed, std::time_t written,
                               FatDirSlot* entries, std::uint32_t entryCount, std::uint16_t highCluster)
{
    wchar_t wide[kMaxLongNameChars + 1] = {};
    if (count >= 2 && !ConvertLongName(ansiLongName, wide))
        return kStatusFolderError;
    return WriteEntrySetAt(entries, entryCount, index, count, firstCluster, highCluster, wide, shortText,
                           FileAttributeForTypeCode(typeCode), size, created, accessed, written);
}

EngineStatus BuildFolderEntrySet(std::uint32_t index, std::uint32_t count, std::uint16_t firstCluster,
                                 const char* ansiLongName, const char* shortText, FatDirSlot* entries,
                                 std::uint32_t entryCount)
{
    wchar_t wide[kMaxLongNameChars + 1] = {};
    if (entries == nullptr || shortText == nullptr || !EntrySetFits(entryCount, index, count) ||
        (count >= 2 && !ConvertLongName(ansiLongName, wide)))
        return kStatusFolderError;
    std::memset(entries[index].raw, 0, sizeof entries[index].raw);
    const std::time_t now = std::time(nullptr);
    return WriteEntrySetAt(entries, entryCount, index, count, firstCluster, 0, wide, shortText, kAttrDirectory, 0, now,
                           now, now);
}

EngineStatus BuildRenamedEntrySet(std::uint32_t index, std::uint32_t count, const char* ansiLongName,
                                  const char* shortText, const FatDirSlot& oldEntry, FatDirSlot* entries,
                                  std::uint32_t entryCount)
{
    wchar_t wide[kMaxLongNameChars + 1] = {};
    if (count >= 2 && !ConvertLongName(ansiLongName, wide))
        return kStatusFolderError;
    return WriteRenamedEntrySetAt(entries, entryCount, index, count, wide, shortText, oldEntry);
}

std::uint32_t EntrySetStart(const FatDirSlot* entries, std::uint32_t shortSlot)
{
    std::uint32_t start = shortSlot;
    for (std::uint32_t pieces = 0; start > 0 && pieces < kMaxLongEntries; ++pieces) {
        const FatDirSlot& before = entries[start - 1];
        if (before.raw[11] != kAttrLongName)
            break;
        --start;
        if (before.raw[0] & kLastLongEntry)
            break;
    }
    return start;
}

bool MoveEntrySetToIndex(FatDirSlot* entries, std::uint32_t entryCount, std::uint32_t id, std::uint32_t newIndex)
{
    struct Set {
        std::uint32_t start;
        std::uint32_t end;  // the short entry
    };
    std::vector<Set> sets;
    std::vector<FatDirSlot> rebuilt;
    try {
        for (std::uint32_t i = 0; i < entryCount; ++i) {
            if (entries[i].raw[0] != kSlotFree && entries[i].raw[11] != kAttrLongName)
                sets.push_back({EntrySetStart(entries, i), i});
        }
        rebuilt.reserve(entryCount);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const auto moved =
        std::find_if(sets.begin(), sets.end(), [&](const Set& s) { return entries[s.end].entry.firstCluster == id; });
    if (moved == sets.end() || newIndex >= sets.size())
        return false;
    const Set set = *moved;
    sets.erase(moved);
    sets.insert(sets.begin() + newIndex, set);
    for (const Set& s : sets)
        rebuilt.insert(rebuilt.end(), entries + s.start, entries + s.end + 1);
    rebuilt.resize(entryCount, FatDirSlot{});
    std::copy(rebuilt.begin(), rebuilt.end(), entries);
    return true;
}

void ReadEntrySetName(const FatDirSlot* entries, std::uint32_t setStart, std::uint32_t shortSlot, wchar_t* out,
                      std::uint32_t outChars)
{
    if (out == nullptr || outChars == 0)
        return;
    out[0] = L'\0';

    if (setStart < shortSlot) {
        std::uint32_t length = 0;
        for (std::uint32_t slot = shortSlot; slot-- > setStart;) {
            const FatLongEntry& e = entries[slot].longEntry;
            const std::uint16_t piece[kLongEntryChars] = {
                e.chars1[0], e.chars1[1], e.chars1[2], e.chars1[3], e.chars1[4], e.chars2[0], e.chars2[1],
                e.chars2[2], e.chars2[3], e.chars2[4], e.chars2[5], e.chars3[0], e.chars3[1]};
            for (std::uint16_t c : piece) {
                if (c == 0 || length + 1 >= outChars) {
                    out[length] = L'\0';
                    return;
                }
                out[length++] = wchar_t(c);
            }
        }
        out[length] = L'\0';
        return;
    }

    // No long name: the base without trailing spaces (its first byte always stays), a dot, and the
    // extension bytes as stored.
    const FatShortEntry& e = entries[shortSlot].entry;
    char text[13];
    std::size_t baseLen = sizeof e.name;
    while (baseLen > 1 && e.name[baseLen - 1] == ' ')
        --baseLen;
    std::memcpy(text, e.name, baseLen);
    if (e.name[0] == kSlotE5Escape)
        text[0] = char(kSlotDeleted);
    text[baseLen] = '.';
    std::memcpy(text + baseLen + 1, e.extension, sizeof e.extension);
    text[baseLen + 4] = '\0';
    AnsiToWide(text, out, outChars);
}

void CopyEntryFieldsToRecord(const FatShortEntry& e, DirRecord& record)
{
    record.attributes = e.attributes;
    record.reserved = e.reserved;
    record.createTenths = e.createTenths;
    record.createTime = e.createTime;
    record.createDate = e.createDate;
    record.accessDate = e.accessDate;
    record.firstClusterHigh = e.firstClusterHigh;
    record.writeTime = e.writeTime;
    record.writeDate = e.writeDate;
    record.firstCluster = e.firstCluster;
    record.size = e.size;
}

}  // namespace engine
