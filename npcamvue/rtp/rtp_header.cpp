#include "npcamvue/rtp/rtp_header.h"

namespace camvue {
namespace {

constexpr size_t kFixedHeader = 12;

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Read32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Header length including the extension; false when a byte it needs lies
// outside the datagram.
bool HeaderLength(const uint8_t* data, size_t length, size_t* header) {
    size_t h = kFixedHeader + 4 * size_t(data[0] & 0x0F);
    if ((data[0] & 0x10) != 0) {
        if (h + 4 > length)
            return false;
        const size_t words = Read16(data + h + 2);
        if (words != 0) {
            h += 4 + 4 * words;
        } else {
            // Length 0: the byte one past the end of the extension header
            // counts further bytes. It has to exist.
            const size_t at = h + 4 + 1;
            if (at >= length)
                return false;
            h += 4 + 3 + data[at];
        }
    }
    *header = h;
    return h <= length;
}

}  // namespace

RtpHeaderStatus ParseRtpHeader(const uint8_t* data, size_t length, RtpHeader* out) {
    *out = RtpHeader{};
    if (data == nullptr || length == 0)
        return RtpHeaderStatus::kShort;
    if ((data[0] >> 6) != 2)
        return RtpHeaderStatus::kNotVersion2;
    if (length < kFixedHeader)
        return RtpHeaderStatus::kShort;

    out->marker = (data[1] & 0x80) != 0;
    out->payloadType = data[1] & 0x7F;
    out->sequence = Read16(data + 2);
    out->timestamp = Read32(data + 4);
    out->ssrc = Read32(data + 8);
    out->padding = (data[0] & 0x20) != 0 ? data[length - 1] : 0;

    size_t header = length;
    out->complete = HeaderLength(data, length, &header);
    out->headerLength = out->complete ? header : length;
    out->payloadOffset = out->headerLength;
    if (out->complete && out->padding < length - header)
        out->payloadLength = length - header - out->padding;
    return RtpHeaderStatus::kOk;
}

}  // namespace camvue
