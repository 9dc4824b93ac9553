// The receive loop hands every RTP datagram to a packet sink: frame assembly,
// or anything else that consumes RTP packets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/stream_state.h"

namespace camvue {

enum class PushResult {
    kTaken,    // taken into frame assembly: the stream is alive
    kDropped,  // dropped, or it only updated stored state
    kEnd,      // not an RTP stream (not version 2): end the receive loop
};

class PacketSink {
  public:
    virtual ~PacketSink() = default;
    // A new run of the receive loop starts: forget sequence state.
    // PushPacket may rewrite the datagram in place (it is the loop's buffer).
    virtual void Reset(StreamState& stream) = 0;
    virtual PushResult PushPacket(StreamState& stream, uint8_t* data, size_t length) = 0;
    // Sequence number of the last RTP packet received, for receiver reports.
    virtual uint16_t LastSequence() const = 0;
};

}  // namespace camvue
