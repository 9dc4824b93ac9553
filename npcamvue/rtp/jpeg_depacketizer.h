// RTP/JPEG (RFC 2435) payload handler: turns the payloads of one frame into a
// complete baseline JPEG file in the frame buffer. The first fragment of a
// frame rebuilds the JFIF header at offset 0; every fragment leaves its scan
// data to the frame assembler behind a payload skip; the frame end gets the
// end-of-image marker.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/payload_handler.h"

namespace camvue {

class JpegDepacketizer : public PayloadHandler {
  public:
    JpegDepacketizer() = default;

    CodecKind kind() const override { return kCodecJpeg; }
    void Reset() override { headerWritten_ = false; }

    // Results:
    //  kGoOn  the payload from frame.payloadSkip on is scan data;
    //  kDrop  no scan data after the headers, a truncated restart or
    //         quantization table header, table data beyond the payload, or
    //         16-bit (Precision != 0) tables;
    //  kEnd   a table header whose Length is below one table (64 << Precision),
    //         or a frame buffer too small for the rebuilt header.
    HandlerResult OnPacket(StreamState& stream, FrameBuffer& frame, uint8_t* payload,
                           size_t length) override;
    void OnFrameEnd(StreamState& stream, FrameBuffer& frame) override;
    size_t TrailerRoom() const override { return 2; }
    void AppendTrailer(FrameBuffer& frame) override;

  private:
    // The frame under assembly began with a first fragment whose header this
    // handler wrote. Later fragments without it cannot form a JPEG file.
    bool headerWritten_ = false;
};

}  // namespace camvue
