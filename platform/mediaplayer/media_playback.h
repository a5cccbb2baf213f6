// Playback of an opened file: its PCM (MP3 decoded through the system's audio compression manager, WAV as
// it is) written to the wave output device by a thread of its own. The thread never calls back: it posts
// one message to the window it was given when the media has ended or playback failed.
#pragma once

#include "platform/mediaplayer/media_file.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mediaplayer {

// The PCM of a file from a start position on, piece by piece.
class PcmSource {
public:
    virtual ~PcmSource() = default;
    // Appends the next piece of PCM (whole sample frames) to `out`; *end once nothing follows.
    virtual MediaOpenResult Read(std::vector<std::uint8_t>& out, bool* end) = 0;
};

// A source over `data` (the whole file `info` describes), from the sample frame `startSample` on.
MediaOpenResult CreatePcmSource(const MediaInfo& info, const std::uint8_t* data, std::size_t size,
                                std::uint64_t startSample, std::unique_ptr<PcmSource>* source);

// Scales PCM samples by volume (0..100) or silences them; 100 unmuted leaves them untouched.
void ApplyVolume(std::uint8_t* pcm, std::size_t bytes, int bitsPerSample, int volume, bool mute);

// What the playback thread posts: message `message` with wParam = the generation given at Start and
// lParam = kPlaybackEnded or kPlaybackFailed.
constexpr LPARAM kPlaybackEnded = 0;
constexpr LPARAM kPlaybackFailed = 1;

struct DeviceBuffer;

class Playback {
public:
    Playback() = default;
    ~Playback() { Stop(); }
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // Opens the output device and starts playing from `startSample` (paused when `paused`). The file's
    // bytes must outlive the playback.
    MediaOpenResult Start(const MediaInfo& info, const std::uint8_t* data, std::size_t size, std::uint64_t startSample,
                          bool paused, HWND window, UINT message, WPARAM generation);
    // Ends the thread and closes the device; nothing is posted after it returns.
    void Stop();
    bool Running() const { return thread_ != nullptr; }
    HRESULT Pause();
    HRESULT Resume();
    // Sample frames played since the start position (what the device reports).
    std::uint64_t SamplesPlayed();
    void SetVolume(int volume, bool mute)
    {
        volume_.store(volume);
        mute_.store(mute);
    }
    // Why playback failed, once kPlaybackFailed was posted.
    MediaOpenResult Failure();

private:
    static DWORD WINAPI ThreadMain(LPVOID self);
    void Run();
    void RunOrThrow(DeviceBuffer* buffers);

    std::unique_ptr<PcmSource> source_;
    WAVEFORMATEX format_{};
    HWAVEOUT device_ = nullptr;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE done_ = nullptr;
    HWND window_ = nullptr;
    UINT message_ = 0;
    WPARAM generation_ = 0;
    std::atomic<int> volume_{100};
    std::atomic<bool> mute_{false};
    std::mutex lock_;
    MediaOpenResult failure_;
};

}  // namespace mediaplayer
