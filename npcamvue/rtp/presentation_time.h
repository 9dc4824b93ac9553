// Presentation times of delivered frames: 100 ns units of local time (the
// FILETIME convention), advanced by the RTP timestamps of the stream.
//
// The accumulator counts time in units of 1/(1000 R) s for a clock rate R. To
// keep the products within 64 bits R is split as R = S x 10^k, k the largest of
// 4..0 for which 10^k divides R; then 100 ns units convert as
// units = (acc / S) x 10^(4-k) and acc = (units / 10^(4-k)) x S. All arithmetic
// is unsigned 64-bit with truncating division.
#pragma once

#include <cstdint>

namespace camvue {

struct ClockRateSplit {
    uint64_t scale = 0;  // S = R / 10^k
    uint64_t unit = 1;   // 10^(4-k)
};

// For R > 0; R <= 0 gives scale 0.
ClockRateSplit SplitClockRate(int32_t clockRate);

class PresentationClock {
  public:
    // A new receive loop: no reference, accumulator 0.
    void Clear();
    // The time base is (re)computed whenever the accumulator is 0.
    bool NeedsTimeBase() const { return accumulator_ == 0; }
    // acc := (fileTime / 10^(4-k)) x S. Nothing for R <= 0 (the accumulator
    // stays 0 and each frame carries its arrival time).
    void SetTimeBase(uint64_t fileTime, int32_t clockRate);
    // A new SSRC: the next delivery takes its timestamp as the reference, so
    // it carries the same time as the frame before it.
    void RetakeReference() { referenceTaken_ = false; }
    // At a frame delivery with the RTP timestamp of its last packet. With
    // R > 0 the accumulator advances by the unsigned 32-bit timestamp step;
    // with R <= 0 the result is `arrival` and the state returns to 0.
    uint64_t Deliver(uint32_t rtpTimestamp, int32_t clockRate, uint64_t arrival);

    uint64_t accumulator() const { return accumulator_; }

  private:
    bool referenceTaken_ = false;
    uint32_t previous_ = 0;
    uint64_t accumulator_ = 0;
};

}  // namespace camvue
