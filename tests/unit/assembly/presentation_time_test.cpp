// The timestamp accumulator: clock-rate split, time base, steps, wrap-around,
// reference retake and the clock-rate-0 fallback.
#include "npcamvue/rtp/presentation_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace camvue {
namespace {

constexpr uint64_t kBase = 133500000000000000ull;  // 100 ns units since 1601

struct SplitCase {
    int32_t rate;
    uint64_t scale;
    uint64_t unit;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.rate;
}

class SplitClockRateTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitClockRateTest, LargestPowerOfTenUpToFour) {
    const SplitCase& c = GetParam();
    const ClockRateSplit split = SplitClockRate(c.rate);
    EXPECT_EQ(split.scale, c.scale);
    EXPECT_EQ(split.unit, c.unit);
}

INSTANTIATE_TEST_SUITE_P(Rates, SplitClockRateTest,
                         testing::Values(SplitCase{90000, 9, 1}, SplitCase{8000, 8, 10},
                                         SplitCase{44100, 441, 100}, SplitCase{1000000, 100, 1},
                                         SplitCase{48000, 48, 10}, SplitCase{12345, 12345, 10000},
                                         SplitCase{1, 1, 10000}, SplitCase{10, 1, 1000},
                                         SplitCase{0, 0, 1}, SplitCase{-90000, 0, 1}));

struct StepCase {
    std::string name;
    int32_t rate;
    uint32_t first;    // RTP timestamp of the first delivery
    uint32_t second;   // of the second
    uint64_t advance;  // expected 100 ns units between the two presentation times
};

void PrintTo(const StepCase& c, std::ostream* os) {
    *os << c.name;
}

class PresentationStepTest : public testing::TestWithParam<StepCase> {};

TEST_P(PresentationStepTest, AdvancesByRtpTime) {
    const StepCase& c = GetParam();
    PresentationClock clock;
    clock.Clear();
    ASSERT_TRUE(clock.NeedsTimeBase());
    clock.SetTimeBase(kBase, c.rate);
    const uint64_t a = clock.Deliver(c.first, c.rate, 0);
    const uint64_t b = clock.Deliver(c.second, c.rate, 0);
    // The first delivery takes its timestamp as the reference: the time base.
    const ClockRateSplit split = SplitClockRate(c.rate);
    EXPECT_EQ(a, kBase / split.unit * split.unit);
    EXPECT_EQ(b - a, c.advance);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PresentationStepTest,
    testing::Values(StepCase{"Step32400At90k", 90000, 1000, 1000 + 32400, 3600000},
                    StepCase{"OneSecondAt90k", 90000, 5, 90005, 10000000},
                    StepCase{"WrapsForwardAt90k", 90000, 0xFFFFFF00u, 0x00000100u,
                             uint64_t{0x200} * 10000000 / 90000},
                    StepCase{"OneSecondAt8k", 8000, 0, 8000, 10000000},
                    StepCase{"OneSecondAt44100", 44100, 7, 44107, 10000000},
                    // 1 ms resolution when no power of ten divides R: 8.1 ms becomes 8.
                    StepCase{"OddRateTruncates", 12345, 0, 100, 80000},
                    StepCase{"ZeroStep", 90000, 77, 77, 0}),
    [](const testing::TestParamInfo<StepCase>& tpi) { return tpi.param.name; });

TEST(PresentationClockTest, BackwardsStepGoesBackInTime) {
    // B-frames: decoding order, so the timestamp steps back by a frame.
    PresentationClock clock;
    clock.SetTimeBase(kBase, 90000);
    const uint64_t acc0 = clock.accumulator();
    const uint64_t a = clock.Deliver(2000, 90000, 0);
    const uint64_t b = clock.Deliver(1000, 90000, 0);
    EXPECT_EQ(acc0 - clock.accumulator(), 1000u * 1000u);
    EXPECT_NEAR(static_cast<double>(a - b), 111111.1, 1.0);  // 1000 ticks of 90 kHz
    // Up to half the range ahead is a step forward (modular time).
    const uint64_t acc1 = clock.accumulator();
    const uint64_t c = clock.Deliver(1000 + 0x7FFFFFFFu, 90000, 0);
    EXPECT_EQ(clock.accumulator() - acc1, uint64_t{0x7FFFFFFF} * 1000);
    EXPECT_GT(c, b);
}

TEST(PresentationClockTest, BackwardsStepNeverWrapsBelowZero) {
    PresentationClock clock;
    clock.SetTimeBase(0, 90000);
    clock.Deliver(90000, 90000, 0);
    EXPECT_EQ(clock.Deliver(0, 90000, 0), 0u);
    EXPECT_EQ(clock.accumulator(), 0u);
}

TEST(PresentationClockTest, RetakenReferenceRepeatsThePreviousTime) {
    PresentationClock clock;
    clock.SetTimeBase(kBase, 90000);
    const uint64_t a = clock.Deliver(100, 90000, 0);
    const uint64_t b = clock.Deliver(3100, 90000, 0);
    clock.RetakeReference();
    // A new source with an unrelated timestamp: the same time as before.
    const uint64_t c = clock.Deliver(0x7654321, 90000, 0);
    const uint64_t d = clock.Deliver(0x7654321 + 9000, 90000, 0);
    EXPECT_EQ(b - a, 333333u);
    EXPECT_EQ(c, b);
    EXPECT_EQ(d - c, 1000000u);
}

TEST(PresentationClockTest, UnknownRateGivesArrivalAndZeroesState) {
    for (int32_t rate : {0, -1}) {
        PresentationClock clock;
        clock.SetTimeBase(kBase, rate);
        EXPECT_TRUE(clock.NeedsTimeBase()) << rate;
        EXPECT_EQ(clock.Deliver(1234, rate, kBase + 5), kBase + 5);
        EXPECT_EQ(clock.Deliver(99999, rate, kBase + 17), kBase + 17);
        EXPECT_EQ(clock.accumulator(), 0u);
    }
}

TEST(PresentationClockTest, ClearForgetsReferenceAndAccumulator) {
    PresentationClock clock;
    clock.SetTimeBase(kBase, 90000);
    clock.Deliver(10, 90000, 0);
    clock.Clear();
    EXPECT_TRUE(clock.NeedsTimeBase());
    clock.SetTimeBase(kBase + 10000000, 90000);
    // The reference is taken afresh: no step from the old timestamp.
    EXPECT_EQ(clock.Deliver(900010, 90000, 0), kBase + 10000000);
}

}  // namespace
}  // namespace camvue
