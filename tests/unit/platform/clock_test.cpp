#include <gtest/gtest.h>

#include <ctime>

#include "npcamvue/platform/platform.h"

namespace camvue {
namespace {

TEST(Clock, FileTimeCountsHundredNanosecondsSince1601) {
    // The same instant as the C library's time(), moved to the 1601 epoch.
    const uint64_t unixSeconds = static_cast<uint64_t>(std::time(nullptr));
    const uint64_t ft = SystemFileTime();
    const uint64_t ftSeconds = ft / 10000000ULL;
    EXPECT_NEAR(static_cast<double>(ftSeconds - 11644473600ULL), static_cast<double>(unixSeconds),
                2.0);
}

TEST(Clock, TickCountAdvancesWithSleep) {
    const uint32_t t0 = TickCountMs();
    const uint64_t f0 = SystemFileTime();
    SleepMs(50);
    // GetTickCount advances in steps of up to 16 ms on Windows.
    EXPECT_GE(TickCountMs() - t0, 25u);
    EXPECT_GE(SystemFileTime() - f0, 400000u);
}

}  // namespace
}  // namespace camvue
