// The block stream over a store in memory that records every call it gets.
#include "tests/support/allocation_failure.h"
#include "device/fs/engine_status.h"
#include "device/fs/file_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;

// A store with a file of given content for reading, and a list of written blocks. Any operation can
// be made to fail with a status on its n-th call.
class MemoryStream : public FileStream {
public:
    explicit MemoryStream(std::uint32_t blockBytes) : blockBytes(blockBytes) {}

    std::uint32_t blockBytes;
    Bytes file;                  // the entry that a read opens
    std::vector<Bytes> written;  // whole blocks as WriteBlock got them
    std::vector<std::uint32_t> lastBlockFlags;
    std::vector<std::string> calls;
    std::uint32_t committedSize = 0;
    std::wstring committedName;
    std::map<std::string, std::pair<int, EngineStatus>> failures;  // call name -> (n-th call, status)

    void FailOn(const std::string& call, int nth, EngineStatus status) { failures[call] = {nth, status}; }
    int Count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }
    std::uint32_t IsOpen() const { return open_; }

    EngineStatus OpenEntry() override
    {
        block_ = 0;
        return Record("OpenEntry");
    }
    EngineStatus ReadNextBlock() override
    {
        if (const EngineStatus status = Record("ReadNextBlock"))
            return status;
        ++block_;
        return kStatusOk;
    }
    EngineStatus WriteBlock(const std::uint8_t* buffer, std::uint32_t bytes) override
    {
        if (const EngineStatus status = Record("WriteBlock"))
            return status;
        written.emplace_back(buffer, buffer + bytes);
        lastBlockFlags.push_back(lastBlock_);
        return kStatusOk;
    }
    EngineStatus ReadFirstBlock(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t*) override
    {
        if (const EngineStatus status = Record("ReadFirstBlock"))
            return status;
        const std::size_t at = std::size_t(block_) * bytes;
        for (std::uint32_t i = 0; i < bytes; ++i)
            buffer[i] = at + i < file.size() ? file[at + i] : 0;
        return kStatusOk;
    }
    EngineStatus CommitEntry() override
    {
        committedSize = transferred_;
        committedName = name_;
        return Record("CommitEntry");
    }
    std::uint32_t GetBlockBytes() override { return blockBytes; }
    std::uint32_t GetFileSize() override
    {
        Record("GetFileSize");
        return std::uint32_t(file.size());
    }

private:
    EngineStatus Record(const std::string& call)
    {
        calls.push_back(call);
        const auto f = failures.find(call);
        if (f != failures.end() && Count(call) == f->second.first)
            return f->second.second;
        return kStatusOk;
    }
    std::uint32_t block_ = 0;
};

Bytes Pattern(std::size_t n, std::uint8_t seed = 1)
{
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = std::uint8_t(seed + i * 7);
    return bytes;
}

Bytes Concat(const std::vector<Bytes>& blocks)
{
    Bytes all;
    for (const Bytes& b : blocks)
        all.insert(all.end(), b.begin(), b.end());
    return all;
}

// Writing in chunks: how many blocks go out, what they hold, and when the last-block flag is set.
TEST(FsFileStream, WriteTurnsChunksIntoWholeBlocks)
{
    struct Case {
        const char* what;
        std::size_t total;
        std::size_t chunk;
        std::size_t blocks;
    };
    // clang-format off
    const Case cases[] = {
        {"nothing", 0, 1, 1},                 // one zero block
        {"one byte", 1, 1, 1},
        {"exactly one block", 16, 16, 1},     // written once, from Close
        {"one block plus one", 17, 17, 2},
        {"small chunks across blocks", 50, 3, 4},
        {"exactly three blocks in chunks", 48, 5, 3},
        {"large chunk", 100, 100, 7},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryStream stream(16);
        ASSERT_EQ(stream.Create(L"new file.mp3"), 0u);
        const Bytes data = Pattern(c.total);
        for (std::size_t at = 0; at < c.total; at += c.chunk)
            ASSERT_EQ(stream.Write(data.data() + at, std::uint32_t(std::min(c.chunk, c.total - at))), 0u);
        EXPECT_EQ(stream.written.size(), c.blocks - 1) << "before Close";
        ASSERT_EQ(stream.Close(), 0u);

        ASSERT_EQ(stream.written.size(), c.blocks);
        Bytes expected = data;
        expected.resize(c.blocks * 16, 0);
        EXPECT_EQ(Concat(stream.written), expected);
        EXPECT_EQ(stream.Count("ReadNextBlock"), int(c.blocks - 1));
        for (std::size_t i = 0; i < c.blocks; ++i)
            EXPECT_EQ(stream.lastBlockFlags[i], i + 1 == c.blocks ? 1u : 0u) << "block " << i;
        EXPECT_EQ(stream.Count("CommitEntry"), 1);
        EXPECT_EQ(stream.committedSize, c.total);
        EXPECT_EQ(stream.committedName, L"new file.mp3");
        EXPECT_EQ(stream.calls.back(), "CommitEntry");
    }
}

