#include "npcamvue/rtp/jpeg_depacketizer.h"

#include "npcamvue/rtp/jpeg_header.h"
#include "npcamvue/rtp/jpeg_tables.h"

namespace camvue {
namespace {

constexpr size_t kMainHeaderSize = 8;      // RFC 2435 3.1
constexpr size_t kRestartHeaderSize = 4;   // RFC 2435 3.1.7
constexpr size_t kQuantHeaderSize = 4;     // RFC 2435 3.1.8
constexpr uint8_t kTypeRestartBit = 0x40;  // types 64-127 carry a restart header
constexpr int kQInBandTables = 128;        // Q 128-255: tables may come in-band

// RFC 2435 3.1.5/3.1.6: the size in 8-pixel blocks; 0 stands for 2048 pixels.
int32_t Dimension(uint8_t blocks) {
    return blocks == 0 ? 2048 : blocks * 8;
}

// True when one of the first three 0xFF bytes of the data is followed by
// 0xDA: the scan data then brings its own SOS segment.
bool HasScanHeader(const uint8_t* data, size_t length) {
    int markers = 0;
    for (size_t i = 0; i + 1 < length; ++i) {
        if (data[i] != 0xFF)
            continue;
        if (data[i + 1] == 0xDA)
            return true;
        if (++markers == 3)
            break;
    }
    return false;
}

}  // namespace

HandlerResult JpegDepacketizer::OnPacket(StreamState& stream, FrameBuffer& frame, uint8_t* payload,
                                         size_t length) {
    frame.payloadSkip = 0;
    const uint8_t* p = payload;
    // `length` excludes RTP padding: a packet whose payload is no more than
    // the main header carries no scan data, padded or not.
    if (p == nullptr || length < kMainHeaderSize)
        return HandlerResult::kDrop;
    const uint32_t fragmentOffset =
        static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
    const bool first = fragmentOffset == 0;
    // A first fragment that is dropped or ends the loop leaves no header in
    // the frame.
    if (first)
        headerWritten_ = false;
    if (length == kMainHeaderSize)
        return HandlerResult::kDrop;

    const uint8_t type = p[4];
    const int q = p[5];
    stream.picture.width = Dimension(p[6]);
    stream.picture.height = Dimension(p[7]);

    size_t h = kMainHeaderSize;
    uint16_t restartInterval = 0;
    if ((type & kTypeRestartBit) != 0) {
        // RFC 2435 3.1.7: restart interval, then F, L and the restart count.
        if (length <= h + kRestartHeaderSize)
            return HandlerResult::kDrop;
        restartInterval = static_cast<uint16_t>(p[h] << 8 | p[h + 1]);
        h += kRestartHeaderSize;
    }

    int tableCount = 0;
    if (q < kQInBandTables) {
        ScaleQuantTables(q, stream);
        tableCount = 2;
    } else if (first) {
        // RFC 2435 3.1.8: MBZ, Precision, Length, then the table data.
        if (length <= h + kQuantHeaderSize)
            return HandlerResult::kDrop;
        const uint8_t mbz = p[h];
        const uint8_t precision = p[h + 1];
        const size_t tableLength = static_cast<size_t>(p[h + 2]) << 8 | p[h + 3];
        if (mbz == 0) {
            h += kQuantHeaderSize;
            if (tableLength != 0) {
                // Shorter than one table of the declared precision (a wide
                // Precision byte makes any Length too short).
                if (precision > 10 || tableLength < (size_t{64} << precision))
                    return HandlerResult::kEnd;
                // 16-bit tables cannot go into the 8-bit DQT segments of a
                // baseline header: the packet is dropped, and the frame's
                // later fragments, finding no header, are discarded.
                if (precision != 0)
                    return HandlerResult::kDrop;
                // The tables and at least one byte of scan data must lie
                // inside the payload.
                if (tableLength >= length - h)
                    return HandlerResult::kDrop;
                const uint8_t* tables = p + h;
                for (size_t i = 0; i < kJpegQuantTableSize; ++i)
                    stream.jpegLuma[i] = tables[i];
                stream.jpegLumaSet = true;
                stream.jpegScaledQ = -1;  // in-band tables replace computed ones
                tableCount = 1;
                if (tableLength >= 2 * kJpegQuantTableSize) {
                    const uint8_t* chroma = tables + (tableLength - tableLength / 2);
                    for (size_t i = 0; i < kJpegQuantTableSize; ++i)
                        stream.jpegChroma[i] = chroma[i];
                    stream.jpegChromaSet = true;
                    tableCount = 2;
                }
                h += tableLength;
            }
        }
        if (mbz != 0 || tableLength == 0) {
            // No usable table header: tables as for Q 99.
            ScaleQuantTables(q, stream);
            tableCount = 2;
        }
    }

    if (first) {
        frame.key = true;
        JpegHeaderParams params;
        params.luma = stream.jpegLumaSet ? stream.jpegLuma : nullptr;
        params.chroma = stream.jpegChromaSet ? stream.jpegChroma : nullptr;
        params.type = type;
        params.width = stream.picture.width;
        params.height = stream.picture.height;
        params.restartInterval = restartInterval;
        params.addSos = !HasScanHeader(p + h, length - h);
        params.tableCount = tableCount;
        // Rewrites the frame from offset 0: whatever it held is gone.
        if (!BuildJpegHeader(frame, params)) {
            frame.key = false;
            return HandlerResult::kEnd;
        }
        headerWritten_ = true;
    } else if (!headerWritten_ || frame.length == 0) {
        // A later fragment of a frame whose first fragment never made it into
        // the buffer (lost, dropped, or joined mid-frame): without a header
        // the frame is useless, so it is discarded at its end.
        frame.started = false;
        frame.key = false;
    }

    if (frame.loss) {
        // From a sequence gap to the next frame end the frame is discarded.
        frame.started = false;
        frame.key = false;
        frame.length = 0;
    }

    frame.content = true;
    frame.payloadSkip = h;
    return HandlerResult::kGoOn;
}

void JpegDepacketizer::OnFrameEnd(StreamState& /*stream*/, FrameBuffer& /*frame*/) {
    headerWritten_ = false;
}

void JpegDepacketizer::AppendTrailer(FrameBuffer& frame) {
    AppendJpegEoi(frame);
}

}  // namespace camvue
