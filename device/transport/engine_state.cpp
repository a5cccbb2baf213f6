#include "device/transport/engine_state.h"

#include <mutex>

namespace engine {

EngineState Engine;

namespace {
// Held while a sink is told of progress, so that a sink taken away is never told afterwards (the device
// API's control goes away while operations of other threads may still report).
std::recursive_mutex sinkLock;
ProgressSink* currentSink = nullptr;
}  // namespace

void SelectCurrentChip(std::uint32_t mask)
{
    std::uint32_t chip = 0;
    for (std::uint32_t i = 1; i < 8; ++i) {
        if (mask == (1u << i))
            chip = i;
    }
    Engine.CurrentChip = chip;
}

void SetProgressSink(ProgressSink* sink)
{
    std::lock_guard hold(sinkLock);
    currentSink = sink;
}

ProgressSink* GetProgressSink()
{
    std::lock_guard hold(sinkLock);
    return currentSink;
}

void ReleaseProgressSink(ProgressSink* sink)
{
    std::lock_guard hold(sinkLock);
    if (currentSink == sink)
        currentSink = nullptr;
}

void NotifyProgress(std::uint32_t message, std::int32_t value)
{
    std::lock_guard hold(sinkLock);
    ProgressSink* sink = currentSink;
    if (!sink || Engine.ProgressSuppressed)
        return;
    ProgressCounters& c = sink->Counters();
    if (message == kProgressBegin) {
        c.total = static_cast<std::uint32_t>(value);
        c.done = 0;
        c.percent = 0;
    } else if (message == kProgressStep) {
        if (value == -1)
            return;
        ++c.done;
        // 64-bit product: the percentage stays right for any step count.
        std::uint64_t percent = c.total ? std::uint64_t{c.done} * 100 / c.total : 0;
        c.percent = percent > 100 ? 100 : static_cast<std::uint32_t>(percent);
    } else {
        return;
    }
    sink->FireProgress();
}

}  // namespace engine
