// The JFIF header that RTP/JPEG (RFC 2435) leaves out, rebuilt in front of the
// scan data, and the end-of-image marker at the frame end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/payload_handler.h"

namespace camvue {

// Largest header BuildJpegHeader writes: SOI and APP0 (20), two DQT (2 x 69),
// SOF0 (19), four DHT (432), DRI (6) and SOS (14).
constexpr size_t kJpegMaxHeaderSize = 629;

struct JpegHeaderParams {
    const uint8_t* luma = nullptr;    // 64 bytes, or null when the stream has none yet
    const uint8_t* chroma = nullptr;  // 64 bytes, or null
    uint8_t type = 0;                 // RFC 2435 type; (type & ~0x40) == 0 is 4:2:2
    int32_t width = 0;                // pixels, 1..65535
    int32_t height = 0;
    uint16_t restartInterval = 0;  // DRI when above 0
    bool addSos = true;            // the scan data carries no SOS segment of its own
    int tableCount = 2;            // quantization tables in use: 1 (all components
                                   // use table 0) or 2
};

// Size of the header BuildJpegHeader would write.
size_t JpegHeaderSize(const JpegHeaderParams& params);

// Writes the header at offset 0 of the frame and sets frame.length to its
// size. When the header does not fit the frame's capacity nothing is written,
// frame.length becomes 0 and the result is false.
bool BuildJpegHeader(FrameBuffer& frame, const JpegHeaderParams& params);

// Appends FF D9 unless the last 0xFF among the bytes at L-2 down to L-15
// (L = frame.length; only those that exist) is followed by D9. Leaves the frame
// alone when the two bytes do not fit.
void AppendJpegEoi(FrameBuffer& frame);

}  // namespace camvue
