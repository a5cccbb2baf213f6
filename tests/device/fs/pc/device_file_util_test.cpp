// The device side's own PC files, run once with the wide calls (NT family) and once with the ANSI calls
// forced through the platform flag (Windows 95 family).
#include "device/fs/pc/device_file_util.h"
#include "platform/win/win_platform.h"
#include "tests/platform/win/unicode_file_names.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace engine;

namespace {

std::wstring TempPath()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, length);
}

std::vector<std::uint8_t> ReadAll(const std::wstring& path)
{
    std::vector<std::uint8_t> bytes;
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

class DeviceFileUtil : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { WinForcePlatform(GetParam() ? WIN_PLATFORM_NT5 : WIN_PLATFORM_WIN98); }
    void TearDown() override { WinClearForcedPlatform(); }
    bool NtFamily() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Families, DeviceFileUtil, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "NtFamily" : "Windows95Family";
});

TEST_P(DeviceFileUtil, TempFilePath)
{
    const std::wstring folder = TempPath() + L"ZAVTCTRL";
    RemoveDirectoryW(folder.c_str());  // absent unless another run left files in it

    for (const std::wstring name : {L"sysdum0.du0", L"Caf\u00e9.dat"}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        wchar_t buffer[MAX_PATH];
        ASSERT_EQ(UtilMakeTempFilePath(MAX_PATH, buffer, name.c_str()), S_OK);
        EXPECT_EQ(std::wstring(buffer), folder + L"\\" + name);
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }

    // The caller's size bounds every write: one character short fails and leaves an empty string,
    // nothing past the size is touched, and the exact size is enough.
    const std::wstring expected = folder + L"\\sysdum4.du4";
    const auto exact = static_cast<DWORD>(expected.size() + 1);
    struct Case {
        DWORD size;
        bool fits;
    };
    for (const Case c : {Case{exact, true}, Case{exact - 1, false}, Case{1, false}, Case{0, false}}) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        std::vector<wchar_t> buffer(exact + 16, L'#');
        const HRESULT hr = UtilMakeTempFilePath(c.size, buffer.data(), L"sysdum4.du4");
        if (c.fits) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(std::wstring(buffer.data()), expected);
        } else {
            EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
            if (c.size > 0) {
                EXPECT_EQ(buffer[0], L'\0');
            }
        }
        for (std::size_t i = c.size; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], L'#') << "written past the size at " << i;
        }
    }

    // A path longer than the ANSI calls take: the wide calls have no such limit.
    const std::wstring longName(300, L'n');
    std::vector<wchar_t> big(1024, L'#');
    const HRESULT hr = UtilMakeTempFilePath(static_cast<DWORD>(big.size()), big.data(), longName.c_str());
    EXPECT_EQ(hr, NtFamily() ? S_OK : HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));

    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(UtilMakeTempFilePath(MAX_PATH, nullptr, L"x"), E_INVALIDARG);
    EXPECT_EQ(UtilMakeTempFilePath(MAX_PATH, buffer, nullptr), E_INVALIDARG);
}

// On an ASCII name and on a name with characters of the ANSI code page beyond ASCII.
TEST_P(DeviceFileUtil, BlankBlockFile)
{
    const std::wstring folder = TempPath() + L"kwep-device-file-util-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CanCreateFilesNamedBeyondAscii(folder));
    for (const std::wstring name : {L"plain", L"caf\u00e9 \u00ff"}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        const std::wstring blank = folder + L"\\" + name + L" blank.bin";
        EXPECT_TRUE(UtilWriteBlankBlockFile(blank.c_str()));
        EXPECT_EQ(ReadAll(blank), std::vector<std::uint8_t>(1024, 0xFF));
        DeleteFileW(blank.c_str());
    }
    RemoveDirectoryW(folder.c_str());
    EXPECT_FALSE(UtilWriteBlankBlockFile(nullptr));
}

TEST(DeviceFileUtilNames, RecordFolderName)
{
    EXPECT_STREQ(RecordFolderName(0), L"KWEP RECORD");
    EXPECT_STREQ(RecordFolderName(1), L"KWEP RECORD");
    EXPECT_STREQ(RecordFolderName(3), L"BRIX Record");
    EXPECT_STREQ(RecordFolderName(4), L"VOICE RECORD");
    EXPECT_STREQ(RecordFolderName(-1), L"KWEP RECORD");
}

}  // namespace
