#include "npcamvue/rtsp/rtcp.h"

#include <cstring>

namespace camvue {
namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

constexpr size_t kReceiverReportSize = 32;  // header, sender SSRC, one report block

}  // namespace

size_t BuildReceiverReport(uint8_t* out, size_t size, uint32_t localSsrc, uint32_t reportee,
                           uint16_t lastSequence, const char* cname, size_t cnameLength) {
    if (cname == nullptr || cnameLength == 0) {
        cname = kFallbackCname;
        cnameLength = sizeof(kFallbackCname) - 1;
    }
    // The SDES item length byte also counts the zero byte that follows the text.
    if (cnameLength > 254)
        return 0;
    // SDES: 4 header + 4 SSRC + 2 item header + the item (text and its zero)
    // + at least one zero ending the item list, padded to whole 32-bit words.
    const size_t sdes = (4 + 4 + 2 + (cnameLength + 1) + 1 + 3) & ~static_cast<size_t>(3);
    const size_t total = kReceiverReportSize + sdes;
    if (out == nullptr || size < total)
        return 0;
    std::memset(out, 0, total);

    out[0] = 0x81;  // V=2, P=0, RC=1
    out[1] = 201;   // RR
    Put16(out + 2, kReceiverReportSize / 4 - 1);
    Put32(out + 4, localSsrc);
    Put32(out + 8, reportee);
    // fraction lost, cumulative lost: 0
    Put32(out + 16, lastSequence);  // extended highest sequence, no cycle count
    // jitter, last SR, delay since last SR: 0

    uint8_t* s = out + kReceiverReportSize;
    s[0] = 0x81;  // V=2, P=0, SC=1
    s[1] = 202;   // SDES
    Put16(s + 2, static_cast<uint32_t>(sdes / 4 - 1));
    Put32(s + 4, localSsrc);
    s[8] = 1;  // CNAME
    s[9] = static_cast<uint8_t>(cnameLength + 1);
    std::memcpy(s + 10, cname, cnameLength);
    return total;
}

}  // namespace camvue
