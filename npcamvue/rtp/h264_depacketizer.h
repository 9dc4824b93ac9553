// RFC 6184 H.264 payloads (non-interleaved mode) to Annex B access units:
// every NAL unit behind 00 00 00 01, the parameter sets in front of key
// frames, an access unit delimiter at the end. Keeps the stream's SPS and PPS
// and reads the picture size from each new SPS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "npcamvue/rtp/payload_handler.h"

namespace camvue {

class H264Depacketizer : public PayloadHandler {
  public:
    // Access unit delimiter (primary_pic_type 0) plus zero bytes up to a
    // multiple of 8: at most 5 + 7 bytes.
    static constexpr size_t kTrailerRoom = 12;
    // A parameter set collected from FU-A fragments is given up beyond this.
    static constexpr size_t kMaxFragmentedSet = 65536;

    CodecKind kind() const override { return kCodecH264; }
    void Reset() override;
    // Drops a NAL header with the forbidden bit, and types 0, 30, 31.
    bool Accept(const uint8_t* payload, size_t length) const override;
    HandlerResult OnPacket(StreamState& stream, FrameBuffer& frame, uint8_t* payload,
                           size_t length) override;
    size_t TrailerRoom() const override { return kTrailerRoom; }
    void AppendTrailer(FrameBuffer& frame) override;

    // The last packet: did a NAL unit begin in it, and of which type (the
    // inner type for FU-A, the last unit taken for STAP-A).
    bool nalStart() const { return nalStart_; }
    uint8_t nalType() const { return nalType_; }

  private:
    // The filters and composition of one NAL unit, or of a fragment when no
    // unit starts (nalType_ and nalStart_ set): kGoOn when the unit's bytes
    // belong in the frame.
    HandlerResult OnUnit(StreamState& stream, FrameBuffer& frame, const uint8_t* unit,
                         size_t length, bool aggregated);
    HandlerResult AggregateStapA(StreamState& stream, FrameBuffer& frame, const uint8_t* payload,
                                 size_t length);
    HandlerResult CollectFragmentedSet(StreamState& stream, const FrameBuffer& frame,
                                       const uint8_t* payload, size_t length);
    // Stores an SPS or PPS unit (NAL header included) behind a start code;
    // with onlyWhenChanged an identical stored set is left alone (and not
    // parsed again). False when memory runs out.
    bool StoreSet(StreamState& stream, const uint8_t* unit, size_t length, bool onlyWhenChanged);
    // At a NAL start: empties the frame for a new access unit, writes the
    // parameter sets in front of key frames and the start code.
    HandlerResult Compose(StreamState& stream, FrameBuffer& frame, bool newUnit) const;

    bool nalStart_ = true;
    uint8_t nalType_ = 0;

    // An SPS or PPS arriving as FU-A fragments, rebuilt header first.
    std::vector<uint8_t> pendingSet_;
    bool pending_ = false;
    uint8_t pendingType_ = 0;
    uint32_t pendingGaps_ = 0;

    // Emulation prevention is removed in this copy before the SPS is parsed.
    std::vector<uint8_t> rbsp_;
};

}  // namespace camvue
