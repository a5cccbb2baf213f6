// The PCM sources (MP3 through the audio compression manager, WAV as it is) and the playback thread.
#include "platform/mediaplayer/media_playback.h"

#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>

namespace mediaplayer {

namespace {

// MP3 frames handed to the decoder in one conversion, and the largest layer III frame.
constexpr std::size_t kChunkFrames = 16;
constexpr std::size_t kMaxFrameLength = 1441;
// PCM bytes a WAV source gives at a time.
constexpr std::size_t kWavePiece = 64 * 1024;

MediaOpenResult Failed(HRESULT hr, const wchar_t* text)
{
    return MediaOpenResult{hr, text};
}

class WaveSource final : public PcmSource {
public:
    WaveSource(const std::uint8_t* data, std::uint64_t bytes) : data_(data), left_(bytes) {}
    MediaOpenResult Read(std::vector<std::uint8_t>& out, bool* end) override
    {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kWavePiece));
        out.insert(out.end(), data_, data_ + n);
        data_ += n;
        left_ -= n;
        *end = left_ == 0;
        return MediaOpenResult{S_OK, {}};
    }

private:
    const std::uint8_t* data_;
    std::uint64_t left_;
};

class Mp3Source final : public PcmSource {
public:
    ~Mp3Source() override
    {
        if (prepared_)
            acmStreamUnprepareHeader(stream_, &header_, 0);
        if (stream_)
            acmStreamClose(stream_, 0);
    }

    MediaOpenResult Open(const MediaInfo& info, const std::uint8_t* data, std::size_t firstFrame)
    {
        info_ = &info;
        data_ = data;
        next_ = firstFrame;
        MPEGLAYER3WAVEFORMAT mp3{};
        mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
        mp3.wfx.nChannels = static_cast<WORD>(info.mpeg.channels);
        mp3.wfx.nSamplesPerSec = static_cast<DWORD>(info.mpeg.sampleRate);
        mp3.wfx.nAvgBytesPerSec = static_cast<DWORD>(info.mpeg.bitrate / 8);
        mp3.wfx.nBlockAlign = 1;
        mp3.wfx.wBitsPerSample = 0;
        mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
        mp3.wID = MPEGLAYER3_ID_MPEG;
        mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
        mp3.nBlockSize = static_cast<WORD>(info.mpeg.frameLength - (info.mpeg.padding ? 1 : 0));
        mp3.nFramesPerBlock = 1;
        mp3.nCodecDelay = 0;
        WAVEFORMATEX pcm = info.pcm;
        if (acmStreamOpen(&stream_, nullptr, &mp3.wfx, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) {
            stream_ = nullptr;
            return Failed(kErrNoDecoder, L"The MP3 decoder (MPEG Layer-3 Codec) is not installed or refuses this file.");
        }
        try {
            src_.resize(kChunkFrames * kMaxFrameLength);
            // Room for what the decoder may still hold from earlier pieces.
            dst_.resize(2 * kChunkFrames * 1152 * 4 + 64 * 1024);
        } catch (...) {
            return Failed(E_OUTOFMEMORY, L"Not enough memory to play the file.");
        }
        header_.cbStruct = sizeof header_;
        header_.pbSrc = src_.data();
        header_.cbSrcLength = static_cast<DWORD>(src_.size());
        header_.pbDst = dst_.data();
        header_.cbDstLength = static_cast<DWORD>(dst_.size());
        if (acmStreamPrepareHeader(stream_, &header_, 0) != 0)
            return Failed(kErrNoDecoder, L"The MP3 decoder cannot be prepared.");
        prepared_ = true;
        return MediaOpenResult{S_OK, {}};
    }

    MediaOpenResult Read(std::vector<std::uint8_t>& out, bool* end) override
    {
        *end = false;
        const std::vector<MediaFrame>& frames = info_->frames;
        std::size_t n = 0;
        DWORD flags = started_ ? 0 : ACM_STREAMCONVERTF_START;
        started_ = true;
        for (std::size_t i = 0; i < kChunkFrames && next_ < frames.size(); ++i, ++next_) {
            const MediaFrame& f = frames[next_];
            std::memcpy(src_.data() + n, data_ + f.offset, f.length);
            n += f.length;
        }
        if (n == 0)
            flags |= ACM_STREAMCONVERTF_END;
        header_.cbSrcLength = static_cast<DWORD>(n);
        header_.cbDstLength = static_cast<DWORD>(dst_.size());
        header_.cbSrcLengthUsed = 0;
        header_.cbDstLengthUsed = 0;
        if (acmStreamConvert(stream_, &header_, flags) != 0)
            return Failed(kErrDecode, L"The MP3 decoder failed on the file's audio.");
        const std::size_t got = std::min<std::size_t>(header_.cbDstLengthUsed, dst_.size());
        out.insert(out.end(), dst_.data(), dst_.data() + got);
        // Once every frame is in, the decoder is drained until it gives nothing more.
        *end = n == 0 && got == 0;
        return MediaOpenResult{S_OK, {}};
    }

private:
    const MediaInfo* info_ = nullptr;
    const std::uint8_t* data_ = nullptr;
    std::size_t next_ = 0;
    HACMSTREAM stream_ = nullptr;
    ACMSTREAMHEADER header_{};
    bool prepared_ = false;
    bool started_ = false;
    std::vector<std::uint8_t> src_;
    std::vector<std::uint8_t> dst_;
};

// A quarter of a second of PCM per device buffer, four buffers in flight.
constexpr int kBuffers = 4;

}  // namespace

