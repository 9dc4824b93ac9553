// The GStreamer peer of the benchmark: appsrc -> GStreamer's depayloader for
// the format -> appsink, in this process, fed the recorded packets.
#pragma once

#include <cstdint>
#include <string>

#include "bench/assembly/recording.h"

namespace camvue::bench {

struct DepayloaderRun {
    bool ok = false;
    std::string error;
    // Wall time from the first push into appsrc to the last sample at appsink.
    double seconds = 0;
    uint64_t frames = 0;  // samples at appsink
    uint64_t bytes = 0;   // their total size
};

// One pass over the recording through a fresh pipeline. Each packet is copied
// into a newly allocated GstBuffer (what a network source does) and pushed.
DepayloaderRun RunGstDepayloader(const Recording& recording);

}  // namespace camvue::bench
