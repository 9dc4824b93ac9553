// RFC 3016 MPEG-4 Visual payloads: the elementary stream cut at arbitrary
// points. Finds the configuration headers (visual object sequence to video
// object layer) and keeps them as the stream's config bytes, reads the picture
// size from the VOL, tells I-VOPs from others and puts the config bytes in
// front of every I-VOP.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/payload_handler.h"

namespace camvue {

struct Mpeg4VopInfo {
    bool found = false;  // a VOP start code (00 00 01 B6) with its coding-type byte
    bool intra = false;  // vop_coding_type 0
    size_t offset = 0;   // of the start code
};

// The first VOP start code, one byte at a time; gives up when fewer than 5
// bytes remain.
Mpeg4VopInfo IsMpeg4IntraVop(const uint8_t* bytes, size_t length);

// At the end of a frame: a VOL start code first sets the picture size, a VOP
// start code first sets the key flag; anything else changes nothing.
void Mpeg4FrameInfo(StreamState& stream, FrameBuffer& frame);

class Mpeg4Depacketizer : public PayloadHandler {
  public:
    CodecKind kind() const override { return kCodecMpeg4; }
    HandlerResult OnPacket(StreamState& stream, FrameBuffer& frame, uint8_t* payload,
                           size_t length) override;
    void OnFrameEnd(StreamState& stream, FrameBuffer& frame) override {
        Mpeg4FrameInfo(stream, frame);
    }
};

}  // namespace camvue
