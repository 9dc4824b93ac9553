#include <time.h>

#include "npcamvue/platform/platform.h"

namespace camvue {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpochIn1601Seconds = 11644473600ULL;

uint64_t SystemFileTime() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<uint64_t>(ts.tv_sec) + kUnixEpochIn1601Seconds) * 10000000ULL +
           static_cast<uint64_t>(ts.tv_nsec) / 100U;
}

uint32_t TickCountMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000U +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000U);
}

void SleepMs(uint32_t ms) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace camvue
