// One handler per RTP payload format (H.264, JPEG, MPEG-4 Visual, other),
// behind one interface. The frame assembler runs the RTP-level steps and calls
// the handler of the session's format at fixed points; it never looks at
// codec details itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/stream_state.h"

namespace camvue {

// The frame under assembly, as the handlers see it.
struct FrameBuffer {
    uint8_t* data = nullptr;
    size_t capacity = 0;
    size_t length = 0;       // bytes in use, from offset 0
    bool key = false;        // the frame is a key frame
    bool content = false;    // the frame holds something worth delivering
    bool started = false;    // a key frame was delivered since the loop began or the last loss
    bool loss = false;       // a sequence gap since the last frame end
    size_t payloadSkip = 0;  // payload-format header bytes not copied (set per packet)
    // Sequence gaps since the receive loop began. A handler that collects a
    // unit over several packets compares it to notice a packet lost between.
    uint32_t gaps = 0;

    // Appends bytes when they fit; false (nothing written) otherwise.
    bool Append(const uint8_t* bytes, size_t count) {
        if (count > capacity - length)
            return false;
        for (size_t i = 0; i < count; ++i)
            data[length + i] = bytes[i];
        length += count;
        return true;
    }
};

enum class HandlerResult {
    kGoOn,      // append the payload after frame.payloadSkip
    kDrop,      // drop the packet; nothing enters the frame
    kConsumed,  // stored state only (parameter sets, tables); nothing enters the frame
    kAppended,  // the handler appended what the packet brings itself (aggregates)
    kEnd,       // fatal for this receive loop
};

class PayloadHandler {
  public:
    virtual ~PayloadHandler() = default;
    virtual CodecKind kind() const = 0;
    // A new receive loop starts.
    virtual void Reset() {}
    // Before the inactivity refresh: false drops the packet as not belonging
    // to the stream (the H.264 NAL header filter).
    virtual bool Accept(const uint8_t* /*payload*/, size_t /*length*/) const { return true; }
    // One packet's payload (after the RTP header; `length` excludes padding).
    // The handler may rewrite payload bytes in place, write bytes into the
    // frame ahead of the payload, and set frame.payloadSkip, key and content.
    virtual HandlerResult OnPacket(StreamState& stream, FrameBuffer& frame, uint8_t* payload,
                                   size_t length) = 0;
    // At the marker bit, before the key-frame decision.
    virtual void OnFrameEnd(StreamState& /*stream*/, FrameBuffer& /*frame*/) {}
    // Most bytes AppendTrailer may add; the assembler keeps that much room.
    virtual size_t TrailerRoom() const { return 0; }
    // At delivery, after the frame ended.
    virtual void AppendTrailer(FrameBuffer& /*frame*/) {}
};

}  // namespace camvue
