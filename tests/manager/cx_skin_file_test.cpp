// Skin files: splitting values, location specs, resources copied to global memory and to temporary
// files, and the INI reader compared with Python's configparser on the same fixture.
#include "manager/framework/skin/cx_skin_file.h"
#include "manager/framework/skin/cx_skin_props.h"
#include "manager/framework/windows/cx_platform.h"
#include "platform/win/temp_file_path.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::RunningUnderWine;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::TempFolder;
using test_support::UnixPath;

std::wstring Text(const wchar_t* text)
{
    return text != nullptr ? text : L"";
}

std::vector<std::wstring> Parts(const CxArray<CxString>& array)
{
    std::vector<std::wstring> parts;
    for (int i = 0; i < array.GetCount(); ++i)
        parts.push_back(Text(array.ElementAt(i)));
    return parts;
}

class PlatformScope {
public:
    explicit PlatformScope(DWORD code) { CxForcePlatform(code); }
    ~PlatformScope() { CxClearForcedPlatform(); }
};

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

// The files TMP* in the manager's temporary folder.
std::vector<std::wstring> TempCopies()
{
    wchar_t pattern[MAX_PATH] = {};
    EXPECT_EQ(UtilGetTempFilePath(MAX_PATH, pattern, L"TMP*"), S_OK);
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::string ReadFileBytes(const wchar_t* path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// ---- Splitting ----

TEST(CxSkinFileTest, SplitsAtTheDelimiterIntoAtMostTheParts)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* delimiter;
        int maxParts;
        HRESULT hr;
        std::vector<std::wstring> parts;
    };
    const Case cases[] = {
        {L"a|b|c", L"|", 5, S_OK, {L"a", L"b", L"c"}},
        {L"a|b|c", L"|", 2, S_OK, {L"a", L"b"}},  // what follows the last allowed part is dropped
        {L"a|b|c", L"|", 1, S_OK, {L"a"}},
        {L"a||c|", L"|", 9, S_OK, {L"a", L"", L"c", L""}},
        {L"1,2,3,4,5", L",", 4, S_OK, {L"1", L"2", L"3", L"4"}},
        {L"a::b", L"::", 3, S_OK, {L"a", L"b"}},
        {L"a|b", L"|", 0, S_FALSE, {L"a|b"}},  // no maximum: the whole text
        {L"a|b", L"", 3, S_FALSE, {L"a|b"}},
        {L"a|b", nullptr, 3, S_FALSE, {L"a|b"}},
        {L"", L"|", 3, S_FALSE, {L""}},
        {nullptr, L"|", 3, S_FALSE, {L""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(c.text) + L" / " + std::to_wstring(c.maxParts));
        CxArray<CxString> parts;
        parts.Add(CxString(L"stale"));
        EXPECT_EQ(CxStrSplit(c.text, c.delimiter, parts, c.maxParts), c.hr);
        EXPECT_EQ(Parts(parts), c.parts);
    }
}

TEST(CxSkinFileTest, PadsArraysToTheMinimumCount)
{
    CxArray<CxString> array;
    EXPECT_EQ(CxArraySetMinCount(array, -1), S_OK);
    EXPECT_EQ(Parts(array), (std::vector<std::wstring>{L""}));
    array.Add(CxString(L"x"));
    EXPECT_EQ(CxArraySetMinCount(array, 4), S_OK);
    EXPECT_EQ(Parts(array), (std::vector<std::wstring>{L"", L"x", L"", L""}));
    EXPECT_EQ(CxArraySetMinCount(array, 2), S_OK);  // never shortens
    EXPECT_EQ(array.GetCount(), 4);
}

// ---- Location specs ----

TEST(CxSkinFileTest, ParsesLocationSpecs)
{
    struct Case {
        const wchar_t* spec;
        HRESULT hr;
        const wchar_t* module;
        UINT id;
        WORD typeId;
        const wchar_t* typeName;
        const wchar_t* options;
    };
    const Case cases[] = {
        {L"?139,INI", S_OK, L"", 139, 0, L"INI", L""},
        {L"?1360,2", S_OK, L"", 1360, 2, L"", L""},
        {L"mod.dll?5,IMG", S_OK, L"mod.dll", 5, 0, L"IMG", L""},
        {L"?1340,IMG,/cut", S_OK, L"", 1340, 0, L"IMG", L"/cut"},
        {L"?7", S_OK, L"", 7, 0, L"", L""},
        {L"?65535,65535", S_OK, L"", 65535, 65535, L"", L""},
        {L"C:\\skins\\a.ini", S_FALSE, L"", 0, 0, L"", L""},
        {L"a.ini?", S_FALSE, L"", 0, 0, L"", L""},
        {L"", S_FALSE, L"", 0, 0, L"", L""},
        {nullptr, S_FALSE, L"", 0, 0, L"", L""},
        {L"?x,IMG", E_UNEXPECTED, L"", 0, 0, L"", L""},
        {L"?,IMG", E_UNEXPECTED, L"", 0, 0, L"", L""},
        {L"?-5,IMG", E_UNEXPECTED, L"", 0, 0, L"", L""},
        {L"?65536,IMG", E_UNEXPECTED, L"", 0, 0, L"", L""},
        {L"?99999999999999999999,IMG", E_UNEXPECTED, L"", 0, 0, L"", L""},
        {L"?5,0", E_UNEXPECTED, L"", 0, 0, L"", L""},
        {L"?5,70000", E_UNEXPECTED, L"", 0, 0, L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(c.spec));
        CxResourceSpec spec;
        EXPECT_EQ(CxParseResourceSpec(c.spec, &spec), c.hr);
        if (c.hr != S_OK)
            continue;
        EXPECT_EQ(Text(spec.module), c.module);
        EXPECT_EQ(spec.id, c.id);
        EXPECT_EQ(spec.typeId, c.typeId);
        EXPECT_EQ(Text(spec.typeName), c.typeName);
        EXPECT_EQ(Text(spec.options), c.options);
    }
}

// The pack folder goes in front of relative file paths only: a resource spec or an absolute path would
// no longer name what it named.
TEST(CxSkinFileTest, PrefixesOnlyRelativeFilePathsWithThePackFolder)
{
    struct Case {
        const wchar_t* spec;
        const wchar_t* folder;
        HRESULT hr;
        const wchar_t* result;
    };
    const Case cases[] = {
        {L"img\\frame.bmp", L"C:\\pack", S_OK, L"C:\\pack\\img\\frame.bmp"},
        {L"frame.bmp", L"C:\\pack\\", S_OK, L"C:\\pack\\frame.bmp"},
        {L"..\\frame.bmp", L"C:\\pack", S_OK, L"C:\\pack\\..\\frame.bmp"},
        {L"?310,IMG", L"C:\\pack", S_FALSE, L"?310,IMG"},
        {L"mod.dll?5,IMG", L"C:\\pack", S_FALSE, L"mod.dll?5,IMG"},
        {L"C:\\other\\frame.bmp", L"C:\\pack", S_FALSE, L"C:\\other\\frame.bmp"},
        {L"d:frame.bmp", L"C:\\pack", S_FALSE, L"d:frame.bmp"},
        {L"\\root\\frame.bmp", L"C:\\pack", S_FALSE, L"\\root\\frame.bmp"},
        {L"\\\\server\\share\\frame.bmp", L"C:\\pack", S_FALSE, L"\\\\server\\share\\frame.bmp"},
        {L"frame.bmp", L"", S_FALSE, L"frame.bmp"},
        {L"frame.bmp", nullptr, S_FALSE, L"frame.bmp"},
        {L"", L"C:\\pack", S_FALSE, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(c.spec) + L" in " + Text(c.folder));
        CxString spec(c.spec);
        EXPECT_EQ(CxPrefixPackFolder(spec, c.folder), c.hr);
        EXPECT_EQ(Text(spec), c.result);
    }
}

TEST(CxSkinFileTest, LoadsResourcesIntoGlobalMemory)
{
    CxResourceSpec spec;
    ASSERT_EQ(CxParseResourceSpec(L"?141,10", &spec), S_OK);  // RCDATA
    HGLOBAL memory = nullptr;
    DWORD size = 0;
    ASSERT_EQ(CxLoadResourceToGlobal(spec, &memory, &size), S_OK);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(GlobalFlags(memory) & GMEM_DISCARDED, 0u);
    const char* bytes = static_cast<const char*>(GlobalLock(memory));
    EXPECT_EQ(std::string(bytes, size), "abc");
    GlobalUnlock(memory);
    GlobalFree(memory);

    for (const wchar_t* missing : {L"?999,INI", L"?141,INI", L"?141", L"kernel32.dll?141,10"}) {
        SCOPED_TRACE(missing);
        ASSERT_EQ(CxParseResourceSpec(missing, &spec), S_OK);
        memory = reinterpret_cast<HGLOBAL>(1);
        EXPECT_EQ(CxLoadResourceToGlobal(spec, &memory, &size), E_INVALIDARG);
        EXPECT_EQ(memory, nullptr);
    }
}

// A module named in a spec is looked up among the loaded ones; a skin file never makes the program
// load code.
TEST(CxSkinFileTest, NeverLoadsTheModuleASpecNames)
{
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const wchar_t* candidates[] = {L"mapi32.dll", L"msacm32.dll", L"hhctrl.ocx", L"wmp.dll", L"msxml3.dll"};
    const wchar_t* unloaded = nullptr;
    for (const wchar_t* name : candidates) {
        const std::wstring path = std::wstring(system) + L"\\" + name;
        if (GetModuleHandleW(name) == nullptr && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            unloaded = name;
            break;
        }
    }
    ASSERT_NE(unloaded, nullptr) << "no system module that is present and not loaded";
    for (const DWORD platform : {CX_PLATFORM_NT5, CX_PLATFORM_WIN98}) {
        PlatformScope scope(platform);
        CxString location;
        location.Format(L"%s?1,INI", unloaded);
        EXPECT_EQ(CxResolveLocation(location, nullptr, nullptr), E_INVALIDARG);
        EXPECT_EQ(GetModuleHandleW(unloaded), nullptr) << "the spec loaded " << unloaded;
        EXPECT_EQ(CxFindSpecModule(unloaded), nullptr);
    }
    // A loaded module, by its name: the test program itself.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const wchar_t* name = wcsrchr(self, L'\\') != nullptr ? wcsrchr(self, L'\\') + 1 : self;
    EXPECT_EQ(CxFindSpecModule(name), GetModuleHandleW(nullptr));
    CxString location;
    location.Format(L"%s?141,10", name);
    HGLOBAL memory = nullptr;
    DWORD size = 0;
    EXPECT_EQ(CxResolveLocation(location, &memory, &size), S_OK);
    EXPECT_EQ(size, 3u);
    GlobalFree(memory);
}

TEST(CxSkinFileTest, WritesGlobalMemoryToFiles)
{
    TempFolder folder;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 4);
    ASSERT_NE(memory, nullptr);
    std::memcpy(GlobalLock(memory), "wxyz", 4);
    GlobalUnlock(memory);
    const std::wstring path = folder.File(L"out.bin").wstring();
    EXPECT_EQ(CxWriteGlobalToFile(path.c_str(), memory, 4, TRUE), S_OK);
    EXPECT_EQ(ReadFileBytes(path.c_str()), "wxyz");
    EXPECT_EQ(CxWriteGlobalToFile(path.c_str(), memory, 2, FALSE), S_OK);  // replaces the file
    EXPECT_EQ(ReadFileBytes(path.c_str()), "wx");
    EXPECT_EQ(CxWriteGlobalToFile(L"", memory, 4, FALSE), E_INVALIDARG);
    EXPECT_EQ(CxWriteGlobalToFile(nullptr, memory, 4, FALSE), E_INVALIDARG);
    EXPECT_EQ(CxWriteGlobalToFile(path.c_str(), nullptr, 4, FALSE), E_INVALIDARG);
    EXPECT_EQ(CxWriteGlobalToFile(path.c_str(), memory, static_cast<DWORD>(GlobalSize(memory)) + 1, FALSE),
              E_INVALIDARG);  // more than the memory holds
    const std::wstring nowhere = folder.File(L"no\\such\\folder\\x.bin").wstring();
    EXPECT_EQ(CxWriteGlobalToFile(nowhere.c_str(), memory, 4, FALSE), E_ACCESSDENIED);
    GlobalFree(memory);
}

