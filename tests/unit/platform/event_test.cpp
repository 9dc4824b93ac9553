#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "npcamvue/platform/platform.h"

namespace camvue {
namespace {

struct EventDeleter {
    void operator()(Event* e) const { EventDestroy(e); }
};
using EventPtr = std::unique_ptr<Event, EventDeleter>;

TEST(Event, AutoResetIsConsumedByOneWait) {
    EventPtr e(EventCreate(false, true));
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(EventWait(e.get(), 0));
    EXPECT_FALSE(EventWait(e.get(), 0));
    EventSet(e.get());
    EventSet(e.get());  // a second set while signalled is not counted
    EXPECT_TRUE(EventWait(e.get(), 10));
    EXPECT_FALSE(EventWait(e.get(), 10));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    EventPtr e(EventCreate(true, false));
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(EventWait(e.get(), 0));
    EventSet(e.get());
    EXPECT_TRUE(EventWait(e.get(), 0));
    EXPECT_TRUE(EventWait(e.get(), 0));
    EventReset(e.get());
    EXPECT_FALSE(EventWait(e.get(), 0));
}

TEST(Event, WaitTimesOutAndWakesFromAnotherThread) {
    EventPtr e(EventCreate(false, false));
    uint32_t t0 = TickCountMs();
    EXPECT_FALSE(EventWait(e.get(), 60));
    EXPECT_GE(TickCountMs() - t0, 50u);

    std::thread setter([&] {
        SleepMs(30);
        EventSet(e.get());
    });
    t0 = TickCountMs();
    EXPECT_TRUE(EventWait(e.get(), 5000));
    EXPECT_LT(TickCountMs() - t0, 2000u);
    setter.join();
}

// The zero-timeout check reads a flag kept beside the event: a set that
// races with a wait consuming an earlier set must never leave the event
// signalled behind a lowered flag (later zero-timeout checks would miss it).
TEST(Event, ZeroTimeoutChecksNeverMissASetThatRacedAWait) {
    EventPtr e(EventCreate(false, false));
    std::atomic<int> round{0};
    std::atomic<int> setterDone{0};
    constexpr int kRounds = 20000;
    std::thread setter([&] {
        for (int r = 1; r <= kRounds; ++r) {
            while (round.load() < r) {
            }
            EventSet(e.get());
            setterDone = r;
        }
    });
    int missed = 0;
    for (int r = 1; r <= kRounds; ++r) {
        EventSet(e.get());  // the earlier set, consumed below
        round = r;
        EventWait(e.get(), 0);
        while (setterDone.load() < r) {
        }
        // Signalled (the later set came after the wait) yet checked clear?
        if (!EventWait(e.get(), 0) && EventWait(e.get(), 1))
            ++missed;
    }
    setter.join();
    EXPECT_EQ(missed, 0) << "of " << kRounds << " rounds";
}

TEST(Event, DestroyAcceptsNull) {
    EventDestroy(nullptr);
}

}  // namespace
}  // namespace camvue