TEST(FsFileStream, ReadCopiesWhatWasAskedAndStopsAtTheEnd)
{
    struct Case {
        const char* what;
        std::size_t size;
        std::vector<std::uint32_t> reads;   // lengths asked
        std::vector<std::uint32_t> counts;  // counts returned
    };
    // clang-format off
    const Case cases[] = {
        {"smaller than a block, in pieces", 10, {3, 3, 10, 5}, {3, 3, 4, 0}},
        {"several blocks in one read", 40, {100}, {40}},
        {"block by block", 32, {16, 16, 16}, {16, 16, 0}},
        {"across block ends", 35, {7, 20, 20}, {7, 20, 8}},
        {"empty file", 0, {8}, {0}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryStream stream(16);
        stream.file = Pattern(c.size, 9);
        ASSERT_EQ(stream.OpenRead(77), 0u);
        EXPECT_EQ(stream.Count("ReadFirstBlock"), c.size ? 1 : 0);
        Bytes got;
        for (std::size_t i = 0; i < c.reads.size(); ++i) {
            Bytes buffer(c.reads[i] + 4, 0xEE);
            std::uint32_t count = 12345;
            ASSERT_EQ(stream.Read(buffer.data(), c.reads[i], &count), 0u) << "read " << i;
            EXPECT_EQ(count, c.counts[i]) << "read " << i;
            for (std::size_t j = count; j < buffer.size(); ++j)
                ASSERT_EQ(buffer[j], 0xEE) << "read " << i << " wrote past its count";
            got.insert(got.end(), buffer.begin(), buffer.begin() + count);
        }
        EXPECT_EQ(got, stream.file);
        // Blocks are read only while the file has bytes left.
        EXPECT_EQ(stream.Count("ReadFirstBlock"), int((c.size + 15) / 16));
        ASSERT_EQ(stream.Close(), 0u);
        EXPECT_EQ(stream.Count("CommitEntry"), 1);
        EXPECT_TRUE(stream.written.empty());
    }
}

TEST(FsFileStream, WrongModeOrClosedStreamGivesTwoAndChangesNothing)
{
    std::uint8_t data[4] = {1, 2, 3, 4};
    std::uint32_t count = 99;

    MemoryStream never(16);
    EXPECT_EQ(never.Write(data, 4), 2u);
    EXPECT_EQ(never.Read(data, 4, &count), 2u);
    EXPECT_EQ(never.Close(), 2u);
    EXPECT_TRUE(never.calls.empty());

    MemoryStream reading(16);
    reading.file = Pattern(20);
    ASSERT_EQ(reading.OpenRead(5), 0u);
    const auto callsBefore = reading.calls;
    EXPECT_EQ(reading.Write(data, 4), 2u);
    EXPECT_EQ(reading.Read(data, 4, nullptr), 2u);
    EXPECT_EQ(reading.calls, callsBefore);
    ASSERT_EQ(reading.Read(data, 4, &count), 0u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(Bytes(data, data + 4), Bytes(reading.file.begin(), reading.file.begin() + 4));

    MemoryStream writing(16);
    ASSERT_EQ(writing.Create(L"x"), 0u);
    count = 99;
    EXPECT_EQ(writing.Read(data, 4, &count), 2u);
    EXPECT_EQ(count, 99u);
    ASSERT_EQ(writing.Write(data, 4), 0u);
    ASSERT_EQ(writing.Close(), 0u);
    EXPECT_EQ(writing.committedSize, 4u);
}

TEST(FsFileStream, StoreFailuresArePassedThrough)
{
    struct Case {
        const char* what;
        bool write;
        const char* call;
        int nth;
        EngineStatus status;
        const char* failingStep;  // "write", "read", "close" or "open"
    };
    // clang-format off
    const Case cases[] = {
        {"block write while writing", true, "WriteBlock", 1, kStatusUsbError, "write"},
        {"next block while writing", true, "ReadNextBlock", 1, kStatusStorageFull, "write"},
        {"last block at Close", true, "WriteBlock", 3, kStatusUsbError, "close"},
        {"directory entry at Close", true, "CommitEntry", 1, kStatusUsbError, "close"},
        {"next block while reading", false, "ReadNextBlock", 1, kStatusFileError, "read"},
        {"block read while reading", false, "ReadFirstBlock", 2, kStatusUsbError, "read"},
        {"first block read at open", false, "ReadFirstBlock", 1, kStatusUsbError, "open"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryStream stream(16);
        stream.FailOn(c.call, c.nth, c.status);
        std::uint32_t status = 0;
        if (c.write) {
            ASSERT_EQ(stream.Create(L"x"), 0u);
            const Bytes data = Pattern(40);
            status = stream.Write(data.data(), 40);
            if (std::string(c.failingStep) == "write") {
                EXPECT_EQ(status, c.status);
                continue;
            }
            ASSERT_EQ(status, 0u);
            EXPECT_EQ(stream.Close(), c.status);
            EXPECT_EQ(stream.Count("CommitEntry"), std::string(c.call) == "CommitEntry" ? 1 : 0);
            EXPECT_EQ(stream.Close(), 2u);
        } else {
            stream.file = Pattern(40);
            status = stream.OpenRead(3);
            if (std::string(c.failingStep) == "open") {
                EXPECT_EQ(status, c.status);
                continue;
            }
            ASSERT_EQ(status, 0u);
            Bytes buffer(40);
            std::uint32_t count = 0;
            EXPECT_EQ(stream.Read(buffer.data(), 40, &count), c.status);
        }
    }
}

TEST(FsFileStream, FailedOpenLeavesTheStreamClosed)
{
    for (bool write : {false, true}) {
        SCOPED_TRACE(write ? "Create" : "OpenRead");
        MemoryStream stream(16);
        stream.file = Pattern(20);
        stream.FailOn("OpenEntry", 1, kStatusFolderError);
        EXPECT_EQ(write ? stream.Create(L"x") : stream.OpenRead(8), 1u);
        EXPECT_EQ(stream.IsOpen(), 0u);
        EXPECT_EQ(stream.Count("ReadFirstBlock"), 0);
        std::uint8_t data[4] = {};
        std::uint32_t count = 0;
        EXPECT_EQ(stream.Write(data, 4), 2u);
        EXPECT_EQ(stream.Read(data, 4, &count), 2u);
        EXPECT_EQ(stream.Close(), 2u);
        EXPECT_TRUE(stream.written.empty());
        EXPECT_EQ(stream.Count("CommitEntry"), 0);
    }
}

TEST(FsFileStream, NoBlockBufferIsAnErrorNotASpin)
{
    struct Case {
        const char* what;
        std::uint32_t blockBytes;
        bool allocationFails;
    };
    for (const Case c : {Case{"block size 0", 0, false}, Case{"no memory", 4096, true}}) {
        for (bool write : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (write ? " Create" : " OpenRead"));
            MemoryStream stream(c.blockBytes);
            stream.file = Pattern(20);
            std::uint32_t status;
            {
                std::unique_ptr<test_support::NothrowArrayAllocationFails> failing;
                if (c.allocationFails)
                    failing = std::make_unique<test_support::NothrowArrayAllocationFails>();
                status = write ? stream.Create(L"x") : stream.OpenRead(8);
            }
            EXPECT_EQ(status, 3u);
            EXPECT_EQ(stream.IsOpen(), 0u);
            EXPECT_EQ(stream.Count("OpenEntry"), 0);
            std::uint8_t data[4] = {};
            std::uint32_t count = 0;
            EXPECT_EQ(stream.Write(data, 4), 2u);
            EXPECT_EQ(stream.Read(data, 4, &count), 2u);
        }
    }
    MemoryStream stream(16);
    EXPECT_EQ(stream.Reset(0), kStatusStorageFull);
    EXPECT_EQ(stream.Reset(16), kStatusOk);
}

TEST(FsFileStream, SecondCloseIsHarmless)
{
    MemoryStream stream(16);
    ASSERT_EQ(stream.Create(L"x"), 0u);
    const Bytes data = Pattern(20);
    ASSERT_EQ(stream.Write(data.data(), 20), 0u);
    ASSERT_EQ(stream.Close(), 0u);
    EXPECT_EQ(stream.Close(), 2u);
    EXPECT_EQ(stream.Write(data.data(), 1), 2u);
    EXPECT_EQ(stream.written.size(), 2u);
    EXPECT_EQ(stream.Count("CommitEntry"), 1);
}

TEST(FsFileStream, ReopeningStartsAfresh)
{
    MemoryStream stream(16);
    ASSERT_EQ(stream.Create(L"first"), 0u);
    const Bytes data = Pattern(20);
    ASSERT_EQ(stream.Write(data.data(), 20), 0u);
    // Reopened for reading without a Close: the half-written block is dropped.
    stream.file = Pattern(5, 3);
    ASSERT_EQ(stream.OpenRead(4), 0u);
    Bytes buffer(8);
    std::uint32_t count = 0;
    ASSERT_EQ(stream.Read(buffer.data(), 8, &count), 0u);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), stream.file);
    ASSERT_EQ(stream.Create(L"second"), 0u);
    ASSERT_EQ(stream.Close(), 0u);
    EXPECT_EQ(stream.committedSize, 0u);
    EXPECT_EQ(stream.committedName, L"second");
    EXPECT_EQ(stream.written.size(), 2u);  // one from the first Write, the zero block of the second
    EXPECT_EQ(stream.written.back(), Bytes(16, 0));
}

}  // namespace
