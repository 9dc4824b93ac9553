// The pace of failed set-ups, and the wait that a stop request cuts short.
#include "npcamvue/rtsp/backoff.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace camvue {
namespace {

using F = SetupFailure;

struct PaceCase {
    const char* name;
    std::vector<F> failures;
    std::vector<uint32_t> waits;
};

const PaceCase kPace[] = {
    {"refused credentials double up to 5 s",
     {F::kOther, F::kOther, F::kOther, F::kOther, F::kOther, F::kOther, F::kOther, F::kOther,
      F::kOther},
     {100, 200, 400, 800, 1600, 3200, 5000, 5000, 5000}},
    {"unresolved names are paced the same",
     {F::kUnresolved, F::kUnresolved, F::kUnresolved, F::kOther},
     {100, 200, 400, 800}},
    {"failed connects are retried at least every 0.5 s",
     {F::kConnect, F::kConnect, F::kConnect, F::kConnect, F::kConnect, F::kConnect},
     {100, 200, 400, 500, 500, 500}},
    {"a camera back from an outage but refusing is paced at once",
     {F::kConnect, F::kConnect, F::kConnect, F::kConnect, F::kConnect, F::kConnect, F::kConnect,
      F::kOther},
     {100, 200, 400, 500, 500, 500, 500, 5000}},
    {"a stop request starts the pace afresh",
     {F::kOther, F::kOther, F::kOther, F::kStopped, F::kOther, F::kOther},
     {100, 200, 400, 0, 100, 200}},
    {"a set-up that played starts the pace afresh",
     {F::kOther, F::kOther, F::kNone, F::kConnect, F::kStopped, F::kStopped, F::kOther},
     {100, 200, 0, 100, 0, 0, 100}},
};

TEST(SetupBackoff, WaitsAfterEachOutcome) {
    for (const PaceCase& c : kPace) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.failures.size(), c.waits.size());
        SetupBackoff pace;
        for (size_t i = 0; i < c.failures.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(pace.After(c.failures[i]), c.waits[i]);
        }
        pace.Reset();
        EXPECT_EQ(pace.After(F::kOther), SetupBackoff::kFirstMs);
    }
}

struct EventDeleter {
    void operator()(Event* e) const { EventDestroy(e); }
};
using EventPtr = std::unique_ptr<Event, EventDeleter>;

TEST(SetupBackoff, StopRequestsEndTheWaitAtOnce) {
    EventPtr abort(EventCreate(false, false));
    EventPtr quit(EventCreate(true, false));

    // Nothing signalled: the whole wait, with or without a quit event.
    for (Event* q : {quit.get(), static_cast<Event*>(nullptr)}) {
        const uint32_t t0 = TickCountMs();
        EXPECT_FALSE(WaitForStopRequest(abort.get(), q, 120));
        EXPECT_GE(TickCountMs() - t0, 115u);
    }

    // An abort request during a 5 s wait ends it and is taken by it.
    std::thread aborter([&] {
        SleepMs(50);
        EventSet(abort.get());
    });
    uint32_t t0 = TickCountMs();
    EXPECT_TRUE(WaitForStopRequest(abort.get(), quit.get(), 5000));
    EXPECT_LT(TickCountMs() - t0, 1000u);
    aborter.join();
    EXPECT_FALSE(EventWait(abort.get(), 0));

    // A quit request alone ends it too, and stays set.
    std::thread quitter([&] {
        SleepMs(50);
        EventSet(quit.get());
    });
    t0 = TickCountMs();
    EXPECT_TRUE(WaitForStopRequest(abort.get(), quit.get(), 5000));
    EXPECT_LT(TickCountMs() - t0, 1000u);
    quitter.join();
    EXPECT_TRUE(EventWait(quit.get(), 0));
    // Already set: no wait at all.
    t0 = TickCountMs();
    EXPECT_TRUE(WaitForStopRequest(abort.get(), quit.get(), 5000));
    EXPECT_LT(TickCountMs() - t0, 100u);

    // Without events it is a plain sleep.
    t0 = TickCountMs();
    EXPECT_FALSE(WaitForStopRequest(nullptr, nullptr, 60));
    EXPECT_GE(TickCountMs() - t0, 55u);
}

}  // namespace
}  // namespace camvue
