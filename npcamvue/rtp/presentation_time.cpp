#include "npcamvue/rtp/presentation_time.h"

namespace camvue {

ClockRateSplit SplitClockRate(int32_t clockRate) {
    ClockRateSplit split;
    if (clockRate <= 0)
        return split;
    uint64_t rate = static_cast<uint64_t>(clockRate);
    uint64_t unit = 10000;  // 10^(4-k), k from 0 up
    // Take out as many factors of 10 as divide R, at most four.
    while (unit > 1 && rate % 10 == 0) {
        rate /= 10;
        unit /= 10;
    }
    split.scale = rate;
    split.unit = unit;
    return split;
}

void PresentationClock::Clear() {
    referenceTaken_ = false;
    previous_ = 0;
    accumulator_ = 0;
}

void PresentationClock::SetTimeBase(uint64_t fileTime, int32_t clockRate) {
    const ClockRateSplit split = SplitClockRate(clockRate);
    accumulator_ = (fileTime / split.unit) * split.scale;
}

uint64_t PresentationClock::Deliver(uint32_t rtpTimestamp, int32_t clockRate, uint64_t arrival) {
    const ClockRateSplit split = SplitClockRate(clockRate);
    if (split.scale == 0) {
        accumulator_ = 0;
        previous_ = 0;
        return arrival;
    }
    if (!referenceTaken_) {
        referenceTaken_ = true;
        previous_ = rtpTimestamp;
    }
    // RFC 3550 timestamps are modular: a step of less than half the range
    // backwards is a step back in time (B-frames arrive in decoding order),
    // not a jump of almost 2^32 ticks forward.
    const int32_t step = static_cast<int32_t>(rtpTimestamp - previous_);
    if (step >= 0) {
        accumulator_ += static_cast<uint64_t>(step) * 1000;
    } else {
        const uint64_t back = static_cast<uint64_t>(-static_cast<int64_t>(step)) * 1000;
        accumulator_ = accumulator_ > back ? accumulator_ - back : 0;
    }
    previous_ = rtpTimestamp;
    return (accumulator_ / split.scale) * split.unit;
}

}  // namespace camvue
