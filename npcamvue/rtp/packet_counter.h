// A packet sink that checks and counts RTP packets without assembling frames:
// version 2, a header that fits the datagram, the session's payload type
// (learned from the first packet when the description named none).
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/packet_sink.h"

namespace camvue {

class RtpPacketCounter : public PacketSink {
  public:
    void Reset(StreamState& stream) override;
    PushResult PushPacket(StreamState& stream, uint8_t* data, size_t length) override;
    uint16_t LastSequence() const override { return lastSequence_; }

    uint64_t taken() const { return taken_; }
    uint64_t dropped() const { return dropped_; }
    // Packets carrying the marker bit: on video, the last packet of a frame.
    uint64_t frameEnds() const { return frameEnds_; }

  private:
    uint64_t taken_ = 0;
    uint64_t dropped_ = 0;
    uint64_t frameEnds_ = 0;
    uint16_t lastSequence_ = 0;
};

}  // namespace camvue
