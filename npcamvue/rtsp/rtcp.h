// RTCP receiver report + SDES CNAME compound packet (RFC 3550 6.4.2, 6.5).
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

// CNAME used when the host has no name.
constexpr char kFallbackCname[] = "Corvina@UnknownHost";

// Writes the compound packet into out and returns its length, or 0 when it
// does not fit (or the CNAME is longer than an SDES item can carry).
// `reportee`: the SSRC field of the last RTCP packet from the server, 0
// before the first. The report carries no loss or jitter figures, only the
// last received sequence number.
size_t BuildReceiverReport(uint8_t* out, size_t size, uint32_t localSsrc, uint32_t reportee,
                           uint16_t lastSequence, const char* cname, size_t cnameLength);

}  // namespace camvue
