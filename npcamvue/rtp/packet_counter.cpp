#include "npcamvue/rtp/packet_counter.h"

#include "npcamvue/rtp/rtp_header.h"

namespace camvue {

void RtpPacketCounter::Reset(StreamState& /*stream*/) {
    lastSequence_ = 0;
}

PushResult RtpPacketCounter::PushPacket(StreamState& stream, uint8_t* data, size_t length) {
    RtpHeader h;
    switch (ParseRtpHeader(data, length, &h)) {
        case RtpHeaderStatus::kNotVersion2:
            return PushResult::kEnd;
        case RtpHeaderStatus::kShort:
            ++dropped_;
            return PushResult::kDropped;
        case RtpHeaderStatus::kOk:
            break;
    }
    if (stream.payloadType == 0)
        stream.payloadType = h.payloadType;
    lastSequence_ = h.sequence;
    // A header that runs past the datagram, or padding that eats it all,
    // leaves nothing to count; so does another payload type.
    if (!h.complete || h.payloadLength == 0 || h.payloadType != stream.payloadType) {
        ++dropped_;
        return PushResult::kDropped;
    }
    ++taken_;
    if (h.marker)
        ++frameEnds_;
    return PushResult::kTaken;
}

}  // namespace camvue
