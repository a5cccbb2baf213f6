// Skin images and regions: key-colour runs and regions (against an independent Python reading of the
// same images), images decoded through OLE's picture loader (read back with GetDIBits and compared
// with Pillow's decoding) and the inconsistent files kept from it, image options, the image key's
// parser with its fallback to the built-in skin, and the shaping and region components on a real window.
#include "manager/framework/images/cx_skin_image.h"
#include "tests/manager/cx_test_pixels.h"
#include "tests/manager/test_window_class.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using cx_test::Pixels;
using cx_test::ReadBitmap;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;
using test_support::TempFolder;
using test_support::UnixPath;

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kFixtureScript[] = KWEP_SKIN_FIXTURE_SCRIPT;
constexpr char kBuiltInMain[] = KWEP_SKIN_DIR "/main.bmp";

using Rect = std::tuple<LONG, LONG, LONG, LONG>;
using Mask = std::vector<bool>;

std::vector<Rect> RegionRects(HRGN region)
{
    std::vector<Rect> rects;
    const DWORD size = GetRegionData(region, 0, nullptr);
    std::vector<BYTE> block(size);
    auto* data = reinterpret_cast<RGNDATA*>(block.data());
    if (size == 0 || GetRegionData(region, size, data) != size)
        return rects;
    const auto* r = reinterpret_cast<const RECT*>(data->Buffer);
    for (DWORD i = 0; i < data->rdh.nCount; ++i)
        rects.emplace_back(r[i].left, r[i].top, r[i].right, r[i].bottom);
    return rects;
}

// The pixels of a width x height area the rectangles cover, moved by (dx, dy); false outside.
Mask Cover(const std::vector<Rect>& rects, int width, int height, int dx = 0, int dy = 0)
{
    Mask mask(static_cast<size_t>(width) * height, false);
    for (const auto& [l, t, r, b] : rects) {
        for (LONG y = t + dy; y < b + dy; ++y)
            for (LONG x = l + dx; x < r + dx; ++x)
                if (x >= 0 && y >= 0 && x < width && y < height)
                    mask[static_cast<size_t>(y) * width + x] = true;
    }
    return mask;
}

std::vector<Rect> Runs(const CxRunRects& runs)
{
    std::vector<Rect> rects;
    for (int i = 0; i < runs.rects.GetCount(); ++i) {
        const RECT& r = runs.rects.GetAt(i);
        rects.emplace_back(r.left, r.top, r.right, r.bottom);
    }
    return rects;
}

// A bottom-up buffer from rows given top row first.
std::vector<DWORD> BottomUp(const std::vector<std::vector<DWORD>>& rows)
{
    std::vector<DWORD> buffer;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        buffer.insert(buffer.end(), row->begin(), row->end());
    return buffer;
}

