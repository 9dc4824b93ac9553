// Any video payload of a format the client does not know: appended as it
// comes. Nothing marks a key frame, so its frames are never delivered.
#pragma once

#include "npcamvue/rtp/payload_handler.h"

namespace camvue {

class OtherPayload : public PayloadHandler {
  public:
    // Frames of unknown formats would leave as "other video".
    CodecKind kind() const override { return kCodecMpeg4; }
    HandlerResult OnPacket(StreamState& stream, FrameBuffer& frame, uint8_t* payload,
                           size_t length) override;
};

}  // namespace camvue
