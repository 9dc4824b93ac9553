#include "npcamvue/rtp/other_payload.h"

namespace camvue {

HandlerResult OtherPayload::OnPacket(StreamState& /*stream*/, FrameBuffer& frame,
                                     uint8_t* /*payload*/, size_t /*length*/) {
    frame.content = true;
    frame.payloadSkip = 0;
    return HandlerResult::kGoOn;
}

}  // namespace camvue
