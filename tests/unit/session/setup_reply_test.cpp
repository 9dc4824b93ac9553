#include <gtest/gtest.h>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtsp/transport.h"

namespace camvue {
namespace {

uint32_t Ip(const char* text) {
    uint32_t a = 0;
    EXPECT_TRUE(ParseIpv4(text, &a));
    return a;
}

TEST(SetupReply, UnicastWithSsrcAndTimeout) {
    SetupReply r;
    const char* why = nullptr;
    ASSERT_TRUE(
        ParseSetupReply("RTSP/1.0 200 OK\r\nCSeq: 4\r\n"
                        "Transport: RTP/AVP;unicast;client_port=5000-5001;"
                        "server_port=6970-6971;ssrc=1A2b3C4d;mode=\"PLAY\"\r\n"
                        "Session: 0F1E2D;timeout=5\r\n\r\n",
                        &r, &why));
    EXPECT_FALSE(r.multicast);
    EXPECT_EQ(r.serverRtpPort, 6970);
    EXPECT_EQ(r.serverRtcpPort, 6971);
    EXPECT_TRUE(r.ssrcKnown);
    EXPECT_EQ(r.ssrc, 0x1A2B3C4Du);
    EXPECT_EQ(r.sessionId, "0F1E2D");
    EXPECT_EQ(r.sessionTimeout, 5u);
}

TEST(SetupReply, SessionWithoutTimeoutAndTimeoutOnAnotherLine) {
    SetupReply r;
    const char* why = nullptr;
    ASSERT_TRUE(
        ParseSetupReply("RTSP/1.0 200 OK\r\nSession: x\r\n"
                        "Transport: RTP/AVP;unicast;server_port=10-11\r\n"
                        "X-Other: timeout=9\r\n\r\n",
                        &r, &why));
    EXPECT_EQ(r.sessionId, "x");
    EXPECT_EQ(r.sessionTimeout, 0u);
    EXPECT_FALSE(r.ssrcKnown);
}

TEST(SetupReply, NoSessionHeaderLeavesTheIdEmpty) {
    SetupReply r;
    const char* why = nullptr;
    ASSERT_TRUE(ParseSetupReply("RTSP/1.0 200 OK\r\nTransport: RTP/AVP;server_port=10-11\r\n\r\n",
                                &r, &why));
    EXPECT_TRUE(r.sessionId.empty());
}

TEST(SetupReply, MulticastAnswerToUnicastOffer) {
    SetupReply r;
    const char* why = nullptr;
    ASSERT_TRUE(
        ParseSetupReply("RTSP/1.0 200 OK\r\n"
                        "Transport: RTP/AVP;multicast;destination=239.255.1.2;"
                        "client_port=5000-5001;port=5004-5005;ttl=1\r\n"
                        "Session: abc\r\n\r\n",
                        &r, &why));
    EXPECT_TRUE(r.multicast);
    // "port=" of the multicast transport, not the tail of client_port=.
    EXPECT_EQ(r.serverRtpPort, 5004);
    EXPECT_EQ(r.serverRtcpPort, 5005);
    EXPECT_EQ(r.group, Ip("239.255.1.2"));
}

struct BadReply {
    const char* name;
    const char* text;
};

class SetupReplyRefused : public testing::TestWithParam<BadReply> {};

TEST_P(SetupReplyRefused, WithAReason) {
    SetupReply r;
    const char* why = nullptr;
    EXPECT_FALSE(ParseSetupReply(GetParam().text, &r, &why));
    ASSERT_NE(why, nullptr);
    EXPECT_GT(std::string(why).size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(
    SetupReply, SetupReplyRefused,
    testing::Values(
        BadReply{"NoServerPort",
                 "RTSP/1.0 200 OK\r\nTransport: RTP/AVP;unicast;client_port=1-2\r\n\r\n"},
        BadReply{"NoDash", "RTSP/1.0 200 OK\r\nTransport: RTP/AVP;server_port=6970\r\n\r\n"},
        BadReply{"PortTooLarge",
                 "RTSP/1.0 200 OK\r\nTransport: RTP/AVP;server_port=70000-70001\r\n\r\n"},
        BadReply{"PortAtEndOfText", "RTSP/1.0 200 OK\r\nTransport: RTP/AVP;server_port="},
        BadReply{"MulticastWithoutPort",
                 "RTSP/1.0 200 OK\r\nTransport: RTP/AVP;multicast;destination=239.1.1.1\r\n\r\n"},
        BadReply{"MulticastWithoutDestination",
                 "RTSP/1.0 200 OK\r\nTransport: RTP/AVP;multicast;port=5004-5005\r\n\r\n"},
        BadReply{"MulticastDestinationNotAnAddress",
                 "RTSP/1.0 200 OK\r\nTransport: RTP/AVP;multicast;destination=camera.local;"
                 "port=5004-5005\r\n\r\n"},
        BadReply{"MulticastDestinationTooLong",
                 "RTSP/1.0 200 OK\r\nTransport: RTP/AVP;multicast;port=1-2;"
                 "destination=239.255.255.255.255.255"}),
    [](const testing::TestParamInfo<BadReply>& p) { return p.param.name; });

}  // namespace
}  // namespace camvue
