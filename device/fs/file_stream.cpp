#include "device/fs/file_stream.h"

#include "device/fs/engine_status.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace engine {

FileStream::~FileStream()
{
    Release();
}

EngineStatus FileStream::Reset(std::uint32_t size)
{
    blockBuffer_.reset();
    blockBytes_ = size;
    open_ = 0;
    writeMode_ = 0;
    position_ = 0;
    transferred_ = 0;
    lastBlock_ = 0;
    if (size == 0)
        return kStatusStorageFull;
    blockBuffer_.reset(new (std::nothrow) std::uint8_t[size]());
    if (!blockBuffer_) {
        blockBytes_ = 0;
        return kStatusStorageFull;
    }
    return kStatusOk;
}

void FileStream::Release()
{
    blockBuffer_.reset();
    blockBytes_ = 0;
    open_ = 0;
    writeMode_ = 0;
    position_ = 0;
    transferred_ = 0;
}

EngineStatus FileStream::OpenRead(std::uint32_t recordId)
{
    recordId_ = recordId;
    name_.clear();
    // Without a buffer of at least one byte the copy loops could not advance.
    if (Reset(GetBlockBytes()) != kStatusOk)
        return kStatusStorageFull;
    lastBlock_ = 0;
    writeMode_ = 0;

    const EngineStatus opened = OpenEntry();
    if (opened != kStatusOk)
        return opened;
    open_ = 1;

    EngineStatus status = kStatusOk;
    fileSize_ = GetFileSize();
    if (fileSize_ != 0) {
        std::uint32_t unused = 0;
        status = ReadFirstBlock(blockBuffer_.get(), blockBytes_, &unused);
    }
    position_ = 0;
    transferred_ = 0;
    return status;
}

EngineStatus FileStream::Create(const wchar_t* name)
{
    if (Reset(GetBlockBytes()) != kStatusOk)
        return kStatusStorageFull;
    lastBlock_ = 0;
    name_ = name ? name : L"";
    writeMode_ = 1;

    const EngineStatus opened = OpenEntry();
    if (opened != kStatusOk) {
        writeMode_ = 0;
        return opened;
    }
    open_ = 1;
    return kStatusOk;
}

EngineStatus FileStream::Write(const std::uint8_t* data, std::uint32_t length)
{
    if (!open_ || !writeMode_ || !blockBuffer_ || (data == nullptr && length != 0))
        return kStatusFileError;

    std::uint32_t remaining = length;
    // A block that is exactly full stays in memory: it goes out when more data comes or at Close.
    while (std::uint64_t(position_) + remaining > blockBytes_) {
        const std::uint32_t take = blockBytes_ - position_;
        std::memcpy(blockBuffer_.get() + position_, data, take);
        data += take;
        remaining -= take;
        if (const EngineStatus status = WriteBlock(blockBuffer_.get(), blockBytes_))
            return status;
        if (const EngineStatus status = ReadNextBlock())
            return status;
        position_ = 0;
        std::memset(blockBuffer_.get(), 0, blockBytes_);
    }
    if (remaining != 0)
        std::memcpy(blockBuffer_.get() + position_, data, remaining);
    position_ += remaining;
    transferred_ += length;
    return kStatusOk;
}

EngineStatus FileStream::Read(std::uint8_t* destination, std::uint32_t length, std::uint32_t* count)
{
    if (!open_ || writeMode_ || count == nullptr || !blockBuffer_ || (destination == nullptr && length != 0))
        return kStatusFileError;

    std::uint32_t copied = 0;
    std::uint32_t wanted = std::min(length, fileSize_ - std::min(transferred_, fileSize_));
    while (wanted != 0) {
        const std::uint32_t left = fileSize_ - transferred_;
        const std::uint32_t take = std::min({wanted, left, blockBytes_ - position_});
        std::memcpy(destination + copied, blockBuffer_.get() + position_, take);
        copied += take;
        position_ += take;
        transferred_ += take;
        wanted -= take;

        if (position_ >= blockBytes_ && transferred_ < fileSize_) {
            if (const EngineStatus status = ReadNextBlock())
                return status;
            std::memset(blockBuffer_.get(), 0, blockBytes_);
            std::uint32_t unused = 0;
            if (const EngineStatus status = ReadFirstBlock(blockBuffer_.get(), blockBytes_, &unused))
                return status;
            position_ = 0;
        }
    }
    *count = copied;
    return kStatusOk;
}

EngineStatus FileStream::Close()
{
    if (!open_)
        return kStatusFileError;
    EngineStatus status = kStatusOk;
    if (writeMode_) {
        lastBlock_ = 1;
        status = WriteBlock(blockBuffer_.get(), blockBytes_);
    }
    if (status == kStatusOk)
        status = CommitEntry();
    // The store sees the stream open during its last calls; after them a second Close must neither
    // write nor commit again.
    open_ = 0;
    return status;
}

}  // namespace engine
