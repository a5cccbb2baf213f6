#include "device/fs/pc/pc_transfer.h"

#include "device/fs/pc/id3_tag.h"
#include "device/transport/engine_state.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

std::time_t KnownTime(std::time_t t)
{
    return t == static_cast<std::time_t>(-1) ? 0 : t;
}

HANDLE OpenAnsi(const std::string& path, bool write)
{
    const DWORD access = write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD share = write ? 0 : FILE_SHARE_READ;
    const DWORD disposition = write ? CREATE_ALWAYS : OPEN_EXISTING;
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// ---- PcSource ----

// The status of a PC file by either kind of path: the wide one through the family's calls, the ANSI one as it
// stands.
bool StatPcFile(const wchar_t* path, UtilStatRecord* info)
{
    return UtilStatFile(path, info);
}

bool StatPcFile(const char* ansiPath, UtilStatRecord* info)
{
    return _stat64(ansiPath, info) == 0;
}

}  // namespace

EngineStatus PcSource::Prepare(const wchar_t* path, bool mp3)
{
    if (path != nullptr) {
        ansi_ = false;
        widePath_ = path;
    }
    return Describe(path, mp3);
}

EngineStatus PcSource::Prepare(const char* ansiPath, bool mp3)
{
    if (ansiPath != nullptr) {
        ansi_ = true;
        ansiPath_ = ansiPath;
    }
    return Describe(ansiPath, mp3);
}

template <typename Char>
EngineStatus PcSource::Describe(const Char* path, bool mp3)
{
    prepared_ = false;
    tag_.reset();
    file_.Close();
    if (path == nullptr)
        return kStatusFileError;
    UtilStatRecord info{};
    if (!StatPcFile(path, &info))
        return kStatusFileError;
    created_ = KnownTime(info.st_ctime);
    accessed_ = KnownTime(info.st_atime);
    written_ = KnownTime(info.st_mtime);
    std::int64_t audio = 0;
    std::uint32_t tagBytes = 0;
    if (mp3) {
        TagRecord builder;
        tagBytes = builder.BuildTagFromFile(path, &audio, &tag_);
        if (!FindMp3FrameSync(path, &audio))
            return kStatusFileError;
    }
    return Finish((info.st_mode & _S_IFMT) == _S_IFREG, info.st_size, audio, tagBytes);
}

EngineStatus PcSource::Finish(bool isFile, std::int64_t size, std::int64_t audio, std::uint32_t tagBytes)
{
    // The tag's length counts only with its bytes.
    tagBytes_ = tag_ ? tagBytes : 0;
    if (!isFile || size < 0 || audio < 0 || audio > size)
        return kStatusFileError;
    const std::uint64_t stored = static_cast<std::uint64_t>(size - audio) + tagBytes_;
    // An entry's size field is 32 bits wide.
    if (stored > 0xFFFFFFFFu)
        return kStatusStorageFull;
    audio_ = audio;
    stored_ = static_cast<std::uint32_t>(stored);
    delivered_ = 0;
    prepared_ = true;
    return kStatusOk;
}

EngineStatus PcSource::Open(std::uint32_t pieceBytes)
{
    if (!prepared_ || pieceBytes == 0)
        return kStatusFileError;
    pieceBytes_ = pieceBytes;
    delivered_ = 0;
    file_.Reset(ansi_ ? OpenAnsi(ansiPath_, false) : UtilOpenOrCreateFile(widePath_.c_str(), false));
    LARGE_INTEGER seek;
    seek.QuadPart = audio_;
    if (!file_.valid() || !SetFilePointerEx(file_.get(), seek, nullptr, FILE_BEGIN)) {
        file_.Close();
        return kStatusFileError;
    }
    return kStatusOk;
}

std::uint32_t PcSource::PieceCount(std::uint32_t pieceBytes) const
{
    return pieceBytes ? static_cast<std::uint32_t>((std::uint64_t{stored_} + pieceBytes - 1) / pieceBytes) : 0;
}

EngineStatus PcSource::Read(std::uint8_t* out, std::uint32_t bytes)
{
    if (!file_.valid() || bytes > Remaining())
        return kStatusFileError;
    std::uint32_t filled = 0;
    // The new tag first, then the audio from the first frame on.
    if (delivered_ < tagBytes_) {
        filled = std::min(bytes, tagBytes_ - delivered_);
        std::memcpy(out, tag_.get() + delivered_, filled);
    }
    if (!ReadExactly(file_.get(), out + filled, bytes - filled))
        return kStatusFileError;  // the PC file is shorter than it was
    delivered_ += bytes;
    return kStatusOk;
}

EngineStatus PcSource::NextPiece(std::uint8_t* out, std::uint32_t* got)
{
    const std::uint32_t bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(pieceBytes_, Remaining()));
    if (got)
        *got = 0;
    if (const EngineStatus status = Read(out, bytes); status != kStatusOk)
        return status;
    if (got)
        *got = bytes;
    return kStatusOk;
}

bool PcSource::PieceStored() const
{
    if (Engine.CancelRequested.load())
        return true;
    NotifyProgress(kProgressStep, static_cast<std::int32_t>(pieceBytes_));
    return false;
}

// ---- PcSink ----

EngineStatus PcSink::Create(const wchar_t* path)
{
    Discard();
    if (path == nullptr)
        return kStatusFileError;
    ansi_ = false;
    widePath_ = path;
    file_.Reset(UtilOpenOrCreateFile(path, true));
    active_ = file_.valid();
    return active_ ? kStatusOk : kStatusFileError;
}

EngineStatus PcSink::Create(const char* ansiPath)
{
    Discard();
    if (ansiPath == nullptr)
        return kStatusFileError;
    ansi_ = true;
    ansiPath_ = ansiPath;
    file_.Reset(OpenAnsi(ansiPath_, true));
    active_ = file_.valid();
    return active_ ? kStatusOk : kStatusFileError;
}

bool PcSink::Write(const std::uint8_t* data, std::uint32_t bytes)
{
    return active_ && WriteExactly(file_.get(), data, bytes);
}

EngineStatus PcSink::Finish()
{
    if (!active_)
        return kStatusFileError;
    if (!file_.Close()) {
        Discard();
        return kStatusFileError;
    }
    active_ = false;
    return kStatusOk;
}

void PcSink::Discard()
{
    if (!active_)
        return;
    file_.Close();
    active_ = false;
    if (ansi_)
        DeleteFileA(ansiPath_.c_str());
    else
        UtilDeleteFile(widePath_.c_str());
}

}  // namespace engine
