// The rules both receive loops (UDP and interleaved TCP) end a stream by and
// pace their receiver reports with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

constexpr size_t kOutgoingSize = 1024;  // RTCP compound packet; keep-alive text
constexpr size_t kRtpHeaderSize = 12;
constexpr uint32_t kSelectTimeoutMs = 3000;
constexpr uint32_t kReportIntervalMs = 2000;
constexpr uint32_t kInactivityLimitMs = 15000;
constexpr int kMaxMisses = 5;

}  // namespace camvue
