// The PC file helpers, run once with the wide calls (NT family) and once with the ANSI calls forced
// through the platform flag (Windows 95 family).
#include "platform/win/file_util.h"
#include "platform/win/win_platform.h"
#include "tests/platform/win/unicode_file_names.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr UINT kResource = 501;       // "KWEP resource" CR LF, from file_util_test.rc
constexpr UINT kEmptyResource = 502;  // no bytes
constexpr UINT kMissingResource = 599;
constexpr char kResourceType[] = "KWEPTEST";

std::wstring TempPath()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, length);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Bytes ReadAll(const std::wstring& path)
{
    Bytes bytes;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    std::uint8_t buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    CloseHandle(file);
    return bytes;
}

// Writes through a handle from UtilOpenOrCreateFile and closes it.
void WriteThroughHelper(const std::wstring& path, const Bytes& bytes)
{
    const HANDLE file = UtilOpenOrCreateFile(path.c_str(), true);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_NE(file, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(file);
}

class FileUtil : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        WinForcePlatform(GetParam() ? WIN_PLATFORM_NT5 : WIN_PLATFORM_WIN98);
        folder_ = TempPath() + L"kwep-file-util-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(counter_++);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }

    void TearDown() override
    {
        WinClearForcedPlatform();
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((folder_ + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring path = folder_ + L"\\" + found.cFileName;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder_.c_str());
    }

    std::wstring File(const std::wstring& name) const { return folder_ + L"\\" + name; }
    const std::wstring& Folder() const { return folder_; }
    bool NtFamily() const { return GetParam(); }

private:
    static inline int counter_ = 0;
    std::wstring folder_;
};

INSTANTIATE_TEST_SUITE_P(Families, FileUtil, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "NtFamily" : "Windows95Family";
});

TEST_P(FileUtil, FlagFollowsTheOverride)
{
    EXPECT_EQ(UtilIsUnicodeOS(), NtFamily());
    EXPECT_EQ(UtilCheckOSVersion(), S_OK);
    EXPECT_EQ(UtilIsUnicodeOS(), NtFamily()) << "a version check does not undo the test's choice";
}

