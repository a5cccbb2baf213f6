// The platform code for each Windows version, the forced code, and the ANSI conversions.
#include "manager/framework/windows/cx_platform.h"
#include "manager/framework/windows/cx_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CxPlatformTest, CodeForEachWindowsVersion)
{
    struct Case {
        DWORD platformId;
        DWORD major;
        DWORD minor;
        DWORD code;
        // clang-format off
    } const cases[] = {
        {VER_PLATFORM_WIN32_NT, 3, 51, CX_PLATFORM_NT4},
        {VER_PLATFORM_WIN32_NT, 4, 0, CX_PLATFORM_NT4},
        {VER_PLATFORM_WIN32_NT, 5, 0, CX_PLATFORM_NT5},
        {VER_PLATFORM_WIN32_NT, 6, 1, CX_PLATFORM_NT5},
        {VER_PLATFORM_WIN32_NT, 10, 0, CX_PLATFORM_NT5},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, CX_PLATFORM_WIN95},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, CX_PLATFORM_WIN98},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, CX_PLATFORM_WIN98},
        {VER_PLATFORM_WIN32s, 3, 10, CX_PLATFORM_OTHER},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.platformId << " " << c.major << "." << c.minor);
        EXPECT_EQ(CxPlatformFromVersion(c.platformId, c.major, c.minor), c.code);
    }
}

TEST(CxPlatformTest, ProcessCodeCanBeForced)
{
    EXPECT_EQ(CxGetPlatform(), CX_PLATFORM_NT5);  // what Wine reports
    EXPECT_TRUE(CxIsNtPlatform());
    struct Case {
        DWORD code;
        bool nt;
    } const cases[] = {
        {CX_PLATFORM_WIN95, false}, {CX_PLATFORM_WIN98, false}, {CX_PLATFORM_OTHER, false},
        {CX_PLATFORM_NT4, true},    {CX_PLATFORM_NT5, true},
    };
    for (const Case& c : cases) {
        CxForcePlatform(c.code);
        EXPECT_EQ(CxGetPlatform(), c.code);
        EXPECT_EQ(CxIsNtPlatform(), c.nt);
    }
    CxClearForcedPlatform();
    EXPECT_EQ(CxGetPlatform(), CX_PLATFORM_NT5);
}

TEST(CxPlatformTest, AnsiConversionsTable)
{
    ASSERT_EQ(GetACP(), 1252u) << "the test run pins the ANSI code page";
    struct Case {
        const wchar_t* wide;
        const char* ansi;  // windows-1252
        // clang-format off
    } const cases[] = {
        {L"", ""},
        {L"plain", "plain"},
        {L"caf\u00e9 \u00c4\u00df", "caf\xe9 \xc4\xdf"},
        {L"\u20ac5", "\x80" "5"},
    };
    // clang-format on
    const long blocks = CxAllocCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ansi);
        const int bytes = static_cast<int>(std::string(c.ansi).size()) + 1;
        EXPECT_EQ(CxW2ALength(c.wide), bytes);
        char* ansi = CxW2ANew(c.wide);
        ASSERT_NE(ansi, nullptr);
        EXPECT_STREQ(ansi, c.ansi);
        wchar_t* wide = CxA2WNew(ansi);
        ASSERT_NE(wide, nullptr);
        EXPECT_STREQ(wide, c.wide);
        CxFree(ansi);
        CxFree(wide);
    }
    // Sizes given by the caller.
    char* roomy = CxW2ANew(L"abc", 10);
    ASSERT_NE(roomy, nullptr);
    EXPECT_STREQ(roomy, "abc");
    CxFree(roomy);
    EXPECT_EQ(CxW2ANew(L"abcdef", 3), nullptr);  // too small for the text
    EXPECT_EQ(CxW2ANew(L"abc", 0), nullptr);
    EXPECT_EQ(CxW2ANew(nullptr), nullptr);
    EXPECT_EQ(CxW2ALength(nullptr), 0);
    EXPECT_EQ(CxA2WNew("abcdef", 2), nullptr);
    EXPECT_EQ(CxA2WNew(nullptr), nullptr);
    EXPECT_EQ(CxAllocCount(), blocks);
}

}  // namespace
