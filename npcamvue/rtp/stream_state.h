// What the client knows about the one video stream it receives: the results
// of the session description, the parameter sets and picture size, and the
// RTP state announced by SETUP and PLAY. The RTSP session owns one record;
// frame assembly and the depacketizers read and update it.
#pragma once

#include <cstdint>
#include <vector>

#include "npcamvue/rtp/h264_sps.h"
#include "npcamvue/rtp/picture_size.h"

namespace camvue {

// Codec kind of a stream; the numbers are those of the frame descriptor.
enum CodecKind : uint32_t {
    kCodecNone = 0,   // the description named no codec the client handles
    kCodecJpeg = 1,   // RFC 2435 JPEG, delivered as JPEG files
    kCodecH264 = 2,   // RFC 6184 H.264, delivered as Annex B access units
    kCodecMpeg4 = 3,  // RFC 3016 MPEG-4 Visual
};

struct StreamState {
    // From the session description. The payload type survives a description
    // without a usable video line; the clock rate is reset by every DESCRIBE.
    uint32_t payloadType = 0;
    int32_t clockRate = 0;
    CodecKind codec = kCodecNone;

    // Out-of-band configuration: for H.264 every parameter set behind
    // 00 00 00 01; for MPEG-4 the decoded "config=" bytes.
    std::vector<uint8_t> config;
    // The stored SPS and PPS, each behind 00 00 00 01.
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
    bool spsFound = false;
    bool ppsFound = false;

    // Last SPS parsed and the picture size it (or a VOL header) gave.
    SpsInfo spsInfo{};
    PictureSize picture;

    // RFC 2435 quantization tables of a JPEG stream, computed from Q or taken
    // in-band; they outlive receive loops.
    uint8_t jpegLuma[64] = {};
    uint8_t jpegChroma[64] = {};
    bool jpegLumaSet = false;
    bool jpegChromaSet = false;
    // The Q the tables were last computed from; -1 when they came in-band.
    // Cameras send the same Q in every fragment: compute once per change.
    int jpegScaledQ = -1;

    // SSRC of the last RTP packet received (frame assembly); a change retakes
    // the presentation-time reference.
    uint32_t lastSsrc = 0;

    // SETUP and PLAY replies.
    bool ssrcKnown = false;
    uint32_t ssrc = 0;  // host byte order
    bool sequenceKnown = false;
    uint16_t expectedSequence = 0;
    // Arrival of the first RTP datagram after PLAY, as a system file time; 0
    // while none was seen.
    uint64_t firstDatagramTime = 0;

    // Forget the configuration of the previous set-up.
    void ClearConfig() {
        config.clear();
        sps.clear();
        pps.clear();
        spsFound = false;
        ppsFound = false;
    }
};

}  // namespace camvue
