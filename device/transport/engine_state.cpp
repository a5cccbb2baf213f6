#include "device/transport/engine_state.h"

namespace engine {

EngineState Engine;

namespace {
std::atomic<ProgressSink*> currentSink{nullptr};
}

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
    currentSink.store(sink);
}

ProgressSink* GetProgressSink()
{
    return currentSink.load();
}

void NotifyProgress(std::uint32_t message, std::int32_t value)
{
    ProgressSink* sink = currentSink.load();
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