TEST(SkinRegionTest, RunsOfNonKeyPixels)
{
    constexpr DWORD K = 0xFF00FF, A = 0x102030, B = 0x405060;
    struct Case {
        const char* name;
        std::vector<std::vector<DWORD>> rows;
        std::vector<Rect> runs;
    };
    const Case cases[] = {
        {"the 3 x 2 image", {{K, A, A}, {A, A, A}}, {{1, 0, 3, 1}, {0, 1, 3, 2}}},
        {"split runs, right to left", {{K, A, K, B, B, K, A}}, {{6, 0, 7, 1}, {3, 0, 5, 1}, {1, 0, 2, 1}}},
        {"a row start closes the run", {{K, K, A}, {A, K, K}}, {{2, 0, 3, 1}, {0, 1, 1, 2}}},
        {"whole 32-bit values are compared", {{K, K | 0x01000000u}}, {{1, 0, 2, 1}}},
        {"only the key", {{K, K}, {K, K}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<DWORD> buffer = BottomUp(c.rows);
        CxRunRects runs;
        ASSERT_EQ(CxRunRectsFromPixels(buffer.data(), static_cast<int>(c.rows[0].size()),
                                       static_cast<int>(c.rows.size()), &runs),
                  S_OK);
        EXPECT_EQ(Runs(runs), c.runs);
        HRGN region = nullptr;
        if (c.runs.empty()) {
            EXPECT_EQ(CxCreateRegionFromRects(runs, &region), E_INVALIDARG);
            EXPECT_EQ(region, nullptr);
            continue;
        }
        ASSERT_EQ(CxCreateRegionFromRects(runs, &region), S_OK);
        const int w = static_cast<int>(c.rows[0].size()), h = static_cast<int>(c.rows.size());
        EXPECT_EQ(Cover(RegionRects(region), w, h), Cover(c.runs, w, h));
        DeleteObject(region);
    }
    CxRunRects runs;
    const DWORD one = 0;
    EXPECT_EQ(CxRunRectsFromPixels(nullptr, 1, 1, &runs), E_INVALIDARG);
    EXPECT_EQ(CxRunRectsFromPixels(&one, 0, 1, &runs), E_INVALIDARG);
    EXPECT_EQ(CxRunRectsFromPixels(&one, 1, 0, &runs), E_INVALIDARG);
}

TEST(SkinRegionTest, MoreRunsThanOneChunkAreJoined)
{
    // One run in every row: 4097 rows give a full chunk and one more rectangle.
    const int width = 5, height = kCxRegionChunk + 1;
    std::vector<std::vector<DWORD>> rows(height, std::vector<DWORD>(width, 0xFF00FF));
    std::vector<Rect> expected;
    for (int y = 0; y < height; ++y) {
        const int x = 1 + y % 3;
        rows[y][x] = 0x00FF00;
        expected.emplace_back(x, y, x + 1, y + 1);
    }
    const std::vector<DWORD> buffer = BottomUp(rows);
    CxRunRects runs;
    ASSERT_EQ(CxRunRectsFromPixels(buffer.data(), width, height, &runs), S_OK);
    ASSERT_EQ(runs.rects.GetCount(), kCxRegionChunk + 1);
    EXPECT_EQ(runs.bound.left, 1);
    EXPECT_EQ(runs.bound.right, 4);
    EXPECT_EQ(runs.bound.bottom, height);
    HRGN region = nullptr;
    ASSERT_EQ(CxCreateRegionFromRects(runs, &region), S_OK);
    EXPECT_EQ(Cover(RegionRects(region), width, height), Cover(expected, width, height));
    // The last rectangle came from the second chunk.
    EXPECT_TRUE(PtInRegion(region, 1 + (height - 1) % 3, height - 1));
    DeleteObject(region);
}

TEST(SkinImageOptionsTest, CutIsFoundAndStripped)
{
    struct Case {
        const wchar_t* spec;
        HRESULT result;
        ULONGLONG options;
        const wchar_t* stripped;
    };
    const Case cases[] = {
        {L"?139,IMG,/cut", S_OK, CX_IMAGEOPT_CUT, L"?139,IMG"},
        {L"skin.bmp,/cut", S_OK, CX_IMAGEOPT_CUT, L"skin.bmp"},
        {L"skin.bmp", S_FALSE, 0, L"skin.bmp"},
        {L"?139,IMG", S_FALSE, 0, L"?139,IMG"},
        {L"?139,IMG,/keep", S_FALSE, 0, L"?139,IMG,/keep"},
        // Only three parts are looked at: an option behind the third is not seen.
        {L"a,b,c,/cut", S_FALSE, 0, L"a,b,c,/cut"},
        {L"a,b,c/cut", S_OK, CX_IMAGEOPT_CUT, L"a,b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.spec)));
        CxString spec(c.spec);
        ULONGLONG options = 99;
        EXPECT_EQ(CxParseImageOptions(spec, &options, TRUE), c.result);
        EXPECT_EQ(options, c.options);
        EXPECT_EQ(CxStrCompare(spec, c.stripped, 0), 0);
        CxString kept(c.spec);
        CxParseImageOptions(kept, &options, FALSE);
        EXPECT_EQ(CxStrCompare(kept, c.spec, 0), 0);
    }
}

TEST(SkinMemDCTest, OnlySixteenToThirtyTwoBitSections)
{
    CxMemDC dc(nullptr);
    for (int bits : {1, 4, 8, 15, 0, 64})
        EXPECT_EQ(dc.CreateDIB(SIZE{4, 4}, bits, 0), E_INVALIDARG) << bits;
    for (int bits : {16, 24, 32}) {
        ASSERT_EQ(dc.CreateDIB(SIZE{4, 3}, bits, RGB(10, 20, 30)), S_OK) << bits;
        EXPECT_EQ(dc.GetDibSection().dsBm.bmBitsPixel, bits);
        EXPECT_EQ(dc.GetDibSection().dsBmih.biHeight, 3);  // bottom-up
    }
    const Pixels filled = ReadBitmap(dc.GetBitmap());
    ASSERT_EQ(filled.rgb.size(), 12u);
    for (uint32_t v : filled.rgb)
        EXPECT_EQ(v, 0x0A141Eu);
    HBITMAP detached = dc.DetachBitmap();
    EXPECT_EQ(dc.GetBitmap(), nullptr);
    EXPECT_NE(detached, nullptr);
    DeleteObject(detached);
}

// ---- Files and resources against Pillow ----

class SkinFileTest : public ::testing::Test {
protected:
    TempFolder folder;

    void SetUp() override
    {
        const ShellResult result = RunShell(ShellQuote(kPython) + " " + ShellQuote(kFixtureScript) + " " +
                                            ShellQuote(UnixPath(folder.Path())) + " " + ShellQuote(kBuiltInMain));
        ASSERT_TRUE(result.finished && result.exitCode == 0)
            << "the fixture script failed (python3-pil must be installed): " << result.err;
    }

    std::string Read(const std::wstring& name)
    {
        std::ifstream in(folder.File(name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    Pixels Reference(const std::wstring& name)
    {
        Pixels p;
        std::istringstream(Read(name + L".size")) >> p.width >> p.height;
        const std::string rgb = Read(name + L".rgb");
        for (size_t i = 0; i + 2 < rgb.size(); i += 3)
            p.rgb.push_back(static_cast<uint32_t>(static_cast<BYTE>(rgb[i])) << 16 |
                            static_cast<BYTE>(rgb[i + 1]) << 8 | static_cast<BYTE>(rgb[i + 2]));
        return p;
    }
    std::vector<Rect> ReferenceRuns(const std::wstring& name)
    {
        std::vector<Rect> rects;
        std::istringstream in(Read(name + L".runs"));
        LONG l, t, r, b;
        while (in >> l >> t >> r >> b)
            rects.emplace_back(l, t, r, b);
        return rects;
    }

    // The bitmap matches Pillow's pixels, its runs the script's, and the region covers them.
    void ExpectLikeReference(const std::wstring& name, HBITMAP bitmap, HRGN region)
    {
        const Pixels want = Reference(name);
        const Pixels got = ReadBitmap(bitmap);
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        ASSERT_EQ(got.rgb, want.rgb);
        CxMemDC dc(nullptr);
        ASSERT_EQ(dc.AttachBitmap(bitmap, 32), S_OK);
        CxRunRects runs;
        ASSERT_EQ(CxRunRectsFromPixels(static_cast<const DWORD*>(dc.GetBits()), got.width, got.height, &runs), S_OK);
        const std::vector<Rect> reference = ReferenceRuns(name);
        EXPECT_EQ(Runs(runs), reference);
        if (region != nullptr) {
            EXPECT_EQ(Cover(RegionRects(region), got.width, got.height), Cover(reference, got.width, got.height));
        }
    }
};

TEST_F(SkinFileTest, FilesDecodeAsPillowReadsThemWithTheirRegions)
{
    for (const wchar_t* name : {L"shape24", L"shape8", L"example"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        const std::wstring path =
            folder.File(std::wstring(name) + (std::wstring(name) == L"shape8" ? L".gif" : L".bmp")).wstring();
        HBITMAP bitmap = nullptr;
        HRGN region = nullptr;
        ASSERT_EQ(CxLoadSkinImage(CX_IMAGE_FILE, path.c_str(), 0, nullptr, nullptr, &region, &bitmap), S_OK);
        ASSERT_NE(region, nullptr);
        ExpectLikeReference(name, bitmap, region);
        DeleteObject(bitmap);
        DeleteObject(region);
        // Without a region out-parameter only the image is decoded.
        ASSERT_EQ(CxLoadSkinImage(CX_IMAGE_FILE, path.c_str(), 0, nullptr, nullptr, nullptr, &bitmap), S_OK);
        DeleteObject(bitmap);
    }
}

TEST_F(SkinFileTest, FailuresHandNothingOut)
{
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    HRGN region = reinterpret_cast<HRGN>(1);
    // Only the key colour: no region, so nothing is loaded.
    EXPECT_EQ(CxLoadSkinImage(CX_IMAGE_FILE, folder.File(L"allkey.bmp").c_str(), 0, nullptr, nullptr, &region, &bitmap),
              E_INVALIDARG);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(region, nullptr);
    EXPECT_EQ(
        CxLoadSkinImage(CX_IMAGE_FILE, folder.File(L"missing.bmp").c_str(), 0, nullptr, nullptr, nullptr, &bitmap),
        E_ACCESSDENIED);
    EXPECT_EQ(CxLoadSkinImage(3, L"x", 0, nullptr, nullptr, nullptr, &bitmap), E_INVALIDARG);
    EXPECT_EQ(CxLoadSkinImage(CX_IMAGE_RESOURCE, nullptr, 9999, L"IMG", nullptr, nullptr, &bitmap), E_INVALIDARG);
    // A module that is not loaded is not loaded for it.
    EXPECT_EQ(CxLoadSkinImage(CX_IMAGE_RESOURCE, L"winspool.drv", 310, L"IMG", nullptr, nullptr, &bitmap),
              E_INVALIDARG);
    EXPECT_EQ(GetModuleHandleW(L"winspool.drv"), nullptr);
    // Not an image.
    const std::wstring text = folder.File(L"text.bmp").wstring();
    std::ofstream(std::filesystem::path(text)) << "not an image at all";
    EXPECT_TRUE(FAILED(CxLoadSkinImage(CX_IMAGE_FILE, text.c_str(), 0, nullptr, nullptr, nullptr, &bitmap)));
    EXPECT_EQ(bitmap, nullptr);
    IPicture* picture = reinterpret_cast<IPicture*>(1);
    EXPECT_EQ(CxLoadPicture(nullptr, 10, &picture), E_INVALIDARG);
    EXPECT_EQ(picture, nullptr);
    EXPECT_EQ(CxLoadPicture(reinterpret_cast<HGLOBAL>(-1), 10, &picture), E_INVALIDARG);
}

// A ".bmp" file of an info header: width x height at the bit count, colours entries of the colour table,
// the pixels filled with one byte value and cut to pixelBytes; the header size and the pixel offset as
// given (0: what the layout says).
std::string BmpFile(uint32_t headerSize, int32_t width, int32_t height, uint16_t bits, uint32_t colours,
                    size_t pixelBytes, uint32_t offBits = 0)
{
    std::string bytes(14 + 40 + 4 * static_cast<size_t>(colours) + pixelBytes, '\0');
    auto put = [&](size_t at, uint32_t v, int size) {
        for (int i = 0; i < size; ++i)
            bytes[at + i] = static_cast<char>(v >> (8 * i));
    };
    put(0, 'B' | 'M' << 8, 2);
    put(2, static_cast<uint32_t>(bytes.size()), 4);
    put(10, offBits != 0 ? offBits : static_cast<uint32_t>(14 + 40 + 4 * colours), 4);
    put(14, headerSize, 4);
    put(18, static_cast<uint32_t>(width), 4);
    put(22, static_cast<uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, bits, 2);
    put(46, colours, 4);
    for (size_t i = 14 + 40 + 4 * static_cast<size_t>(colours); i < bytes.size(); ++i)
        bytes[i] = '\x66';
    return bytes;
}

// What OLE's picture loader would read past its data (or trust blindly) never reaches it: the loader
// refuses what the DIB reader's layout check refuses, and whole files still load with their own pixels.
TEST_F(SkinFileTest, InconsistentFilesNeverReachTheDecoder)
{
    const size_t rows64x48 = 64 * 3 * 48;
    // An icon directory of one entry whose image lies behind the end of the file.
    std::string icon(
        "\0\0\1\0\1\0"
        "\x10\x10\0\0\1\0\x20\0"
        "\x68\x04\0\0"
        "\x16\0\0\0",
        22);
    icon += std::string(40, '\0');
    struct Case {
        const char* what;
        std::string bytes;
        HRESULT result;
    };
    const Case cases[] = {
        {"a 1 x 1 8-bit file whose header size is 0x7FFFFFFF", BmpFile(0x7FFFFFFF, 1, 1, 8, 2, 4), E_INVALIDARG},
        {"the header of a 64 x 48 image without its pixels", BmpFile(40, 64, 48, 24, 0, 0), E_INVALIDARG},
        {"a 64 x 48 image cut short by one row", BmpFile(40, 64, 48, 24, 0, rows64x48 - 64 * 3), E_INVALIDARG},
        {"a pixel offset past the end", BmpFile(40, 64, 48, 24, 0, rows64x48, 14 + 40 + rows64x48), E_INVALIDARG},
        {"a colour table longer than the file", BmpFile(40, 4, 4, 8, 0, 16), E_INVALIDARG},
        {"an icon whose image lies past its end", icon, E_INVALIDARG},
        {"no image kind the loader knows", std::string("lt\0\0\x10\0\0\0") + std::string(16, 'x'), E_INVALIDARG},
        {"a whole 64 x 48 image", BmpFile(40, 64, 48, 24, 0, rows64x48), S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path path = folder.File(L"case.bmp");
        std::ofstream(path, std::ios::binary).write(c.bytes.data(), static_cast<std::streamsize>(c.bytes.size()));
        HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
        ASSERT_EQ(CxLoadSkinImage(CX_IMAGE_FILE, path.wstring().c_str(), 0, nullptr, nullptr, nullptr, &bitmap),
                  c.result);
        if (FAILED(c.result)) {
            EXPECT_EQ(bitmap, nullptr);
            continue;
        }
        const Pixels got = ReadBitmap(bitmap);
        DeleteObject(bitmap);
        ASSERT_EQ(got.width, 64);
        ASSERT_EQ(got.height, 48);
        EXPECT_EQ(std::count(got.rgb.begin(), got.rgb.end(), 0x666666u), 64 * 48);
    }
}

TEST_F(SkinFileTest, TheBuiltInFrameLoadsFromTheProgramsResources)
{
    HBITMAP bitmap = nullptr;
    HRGN region = nullptr;
    ASSERT_EQ(CxLoadSkinImage(CX_IMAGE_RESOURCE, nullptr, 310, L"IMG", nullptr, &region, &bitmap), S_OK);
    ExpectLikeReference(L"main", bitmap, region);
    // The frame's corners are cut, its edges kept.
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_TRUE(PtInRegion(region, 380, 0));
    EXPECT_TRUE(PtInRegion(region, 0, 200));
    DeleteObject(bitmap);
    DeleteObject(region);
}

// ---- The image key's parser ----

// An owner window answering the questions of the parser.
struct Owner {
    HWND hWnd = nullptr;
    std::wstring packFolder;   // CXM_GETPACKTEXT
    std::wstring builtInFile;  // CXM_GETPACKFILE
    LRESULT askOwner = 1;      // CXM_ASKOWNER
    DWORD flagsHigh = 0;       // CXM_GETFLAGS
    std::vector<int> selectors;

    static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<Owner*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (self != nullptr) {
            switch (message) {
            case CXM_GETPACKTEXT:
                self->selectors.push_back(reinterpret_cast<CxPackTextRequest*>(wParam)->selector);
                reinterpret_cast<CxString*>(lParam)->Assign(self->packFolder.c_str());
                return 1;
            case CXM_GETPACKFILE:
                reinterpret_cast<CxString*>(wParam)->Assign(self->builtInFile.c_str());
                return 1;
            case CXM_ASKOWNER:
                return self->askOwner;
            case CXM_GETFLAGS:
                reinterpret_cast<DWORD*>(wParam)[0] = 0;
                reinterpret_cast<DWORD*>(wParam)[1] = self->flagsHigh;
                return 1;
            default:
                break;
            }
        }
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }

    Owner()
    {
        static const wchar_t* cls = RegisterTestWindowClass(L"KwepSkinImageOwner", Proc);
        hWnd = CreateWindowExW(0, cls, L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Owner() { DestroyWindow(hWnd); }
};

class SkinParserTest : public SkinFileTest {
protected:
    Owner owner;
    CxSkinImageList list;

    void SetUp() override
    {
        SkinFileTest::SetUp();
        owner.builtInFile = folder.File(L"builtin.ini").wstring();
        owner.packFolder = folder.Path().wstring();
        std::ofstream(folder.File(L"builtin.ini"))
            << "[pc.upload]\nimg=?400,IMG,/cut|example.bmp|" << UnixPathless(folder.File(L"shape24.bmp")) << "\n";
    }
    static std::string UnixPathless(const std::filesystem::path& p) { return p.string(); }

    HRESULT Parse(const wchar_t* value, int count, const wchar_t* file = L"pack.ini")
    {
        CxSkinImageReader reader;
        reader.owner = owner.hWnd;
        reader.file = file;
        reader.section = L"pc.upload";
        reader.key = L"img";
        reader.valueCount = count;
        reader.value = value;
        reader.target = &list;
        return CxSkinParseImageList(&reader);
    }
    bool HasBitmap(int i)
    {
        HBITMAP b = nullptr;
        return SUCCEEDED(list.GetImage(i, &b, TRUE));
    }
    bool HasRegion(int i)
    {
        HRGN r = nullptr;
        return SUCCEEDED(list.GetRegionHandle(i, &r)) && r != nullptr;
    }
};

TEST_F(SkinParserTest, PartsLoadInOrderAndMissingOnesComeFromTheBuiltInSkin)
{
    // The first part loads; the second is missing and the third absent: both from the built-in skin.
    EXPECT_EQ(Parse(L"?410,IMG,/cut|nosuch.bmp", 3), S_OK);
    ASSERT_EQ(list.GetCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(HasBitmap(i)) << i;
    EXPECT_TRUE(HasRegion(0));
    EXPECT_FALSE(HasRegion(1));  // the built-in part has no "/cut"
    EXPECT_FALSE(HasRegion(2));
    // The built-in skin's relative part was looked up with the built-in skin's selector.
    EXPECT_NE(std::find(owner.selectors.begin(), owner.selectors.end(), CX_PACK_BUILTIN), owner.selectors.end());
    // A value with more parts than the count uses only the first ones.
    list.Reset();
    EXPECT_EQ(Parse(L"?400,IMG|?401,IMG|?402,IMG", 1), S_OK);
    EXPECT_EQ(list.GetCount(), 1);
}

TEST_F(SkinParserTest, FallbackRefusals)
{
    struct Case {
        const char* name;
        std::wstring builtIn;
        LRESULT askOwner;
        const wchar_t* file;
        int loaded;  // entries that came from the built-in skin
    };
    const std::wstring builtIn = owner.builtInFile;
    const Case cases[] = {
        {"no built-in skin", L"", 1, L"pack.ini", 0},
        {"the owner refuses", builtIn, 0, L"pack.ini", 0},
        {"reading the built-in skin itself", builtIn, 1, builtIn.c_str(), 0},
        // The built-in value has three parts: the fourth has nothing to fall back to.
        {"the built-in part is missing too", builtIn, 1, L"pack.ini", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list.Reset();
        owner.builtInFile = c.builtIn;
        owner.askOwner = c.askOwner;
        // The last part's own failure (a missing file) is the result when its fallback fails.
        EXPECT_EQ(Parse(L"?1|?2|?3|nosuch.bmp", 4, c.file), E_ACCESSDENIED);
        ASSERT_EQ(list.GetCount(), 4);
        // The entry of a failed part stays, empty.
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(HasBitmap(i), i < c.loaded) << i;
    }
}

TEST_F(SkinParserTest, PackFolderPrefixesRelativePathsOnly)
{
    owner.builtInFile.clear();  // no fallback: each part stands alone
    struct Case {
        std::wstring value;
        bool loads;
    };
    SetEnvironmentVariableW(L"KWEP_SKIN_TEST_FOLDER", folder.Path().c_str());
    const Case cases[] = {
        {L"shape24.bmp,/cut", true},                    // relative: found in the pack folder
        {L"?400,IMG", true},                            // a resource is not prefixed
        {folder.File(L"shape24.bmp").wstring(), true},  // nor is a rooted path
        {L"%KWEP_SKIN_TEST_FOLDER%\\example.bmp", true},
        {L"nosuch.bmp", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        list.Reset();
        const HRESULT hr = Parse(c.value.c_str(), 1);
        EXPECT_EQ(SUCCEEDED(hr), c.loads) << std::hex << hr;
        EXPECT_EQ(HasBitmap(0), c.loads);
    }
    SetEnvironmentVariableW(L"KWEP_SKIN_TEST_FOLDER", nullptr);
}

TEST_F(SkinParserTest, NoRegionIsCutForAWindowThatRefusesRegions)
{
    owner.flagsHigh = CXFH_NOREGIONCUT;
    EXPECT_EQ(Parse(L"?400,IMG,/cut", 1), S_OK);
    EXPECT_TRUE(HasBitmap(0));
    EXPECT_FALSE(HasRegion(0));
}

// ---- Shaping and region components on a window ----

class ShapedWnd : public CxWindowProcT<CWnd>, public CxSkinShape, public CxWndRegion {
public:
    ShapedWnd()
    {
        CxWndLink::Attach(&m_hWnd);
        BindShape(this);
    }
    int frameImageSet = 0;
    int presize = 0;

    bool Create(DWORD style)
    {
        return CreateEx(WS_EX_CLIENTEDGE, AfxRegisterWndClass(0), L"shaped", style, 20, 20, 50, 40, nullptr, nullptr) !=
               FALSE;
    }
    void SetFlags(DWORD setLow, DWORD setHigh, DWORD clearLow = 0, DWORD clearHigh = 0)
    {
        ModifyFlags(setLow, setHigh, clearLow, clearHigh);
    }
    int wanted = 0;
    int GetWantedState() override { return wanted; }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        if (message == CXM_FRAMEIMAGESET)
            ++frameImageSet;
        if (message == CXM_PRESIZE)
            ++presize;
        return CxWndRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

class SkinShapeTest : public SkinFileTest {
protected:
    ShapedWnd wnd;

    void SetUp() override
    {
        SkinFileTest::SetUp();
        ASSERT_TRUE(wnd.Create(WS_POPUP | WS_CAPTION | WS_THICKFRAME));
        CxSkinImageReader reader;
        reader.owner = wnd.m_hWnd;
        reader.section = L"test";
        reader.key = L"img";
        reader.valueCount = 2;
        const std::wstring value =
            folder.File(L"shape24.bmp").wstring() + L",/cut|" + folder.File(L"example.bmp").wstring() + L",/cut";
        reader.value = value.c_str();
        reader.target = &wnd.GetImageList();
        ASSERT_EQ(CxSkinParseImageList(&reader), S_OK);
    }
    void TearDown() override { wnd.DestroyWindow(); }
};

TEST_F(SkinShapeTest, ApplySizesShapesAndPaintsTheWindow)
{
    ASSERT_EQ(wnd.ApplyImage(), S_OK);
    EXPECT_EQ(wnd.ApplyImage(), S_FALSE);  // the state did not change
    const DWORD style = static_cast<DWORD>(GetWindowLongW(wnd.m_hWnd, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME), 0u);
    EXPECT_NE(style & WS_CLIPSIBLINGS, 0u);
    EXPECT_EQ(GetWindowLongW(wnd.m_hWnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    RECT client{};
    GetClientRect(wnd.m_hWnd, &client);
    EXPECT_EQ(client.right, 37);
    EXPECT_EQ(client.bottom, 23);
    EXPECT_EQ(wnd.frameImageSet, 1);
    EXPECT_EQ(wnd.presize, 0);  // no stretch layout
    EXPECT_TRUE(wnd.GetLow() & CXFL_FRAMEIMAGE);
    EXPECT_TRUE(wnd.GetLow() & CXFL_SKINREGION);

    // The window's region is the image's.
    HRGN windowRegion = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(wnd.m_hWnd, windowRegion), ERROR);
    EXPECT_EQ(Cover(RegionRects(windowRegion), 37, 23), Cover(ReferenceRuns(L"shape24"), 37, 23));
    DeleteObject(windowRegion);
    // CXM_GETREGION hands out a copy.
    HRGN copy = nullptr;
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_GETREGION, reinterpret_cast<WPARAM>(&copy), 0), TRUE);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Cover(RegionRects(copy), 37, 23), Cover(ReferenceRuns(L"shape24"), 37, 23));
    DeleteObject(copy);

    // The painter and CXM_PAINTBKGND copy the background, whole or in part.
    CxMemDC target(nullptr);
    ASSERT_EQ(target.CreateDIB(SIZE{37, 23}, 32, RGB(1, 2, 3)), S_OK);
    ASSERT_EQ(wnd.CxSkinBkImage::Paint(target.GetSafeHdc()), S_OK);
    {
        // Clipped to the region: the image inside it, the target's own pixels outside.
        const Pixels painted = ReadBitmap(target.GetBitmap());
        const Pixels image = Reference(L"shape24");
        const Mask inside = Cover(ReferenceRuns(L"shape24"), 37, 23);
        ASSERT_EQ(painted.rgb.size(), inside.size());
        for (size_t i = 0; i < inside.size(); ++i)
            ASSERT_EQ(painted.rgb[i], inside[i] ? image.rgb[i] : 0x010203u) << "pixel " << i % 37 << "," << i / 37;
    }
    ASSERT_EQ(target.CreateDIB(SIZE{5, 4}, 32, RGB(1, 2, 3)), S_OK);
    int part[4] = {10, 6, 5, 4};
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_PAINTBKGND, reinterpret_cast<WPARAM>(target.GetSafeHdc()),
                           reinterpret_cast<LPARAM>(part)),
              TRUE);
    const Pixels got = ReadBitmap(target.GetBitmap());
    const Pixels all = Reference(L"shape24");
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(got.rgb[y * 5 + x], all.rgb[(y + 6) * 37 + x + 10]) << x << "," << y;
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_PAINTBKGND, 0, 0), FALSE);

    // Another state: the second image, once more CXM_FRAMEIMAGESET is not sent.
    wnd.wanted = 1;
    ASSERT_EQ(SendMessageW(wnd.m_hWnd, CXM_APPLYSHAPE, 0, 0), 1);
    GetClientRect(wnd.m_hWnd, &client);
    EXPECT_EQ(client.right, 3);
    EXPECT_EQ(client.bottom, 2);
    EXPECT_EQ(wnd.frameImageSet, 1);
    // A state without an image fails and keeps the applied one.
    wnd.wanted = 5;
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_APPLYSHAPE, 0, 0), 2);
    EXPECT_EQ(wnd.GetImageList().m_state, 1);
}

TEST_F(SkinShapeTest, RegionsAreRefusedOrKeptWaiting)
{
    ASSERT_EQ(wnd.ApplyImage(), S_OK);
    // While no region may be cut, a region handed over is refused (and deleted).
    wnd.SetFlags(0, CXFH_NOREGIONCUT);
    EXPECT_EQ(wnd.SetRegion(CreateRectRgn(0, 0, 4, 4), nullptr), E_ACCESSDENIED);
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_SETREGION, 0, 0), FALSE);
    wnd.SetFlags(0, 0, 0, CXFH_NOREGIONCUT);

    // Minimised: the region waits until the window gets the focus.
    ShowWindow(wnd.m_hWnd, SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(wnd.m_hWnd));
    EXPECT_EQ(wnd.SetRegion(CreateRectRgn(0, 0, 4, 4), nullptr), S_OK);
    EXPECT_TRUE(wnd.GetLow() & CXFL_REGIONPENDING);
    ShowWindow(wnd.m_hWnd, SW_RESTORE);
    SendMessageW(wnd.m_hWnd, WM_SETFOCUS, 0, 0);
    EXPECT_FALSE(wnd.GetLow() & CXFL_REGIONPENDING);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(wnd.m_hWnd, region), ERROR);
    EXPECT_EQ(RegionRects(region), (std::vector<Rect>{{0, 0, 4, 4}}));
    DeleteObject(region);
}

TEST_F(SkinShapeTest, NonClientPaintIsSkippedForShapedWindowsOnly)
{
    LRESULT result = 99;
    EXPECT_FALSE(wnd.CxWndRegion::ProcessWindowMessage(wnd.m_hWnd, WM_NCPAINT, 1, 0, result, CX_MAPID_OWN));
    ASSERT_EQ(wnd.ApplyImage(), S_OK);
    EXPECT_TRUE(wnd.CxWndRegion::ProcessWindowMessage(wnd.m_hWnd, WM_NCPAINT, 1, 0, result, CX_MAPID_OWN));
    EXPECT_EQ(result, 0);
    wnd.SetFlags(0, CXFH_SYSTEMNCPAINT);
    EXPECT_FALSE(wnd.CxWndRegion::ProcessWindowMessage(wnd.m_hWnd, WM_NCPAINT, 1, 0, result, CX_MAPID_OWN));
    // Other map ids handle nothing.
    EXPECT_FALSE(wnd.CxWndRegion::ProcessWindowMessage(wnd.m_hWnd, CXM_APPLYSHAPE, 0, 0, result, 7));
    // The child region's entry comes first: a window without a parent adds nothing and answers 1.
    HRGN record = nullptr;
    EXPECT_EQ(SendMessageW(wnd.m_hWnd, CXM_ADDCHILDREGION, reinterpret_cast<WPARAM>(&record), RGN_OR), 1);
    EXPECT_EQ(record, nullptr);
}

// The frame bundle on its own: a section's "img" applied to a plain window.
class FramedWnd : public CxWindowProcT<CWnd>, public CxSkinFrame {
public:
    FramedWnd() { CxWndLink::Attach(&m_hWnd); }

protected:
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override
    {
        return CxWndRegion::ProcessWindowMessage(hWnd, message, wParam, lParam, lResult, mapId);
    }
};

TEST_F(SkinFileTest, TheFrameBundleAppliesItsSectionsImage)
{
    std::ofstream(folder.File(L"frames.ini"))
        << "[panel]\nimg=" << folder.File(L"shape24.bmp").string() << ",/cut\n[broken]\nimg=nosuch.bmp\n";
    const std::wstring file = folder.File(L"frames.ini").wstring();
    FramedWnd wnd;
    ASSERT_TRUE(
        wnd.CreateEx(0, AfxRegisterWndClass(0), L"framed", WS_POPUP | WS_CAPTION, 0, 0, 50, 40, nullptr, nullptr));
    EXPECT_EQ(wnd.ApplySkinSection(file.c_str()), S_FALSE);  // no section
    ASSERT_EQ(wnd.SetSkinSection(L"panel"), S_OK);
    ASSERT_EQ(wnd.ApplySkinSection(file.c_str()), S_OK);
    RECT client{};
    GetClientRect(wnd.m_hWnd, &client);
    EXPECT_EQ(client.right, 37);
    EXPECT_EQ(client.bottom, 23);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(wnd.m_hWnd, region), ERROR);
    EXPECT_EQ(Cover(RegionRects(region), 37, 23), Cover(ReferenceRuns(L"shape24"), 37, 23));
    DeleteObject(region);
    // A section whose image does not load leaves the window as it was.
    ASSERT_EQ(wnd.SetSkinSection(L"broken"), S_OK);
    EXPECT_TRUE(FAILED(wnd.ApplySkinSection(file.c_str())));
    GetClientRect(wnd.m_hWnd, &client);
    EXPECT_EQ(client.right, 37);
    wnd.DestroyWindow();
}

TEST_F(SkinShapeTest, ABackgroundIsNotReplacedWhilePainted)
{
    ASSERT_EQ(wnd.ApplyImage(), S_OK);
    HBITMAP held = wnd.GetBackground();
    wnd.SetFlags(CXFL_PAINTINGBKGND, 0);
    HBITMAP fresh = CreateBitmap(2, 2, 1, 32, nullptr);
    EXPECT_EQ(wnd.SetBackground(fresh), E_ACCESSDENIED);
    EXPECT_EQ(wnd.GetBackground(), held);
    // The refused bitmap was deleted, not leaked.
    BITMAP info{};
    EXPECT_EQ(GetObjectW(fresh, sizeof(info), &info), 0);
    wnd.SetFlags(0, 0, CXFL_PAINTINGBKGND);
}

}  // namespace
