// The video media line and its rtpmap: payload type, clock rate and codec.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sdp_test_support.h"

namespace camvue {
namespace {

using sdp_test::Apply;
using sdp_test::Describe;
using sdp_test::SdpResult;

struct MediaCase {
    const char* name;
    std::string body;
    uint32_t payloadBefore;  // left from an earlier description of the session
    uint32_t payloadType;
    int32_t clockRate;
    CodecKind codec;
};

TEST(SdpMedia, ReadsPayloadTypeClockRateAndCodec) {
    const MediaCase cases[] = {
        {"H264/90000", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", 0, 96, 90000,
         kCodecH264},
        {"audio section first",
         "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n"
         "m=video 0 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\n",
         0, 97, 90000, kCodecH264},
        {"lower-case encoding name", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 h264/90000\r\n", 0, 96,
         90000, kCodecH264},
        {"payload type 26 is JPEG even when the rtpmap names H.264",
         "m=video 0 RTP/AVP 26\r\na=rtpmap:26 H264/90000\r\n", 0, 26, 90000, kCodecJpeg},
        {"payload type 26 without rtpmap", "m=video 0 RTP/AVP 26\r\n", 0, 26, 0, kCodecJpeg},
        {"dynamic JPEG is not recognised", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 JPEG/90000\r\n", 0,
         96, 90000, kCodecNone},
        {"MP4V-ES without config", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n", 0, 96,
         90000, kCodecMpeg4},
        {"mp4v-es in lower case", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 mp4v-es/90000\r\n", 0, 96,
         90000, kCodecMpeg4},
        {"unknown codec", "m=video 0 RTP/AVP 98\r\na=rtpmap:98 H265/90000\r\n", 0, 98, 90000,
         kCodecNone},
        {"encoding name searched past the rtpmap line",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 X-VENDOR/90000\r\na=x-codec:H264\r\n", 0, 96, 90000,
         kCodecH264},
        {"the first format of the media line is the payload type",
         "m=video 0 RTP/AVP 97 96\r\na=rtpmap:96 H264/90000\r\na=rtpmap:97 MP4V-ES/90000\r\n", 0,
         97, 90000, kCodecMpeg4},
        {"rtpmap of another payload type is not used",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:97 H264/90000\r\n", 0, 96, 0, kCodecNone},
        {"a=rtpmap:9 does not take the line of 96",
         "m=video 0 RTP/AVP 9\r\na=rtpmap:96 H264/90000\r\na=rtpmap:9 G722/8000\r\n", 0, 9, 8000,
         kCodecNone},
        {"rtpmap key in any case", "m=video 0 RTP/AVP 96\r\nA=RTPMAP:96 H264/90000\r\n", 0, 96,
         90000, kCodecH264},
        {"leading zeros in the payload type",
         "m=video 0 RTP/AVP 0096\r\na=rtpmap:96 H264/90000\r\n", 0, 96, 90000, kCodecH264},
        {"several blanks before the payload type",
         "m=video 0 RTP/AVP   96\r\na=rtpmap:96 H264/90000\r\n", 0, 96, 90000, kCodecH264},
        {"highest payload type", "m=video 0 RTP/AVP 127\r\na=rtpmap:127 H264/90000\r\n", 0, 127,
         90000, kCodecH264},
        {"M=VIDEO in upper case", "M=VIDEO 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", 0, 96,
         90000, kCodecH264},
    };
    for (const MediaCase& c : cases) {
        SCOPED_TRACE(c.name);
        StreamState before;
        before.payloadType = c.payloadBefore;
        const SdpResult r = Apply(Describe("", c.body), before);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.stream.payloadType, c.payloadType);
        EXPECT_EQ(r.stream.clockRate, c.clockRate);
        EXPECT_EQ(r.stream.codec, c.codec);
    }
}

TEST(SdpMedia, UnusableMediaLineKeepsTheEarlierPayloadType) {
    const MediaCase cases[] = {
        {"no video line", "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n", 96, 96, 0, kCodecNone},
        {"no video line: the old payload type's rtpmap is searched from the start",
         "m=application 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", 96, 96, 90000, kCodecH264},
        {"RTP/AVP without a number does not take the next line's",
         "m=video 0 RTP/AVP \r\nm=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n", 33, 33, 0,
         kCodecNone},
        {"RTP/AVP without a number does not take a number of the next line",
         "m=video 0 RTP/AVP \r\nc=IN IP4 10.0.0.5\r\na=rtpmap:10 H264/90000\r\n", 33, 33, 0,
         kCodecNone},
        {"RTP/AVP at the end of the reply", "m=video 0 RTP/AVP ", 33, 33, 0, kCodecNone},
        {"number glued to RTP/AVP", "m=video 0 RTP/AVP96\r\n", 33, 33, 0, kCodecNone},
        {"secure profile only", "m=video 0 RTP/SAVP 96\r\na=rtpmap:96 H264/90000\r\n", 33, 33, 0,
         kCodecNone},
        {"interleaved profile only", "m=video 0 RTP/AVP/TCP 96\r\n", 33, 33, 0, kCodecNone},
        {"RTP/AVP in lower case", "m=video 0 rtp/avp 96\r\n", 33, 33, 0, kCodecNone},
        {"payload type above 127", "m=video 0 RTP/AVP 128\r\na=rtpmap:128 H264/90000\r\n", 33, 33,
         0, kCodecNone},
        {"payload type that wraps to 96 in 32 bits",
         "m=video 0 RTP/AVP 4294967392\r\na=rtpmap:96 H264/90000\r\n", 33, 33, 0, kCodecNone},
        {"payload type of many digits",
         "m=video 0 RTP/AVP 1000000000000000000000000000000000000000000000000000000096\r\n", 33, 33,
         0, kCodecNone},
        {"stream=video inside an attribute is not a media line",
         "m=audio 0 RTP/AVP 0\r\na=x-label:stream=video 0 RTP/AVP 96\r\n", 33, 33, 0, kCodecNone},
    };
    for (const MediaCase& c : cases) {
        SCOPED_TRACE(c.name);
        StreamState before;
        before.payloadType = c.payloadBefore;
        const SdpResult r = Apply(Describe("", c.body), before);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.stream.payloadType, c.payloadType);
        EXPECT_EQ(r.stream.clockRate, c.clockRate);
        EXPECT_EQ(r.stream.codec, c.codec);
    }
}

TEST(SdpMedia, ClockRateIsReadOverflowSafe) {
    struct ClockCase {
        const char* rtpmap;
        int32_t clockRate;
    };
    const ClockCase cases[] = {
        {"H264/90000/1", 90000},
        {"H264/2147483647", 2147483647},
        {"H264/2147483648", 0},
        {"H264/4294967296", 0},
        {"H264/99999999999999999999999", 0},
        {"H264/", 0},
        {"H264", 0},
        {"H264/x90000", 0},
        {"H264/ 90000", 0},
        {"H264/90000;rate=1", 90000},
        {"H264/000090000", 90000},
        {"H264/0", 0},
    };
    for (const ClockCase& c : cases) {
        SCOPED_TRACE(c.rtpmap);
        StreamState before;
        before.clockRate = 12345;  // every description starts from 0
        const SdpResult r = Apply(
            Describe("", std::string("m=video 0 RTP/AVP 96\r\na=rtpmap:96 ") + c.rtpmap + "\r\n"),
            before);
        EXPECT_EQ(r.stream.clockRate, c.clockRate);
        EXPECT_EQ(r.stream.codec, kCodecH264);
    }
}

TEST(SdpMedia, VideoLineInsideAnAttributeDoesNotMoveTheSearch) {
    // A naive search would start the video section inside the audio's fmtp
    // and hand SETUP the audio track.
    const SdpResult r = Apply(
        Describe("Content-Base: rtsp://10.0.0.5/av/\r\n",
                 "m=audio 0 RTP/AVP 0\r\na=fmtp:0 x-stream=video\r\na=control:trackID=audio\r\n"
                 "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=video\r\n"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.urls.media, "rtsp://10.0.0.5/av/trackID=video");
    EXPECT_EQ(r.stream.payloadType, 96u);
}

TEST(SdpMedia, EveryDescriptionStartsFromNoCodec) {
    // A reconnect that finds another codec must not keep the old kind.
    StreamState before;
    before.codec = kCodecJpeg;
    before.payloadType = 26;
    const SdpResult r =
        Apply(Describe("", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H265/90000\r\n"), before);
    EXPECT_EQ(r.stream.codec, kCodecNone);
    EXPECT_EQ(r.stream.payloadType, 96u);

    StreamState jpeg;
    jpeg.codec = kCodecH264;
    const SdpResult r2 = Apply(Describe("", "m=video 0 RTP/AVP 26\r\n"), jpeg);
    EXPECT_EQ(r2.stream.codec, kCodecJpeg);
}

}  // namespace
}  // namespace camvue