// Each helper on an ASCII name and on a name with characters of the ANSI code page beyond ASCII.
TEST_P(FileUtil, FilesByName)
{
    ASSERT_TRUE(CanCreateFilesNamedBeyondAscii(Folder()));
    for (const std::wstring name : {L"plain", L"caf\u00e9 \u00ff"}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        const std::wstring path = File(name + L".bin");
        const Bytes content(3000, 0x5A);
        ASSERT_NO_FATAL_FAILURE(WriteThroughHelper(path, content));
        EXPECT_EQ(ReadAll(path), content);

        // Written: no sharing. Read: shared for reading.
        const HANDLE writer = UtilOpenOrCreateFile(path.c_str(), true);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(UtilOpenOrCreateFile(path.c_str(), false), INVALID_HANDLE_VALUE);
        CloseHandle(writer);
        EXPECT_EQ(ReadAll(path).size(), 0u) << "creating truncates";
        ASSERT_NO_FATAL_FAILURE(WriteThroughHelper(path, content));
        const HANDLE reader1 = UtilOpenOrCreateFile(path.c_str(), false);
        const HANDLE reader2 = UtilOpenOrCreateFile(path.c_str(), false);
        EXPECT_NE(reader1, INVALID_HANDLE_VALUE);
        EXPECT_NE(reader2, INVALID_HANDLE_VALUE);
        CloseHandle(reader1);
        CloseHandle(reader2);

        DWORD low = 0;
        DWORD high = 99;
        EXPECT_TRUE(UtilGetFileSize(path.c_str(), &low, &high));
        EXPECT_EQ(low, 3000u);
        EXPECT_EQ(high, 0u);
        UtilStatRecord status{};
        EXPECT_TRUE(UtilStatFile(path.c_str(), &status));
        EXPECT_EQ(status.st_size, 3000);

        // Copy over an existing target, then move.
        const std::wstring copy = File(name + L" copy.bin");
        ASSERT_NO_FATAL_FAILURE(WriteThroughHelper(copy, Bytes(10, 1)));
        EXPECT_TRUE(UtilCopyFile(path.c_str(), copy.c_str()));
        EXPECT_EQ(ReadAll(copy), content);
        const std::wstring moved = File(name + L" moved.bin");
        EXPECT_TRUE(UtilMoveFile(copy.c_str(), moved.c_str()));
        EXPECT_FALSE(Exists(copy));
        EXPECT_EQ(ReadAll(moved), content);

        // Read-only: a plain delete fails, the forced one clears the bit first.
        const DWORD attributes = UtilGetFileAttributes(path.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
        EXPECT_TRUE(UtilSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_NE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        EXPECT_FALSE(UtilDeleteFile(path.c_str()));
        EXPECT_TRUE(UtilDeleteFileForce(path.c_str()));
        EXPECT_FALSE(Exists(path));
        EXPECT_TRUE(UtilDeleteFile(moved.c_str()));
        EXPECT_FALSE(Exists(moved));

        // The file is gone now.
        EXPECT_FALSE(UtilDeleteFileForce(path.c_str()));
        EXPECT_EQ(UtilGetFileAttributes(path.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(UtilOpenOrCreateFile(path.c_str(), false), INVALID_HANDLE_VALUE);
        low = 77;
        high = 77;
        EXPECT_FALSE(UtilGetFileSize(path.c_str(), &low, &high));
        EXPECT_EQ(low, 77u);
        EXPECT_EQ(high, 77u);
        status.st_size = 77;
        EXPECT_FALSE(UtilStatFile(path.c_str(), &status));
        EXPECT_EQ(status.st_size, 77);
    }
}

// A name outside the ANSI code page: reachable by the wide calls only. On the Windows 95 family the
// helpers take the A calls, which cannot name the file.
TEST_P(FileUtil, NameOutsideTheAnsiCodePage)
{
    ASSERT_TRUE(CanCreateFilesNamedBeyondAscii(Folder()));
    const std::wstring path = File(L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.bin");
    const HANDLE created = UtilOpenOrCreateFile(path.c_str(), true);
    EXPECT_EQ(created != INVALID_HANDLE_VALUE, NtFamily());
    if (created != INVALID_HANDLE_VALUE) {
        CloseHandle(created);
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    DWORD low = 0;
    DWORD high = 0;
    EXPECT_EQ(UtilGetFileSize(path.c_str(), &low, &high), NtFamily());
    EXPECT_EQ(UtilGetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES, NtFamily());
    EXPECT_EQ(UtilCopyFile(path.c_str(), File(L"copy.bin").c_str()), NtFamily());
    EXPECT_EQ(UtilDeleteFile(path.c_str()), NtFamily());
    EXPECT_EQ(Exists(path), !NtFamily());
}

TEST_P(FileUtil, NullArguments)
{
    const std::wstring path = File(L"x.bin");
    DWORD low = 0;
    DWORD high = 0;
    UtilStatRecord status{};
    std::wstring extension;
    // clang-format off
    const std::pair<const char*, std::function<bool()>> refused[] = {
        {"UtilDeleteFile", [] { return UtilDeleteFile(nullptr); }},
        {"UtilDeleteFileForce", [] { return UtilDeleteFileForce(nullptr); }},
        {"UtilSetFileAttributes", [] { return UtilSetFileAttributes(nullptr, 0); }},
        {"UtilMoveFile from", [&] { return UtilMoveFile(nullptr, path.c_str()); }},
        {"UtilMoveFile to", [&] { return UtilMoveFile(path.c_str(), nullptr); }},
        {"UtilCopyFile from", [&] { return UtilCopyFile(nullptr, path.c_str()); }},
        {"UtilCopyFile to", [&] { return UtilCopyFile(path.c_str(), nullptr); }},
        {"UtilGetFileSize", [&] { return UtilGetFileSize(nullptr, &low, &high); }},
        {"UtilStatFile path", [&] { return UtilStatFile(nullptr, &status); }},
        {"UtilStatFile record", [&] { return UtilStatFile(path.c_str(), nullptr); }},
        {"UtilWriteResourceToFile", [] { return UtilWriteResourceToFile(kResource, kResourceType, nullptr); }},
        {"UtilGetModuleDirPath", [] { return UtilGetModuleDirPath(nullptr, nullptr, MAX_PATH); }},
        {"UtilGetFileExtension", [&] { return UtilGetFileExtension(nullptr, &extension); }},
        {"UtilIsSupportedAudioFile", [] { return UtilIsSupportedAudioFile(nullptr, false); }},
    };
    // clang-format on
    for (const auto& [name, call] : refused) {
        EXPECT_FALSE(call()) << name;
    }
    EXPECT_EQ(UtilGetFileAttributes(nullptr), 0u);
    EXPECT_EQ(UtilOpenOrCreateFile(nullptr, false), nullptr);
    EXPECT_EQ(UtilOpenOrCreateFile(nullptr, true), nullptr);
    EXPECT_EQ(UtilLoadLibrary(nullptr), nullptr);
    EXPECT_FALSE(Exists(path));
}

TEST_P(FileUtil, Resources)
{
    ASSERT_TRUE(CanCreateFilesNamedBeyondAscii(Folder()));
    const Bytes expected = {'K', 'W', 'E', 'P', ' ', 'r', 'e', 's', 'o', 'u', 'r', 'c', 'e', '\r', '\n'};
    std::unique_ptr<std::uint8_t[]> data;
    DWORD size = 0;
    ASSERT_TRUE(UtilLoadResourceData(kResource, kResourceType, &data, &size));
    ASSERT_EQ(size, expected.size());
    EXPECT_EQ(Bytes(data.get(), data.get() + size), expected);

    size = 0;
    EXPECT_TRUE(UtilLoadResourceData(kResource, kResourceType, nullptr, &size)) << "size only";
    EXPECT_EQ(size, expected.size());

    data.reset();
    EXPECT_FALSE(UtilLoadResourceData(kMissingResource, kResourceType, &data, &size));
    EXPECT_FALSE(UtilLoadResourceData(kEmptyResource, kResourceType, &data, &size));
    EXPECT_FALSE(UtilLoadResourceData(kResource, "NOSUCHTYPE", &data, &size));
    EXPECT_TRUE(data == nullptr);

    const std::wstring written = File(L"resource \u00e9.bin");
    EXPECT_TRUE(UtilWriteResourceToFile(kResource, kResourceType, written.c_str()));
    EXPECT_EQ(ReadAll(written), expected);

    const std::wstring missing = File(L"missing.bin");
    EXPECT_FALSE(UtilWriteResourceToFile(kMissingResource, kResourceType, missing.c_str()));
    EXPECT_FALSE(Exists(missing)) << "no file for a missing resource";
}

TEST_P(FileUtil, LibrariesAndModuleFolders)
{
    const HMODULE version = UtilLoadLibrary(L"version.dll");
    ASSERT_NE(version, nullptr);
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    wchar_t buffer[MAX_PATH];
    ASSERT_TRUE(UtilGetModuleDirPath(version, buffer, MAX_PATH));
    EXPECT_EQ(_wcsicmp(buffer, (std::wstring(system, length) + L"\\").c_str()), 0)
        << "got " << std::string(buffer, buffer + wcslen(buffer));
    FreeLibrary(version);

    EXPECT_EQ(UtilLoadLibrary(L"no-such-library-kwep.dll"), nullptr);

    // This program's own folder, with the trailing backslash.
    wchar_t program[MAX_PATH];
    const DWORD programLength = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring programFolder(program, programLength);
    programFolder.resize(programFolder.find_last_of(L'\\') + 1);
    ASSERT_TRUE(UtilGetModuleDirPath(nullptr, buffer, MAX_PATH));
    EXPECT_EQ(std::wstring(buffer), programFolder);

    // A buffer that cannot hold the folder.
    std::vector<wchar_t> small(8, L'#');
    EXPECT_FALSE(UtilGetModuleDirPath(nullptr, small.data(), 4));
    for (std::size_t i = 4; i < small.size(); ++i) {
        EXPECT_EQ(small[i], L'#');
    }
}

TEST(FileUtilNames, Extensions)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* extension;
    };
    // clang-format off
    const Case cases[] = {
        {L"C:\\Music\\song.mp3", L".mp3"}, {L"song.tar.gz", L".gz"},   {L"C:\\dir.x\\file", L""},
        {L"noextension", L""},            {L"trailing.", L"."},       {L"C:song.WMA", L".WMA"},
        {L"a/b.c/d", L""},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::wstring extension = L"stale";
        EXPECT_EQ(UtilGetFileExtension(c.path, &extension), c.extension[0] != L'\0');
        EXPECT_EQ(extension, c.extension);
    }
}

TEST(FileUtilNames, SupportedAudioFiles)
{
    struct Case {
        const wchar_t* name;
        bool withCheck;
        bool withoutCheck;
    };
    // clang-format off
    const Case cases[] = {
        {L"VOICE001.MP3", false, true}, {L"voice001.mp3", false, true}, {L"RADIO1.mp3", false, true},
        {L"MUSIC9x.Mp3", false, true},  {L"VOICEX.mp3", true, true},    {L"MUSIC.mp3", true, true},
        {L"song.mp3", true, true},      {L"song.WMA", true, true},      {L"song.aac", true, true},
        {L"song.asf", true, true},      {L"song.wav", false, true},     {L"VOICE001.wav", false, true},
        {L"song.ogg", false, false},    {L"song", false, false},        {L"mp3", false, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        const std::string name(c.name, c.name + wcslen(c.name));
        EXPECT_EQ(UtilIsSupportedAudioFile(c.name, true), c.withCheck) << name;
        EXPECT_EQ(UtilIsSupportedAudioFile(c.name, false), c.withoutCheck) << name;
    }
}

// The names Windows opens as devices, as a path's last component or any other, against names that only
// look like them.
TEST(FileUtilNames, DeviceNames)
{
    struct Case {
        const wchar_t* path;
        bool device;
    };
    // clang-format off
    const Case cases[] = {
        {L"NUL", true}, {L"nul", true}, {L"Con", true}, {L"PRN", true}, {L"aux", true},
        {L"COM1", true}, {L"com9", true}, {L"LPT1", true}, {L"Lpt9", true},
        {L"NUL.txt", true}, {L"con.tar.gz", true}, {L"NUL ", true}, {L"NUL .mp3", true}, {L"nul:", true},
        {L"C:\\music\\NUL", true}, {L"C:\\NUL\\song.mp3", true}, {L"\\\\.\\COM2", true},
        {L"C:/x/aux.bin", true},
        {L"NULL", false}, {L"CONSOLE", false}, {L"COM0", false}, {L"COM10", false}, {L"LPT", false},
        {L"xNUL", false}, {L"NU L", false}, {L".NUL", false}, {L"C:\\music\\song.mp3", false},
        {L"", false}, {L"C:\\", false}, {L"C:", false},
    };
    // clang-format on
    for (const Case& c : cases) {
        const std::string path(c.path, c.path + wcslen(c.path));
        EXPECT_EQ(c.device, UtilPathNamesDevice(c.path)) << path;
        // A path of one component is the name itself.
        if (!wcschr(c.path, L'\\') && !wcschr(c.path, L'/')) {
            EXPECT_EQ(c.device, UtilIsDeviceName(c.path, wcslen(c.path))) << path;
        }
    }
    EXPECT_FALSE(UtilPathNamesDevice(nullptr));
    // Only the characters given count: "NULL" cut to three is "NUL".
    EXPECT_TRUE(UtilIsDeviceName(L"NULL", 3));
}

TEST(PlatformFamily, SystemAnswerAndOverride)
{
    // Wine reports the NT family.
    WinClearForcedPlatform();
    EXPECT_EQ(UtilCheckOSVersion(), S_OK);
    EXPECT_TRUE(WinIsNtPlatform());
    WinForcePlatform(WIN_PLATFORM_WIN98);
    EXPECT_FALSE(WinIsNtPlatform());
    EXPECT_FALSE(UtilIsUnicodeOS());
    WinClearForcedPlatform();
    EXPECT_TRUE(UtilIsUnicodeOS());
}

}  // namespace