MediaOpenResult CreatePcmSource(const MediaInfo& info, const std::uint8_t* data, std::size_t size,
                                std::uint64_t startSample, std::unique_ptr<PcmSource>* source)
{
    source->reset();
    if (info.kind == MediaInfo::Kind::kWave) {
        const std::uint64_t skip = std::min<std::uint64_t>(startSample * info.pcm.nBlockAlign, info.dataBytes);
        if (info.dataOffset > size || info.dataBytes > size - info.dataOffset)
            return Failed(kErrBadWave, L"The WAV file's data lies outside the file.");
        source->reset(new (std::nothrow) WaveSource(data + info.dataOffset + skip, info.dataBytes - skip));
        return *source ? MediaOpenResult{S_OK, {}} : Failed(E_OUTOFMEMORY, L"Not enough memory to play the file.");
    }
    for (const MediaFrame& f : info.frames) {
        if (f.offset > size || f.length > size - f.offset || f.length > kMaxFrameLength)
            return Failed(kErrDecode, L"The file's MP3 frames lie outside the file.");
    }
    const std::uint64_t spf = info.mpeg.samplesPerFrame ? info.mpeg.samplesPerFrame : 1152;
    const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(startSample / spf, info.frames.size()));
    auto mp3 = std::unique_ptr<Mp3Source>(new (std::nothrow) Mp3Source);
    if (!mp3)
        return Failed(E_OUTOFMEMORY, L"Not enough memory to play the file.");
    MediaOpenResult r = mp3->Open(info, data, first);
    if (SUCCEEDED(r.hr))
        *source = std::move(mp3);
    return r;
}

void ApplyVolume(std::uint8_t* pcm, std::size_t bytes, int bitsPerSample, int volume, bool mute)
{
    volume = std::clamp(volume, 0, 100);
    if (!mute && volume == 100)
        return;
    if (mute)
        volume = 0;
    if (bitsPerSample == 16) {
        for (std::size_t i = 0; i + 1 < bytes; i += 2) {
            const int s = static_cast<std::int16_t>(pcm[i] | (pcm[i + 1] << 8));
            const int v = s * volume / 100;
            pcm[i] = static_cast<std::uint8_t>(v & 0xFF);
            pcm[i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        }
    } else if (bitsPerSample == 8) {
        for (std::size_t i = 0; i < bytes; ++i)
            pcm[i] = static_cast<std::uint8_t>((pcm[i] - 128) * volume / 100 + 128);
    }
}

MediaOpenResult Playback::Start(const MediaInfo& info, const std::uint8_t* data, std::size_t size,
                                std::uint64_t startSample, bool paused, HWND window, UINT message, WPARAM generation)
{
    Stop();
    failure_ = MediaOpenResult{S_OK, {}};
    MediaOpenResult r = CreatePcmSource(info, data, size, startSample, &source_);
    if (FAILED(r.hr))
        return r;
    format_ = info.pcm;
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!stop_ || !done_) {
        Stop();
        return Failed(HRESULT_FROM_WIN32(GetLastError()), L"The playback cannot be started: no event objects.");
    }
    if (waveOutGetNumDevs() == 0) {
        Stop();
        return Failed(kErrNoOutput, L"No audio output device is available; the file cannot be played.");
    }
    const MMRESULT opened = waveOutOpen(&device_, WAVE_MAPPER, &format_, reinterpret_cast<DWORD_PTR>(done_), 0,
                                        CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
        device_ = nullptr;
        Stop();
        if (opened == MMSYSERR_NODRIVER || opened == MMSYSERR_BADDEVICEID)
            return Failed(kErrNoOutput, L"No audio output device is available; the file cannot be played.");
        return Failed(kErrOutput, L"The audio output device refuses the file's sound format.");
    }
    if (paused)
        waveOutPause(device_);
    window_ = window;
    message_ = message;
    generation_ = generation;
    thread_ = CreateThread(nullptr, 0, &Playback::ThreadMain, this, 0, nullptr);
    if (!thread_) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        Stop();
        return Failed(hr, L"The playback thread cannot be started.");
    }
    return MediaOpenResult{S_OK, {}};
}

void Playback::Stop()
{
    if (thread_) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (device_) {
        std::lock_guard<std::mutex> guard(lock_);
        waveOutReset(device_);
        waveOutClose(device_);
        device_ = nullptr;
    }
    if (stop_)
        CloseHandle(stop_);
    if (done_)
        CloseHandle(done_);
    stop_ = done_ = nullptr;
    source_.reset();
}