TEST(CxSkinFileTest, NamesTemporaryFilesFromNewGuids)
{
    wchar_t folder[MAX_PATH] = {};
    ASSERT_EQ(UtilGetTempFilePath(MAX_PATH, folder, L""), S_OK);
    CxString first;
    CxString second;
    ASSERT_EQ(CxMakeTempFileName(&first), S_OK);
    ASSERT_EQ(CxMakeTempFileName(&second), S_OK);
    for (const CxString* name : {&first, &second}) {
        const std::wstring text = Text(*name);
        ASSERT_EQ(text.rfind(folder, 0), 0u) << "not in the manager's folder: " << text.c_str();
        const std::wstring file = text.substr(wcslen(folder));
        ASSERT_EQ(file.size(), 3u + 32u);
        EXPECT_EQ(file.substr(0, 3), L"TMP");
        for (const wchar_t c : file.substr(3))
            EXPECT_TRUE(iswdigit(c) || (c >= L'A' && c <= L'F')) << static_cast<int>(c);
        EXPECT_LE(text.size(), static_cast<size_t>(MAX_PATH));
    }
    EXPECT_NE(Text(first), Text(second));
}

struct Seen {
    std::wstring path;
    std::wstring given;
    std::string bytes;
    HRESULT answer = S_OK;
};

