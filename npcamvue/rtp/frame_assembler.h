// RTP packets of one receive loop to whole coded frames: header checks, the
// payload-type filter, SSRC and sequence tracking with the reaction to gaps,
// the marker-bit frame boundary, delivery from a key frame on, presentation
// times and the frame callback. Payload formats are the handlers' business;
// the assembler picks the handler of the session's codec for every packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "npcamvue/rtp/frame_descriptor.h"
#include "npcamvue/rtp/h264_depacketizer.h"
#include "npcamvue/rtp/jpeg_depacketizer.h"
#include "npcamvue/rtp/mpeg4_depacketizer.h"
#include "npcamvue/rtp/other_payload.h"
#include "npcamvue/rtp/packet_sink.h"
#include "npcamvue/rtp/presentation_time.h"

namespace camvue {

class RtpFrameAssembler : public PacketSink {
  public:
    static constexpr size_t kBufferSize = 3u * 1024 * 1024;
    static constexpr uint8_t kJpegPayloadType = 26;
    // Local time in 100 ns units since 1601 (the FILETIME convention).
    using Clock = uint64_t (*)();

    RtpFrameAssembler() = default;
    RtpFrameAssembler(const RtpFrameAssembler&) = delete;
    RtpFrameAssembler& operator=(const RtpFrameAssembler&) = delete;

    // Called with every complete frame; null discards frames at their end.
    void SetCallback(FrameCallback callback, void* userData) {
        callback_ = callback;
        userData_ = userData;
    }
    // The time source of the receive loop; SystemFileTime unless set.
    void SetClock(Clock clock) { clock_ = clock; }

    // A receive loop starts: allocates the assembly buffer the first time (a
    // failed allocation makes every PushPacket end the loop) and forgets the
    // frame, sequence and timestamp state.
    void Reset(StreamState& stream) override;
    // Taken: the payload went into the frame (the callback ran when it ended a
    // frame). Dropped: another payload type, a duplicate, the packet that
    // showed a gap, a packet the handler dropped or kept as stored state, or a
    // datagram shorter than the fixed header. End: not RTP version 2, an empty
    // payload, a frame that would outgrow the buffer, a handler failure.
    PushResult PushPacket(StreamState& stream, uint8_t* data, size_t length) override;
    // Sequence number of the last packet received (host order).
    uint16_t LastSequence() const override { return receivedSequence_; }

    // Packets accepted in sequence, plus 1 (the descriptor's packet counter).
    uint64_t packetCounter() const { return packetCounter_; }
    // Sequence number of the last accepted packet; -1 after a gap and at start.
    int32_t lastAccepted() const { return lastAccepted_; }
    const FrameBuffer& frame() const { return frame_; }

  private:
    PayloadHandler& HandlerFor(const StreamState& stream);
    // Local time of this loop pass, read once per packet.
    uint64_t Now();
    // The first-datagram time once (then cleared), the local time otherwise.
    uint64_t ArrivalTime(StreamState& stream);
    void EmptyFrame();
    void Deliver(StreamState& stream, PayloadHandler& handler, uint32_t timestamp);

    std::unique_ptr<uint8_t[]> buffer_;
    FrameBuffer frame_;

    H264Depacketizer h264_;
    JpegDepacketizer jpeg_;
    Mpeg4Depacketizer mpeg4_;
    OtherPayload other_;

    FrameCallback callback_ = nullptr;
    void* userData_ = nullptr;
    FrameDescriptor descriptor_{};

    Clock clock_ = nullptr;
    bool nowRead_ = false;
    uint64_t now_ = 0;
    PresentationClock presentation_;

    int32_t lastAccepted_ = -1;
    uint16_t receivedSequence_ = 0;
    uint64_t packetCounter_ = 1;
};

}  // namespace camvue