HRESULT Playback::Pause()
{
    std::lock_guard<std::mutex> guard(lock_);
    return device_ && waveOutPause(device_) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT Playback::Resume()
{
    std::lock_guard<std::mutex> guard(lock_);
    return device_ && waveOutRestart(device_) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

std::uint64_t Playback::SamplesPlayed()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!device_)
        return 0;
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    if (waveOutGetPosition(device_, &t, sizeof t) != MMSYSERR_NOERROR)
        return 0;
    if (t.wType == TIME_SAMPLES)
        return t.u.sample;
    if (t.wType == TIME_BYTES && format_.nBlockAlign)
        return t.u.cb / format_.nBlockAlign;
    return 0;
}

MediaOpenResult Playback::Failure()
{
    std::lock_guard<std::mutex> guard(lock_);
    return failure_;
}

DWORD WINAPI Playback::ThreadMain(LPVOID self)
{
    static_cast<Playback*>(self)->Run();
    return 0;
}

// One buffer of PCM while the device holds it.
struct DeviceBuffer {
    WAVEHDR header{};
    std::vector<std::uint8_t> pcm;
    bool queued = false;
};

void Playback::Run()
{
    // The buffers outlive the playing: the device gives them back before they go, on every path.
    DeviceBuffer buffers[kBuffers];
    try {
        RunOrThrow(buffers);
    } catch (const std::bad_alloc&) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            waveOutReset(device_);
            failure_ = Failed(E_OUTOFMEMORY, L"Not enough memory to go on playing the file.");
        }
        for (DeviceBuffer& b : buffers) {
            if (b.queued)
                waveOutUnprepareHeader(device_, &b.header, sizeof b.header);
        }
        PostMessageW(window_, message_, generation_, kPlaybackFailed);
    }
}

void Playback::RunOrThrow(DeviceBuffer* buffers)
{
    using Buffer = DeviceBuffer;
    const std::size_t piece = std::max<std::size_t>(format_.nBlockAlign, (format_.nAvgBytesPerSec / 4) / format_.nBlockAlign *
                                                                             format_.nBlockAlign);
    std::vector<std::uint8_t> pending;
    bool sourceEnded = false;
    MediaOpenResult failure{S_OK, {}};
    bool stopped = false;

    const auto unqueue = [&](Buffer& b) {
        if (b.queued && (b.header.dwFlags & WHDR_DONE)) {
            waveOutUnprepareHeader(device_, &b.header, sizeof b.header);
            b.queued = false;
        }
    };

    while (!stopped && SUCCEEDED(failure.hr)) {
        bool anyQueued = false;
        for (int i = 0; i < kBuffers; ++i) {
            Buffer& b = buffers[i];
            unqueue(b);
            if (b.queued) {
                anyQueued = true;
                continue;
            }
            while (!sourceEnded && pending.size() < piece) {
                failure = source_->Read(pending, &sourceEnded);
                if (FAILED(failure.hr))
                    break;
            }
            if (FAILED(failure.hr) || pending.empty())
                break;
            std::size_t n = std::min(piece, pending.size());
            n -= n % format_.nBlockAlign;
            if (n == 0) {
                pending.clear();  // a partial sample frame at the very end
                break;
            }
            b.pcm.assign(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
            ApplyVolume(b.pcm.data(), b.pcm.size(), format_.wBitsPerSample, volume_.load(), mute_.load());
            b.header = WAVEHDR{};
            b.header.lpData = reinterpret_cast<LPSTR>(b.pcm.data());
            b.header.dwBufferLength = static_cast<DWORD>(b.pcm.size());
            if (waveOutPrepareHeader(device_, &b.header, sizeof b.header) != MMSYSERR_NOERROR ||
                waveOutWrite(device_, &b.header, sizeof b.header) != MMSYSERR_NOERROR) {
                waveOutUnprepareHeader(device_, &b.header, sizeof b.header);
                failure = Failed(kErrOutput, L"The audio output device failed while playing.");
                break;
            }
            b.queued = true;
            anyQueued = true;
        }
        if (FAILED(failure.hr))
            break;
        if (!anyQueued && sourceEnded && pending.empty())
            break;  // every sample has been played
        HANDLE waits[2] = {stop_, done_};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0)
            stopped = true;
    }

    // Hand back every buffer the device still holds before they go.
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopped || FAILED(failure.hr))
            waveOutReset(device_);
    }
    for (int i = 0; i < kBuffers; ++i) {
        Buffer& b = buffers[i];
        while (b.queued && !(b.header.dwFlags & WHDR_DONE))
            WaitForSingleObject(done_, 100);
        unqueue(b);
    }
    if (stopped)
        return;
    if (FAILED(failure.hr)) {
        std::lock_guard<std::mutex> guard(lock_);
        failure_ = failure;
    }
    PostMessageW(window_, message_, generation_, SUCCEEDED(failure.hr) ? kPlaybackEnded : kPlaybackFailed);
}

}  // namespace mediaplayer
