#include "npcamvue/rtsp/requests.h"

#include <gtest/gtest.h>

namespace camvue {
namespace {

struct RequestCase {
    const char* name;
    std::string text;
    const char* expected;
};

class RequestTexts : public testing::TestWithParam<RequestCase> {};

TEST_P(RequestTexts, MatchByteForByte) {
    EXPECT_EQ(GetParam().text, GetParam().expected);
}

const char kUrl[] = "rtsp://10.0.0.5/live/ch1";
const char kAuth[] = "\r\nAuthorization: Basic dXNlcjpwdw==";

INSTANTIATE_TEST_SUITE_P(
    Session, RequestTexts,
    testing::Values(
        RequestCase{"Options", BuildOptions(kUrl, 1),
                    "OPTIONS rtsp://10.0.0.5/live/ch1 RTSP/1.0\r\nCSeq: 1\r\n"
                    "User-Agent: CorvinaVideo\r\nAccept: application/sdp\r\n\r\n"},
        RequestCase{"Describe", BuildDescribe(kUrl, 2, ""),
                    "DESCRIBE rtsp://10.0.0.5/live/ch1 RTSP/1.0\r\nCSeq: 2\r\n"
                    "User-Agent: CorvinaVideo\r\nAccept: application/sdp\r\n\r\n"},
        RequestCase{"DescribeWithCredentials", BuildDescribe(kUrl, 3, kAuth),
                    "DESCRIBE rtsp://10.0.0.5/live/ch1 RTSP/1.0\r\nCSeq: 3\r\n"
                    "User-Agent: CorvinaVideo\r\nAccept: application/sdp\r\n"
                    "Authorization: Basic dXNlcjpwdw==\r\n\r\n"},
        RequestCase{"Setup",
                    BuildSetup(std::string(kUrl) + "/trackID=1", 4,
                               "\r\nTransport: RTP/AVP;unicast;client_port=5000-5001", ""),
                    "SETUP rtsp://10.0.0.5/live/ch1/trackID=1 RTSP/1.0\r\nCSeq: 4\r\n"
                    "User-Agent: LibVLC/1.1.11 (LIVE555 Streaming Media v2011.05.25)\r\n"
                    "Transport: RTP/AVP;unicast;client_port=5000-5001\r\n\r\n"},
        RequestCase{"PlayWithoutSession", BuildPlay(kUrl, "", 5, ""),
                    "PLAY rtsp://10.0.0.5/live/ch1 RTSP/1.0\r\nSession: 0\r\n"
                    "Range: npt=0.000-\r\nCSeq: 5\r\n\r\n"},
        RequestCase{"PlayWithAuth", BuildPlay(kUrl, "ABC", 6, kAuth),
                    "PLAY rtsp://10.0.0.5/live/ch1 RTSP/1.0\r\nSession: ABC\r\n"
                    "Range: npt=0.000-\r\nCSeq: 6\r\nAuthorization: Basic dXNlcjpwdw==\r\n\r\n"},
        RequestCase{
            "Teardown", BuildTeardown(kUrl, "ABC", 7, ""),
            "TEARDOWN rtsp://10.0.0.5/live/ch1 RTSP/1.0\r\nSession: ABC\r\nCSeq: 7\r\n\r\n"},
        RequestCase{"KeepAliveUsesThePathAlone", BuildKeepAlive("/live/ch1", 4294967295u, "ABC"),
                    "OPTIONS /live/ch1 RTSP/1.0\r\nCSeq: 4294967295\r\nSession: ABC\r\n"
                    "User-Agent: CorvinaVideo\r\nAccept: application/sdp\r\n\r\n"}),
    [](const testing::TestParamInfo<RequestCase>& p) { return p.param.name; });

}  // namespace
}  // namespace camvue
