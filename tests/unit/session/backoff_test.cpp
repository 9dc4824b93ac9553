// The pace of failed set-ups (the play loop's tests cover the wait itself).
#include "npcamvue/rtsp/backoff.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace camvue
