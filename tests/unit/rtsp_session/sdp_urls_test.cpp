// Content-Base, aggregate URL and the video control: which Request-URI SETUP
// and PLAY get.
#include <gtest/gtest.h>

#include <string>

#include "sdp_test_support.h"

namespace camvue {
namespace {

using sdp_test::Apply;
using sdp_test::Describe;
using sdp_test::SdpResult;
using sdp_test::SessionPart;

std::string Video(const std::string& control) {
    return "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 H264/90000\r\n" + control;
}

struct UrlCase {
    const char* name;
    std::string reply;
    const char* aggregate;
    const char* media;
};

TEST(SdpUrls, JoinsContentBaseAndControl) {
    const std::string audioAfter =
        "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=control:trackID=2\r\n";
    const UrlCase cases[] = {
        {"Content-Base with a trailing / is not doubled",
         Describe("Content-Base: rtsp://10.0.0.5/live/\r\n",
                  SessionPart() + Video("a=control:trackID=1\r\n")),
         "rtsp://10.0.0.5/live/", "rtsp://10.0.0.5/live/trackID=1"},
        {"Content-Base without a trailing / gets one",
         Describe("Content-Base: rtsp://10.0.0.5/live\r\n",
                  SessionPart() + Video("a=control:trackID=1\r\n")),
         "rtsp://10.0.0.5/live", "rtsp://10.0.0.5/live/trackID=1"},
        {"absolute control without Content-Base: PLAY goes to the built URL",
         Describe("", SessionPart() + Video("a=control:rtsp://10.0.0.5/live/track1\r\n")),
         "rtsp://10.0.0.5/live/ch1", "rtsp://10.0.0.5/live/track1"},
        {"absolute control with another host wins over Content-Base",
         Describe("Content-Base: rtsp://10.0.0.5/live/\r\n",
                  SessionPart() + Video("a=control:rtsp://10.0.0.9:8554/media/video\r\n")),
         "rtsp://10.0.0.5/live/", "rtsp://10.0.0.9:8554/media/video"},
        {"relative control without Content-Base joins the built URL",
         Describe("", SessionPart() + Video("a=control:trackID=1\r\n")), "rtsp://10.0.0.5/live/ch1",
         "rtsp://10.0.0.5/live/ch1/trackID=1"},
        {"no control in the video section: session-level * and the audio control are not used",
         Describe("Content-Base: rtsp://10.0.0.5/live/\r\n",
                  SessionPart() + Video("") + audioAfter),
         "rtsp://10.0.0.5/live/", "rtsp://10.0.0.5/live/"},
        {"no control anywhere after the video line", Describe("", SessionPart() + Video("")),
         "rtsp://10.0.0.5/live/ch1", "rtsp://10.0.0.5/live/ch1"},
        {"header name in any case",
         Describe("content-BASE: rtsp://10.0.0.5/a/\r\n", Video("a=control:v\r\n")),
         "rtsp://10.0.0.5/a/", "rtsp://10.0.0.5/a/v"},
        {"blanks around the Content-Base value are dropped",
         Describe("Content-Base: \t rtsp://10.0.0.5/a/  \r\n", Video("a=control:v\r\n")),
         "rtsp://10.0.0.5/a/", "rtsp://10.0.0.5/a/v"},
        {"empty Content-Base is ignored", Describe("Content-Base:\r\n", Video("a=control:v\r\n")),
         "rtsp://10.0.0.5/live/ch1", "rtsp://10.0.0.5/live/ch1/v"},
        {"blank Content-Base is ignored",
         Describe("Content-Base:    \r\n", Video("a=control:v\r\n")), "rtsp://10.0.0.5/live/ch1",
         "rtsp://10.0.0.5/live/ch1/v"},
        {"Content-Base ends at a byte above 0x7F",
         Describe("Content-Base: rtsp://10.0.0.5/cam\xC3\xA9ra/\r\n", Video("")),
         "rtsp://10.0.0.5/cam", "rtsp://10.0.0.5/cam"},
        {"Content-Base ends at a control byte",
         Describe("Content-Base: rtsp://10.0.0.5/a/\x01junk\r\n", Video("")), "rtsp://10.0.0.5/a/",
         "rtsp://10.0.0.5/a/"},
        {"Content-Base ends at a bare LF",
         "RTSP/1.0 200 OK\nContent-Base: rtsp://10.0.0.5/lf/\n\n" + Video("a=control:t\n"),
         "rtsp://10.0.0.5/lf/", "rtsp://10.0.0.5/lf/t"},
        {"Content-Base running to the end of the buffer is ignored",
         "RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Base: rtsp://10.0.0.5/cut/of",
         "rtsp://10.0.0.5/live/ch1", "rtsp://10.0.0.5/live/ch1"},
        {"control ends at ;", Describe("", Video("a=control:trackID=1;x=2\r\n")),
         "rtsp://10.0.0.5/live/ch1", "rtsp://10.0.0.5/live/ch1/trackID=1"},
        {"trailing blanks of the control are dropped",
         Describe("", Video("a=control:trackID=1 \t\r\n")), "rtsp://10.0.0.5/live/ch1",
         "rtsp://10.0.0.5/live/ch1/trackID=1"},
        {"blank control counts as none", Describe("", Video("a=control:   \r\n")),
         "rtsp://10.0.0.5/live/ch1", "rtsp://10.0.0.5/live/ch1"},
        {"control running to the end of the reply is used",
         Describe("", Video("a=control:trackID=7")), "rtsp://10.0.0.5/live/ch1",
         "rtsp://10.0.0.5/live/ch1/trackID=7"},
        {"without a video line the first control of the reply is used",
         Describe("", "v=0\r\nm=application 0 RTP/AVP 107\r\na=control:trackID=4\r\n"),
         "rtsp://10.0.0.5/live/ch1", "rtsp://10.0.0.5/live/ch1/trackID=4"},
        {"control of the video section, not of an audio section before it",
         Describe(
             "Content-Base: rtsp://10.0.0.5/av/\r\n",
             "m=audio 0 RTP/AVP 0\r\na=control:trackID=0\r\n" + Video("a=control:trackID=1\r\n")),
         "rtsp://10.0.0.5/av/", "rtsp://10.0.0.5/av/trackID=1"},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SdpResult r = Apply(c.reply);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.urls.aggregate, c.aggregate);
        EXPECT_EQ(r.urls.media, c.media);
    }
}

TEST(SdpUrls, GrowsForLongContentBaseAndControl) {
    // The 256-byte buffers of a fixed design would not hold these.
    const std::string base = "rtsp://10.0.0.5/" + std::string(3000, 'b');
    const std::string control = std::string(2000, 'c');
    const SdpResult r =
        Apply(Describe("Content-Base: " + base + "\r\n", Video("a=control:" + control + "\r\n")));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.urls.aggregate, base);
    EXPECT_EQ(r.urls.media, base + "/" + control);
}

TEST(SdpUrls, EmptyOrNullReplyKeepsTheBuiltUrl) {
    const SdpResult r = Apply("");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.urls.aggregate, sdp_test::kBuiltUrl);
    EXPECT_EQ(r.urls.media, sdp_test::kBuiltUrl);

    SessionUrls urls;
    urls.media = sdp_test::kBuiltUrl;
    StreamState stream;
    ASSERT_TRUE(ApplySessionDescription(nullptr, &urls, &stream));
    EXPECT_EQ(urls.aggregate, sdp_test::kBuiltUrl);
    EXPECT_EQ(urls.media, sdp_test::kBuiltUrl);
    EXPECT_FALSE(ApplySessionDescription("", nullptr, &stream));
    EXPECT_FALSE(ApplySessionDescription("", &urls, nullptr));
}

}  // namespace
}  // namespace camvue
