// The manager's temporary path: where it lies, that the folder is made once, and that the caller's
// buffer length is honoured on both platform families.
#include "platform/win/temp_file_path.h"
#include "platform/win/win_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

class PlatformScope {
public:
    explicit PlatformScope(DWORD code) { WinForcePlatform(code); }
    ~PlatformScope() { WinClearForcedPlatform(); }
};

std::wstring ExpectedFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring folder = temp;
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder + kUtilTempFolderDefault;
}

class UtilTempPathTest : public ::testing::TestWithParam<DWORD> {
protected:
    PlatformScope platform{GetParam()};
};

TEST_P(UtilTempPathTest, MakesTheFolderOnceAndNamesTheFile)
{
    const std::wstring folder = ExpectedFolder();
    RemoveDirectoryW(folder.c_str());  // only when empty: other tests may keep files there
    wchar_t first[MAX_PATH] = {};
    ASSERT_EQ(UtilGetTempFilePath(MAX_PATH, first, L"a.ini"), S_OK);
    EXPECT_EQ(std::wstring(first), folder + L"\\a.ini");
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    wchar_t second[MAX_PATH] = {};
    ASSERT_EQ(UtilGetTempFilePath(MAX_PATH, second, L"a.ini"), S_OK);
    EXPECT_STREQ(first, second);
}

TEST_P(UtilTempPathTest, RefusesNullArguments)
{
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_EQ(UtilGetTempFilePath(MAX_PATH, nullptr, L"a"), E_INVALIDARG);
    EXPECT_EQ(UtilGetTempFilePath(MAX_PATH, buffer, nullptr), E_INVALIDARG);
}

// The path must fit the given length exactly: one character less is refused, and nothing is written
// past the length in either case.
TEST_P(UtilTempPathTest, HonoursTheBufferLength)
{
    const std::wstring expected = ExpectedFolder() + L"\\name.bin";
    const DWORD fits = static_cast<DWORD>(expected.size() + 1);
    for (const DWORD length : {fits, fits - 1, DWORD{8}, DWORD{1}, DWORD{0}}) {
        SCOPED_TRACE(length);
        std::vector<wchar_t> buffer(fits + 16, L'#');
        const HRESULT hr = UtilGetTempFilePath(length, buffer.data(), L"name.bin");
        if (length == fits) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(std::wstring(buffer.data()), expected);
        } else {
            EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
            if (length > 0) {
                EXPECT_EQ(buffer[0], L'\0');
            }
        }
        for (size_t i = std::max<size_t>(length, 1); i < buffer.size(); ++i) {
            if (length == fits && i < fits)
                continue;
            ASSERT_EQ(buffer[i], L'#') << "written past the length at " << i;
        }
    }
}

// The ANSI calls build at most MAX_PATH bytes: a longer name is refused, even in a larger buffer.
TEST(UtilTempPathAnsiTest, RefusesPathsLongerThanTheAnsiCallsTake)
{
    PlatformScope platform(WIN_PLATFORM_WIN98);
    const std::wstring name(MAX_PATH, L'n');
    std::vector<wchar_t> buffer(4 * MAX_PATH, L'#');
    EXPECT_EQ(UtilGetTempFilePath(static_cast<DWORD>(buffer.size()), buffer.data(), name.c_str()),
              HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
}

INSTANTIATE_TEST_SUITE_P(Platforms, UtilTempPathTest, ::testing::Values(WIN_PLATFORM_NT5, WIN_PLATFORM_WIN98));

}  // namespace
