// Kwepsys.dll as the device API uses it: loaded from its path by the wide or the ANSI call, bound by
// ordinal, asked for the size and made to fill a buffer, which is compared with the image recomputed
// here from the pattern that fontdata/kwepsys.h documents.
#include "fontdata/kwepsys.h"
#include "platform/win/file_util.h"
#include "platform/win/win_platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using fontdata::CopyFontDataProc;
using fontdata::GetFontSizeProc;
using fontdata::kCopyFontDataOrdinal;
using fontdata::kFontImageSize;
using fontdata::kGetFontSizeOrdinal;

// The library under test, as Windows names it.
std::wstring DllPath()
{
    const std::string unix = KWEP_KWEPSYS_PATH;
    std::wstring path = L"Z:";
    for (char c : unix)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

// The image from its documented pattern, independently of the generator.
std::vector<char> ExpectedImage()
{
    std::vector<char> image(kFontImageSize);
    for (std::uint32_t k = 0; k < kFontImageSize / 4; ++k) {
        std::uint32_t x = k * 0x9E3779B1u + 0x4B574550u;
        x ^= x >> 16;
        x *= 0x85EBCA6Bu;
        x ^= x >> 13;
        x *= 0xC2B2AE35u;
        x ^= x >> 16;
        for (int b = 0; b < 4; ++b)
            image[4 * k + b] = static_cast<char>(x >> (8 * b));
    }
    return image;
}

// Frees the library on every path.
class Library {
public:
    explicit Library(HMODULE h) : h_(h) {}
    ~Library() { Free(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    HMODULE get() const { return h_; }
    FARPROC Ordinal(WORD n) const { return GetProcAddress(h_, MAKEINTRESOURCEA(n)); }
    // The export of ordinal n with its own signature (through a plain function type, as GCC asks).
    template <typename Proc>
    Proc Bind(WORD n) const
    {
        return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(Ordinal(n)));
    }
    bool Free()
    {
        const bool freed = h_ == nullptr || FreeLibrary(h_) != FALSE;
        h_ = nullptr;
        return freed;
    }

private:
    HMODULE h_;
};

// Loads the library and binds both exports as the device API does: size first, then the copy.
class KwepsysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, lib_.get()) << "LoadLibraryW failed: " << GetLastError();
        getFontSize_ = lib_.Bind<GetFontSizeProc>(kGetFontSizeOrdinal);
        copyFontData_ = lib_.Bind<CopyFontDataProc>(kCopyFontDataOrdinal);
        ASSERT_NE(nullptr, getFontSize_);
        ASSERT_NE(nullptr, copyFontData_);
    }

    Library lib_{LoadLibraryW(DllPath().c_str())};
    GetFontSizeProc getFontSize_ = nullptr;
    CopyFontDataProc copyFontData_ = nullptr;
};

TEST_F(KwepsysTest, AnyFontTypeGivesTheImageSize)
{
    for (int fontType : {0, -1, 7, 1, INT_MIN, INT_MAX})
        EXPECT_EQ(2093088, getFontSize_(fontType)) << "fontType " << fontType;
}

// Any font type copies the same image to the buffer's last byte, and nothing before or after it.
TEST_F(KwepsysTest, CopyFillsAnExactBufferWithTheImageAndNothingBeyond)
{
    const std::vector<char> expected = ExpectedImage();
    constexpr std::size_t kGuard = 4096;
    constexpr char kFill = static_cast<char>(0xA5);
    for (int fontType : {0, -1, 7}) {
        SCOPED_TRACE("fontType " + std::to_string(fontType));
        std::vector<char> buffer(kGuard + getFontSize_(fontType) + kGuard, kFill);
        ASSERT_EQ(buffer.size(), kGuard + expected.size() + kGuard);
        EXPECT_EQ(1, copyFontData_(fontType, buffer.data() + kGuard));

        const auto first = buffer.begin() + kGuard;
        const auto mismatch = std::mismatch(expected.begin(), expected.end(), first);
        EXPECT_EQ(expected.end(), mismatch.first)
            << "first difference at offset " << (mismatch.first - expected.begin());
        for (std::size_t i = 0; i < kGuard; ++i) {
            ASSERT_EQ(kFill, buffer[i]) << "written before the buffer, " << (kGuard - i) << " bytes";
            ASSERT_EQ(kFill, buffer[kGuard + expected.size() + i]) << "written past the buffer, byte " << i;
        }
    }
}

TEST_F(KwepsysTest, NullBufferGivesZero)
{
    EXPECT_EQ(0, copyFontData_(0, nullptr));
    EXPECT_EQ(0, copyFontData_(-1, nullptr));
}

TEST_F(KwepsysTest, OrdinalsAreTheNamedExportsAndThereAreNoOthers)
{
    EXPECT_EQ(GetProcAddress(lib_.get(), "CopyFontData"), lib_.Ordinal(1));
    EXPECT_EQ(GetProcAddress(lib_.get(), "GetFontSize"), lib_.Ordinal(2));
    EXPECT_EQ(nullptr, lib_.Ordinal(3));
}

// The device API loads the library from its path by the wide call on the NT family and the ANSI call on
// the Windows 95 family, for each font write, and frees it at once: each load binds, and each free
// unloads.
class KwepsysFamilyLoad : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { WinForcePlatform(GetParam() ? WIN_PLATFORM_NT5 : WIN_PLATFORM_WIN98); }
    void TearDown() override { WinClearForcedPlatform(); }
};

TEST_P(KwepsysFamilyLoad, LoadsBindsByOrdinalAndUnloads)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("load " + std::to_string(round + 1));
        Library lib(UtilLoadLibrary(DllPath().c_str()));
        ASSERT_NE(nullptr, lib.get()) << GetLastError();
        const auto getFontSize = lib.Bind<GetFontSizeProc>(kGetFontSizeOrdinal);
        const auto copyFontData = lib.Bind<CopyFontDataProc>(kCopyFontDataOrdinal);
        ASSERT_NE(nullptr, getFontSize);
        ASSERT_NE(nullptr, copyFontData);
        const int size = getFontSize(0);
        ASSERT_EQ(kFontImageSize, size);
        std::vector<char> buffer(size);
        EXPECT_EQ(1, copyFontData(0, buffer.data()));
        EXPECT_EQ(0, std::memcmp(buffer.data(), ExpectedImage().data(), buffer.size()));
        EXPECT_TRUE(lib.Free());
        EXPECT_EQ(nullptr, GetModuleHandleW(L"Kwepsys.dll")) << "still loaded after FreeLibrary";
    }
}

INSTANTIATE_TEST_SUITE_P(Families, KwepsysFamilyLoad, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Nt" : "Ansi"; });

}  // namespace