HRESULT RecordResolved(const CxResolvedFile& file)
{
    auto* seen = static_cast<Seen*>(file.context);
    seen->path = Text(file.path);
    seen->given = Text(file.given);
    seen->bytes = ReadFileBytes(file.path);
    return seen->answer;
}

// A resource becomes a temporary file for the call and is gone after it, whatever the callback answers.
TEST(CxSkinFileTest, ResolvesResourcesToTemporaryFilesThatAreDeleted)
{
    const std::vector<std::wstring> before = TempCopies();
    for (const HRESULT answer : {S_OK, S_FALSE, E_ABORT}) {
        Seen seen;
        seen.answer = answer;
        EXPECT_EQ(CxWithResolvedFile(L"?141,10", RecordResolved, &seen), answer);
        EXPECT_EQ(seen.given, L"?141,10");
        EXPECT_EQ(seen.bytes, "abc");
        EXPECT_NE(seen.path.find(L"\\TMP"), std::wstring::npos);
        EXPECT_EQ(GetFileAttributesW(seen.path.c_str()), INVALID_FILE_ATTRIBUTES) << "the copy stayed";
    }
    EXPECT_EQ(TempCopies(), before);

    // A plain path is used as it is and never deleted.
    TempFolder folder;
    const std::wstring plain = folder.File(L"plain.ini").wstring();
    WriteFileBytes(plain, "[a]\r\nb=1\r\n");
    Seen seen;
    EXPECT_EQ(CxWithResolvedFile(plain.c_str(), RecordResolved, &seen), S_OK);
    EXPECT_EQ(seen.path, plain);
    EXPECT_EQ(seen.given, L"");
    EXPECT_NE(GetFileAttributesW(plain.c_str()), INVALID_FILE_ATTRIBUTES);

    CxString location(L"?999,INI");
    EXPECT_EQ(CxWithResolvedFile(location, RecordResolved, &seen), E_INVALIDARG);
    EXPECT_EQ(CxWithResolvedFile(L"?x,INI", RecordResolved, &seen), E_UNEXPECTED);
    EXPECT_EQ(CxWithResolvedFile(L"", RecordResolved, &seen), E_UNEXPECTED);
    EXPECT_EQ(CxWithResolvedFile(L"?141,10", nullptr, &seen), E_INVALIDARG);
    EXPECT_EQ(CxResolveLocation(location, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Text(location), L"?999,INI");
    CxString path(plain.c_str());
    EXPECT_EQ(CxResolveLocation(path, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(Text(path), plain);
    EXPECT_EQ(TempCopies(), before);
}

// ---- The INI reader against configparser ----

struct Expected {
    char kind;
    std::wstring section;
    std::wstring key;
    std::wstring value;
};

std::vector<Expected> RunFixtureScript(const TempFolder& folder)
{
    std::vector<Expected> rows;
    const test_support::ShellResult result =
        RunShell(ShellQuote("/usr/bin/python3") + " " + ShellQuote(KWEP_SKIN_INI_SCRIPT) + " " +
                 ShellQuote(folder.UnixFile(L"fixture.ini")));
    EXPECT_TRUE(result.finished && result.exitCode == 0) << result.err;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        size_t start = 0;
        for (int i = 0; i < 3; ++i) {
            const size_t tab = line.find('\t', start);
            if (tab == std::string::npos)
                break;
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        fields.push_back(line.substr(start));
        if (fields.size() != 4 || fields[0].size() != 1) {
            ADD_FAILURE() << "bad line from the script: " << line;
            continue;
        }
        rows.push_back({fields[0][0], Widen(fields[1]), Widen(fields[2]), Widen(fields[3])});
    }
    return rows;
}

LRESULT CALLBACK PlainProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

HWND MakeOwner()
{
    static const wchar_t* cls = RegisterTestWindowClass(L"KwepSkinFileOwner", PlainProc);
    return CreateWindowExW(0, cls, L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

std::wstring FormatPositions(const CxSkinPositions& list)
{
    std::wstring text;
    for (int i = 0; i < list.GetCount(); ++i) {
        const CxSkinPosition& p = list.ElementAt(i);
        if (i > 0)
            text += L";";
        text += std::to_wstring(p.x) + L"," + std::to_wstring(p.y) + L"," + std::to_wstring(p.w) + L"," +
                std::to_wstring(p.h) + L"," + (p.set ? L"1" : L"0");
    }
    return text;
}

std::wstring FormatColors(const CxSkinColors& list)
{
    std::wstring text;
    for (int i = 0; i < list.GetCount(); ++i) {
        const CxSkinColor& c = list.ElementAt(i);
        if (i > 0)
            text += L";";
        wchar_t hex[8] = L"-";
        if (c.set)
            swprintf(hex, 8, L"%02x%02x%02x", GetRValue(c.color), GetGValue(c.color), GetBValue(c.color));
        text += hex;
    }
    return text;
}

class CxSkinIniTest : public ::testing::TestWithParam<DWORD> {};

// Every value configparser reads from the fixture is what the profile reader gives (the Win32 quote
// rule applied by the script); positions and colours are parsed as the script's own reading says.
TEST_P(CxSkinIniTest, ReadsWhatConfigparserReads)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "python3 runs on the host only";
    TempFolder folder;
    const std::vector<Expected> rows = RunFixtureScript(folder);
    ASSERT_GE(rows.size(), 20u);
    PlatformScope platform(GetParam());
    const std::wstring file = folder.File(L"fixture.ini").wstring();
    HWND owner = MakeOwner();
    ASSERT_NE(owner, nullptr);
    for (const Expected& row : rows) {
        SCOPED_TRACE(std::wstring(1, static_cast<wchar_t>(row.kind)) + L" [" + row.section + L"] " + row.key);
        if (row.kind == 'V') {
            CxString value;
            ASSERT_EQ(CxIniReadString(file.c_str(), row.section.c_str(), row.key.c_str(), &value), S_OK);
            EXPECT_EQ(Text(value), row.value);
            CxString raw;
            EXPECT_EQ(CxIniRead(file.c_str(), row.section.c_str(), row.key.c_str(), &raw, nullptr, owner, 1, nullptr,
                                nullptr),
                      S_FALSE);
            EXPECT_EQ(Text(raw), row.value);
        } else if (row.kind == 'P') {
            CxSkinPositions list;
            const HRESULT hr = CxIniRead(file.c_str(), row.section.c_str(), row.key.c_str(), nullptr, CxSkinParsePos,
                                         owner, -1, &list, nullptr);
            EXPECT_EQ(FormatPositions(list), row.value);
            const bool allSet =
                row.value.find(L",0;") == std::wstring::npos && row.value.substr(row.value.size() - 2) != L",0";
            EXPECT_EQ(hr, allSet ? S_OK : E_ACCESSDENIED);
        } else if (row.kind == 'C') {
            CxSkinColors list;
            const HRESULT hr = CxIniRead(file.c_str(), row.section.c_str(), row.key.c_str(), nullptr, CxSkinParseColor,
                                         owner, -1, &list, nullptr);
            EXPECT_EQ(FormatColors(list), row.value);
            EXPECT_EQ(hr, row.value.find(L'-') == std::wstring::npos ? S_OK : E_ACCESSDENIED);
        } else {
            ADD_FAILURE() << "unknown row kind " << row.kind;
        }
    }
    DestroyWindow(owner);
}

INSTANTIATE_TEST_SUITE_P(Platforms, CxSkinIniTest, ::testing::Values(CX_PLATFORM_NT5, CX_PLATFORM_WIN98));

TEST(CxSkinFileTest, ReadsTheBuiltInSkinThroughATemporaryCopy)
{
    struct Read {
        const wchar_t* section;
        const wchar_t* key;
        CxString value;
    };
    const std::vector<std::wstring> before = TempCopies();
    Read read{L"main", L"grip", CxString()};
    const HRESULT hr = CxWithResolvedFile(
        CX_BUILTIN_SKIN_SPEC,
        [](const CxResolvedFile& file) {
            auto* r = static_cast<Read*>(file.context);
            return CxIniReadString(file.path, r->section, r->key, &r->value);
        },
        &read);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Text(read.value), L"15,15");
    EXPECT_EQ(TempCopies(), before);
}

}  // namespace
