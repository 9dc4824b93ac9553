// Whole DESCRIBE replies as servers send them: GStreamer's rtsp-server
// (rtph264pay, rtpjpegpay, rtpmp4vpay, captured from a live server), VLC's
// RTSP output and a typical IP camera; and the same replies cut short.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sdp_test_support.h"

namespace camvue {
namespace {

using sdp_test::Apply;
using sdp_test::SdpResult;

const char kGstH264[] =
    "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\n"
    "Content-Base: rtsp://127.0.0.1:18554/h264/\r\nServer: GStreamer RTSP server\r\n"
    "Date: Mon, 07 Dec 2026 11:22:22 GMT\r\nContent-Length: 530\r\n\r\n"
    "v=0\r\no=- 11917762160587191431 1 IN IP4 127.0.0.1\r\ns=Session streamed with GStreamer\r\n"
    "i=rtsp-server\r\nt=0 0\r\na=tool:GStreamer\r\na=type:broadcast\r\na=control:*\r\n"
    "a=range:npt=now-\r\nm=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\nb=AS:2097\r\n"
    "a=rtpmap:96 H264/90000\r\na=framerate:30\r\na=fmtp:96 packetization-mode=1;"
    "sprop-parameter-sets=Z0LAHtkAoC/5cBagwMDUoAAAAwAgAAAHkeLFyQ==,aMuMsg==;"
    "profile-level-id=42c01e;level-asymmetry-allowed=1\r\na=control:stream=0\r\n"
    "a=ts-refclk:local\r\na=mediaclk:sender\r\n"
    "a=ssrc:3470955487 cname:user2567404726@host-231da4b9\r\n";

// Audio first (rtppcmupay as pay0), 1280x720 video second.
const char kGstAudioFirst[] =
    "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\n"
    "Content-Base: rtsp://127.0.0.1:18554/h264b/\r\nServer: GStreamer RTSP server\r\n"
    "Date: Mon, 07 Dec 2026 11:22:22 GMT\r\nContent-Length: 703\r\n\r\n"
    "v=0\r\no=- 166430631553158403 1 IN IP4 127.0.0.1\r\ns=Session streamed with GStreamer\r\n"
    "i=rtsp-server\r\nt=0 0\r\na=tool:GStreamer\r\na=type:broadcast\r\na=control:*\r\n"
    "a=range:npt=now-\r\nm=audio 0 RTP/AVP 0\r\nc=IN IP4 0.0.0.0\r\nb=AS:64\r\n"
    "a=rtpmap:0 PCMU/8000\r\na=control:stream=0\r\na=ts-refclk:local\r\na=mediaclk:sender\r\n"
    "a=ssrc:1213384928 cname:user189198348@host-25a891fa\r\nm=video 0 RTP/AVP 96\r\n"
    "c=IN IP4 0.0.0.0\r\nb=AS:2097\r\na=rtpmap:96 H264/90000\r\na=framerate:30\r\n"
    "a=fmtp:96 packetization-mode=1;"
    "sprop-parameter-sets=Z0LAH9kAUAW7AWoCAgKAAAADAIAAAB5HjBkk,aMuMsg==;"
    "profile-level-id=42c01f;level-asymmetry-allowed=1\r\na=control:stream=1\r\n"
    "a=ts-refclk:local\r\na=mediaclk:sender\r\n"
    "a=ssrc:119540124 cname:user189198348@host-25a891fa\r\n";

const char kGstJpeg[] =
    "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\n"
    "Content-Base: rtsp://127.0.0.1:18554/jpeg/\r\nServer: GStreamer RTSP server\r\n"
    "Date: Mon, 07 Dec 2026 11:22:22 GMT\r\nContent-Length: 371\r\n\r\n"
    "v=0\r\no=- 16125976289529690522 1 IN IP4 127.0.0.1\r\ns=Session streamed with GStreamer\r\n"
    "i=rtsp-server\r\nt=0 0\r\na=tool:GStreamer\r\na=type:broadcast\r\na=control:*\r\n"
    "a=range:npt=now-\r\nm=video 0 RTP/AVP 26\r\nc=IN IP4 0.0.0.0\r\n"
    "a=rtpmap:26 JPEG/90000\r\na=framerate:30.000000\r\na=control:stream=0\r\n"
    "a=ts-refclk:local\r\na=mediaclk:sender\r\n"
    "a=ssrc:2026995352 cname:user710269832@host-e6718da\r\n";

const char kGstMpeg4[] =
    "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\n"
    "Content-Base: rtsp://127.0.0.1:18554/mp4v/\r\nServer: GStreamer RTSP server\r\n"
    "Date: Mon, 07 Dec 2026 11:22:22 GMT\r\nContent-Length: 501\r\n\r\n"
    "v=0\r\no=- 12114337065553420989 1 IN IP4 127.0.0.1\r\ns=Session streamed with GStreamer\r\n"
    "i=rtsp-server\r\nt=0 0\r\na=tool:GStreamer\r\na=type:broadcast\r\na=control:*\r\n"
    "a=range:npt=now-\r\nm=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\n"
    "a=rtpmap:96 MP4V-ES/90000\r\na=framerate:30\r\na=fmtp:96 profile-level-id=1;"
    "config=000001b001000001b58913000001000000012000c48d8ffffd0b04241463000001b24c6176633539"
    "2e33372e313030\r\na=control:stream=0\r\na=ts-refclk:local\r\na=mediaclk:sender\r\n"
    "a=ssrc:4074593873 cname:user2188589235@host-89526931\r\n";

// VLC: audio first with the same dynamic payload type, absolute controls,
// Content-Base without a trailing "/", no fmtp for H.264.
const char kVlcH264[] =
    "RTSP/1.0 200 OK\r\nServer: VLC/3.0.18\r\nDate: Mon, 07 Dec 2026 11:30:02 GMT\r\n"
    "Content-Type: application/sdp\r\nContent-Base: rtsp://192.168.1.20:8554/stream\r\n"
    "Content-Length: 580\r\nCache-Control: no-cache\r\nCseq: 2\r\n\r\n"
    "v=0\r\no=- 16393618377787637044 16393618377787637044 IN IP4 studio-pc\r\ns=Unnamed\r\n"
    "i=N/A\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\na=tool:vlc 3.0.18\r\na=recvonly\r\n"
    "a=type:broadcast\r\na=charset:UTF-8\r\na=control:rtsp://192.168.1.20:8554/stream\r\n"
    "m=audio 0 RTP/AVP 96\r\nb=RR:0\r\na=rtpmap:96 mpeg4-generic/48000/2\r\n"
    "a=fmtp:96 streamtype=5; profile-level-id=15; mode=AAC-hbr; config=1190; SizeLength=13; "
    "IndexLength=3; IndexDeltaLength=3; Profile=1;\r\n"
    "a=control:rtsp://192.168.1.20:8554/stream/trackID=0\r\n"
    "m=video 0 RTP/AVP 96\r\nb=RR:0\r\na=rtpmap:96 H264/90000\r\n"
    "a=control:rtsp://192.168.1.20:8554/stream/trackID=1\r\n";

// VLC MPEG-4 (Xvid, 320x240): fmtp with blanks, no Content-Base.
const char kVlcMpeg4[] =
    "RTSP/1.0 200 OK\r\nServer: VLC/3.0.18\r\nDate: Mon, 07 Dec 2026 11:31:40 GMT\r\n"
    "Content-Type: application/sdp\r\nContent-Length: 455\r\nCache-Control: no-cache\r\n"
    "Cseq: 2\r\n\r\n"
    "v=0\r\no=- 16393618377787637051 16393618377787637051 IN IP4 studio-pc\r\ns=Unnamed\r\n"
    "i=N/A\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\na=tool:vlc 3.0.18\r\na=recvonly\r\n"
    "a=type:broadcast\r\na=charset:UTF-8\r\na=control:rtsp://192.168.1.20:8554/mpeg4\r\n"
    "m=video 0 RTP/AVP 96\r\nb=RR:0\r\na=rtpmap:96 MP4V-ES/90000\r\n"
    "a=fmtp:96 profile-level-id=3; config=000001b003000001b509000001000000012000bc0406c5d4c307"
    "d30a041e1463000001b258766944303036;\r\n"
    "a=control:rtsp://192.168.1.20:8554/mpeg4/trackID=0\r\n";

// A typical camera: relative control before the rtpmap, the PPS first in
// sprop-parameter-sets, an ONVIF metadata section after the video.
const char kCameraPpsFirst[] =
    "RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Type: application/sdp\r\n"
    "Content-Base: rtsp://10.0.0.5/live/\r\nContent-Length: 529\r\n\r\n"
    "v=0\r\no=- 1109162014219182 1109162014219182 IN IP4 0.0.0.0\r\n"
    "s=Media Presentation\r\ne=NONE\r\nb=AS:5050\r\nt=0 0\r\n"
    "a=control:rtsp://10.0.0.5/live/\r\nm=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\n"
    "b=AS:5000\r\na=recvonly\r\na=x-dimensions:640,360\r\na=control:trackID=1\r\n"
    "a=rtpmap:96 H264/90000\r\na=fmtp:96 profile-level-id=42c01e; packetization-mode=1; "
    "sprop-parameter-sets=aMuMsg==,Z0LAHtkAoC/5cBagwMDUoAAAAwAgAAAHkeLFyQ==\r\n"
    "m=application 0 RTP/AVP 107\r\nc=IN IP4 0.0.0.0\r\nb=AS:50\r\na=recvonly\r\n"
    "a=control:trackID=3\r\na=rtpmap:107 vnd.onvif.metadata/90000\r\n";

// The same camera without Content-Base: controls join the built URL.
const char kCameraNoBase[] =
    "RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Type: application/sdp\r\nContent-Length: 254\r\n\r\n"
    "v=0\r\no=- 1109162014219182 1109162014219182 IN IP4 0.0.0.0\r\ns=Media Presentation\r\n"
    "t=0 0\r\nm=video 0 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\n"
    "a=fmtp:97 packetization-mode=1;sprop-parameter-sets=Z0LAH9kAUAW7AWoCAgKAAAADAIAAAB5HjBkk,"
    "aMuMsg==\r\na=control:trackID=1\r\n";

struct ReplyCase {
    const char* name;
    const char* reply;
    const char* built;
    uint32_t payloadType;
    int32_t clockRate;
    CodecKind codec;
    const char* aggregate;
    const char* media;
    bool spsFound;
    bool ppsFound;
    size_t configSize;
    int32_t width;  // after ReadConfigPictureSize; 0 = not known before the first frame
    int32_t height;
};

const ReplyCase kReplies[] = {
    {"GStreamer H.264", kGstH264, "rtsp://127.0.0.1/h264", 96, 90000, kCodecH264,
     "rtsp://127.0.0.1:18554/h264/", "rtsp://127.0.0.1:18554/h264/stream=0", true, true, 40, 640,
     360},
    {"GStreamer, audio section first", kGstAudioFirst, "rtsp://127.0.0.1/h264b", 96, 90000,
     kCodecH264, "rtsp://127.0.0.1:18554/h264b/", "rtsp://127.0.0.1:18554/h264b/stream=1", true,
     true, 39, 1280, 720},
    {"GStreamer JPEG", kGstJpeg, "rtsp://127.0.0.1/jpeg", 26, 90000, kCodecJpeg,
     "rtsp://127.0.0.1:18554/jpeg/", "rtsp://127.0.0.1:18554/jpeg/stream=0", false, false, 0, 0, 0},
    {"GStreamer MPEG-4", kGstMpeg4, "rtsp://127.0.0.1/mp4v", 96, 90000, kCodecMpeg4,
     "rtsp://127.0.0.1:18554/mp4v/", "rtsp://127.0.0.1:18554/mp4v/stream=0", false, false, 47, 352,
     288},
    {"VLC H.264 after AAC audio", kVlcH264, "rtsp://192.168.1.20/stream", 96, 90000, kCodecH264,
     "rtsp://192.168.1.20:8554/stream", "rtsp://192.168.1.20:8554/stream/trackID=1", false, false,
     0, 0, 0},
    {"VLC MPEG-4 without Content-Base", kVlcMpeg4, "rtsp://192.168.1.20/mpeg4", 96, 90000,
     kCodecMpeg4, "rtsp://192.168.1.20/mpeg4", "rtsp://192.168.1.20:8554/mpeg4/trackID=0", false,
     false, 43, 320, 240},
    {"camera with the PPS first", kCameraPpsFirst, "rtsp://10.0.0.5/live", 96, 90000, kCodecH264,
     "rtsp://10.0.0.5/live/", "rtsp://10.0.0.5/live/trackID=1", true, true, 40, 640, 360},
    {"camera without Content-Base", kCameraNoBase, "rtsp://10.0.0.5/live", 97, 90000, kCodecH264,
     "rtsp://10.0.0.5/live", "rtsp://10.0.0.5/live/trackID=1", true, true, 39, 1280, 720},
};

TEST(SdpReplies, ReadsRealWorldDescriptions) {
    for (const ReplyCase& c : kReplies) {
        SCOPED_TRACE(c.name);
        SdpResult r = Apply(c.reply, StreamState(), c.built);
        ASSERT_TRUE(r.ok);
        ReadConfigPictureSize(&r.stream);
        EXPECT_EQ(r.stream.payloadType, c.payloadType);
        EXPECT_EQ(r.stream.clockRate, c.clockRate);
        EXPECT_EQ(r.stream.codec, c.codec);
        EXPECT_EQ(r.urls.aggregate, c.aggregate);
        EXPECT_EQ(r.urls.media, c.media);
        EXPECT_EQ(r.stream.spsFound, c.spsFound);
        EXPECT_EQ(r.stream.ppsFound, c.ppsFound);
        EXPECT_EQ(r.stream.config.size(), c.configSize);
        EXPECT_EQ(r.stream.picture.width, c.width);
        EXPECT_EQ(r.stream.picture.height, c.height);
    }
}

// What any result must satisfy, however much of the reply arrived.
void CheckInvariants(const SdpResult& r, uint32_t payloadBefore) {
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.stream.payloadType <= 127 || r.stream.payloadType == payloadBefore);
    EXPECT_GE(r.stream.clockRate, 0);
    EXPECT_TRUE(r.stream.codec == kCodecNone || r.stream.codec == kCodecJpeg ||
                r.stream.codec == kCodecH264 || r.stream.codec == kCodecMpeg4);
    EXPECT_EQ(r.stream.spsFound, !r.stream.sps.empty());
    EXPECT_EQ(r.stream.ppsFound, !r.stream.pps.empty());
    const std::vector<uint8_t> startCode = {0, 0, 0, 1};
    if (r.stream.spsFound) {
        ASSERT_GT(r.stream.sps.size(), 4u);
        EXPECT_TRUE(std::equal(startCode.begin(), startCode.end(), r.stream.sps.begin()));
        EXPECT_EQ(r.stream.sps[4] & 0x1F, 7);
    }
    if (r.stream.ppsFound) {
        ASSERT_GT(r.stream.pps.size(), 4u);
        EXPECT_EQ(r.stream.pps[4] & 0x1F, 8);
    }
    EXPECT_FALSE(r.urls.aggregate.empty());
    // SETUP goes to an absolute control or to something below PLAY's URL.
    EXPECT_TRUE(r.urls.media.compare(0, r.urls.aggregate.size(), r.urls.aggregate) == 0 ||
                r.urls.media.find("://") != std::string::npos);
}

TEST(SdpReplies, EveryCutOfARealReplyIsReadSafely) {
    // Each prefix goes into an exactly sized buffer: a read past the NUL is
    // a sanitizer error. Stale state from an earlier set-up is given too.
    StreamState stale;
    stale.payloadType = 33;
    stale.codec = kCodecMpeg4;
    stale.config = {0, 0, 1, 0xB0, 1};
    stale.sps = {0, 0, 0, 1, 0x67};
    stale.spsFound = true;
    for (const ReplyCase& c : kReplies) {
        SCOPED_TRACE(c.name);
        const std::string whole = c.reply;
        for (size_t length = 0; length <= whole.size(); ++length) {
            const std::string cut = whole.substr(0, length);
            SdpResult fresh = Apply(cut, StreamState(), c.built);
            ReadConfigPictureSize(&fresh.stream);
            CheckInvariants(fresh, 0);
            SdpResult again = Apply(cut, stale, c.built);
            ReadConfigPictureSize(&again.stream);
            CheckInvariants(again, 33);
            if (HasFailure())
                FAIL() << "at length " << length;
        }
    }
}

TEST(SdpReplies, ContentBaseCutByTheBufferIsIgnored) {
    // The Content-Base line is the last thing that fit into the reply buffer.
    const std::string whole = kGstH264;
    const size_t cut = whole.find("h264/\r\n");
    ASSERT_NE(cut, std::string::npos);
    const SdpResult r = Apply(whole.substr(0, cut + 4), StreamState(), "rtsp://127.0.0.1/h264");
    EXPECT_EQ(r.urls.aggregate, "rtsp://127.0.0.1/h264");
    EXPECT_EQ(r.urls.media, "rtsp://127.0.0.1/h264");
}

TEST(SdpReplies, DescriptionCutAt4096Bytes) {
    // A camera that announces many attributes before the video: the 4096-byte
    // reply buffer (4095 characters and the NUL) ends inside the PPS item.
    std::string reply = kGstH264;
    const std::string marker = "a=range:npt=now-\r\n";
    const size_t at = reply.find(marker) + marker.size();
    const size_t ppsStart = reply.find(",aMuMsg==") + 1;
    // Pad so that "aMuM" (the first three PPS bytes) is the last thing kept.
    const size_t padding = 4095 - (ppsStart + 4) - 2 - std::string("a=x-vendor:").size();
    reply.insert(at, "a=x-vendor:" + std::string(padding, 'v') + "\r\n");
    const std::string kept = reply.substr(0, 4095);
    ASSERT_EQ(kept.substr(kept.size() - 5), ",aMuM");

    SdpResult r = Apply(kept, StreamState(), "rtsp://127.0.0.1/h264");
    ASSERT_TRUE(r.ok);
    ReadConfigPictureSize(&r.stream);
    EXPECT_EQ(r.stream.payloadType, 96u);
    EXPECT_EQ(r.stream.clockRate, 90000);
    EXPECT_EQ(r.stream.codec, kCodecH264);
    EXPECT_EQ(r.urls.aggregate, "rtsp://127.0.0.1:18554/h264/");
    // The control came after the cut.
    EXPECT_EQ(r.urls.media, "rtsp://127.0.0.1:18554/h264/");
    EXPECT_TRUE(r.stream.spsFound);
    EXPECT_EQ(r.stream.pps, sdp_test::Bytes("0000000168cb8c"));
    EXPECT_EQ(r.stream.picture.width, 640);
    EXPECT_EQ(r.stream.picture.height, 360);
}

}  // namespace
}  // namespace camvue
