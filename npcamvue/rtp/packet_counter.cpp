#include "npcamvue/rtp/packet_counter.h"

namespace camvue {

void RtpPacketCounter::Reset(StreamState& /*stream*/) {
    lastSequence_ = 0;
}

PushResult RtpPacketCounter::PushPacket(StreamState& stream, uint8_t* data, size_t length) {
    // RFC 3550 5.1 fixed header.
    if (length < 12) {
        ++dropped_;
        return PushResult::kDropped;
    }
    if ((data[0] >> 6) != 2)
        return PushResult::kEnd;
    const size_t csrc = data[0] & 0x0f;
    size_t header = 12 + 4 * csrc;
    if ((data[0] & 0x10) != 0) {  // header extension
        if (length < header + 4) {
            ++dropped_;
            return PushResult::kDropped;
        }
        header += 4 + 4 * ((size_t(data[header + 2]) << 8) | data[header + 3]);
    }
    size_t padding = (data[0] & 0x20) != 0 ? data[length - 1] : 0;
    if (header + padding > length) {
        ++dropped_;
        return PushResult::kDropped;
    }
    const uint32_t payloadType = data[1] & 0x7f;
    if (stream.payloadType == 0)
        stream.payloadType = payloadType;
    lastSequence_ = static_cast<uint16_t>((data[2] << 8) | data[3]);
    if (payloadType != stream.payloadType) {
        ++dropped_;
        return PushResult::kDropped;
    }
    ++taken_;
    if ((data[1] & 0x80) != 0)
        ++frameEnds_;
    return PushResult::kTaken;
}

}  // namespace camvue
