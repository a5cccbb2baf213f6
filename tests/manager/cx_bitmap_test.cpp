// Packed DIBs: colour tables, palettes, the file round trip, painting (read back with GetDIBits and
// compared with Pillow's decoding of the same files), and a corpus of malformed and damaged files that
// must be refused or read inside their block, by the DIB reader and by the skin-image loader alike.
#include "manager/framework/images/cx_bitmap.h"
#include "manager/framework/images/cx_skin_image.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;
using test_support::TempFolder;
using test_support::UnixPath;

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kCorpusScript[] = KWEP_BMP_CORPUS_SCRIPT;

using Bytes = std::vector<BYTE>;

// A global block owned by the test.
class GlobalBlock {
public:
    explicit GlobalBlock(HGLOBAL h = nullptr) : m_h(h) {}
    ~GlobalBlock()
    {
        if (m_h != nullptr)
            GlobalFree(m_h);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL Get() const { return m_h; }
    Bytes Contents() const
    {
        Bytes bytes(GlobalSize(m_h));
        const void* p = GlobalLock(m_h);
        std::memcpy(bytes.data(), p, bytes.size());
        GlobalUnlock(m_h);
        return bytes;
    }

private:
    HGLOBAL m_h;
};

HGLOBAL ToGlobal(const Bytes& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    void* p = GlobalLock(h);
    std::memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

template <class T>
void Append(Bytes& bytes, const T& value)
{
    const auto* p = reinterpret_cast<const BYTE*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof(T));
}

// An info-header DIB of zeroed pixels with a colour table of `colors` entries (colour i = {i, 2i, 3i}).
Bytes InfoDib(LONG width, LONG height, WORD bits, DWORD used, DWORD colors)
{
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = bits;
    info.biClrUsed = used;
    Bytes dib;
    Append(dib, info);
    for (DWORD i = 0; i < colors; ++i)
        Append(dib, RGBQUAD{static_cast<BYTE>(3 * i), static_cast<BYTE>(2 * i), static_cast<BYTE>(i), 0});
    const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
    dib.resize(dib.size() + stride * static_cast<size_t>(height < 0 ? -height : height));
    return dib;
}

Bytes CoreDib(WORD width, WORD height, WORD bits)
{
    BITMAPCOREHEADER core{sizeof(BITMAPCOREHEADER), width, height, 1, bits};
    Bytes dib;
    Append(dib, core);
    if (bits <= 8) {
        for (int i = 0; i < (1 << bits); ++i)
            Append(dib, RGBTRIPLE{static_cast<BYTE>(i), 0, 0});
    }
    dib.resize(dib.size() + (static_cast<size_t>(width) * bits + 31) / 32 * 4 * height);
    return dib;
}

TEST(DibLayoutTest, ColourTablesByHeaderAndBitCount)
{
    struct Case {
        const char* name;
        Bytes dib;
        DWORD colors;
        DWORD paletteBytes;
        BOOL hasPalette;
    };
    const Case cases[] = {
        {"1 bit", InfoDib(8, 2, 1, 0, 2), 2, 8, TRUE},
        {"4 bits", InfoDib(8, 2, 4, 0, 16), 16, 64, TRUE},
        {"8 bits", InfoDib(8, 2, 8, 0, 256), 256, 1024, TRUE},
        {"8 bits, 16 used", InfoDib(8, 2, 8, 16, 16), 16, 64, TRUE},
        {"24 bits", InfoDib(8, 2, 24, 0, 0), 0, 0, FALSE},
        {"24 bits with an optional table", InfoDib(8, 2, 24, 4, 4), 4, 16, TRUE},
        {"core header, 8 bits", CoreDib(8, 2, 8), 256, 768, TRUE},
        {"core header, 24 bits", CoreDib(8, 2, 24), 0, 0, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GlobalBlock dib(ToGlobal(c.dib));
        EXPECT_EQ(DibColorCount(dib.Get()), c.colors);
        EXPECT_EQ(DibPaletteSize(dib.Get()), c.paletteBytes);
        EXPECT_EQ(DibWidth(dib.Get()), 8);
        EXPECT_EQ(DibHeight(dib.Get()), 2);
        CPalette palette;
        EXPECT_EQ(DibCreatePalette(dib.Get(), &palette), c.hasPalette);
        if (c.hasPalette) {
            ASSERT_EQ(palette.GetEntryCount(), c.colors);
            PALETTEENTRY last{};
            ASSERT_EQ(GetPaletteEntries(palette, c.colors - 1, 1, &last), 1u);
            // The last table entry's colour, red first.
            const BYTE* table = c.dib.data() + (c.dib[0] == 12 ? 12 : 40);
            const size_t entry = c.dib[0] == 12 ? 3 : 4;
            const BYTE* rgb = table + (c.colors - 1) * entry;
            EXPECT_EQ(last.peRed, rgb[2]);
            EXPECT_EQ(last.peGreen, rgb[1]);
            EXPECT_EQ(last.peBlue, rgb[0]);
        }
    }
}

TEST(DibLayoutTest, NullAndRefusedHandlesGiveNothing)
{
    EXPECT_EQ(DibColorCount(nullptr), 0u);
    EXPECT_EQ(DibWidth(nullptr), 0);
    EXPECT_EQ(DibCopyHandle(nullptr), nullptr);
    CPalette palette;
    EXPECT_FALSE(DibCreatePalette(nullptr, &palette));
    // A colour table longer than the block: nothing is read from it.
    Bytes cut = InfoDib(8, 2, 8, 0, 256);
    cut.resize(40 + 100);
    GlobalBlock dib(ToGlobal(cut));
    EXPECT_EQ(DibColorCount(dib.Get()), 0u);
    EXPECT_FALSE(DibCreatePalette(dib.Get(), &palette));
    HDC dc = CreateCompatibleDC(nullptr);
    const RECT r{0, 0, 8, 2};
    EXPECT_FALSE(DibPaint(dc, &r, dib.Get(), &r, nullptr));
    DeleteDC(dc);
}

TEST(DibLayoutTest, CopyHandleCopiesTheWholeBlock)
{
    const Bytes bytes = InfoDib(5, 3, 24, 0, 0);
    GlobalBlock dib(ToGlobal(bytes));
    GlobalBlock copy(DibCopyHandle(dib.Get()));
    ASSERT_NE(copy.Get(), nullptr);
    EXPECT_NE(copy.Get(), dib.Get());
    EXPECT_EQ(copy.Contents(), dib.Contents());
}

class DibFileTest : public ::testing::Test {
protected:
    TempFolder folder;

    Bytes ReadAll(const std::wstring& path)
    {
        std::ifstream in(std::filesystem::path(path), std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void WriteAll(const std::wstring& path, const Bytes& bytes)
    {
        std::ofstream out(std::filesystem::path(path), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    HGLOBAL ReadDib(const std::wstring& path)
    {
        CFile file;
        if (!file.Open(path.c_str(), CFile::modeRead))
            return nullptr;
        return DibReadFromFile(file);
    }
};

TEST_F(DibFileTest, SaveThenReadGivesTheSameDib)
{
    Bytes bytes = InfoDib(7, 3, 8, 16, 16);
    for (size_t i = 40 + 64; i < bytes.size(); ++i)
        bytes[i] = static_cast<BYTE>(i * 7);
    GlobalBlock dib(ToGlobal(bytes));
    const std::wstring path = folder.File(L"round.bmp").wstring();
    {
        CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        ASSERT_TRUE(DibSaveToFile(dib.Get(), file));
    }
    const Bytes written = ReadAll(path);
    const DWORD image = 8 * 3;  // rows of 7 bytes padded to 8
    ASSERT_EQ(written.size(), 14u + 40 + 64 + image);
    BITMAPFILEHEADER header;
    std::memcpy(&header, written.data(), sizeof(header));
    EXPECT_EQ(header.bfType, 0x4D42);
    EXPECT_EQ(header.bfSize, written.size());
    EXPECT_EQ(header.bfOffBits, 14u + 40 + 64);
    EXPECT_EQ(header.bfReserved1, 0);
    EXPECT_EQ(header.bfReserved2, 0);
    BITMAPINFOHEADER info;
    std::memcpy(&info, written.data() + 14, sizeof(info));
    EXPECT_EQ(info.biSizeImage, image);

    GlobalBlock back(ReadDib(path));
    ASSERT_NE(back.Get(), nullptr);
    Bytes expected = bytes;
    std::memcpy(expected.data() + 20, &image, sizeof(image));  // the image size the header now states
    EXPECT_EQ(back.Contents(), expected);
}

TEST_F(DibFileTest, CoreHeadersAreNotSaved)
{
    GlobalBlock dib(ToGlobal(CoreDib(4, 4, 24)));
    CFile file;
    ASSERT_TRUE(file.Open(folder.File(L"core.bmp").c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_FALSE(DibSaveToFile(dib.Get(), file));
    EXPECT_FALSE(DibSaveToFile(nullptr, file));
}

TEST_F(DibFileTest, OnlyWholeBmFilesAreRead)
{
    GlobalBlock dib(ToGlobal(InfoDib(4, 4, 24, 0, 0)));
    const std::wstring path = folder.File(L"good.bmp").wstring();
    {
        CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        ASSERT_TRUE(DibSaveToFile(dib.Get(), file));
    }
    const Bytes good = ReadAll(path);
    GlobalBlock read(ReadDib(path));
    EXPECT_NE(read.Get(), nullptr);

    Bytes notBm = good;
    notBm[0] = 'X';
    WriteAll(path, notBm);
    EXPECT_EQ(ReadDib(path), nullptr);
    WriteAll(path, Bytes(good.begin(), good.end() - 1));
    EXPECT_EQ(ReadDib(path), nullptr);
    WriteAll(path, Bytes(good.begin(), good.begin() + 10));
    EXPECT_EQ(ReadDib(path), nullptr);
}

// ---- Painting, against Pillow ----

// Pixels of a width x height canvas as 0x00RRGGBB, top row first, after painting into it.
std::vector<uint32_t> Paint(HGLOBAL dib, int width, int height, const RECT& destination, const RECT& source,
                            BOOL* painted)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP canvas = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, canvas);
    RECT all{0, 0, width, height};
    HBRUSH sentinel = CreateSolidBrush(RGB(1, 2, 3));
    FillRect(dc, &all, sentinel);
    DeleteObject(sentinel);
    *painted = DibPaint(dc, &destination, dib, &source, nullptr);
    GdiFlush();
    SelectObject(dc, old);
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    GetDIBits(dc, canvas, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    for (uint32_t& p : pixels)
        p &= 0xFFFFFF;
    DeleteDC(dc);
    DeleteObject(canvas);
    ReleaseDC(nullptr, screen);
    return pixels;
}

struct CorpusEntry {
    std::string name;
    std::string verdict;
    int width = 0;
    int height = 0;
};

class DibCorpusTest : public DibFileTest {
protected:
    std::vector<CorpusEntry> entries;

    void SetUp() override
    {
        const ShellResult result =
            RunShell(ShellQuote(kPython) + " " + ShellQuote(kCorpusScript) + " " + ShellQuote(UnixPath(folder.Path())));
        ASSERT_TRUE(result.finished && result.exitCode == 0)
            << "the corpus script failed (python3-pil must be installed): " << result.err;
        std::istringstream manifest(std::string([&] {
            const Bytes b = ReadAll(folder.File(L"manifest.txt").wstring());
            return std::string(b.begin(), b.end());
        }()));
        std::string line;
        while (std::getline(manifest, line)) {
            std::istringstream fields(line);
            CorpusEntry e;
            fields >> e.name >> e.verdict >> e.width >> e.height;
            entries.push_back(e);
        }
        ASSERT_GT(entries.size(), 300u);
    }

    std::wstring PathOf(const CorpusEntry& e, const char* extension)
    {
        return folder.File(std::wstring(e.name.begin(), e.name.end()) + std::wstring(extension, extension + 4))
            .wstring();
    }

    // The reference pixels as 0x00RRGGBB.
    std::vector<uint32_t> Reference(const CorpusEntry& e)
    {
        const Bytes rgb = ReadAll(PathOf(e, ".rgb"));
        std::vector<uint32_t> pixels;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3)
            pixels.push_back(static_cast<uint32_t>(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
        return pixels;
    }
};

// The packed DIB (the file without its header) placed against a page the process may not read, so
// that the checks reading one byte too far would end the test.
bool CheckAgainstGuardPage(const Bytes& file, DibLayout* layout)
{
    const size_t size = file.size() > 14 ? file.size() - 14 : 0;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    const size_t span = (size + page - 1) / page * page + page;
    auto* base = static_cast<BYTE*>(VirtualAlloc(nullptr, span, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base + span - page, page, PAGE_NOACCESS, &old);
    BYTE* dib = base + span - page - size;
    if (size != 0)
        std::memcpy(dib, file.data() + 14, size);
    const bool accepted = DibCheckLayout(dib, size, layout);
    if (accepted && layout->bitsOffset + static_cast<size_t>(layout->imageSize) > size)
        ADD_FAILURE() << "a layout reaching past its block was accepted";
    VirtualFree(base, 0, MEM_RELEASE);
    return accepted;
}

TEST_F(DibCorpusTest, WellFormedFilesPaintAsPillowDecodesThem)
{
    int checked = 0;
    for (const CorpusEntry& e : entries) {
        if (e.verdict != "accept")
            continue;
        SCOPED_TRACE(e.name);
        GlobalBlock dib(ReadDib(PathOf(e, ".bmp")));
        ASSERT_NE(dib.Get(), nullptr);
        EXPECT_EQ(DibWidth(dib.Get()), e.width);
        EXPECT_EQ(DibHeight(dib.Get()), e.height);
        const std::vector<uint32_t> expected = Reference(e);
        ASSERT_EQ(expected.size(), static_cast<size_t>(e.width) * e.height);
        // 16-bit colours are widened from 5 or 6 bits, where decoders round differently.
        const int tolerance = e.name.rfind("rgb5", 0) == 0 ? 8 : 0;
        auto same = [tolerance](uint32_t a, uint32_t b) {
            for (int shift = 0; shift < 24; shift += 8) {
                const int d = static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255);
                if (d > tolerance || d < -tolerance)
                    return false;
            }
            return true;
        };

        // Whole image, same size.
        const RECT whole{0, 0, e.width, e.height};
        BOOL painted = FALSE;
        std::vector<uint32_t> got = Paint(dib.Get(), e.width, e.height, whole, whole, &painted);
        EXPECT_TRUE(painted);
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_TRUE(same(got[i], expected[i]))
                << "pixel " << i % e.width << "," << i / e.width << ": " << std::hex << got[i] << " != " << expected[i];

        // An inner part, same size: the source's rows are counted the right way for both row orders.
        const int iw = e.width - 2, ih = e.height - 2;
        if (iw > 0 && ih > 0) {
            const RECT inner{1, 1, e.width - 1, e.height - 1};
            got = Paint(dib.Get(), iw, ih, RECT{0, 0, iw, ih}, inner, &painted);
            EXPECT_TRUE(painted);
            for (int y = 0; y < ih; ++y)
                for (int x = 0; x < iw; ++x)
                    ASSERT_TRUE(same(got[y * iw + x], expected[(y + 1) * e.width + x + 1]))
                        << "inner " << x << "," << y;
        }

        // Twice the size: every pixel doubled.
        const int w2 = 2 * e.width, h2 = 2 * e.height;
        got = Paint(dib.Get(), w2, h2, RECT{0, 0, w2, h2}, whole, &painted);
        EXPECT_TRUE(painted);
        for (int y = 0; y < h2; ++y)
            for (int x = 0; x < w2; ++x)
                ASSERT_TRUE(same(got[y * w2 + x], expected[(y / 2) * e.width + x / 2])) << "doubled " << x << "," << y;
        ++checked;
    }
    EXPECT_EQ(checked, 15);
}

TEST_F(DibCorpusTest, MalformedFilesAreRefusedAndNothingReadsPastTheBlock)
{
    int refused = 0, damagedTaken = 0;
    for (const CorpusEntry& e : entries) {
        SCOPED_TRACE(e.name);
        const std::wstring path = PathOf(e, ".bmp");
        DibLayout layout;
        const bool checked = CheckAgainstGuardPage(ReadAll(path), &layout);
        GlobalBlock dib(ReadDib(path));
        if (e.verdict == "refuse") {
            EXPECT_EQ(dib.Get(), nullptr);
            ++refused;
            continue;
        }
        if (e.verdict == "accept") {
            EXPECT_TRUE(checked);
        }
        if (dib.Get() == nullptr)
            continue;
        // Whatever was taken is a packed DIB its block holds, and paints without harm.
        EXPECT_TRUE(checked);
        damagedTaken += e.verdict == "either";
        const LONG w = DibWidth(dib.Get()), h = DibHeight(dib.Get());
        ASSERT_GT(w, 0);
        ASSERT_GT(h, 0);
        const RECT source{0, 0, w, h};
        const RECT small{0, 0, 16, 16};
        BOOL painted = FALSE;
        Paint(dib.Get(), 16, 16, small, source, &painted);
        CPalette palette;
        DibCreatePalette(dib.Get(), &palette);
    }
    EXPECT_EQ(refused, 39);
    // The damage leaves some files whole enough to read; the walk above painted them.
    EXPECT_GT(damagedTaken, 0);
}

// The skin-image loader hands files to OLE's picture loader only when the reader would take them: it
// refuses every file the reader refuses, and loads the well-formed ones at their size.
TEST_F(DibCorpusTest, TheSkinImageLoaderRefusesWhatTheReaderRefuses)
{
    int loaded = 0;
    for (const CorpusEntry& e : entries) {
        SCOPED_TRACE(e.name);
        const std::wstring path = PathOf(e, ".bmp");
        GlobalBlock dib(ReadDib(path));
        HBITMAP bitmap = nullptr;
        const HRESULT hr = CxLoadSkinImage(CX_IMAGE_FILE, path.c_str(), 0, nullptr, nullptr, nullptr, &bitmap);
        if (dib.Get() == nullptr) {
            EXPECT_EQ(hr, E_INVALIDARG);
            EXPECT_EQ(bitmap, nullptr);
            continue;
        }
        if (e.verdict == "accept") {
            EXPECT_EQ(hr, S_OK);
        }
        if (FAILED(hr))
            continue;
        BITMAP info{};
        ASSERT_NE(GetObjectW(bitmap, sizeof(info), &info), 0);
        EXPECT_EQ(info.bmWidth, DibWidth(dib.Get()));
        EXPECT_EQ(info.bmHeight, DibHeight(dib.Get()));
        DeleteObject(bitmap);
        ++loaded;
    }
    EXPECT_GE(loaded, 15);
}

}  // namespace
