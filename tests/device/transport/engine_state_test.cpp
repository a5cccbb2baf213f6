// The engine-wide values shared by every layer: progress, chip selection and the cancel flag.
#include "device/transport/engine_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

using namespace engine;

namespace {

class RecordingSink : public ProgressSink {
public:
    ProgressCounters& Counters() override { return counters; }
    void FireProgress() override { fired.push_back(counters.percent); }

    ProgressCounters counters;
    std::vector<std::uint32_t> fired;
};

struct Step {
    std::uint32_t message;
    std::int32_t value;
};

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Engine.ProgressSuppressed = 0;
        SetProgressSink(&sink);
    }
    void TearDown() override
    {
        SetProgressSink(nullptr);
        Engine.ProgressSuppressed = 0;
    }
    void Run(std::initializer_list<Step> steps)
    {
        for (const Step& s : steps)
            NotifyProgress(s.message, s.value);
    }

    RecordingSink sink;
};

}  // namespace

TEST_F(ProgressTest, PercentOfSteps)
{
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::uint32_t> fired;
        ProgressCounters end;
    } cases[] = {
        {"three steps, then one too many",
         {{kProgressBegin, 3}, {kProgressStep, 1}, {kProgressStep, 1}, {kProgressStep, 1}, {kProgressStep, 1}},
         {0, 33, 66, 100, 100},
         {3, 4, 100}},
        {"total 0 stays at 0", {{kProgressBegin, 0}, {kProgressStep, 1}, {kProgressStep, 1}}, {0, 0, 0}, {0, 2, 0}},
        {"closing notice counts nothing and fires nothing",
         {{kProgressBegin, 4}, {kProgressStep, 1}, {kProgressStep, -1}},
         {0, 25},
         {4, 1, 25}},
        {"other messages are ignored", {{kProgressBegin, 2}, {1036, 1}, {0, 0}}, {0}, {2, 0, 0}},
        {"begin starts over", {{kProgressBegin, 2}, {kProgressStep, 1}, {kProgressBegin, 10}}, {0, 50, 0}, {10, 0, 0}},
    };
    for (const Case& c : cases) {
        sink.counters = {};
        sink.fired.clear();
        for (const Step& s : c.steps)
            NotifyProgress(s.message, s.value);
        EXPECT_EQ(sink.fired, c.fired) << c.name;
        EXPECT_EQ(sink.counters.total, c.end.total) << c.name;
        EXPECT_EQ(sink.counters.done, c.end.done) << c.name;
        EXPECT_EQ(sink.counters.percent, c.end.percent) << c.name;
    }
}

TEST_F(ProgressTest, LongOperationsKeepTheRightPercent)
{
    // 45000001 x 100 does not fit in 32 bits.
    sink.counters = {50000000, 45000000, 90};
    NotifyProgress(kProgressStep, 1);
    EXPECT_EQ(sink.counters.percent, 90u);
}

TEST_F(ProgressTest, SuppressedOrWithoutSinkNothingHappens)
{
    Engine.ProgressSuppressed = 1;
    Run({{kProgressBegin, 2}, {kProgressStep, 1}});
    EXPECT_TRUE(sink.fired.empty());
    EXPECT_EQ(sink.counters.total, 0u);

    Engine.ProgressSuppressed = 0;
    SetProgressSink(nullptr);
    Run({{kProgressBegin, 2}, {kProgressStep, 1}});
    EXPECT_TRUE(sink.fired.empty());
    EXPECT_EQ(sink.counters.done, 0u);
}

// A sink taken away while another thread is telling it: the release returns only once that notice has
// ended, so a control can free itself right after it.
TEST(ProgressSinkTest, ReleaseWaitsForANoticeInProgress)
{
    struct BlockingSink : ProgressSink {
        ProgressCounters counters;
        std::promise<void> entered, go;
        std::atomic<bool> inNotice{false};
        ProgressCounters& Counters() override { return counters; }
        void FireProgress() override
        {
            inNotice = true;
            entered.set_value();
            go.get_future().wait();
            inNotice = false;
        }
    } sink;
    Engine.ProgressSuppressed = 0;
    SetProgressSink(&sink);
    std::thread operation([] { NotifyProgress(kProgressBegin, 3); });
    sink.entered.get_future().wait();
    bool toldAfterRelease = true;
    std::promise<void> releasing;
    std::thread release([&] {
        releasing.set_value();
        ReleaseProgressSink(&sink);
        toldAfterRelease = sink.inNotice;
    });
    releasing.get_future().wait();
    sink.go.set_value();
    operation.join();
    release.join();
    EXPECT_FALSE(toldAfterRelease);
    EXPECT_EQ(nullptr, GetProgressSink());

    // Another sink is left alone.
    RecordingSink other;
    SetProgressSink(&other);
    ReleaseProgressSink(&sink);
    EXPECT_EQ(&other, GetProgressSink());
    SetProgressSink(nullptr);
}

TEST(SelectCurrentChipTest, MaskToChip)
{
    struct Case {
        std::uint32_t mask, chip;
    } cases[] = {{1, 0},  {2, 1},   {4, 2}, {8, 3}, {16, 4},  {32, 5},
                 {64, 6}, {128, 7}, {3, 0}, {0, 0}, {256, 0}, {0x82, 0}};
    for (const Case& c : cases) {
        Engine.CurrentChip = 99;
        SelectCurrentChip(c.mask);
        EXPECT_EQ(Engine.CurrentChip, c.chip) << "mask " << c.mask;
    }
}

TEST(CancelRequestedTest, SeenByAPollingLoopOnAnotherThread)
{
    Engine.CancelRequested.store(0);
    std::thread poller([] {
        while (Engine.CancelRequested.load() == 0)
            std::this_thread::yield();
    });
    Engine.CancelRequested.store(1);
    poller.join();
    EXPECT_EQ(Engine.CancelRequested.load(), 1u);
    Engine.CancelRequested.store(0);
}
