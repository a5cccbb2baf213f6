// The storage engine's state for the one attached player: written when the player is identified,
// read by every layer of the engine. One instance per process (there is one player per process).
#pragma once

#include <atomic>
#include <cstdint>

namespace engine {

// Model numbers as the player reports them; the device API's model enumeration uses the same values.
enum class PlayerModel : std::int32_t {
    Unknown = 0,
    KWEP_1 = 1,
    KWEP_2 = 2,
    KWEP_3 = 3,
    KWEP_4 = 4,
    KWEP_5 = 5,
    KWEP_6 = 6,
    KWEP07 = 7,
    KWEP08 = 8,
    TN510 = 9,
    TN520 = 10,
    TN530 = 11,
    TN540 = 12,
    TN550 = 13,
    BRIX = 14,
    SQ21 = 15,
    SQ22 = 16,
};

struct EngineState {
    PlayerModel CurrentModel = PlayerModel::Unknown;
    std::uint32_t ChipCount = 0;    // internal chip slots of the model: 1, 4 or 7
    std::uint32_t CurrentChip = 0;  // chip that NAND operations address
    // Written by CancelOperation on another thread, polled by long operations.
    std::atomic<std::uint32_t> CancelRequested{0};
    std::uint32_t FolderSchemeOn = 0;
    std::int32_t FolderDepthLimit = 0;  // 0 none, 1 one folder level, -1 folder objects
    std::uint32_t HeaderQueryAllowed = 0;
    std::uint32_t ModelGroupFlag = 0;  // the card is an MMC/SD sector card
    std::uint32_t LargePageFlag = 0;   // some internal chip has 2112-byte pages
    std::uint32_t ProgressSuppressed = 0;
    std::uint32_t NoMediaPoll = 0;
    std::uint32_t BadBlockByteIgnored = 1;
    std::uint32_t LegacyFolderId = 0;
    std::uint32_t InternalRootEntries = 0;
    std::uint32_t InternalFolderEntries = 0;
    std::uint32_t ExternalRootEntries = 0;
    std::uint32_t ExternalFolderEntries = 0;
    std::uint32_t InternalRootSectors = 0;
    std::uint32_t InternalBlockCount = 0;
    std::uint32_t CardBlockCount = 0;
    std::uint32_t CardWriteProtect = 0;
    std::uint32_t CardPresent = 0;
    std::uint32_t CardCapacityBytes = 0;
    // The build variant the device API's client sets; it names the player's recording folder.
    std::int32_t SpecialBuildNumber = 0;
    // The record id of the recording folder in the internal root, learnt whenever the root folder
    // object loads; -1 while none is known.
    std::int32_t RecordFolderId = -1;
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

extern EngineState Engine;

// CurrentChip from a one-bit chip-select mask: masks 2..128 select chips 1..7, anything else chip 0.
void SelectCurrentChip(std::uint32_t mask);

// Progress of long operations. The device API's current control keeps the counters and turns them
// into its Percent events; without a sink, progress is dropped.
inline constexpr std::uint32_t kProgressBegin = 1035;  // value: the step total
inline constexpr std::uint32_t kProgressStep = 1034;   // value: -1 counts no step (closing notice)

struct ProgressCounters {
    std::uint32_t total = 0;
    std::uint32_t done = 0;
    std::uint32_t percent = 0;
};

class ProgressSink {
public:
    virtual ProgressCounters& Counters() = 0;
    // Called after the counters changed, on the thread of the operation.
    virtual void FireProgress() = 0;

protected:
    ~ProgressSink() = default;
};

// The device API sets its current control here (null when there is none).
void SetProgressSink(ProgressSink* sink);
ProgressSink* GetProgressSink();
// Takes the sink away when it is the current one; returns once no notice is telling it any more.
void ReleaseProgressSink(ProgressSink* sink);

void NotifyProgress(std::uint32_t message, std::int32_t value);
// The closing progress notice of an operation (a step of -1; it counts no step).
inline void NotifyProgressEnd()
{
    NotifyProgress(kProgressStep, -1);
}

}  // namespace engine
