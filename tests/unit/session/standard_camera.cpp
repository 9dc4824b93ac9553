#include "tests/unit/session/standard_camera.h"

namespace camvue::test {

// Parameter sets of a 352x288 baseline stream made by x264.
const char kH264Sdp[] =
    "v=0\r\n"
    "o=- 1 1 IN IP4 127.0.0.1\r\n"
    "s=Session\r\n"
    "t=0 0\r\n"
    "m=video 0 RTP/AVP 96\r\n"
    "c=IN IP4 0.0.0.0\r\n"
    "a=rtpmap:96 H264/90000\r\n"
    "a=fmtp:96 packetization-mode=1;profile-level-id=42c00d;"
    "sprop-parameter-sets=Z0LADdkBYJbARAAAAwAEAAADAMg8UKkg,aMuDyyA=\r\n"
    "a=control:trackID=1\r\n";

std::string StandardSetupReply(FakeCamera& camera, const CameraRequest& request) {
    return FakeCamera::Reply(
        request, "200 OK",
        "Transport: RTP/AVP;unicast;client_port=" + std::to_string(camera.clientRtpPort()) + "-" +
            std::to_string(camera.clientRtcpPort()) + ";server_port=" +
            std::to_string(camera.rtpPort()) + "-" + std::to_string(camera.rtcpPort()) +
            ";ssrc=0A0B0C0D\r\n" + "Session: " + kSessionId + ";timeout=60\r\n");
}

CameraReply StandardReply(FakeCamera& camera, const CameraRequest& request) {
    CameraReply r;
    if (request.method == "OPTIONS") {
        r.text = FakeCamera::Reply(request, "200 OK",
                                   "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n");
    } else if (request.method == "DESCRIBE") {
        r.text =
            FakeCamera::Reply(request, "200 OK", "Content-Type: application/sdp\r\n", kH264Sdp);
    } else if (request.method == "SETUP") {
        r.text = StandardSetupReply(camera, request);
    } else if (request.method == "PLAY") {
        r.text =
            FakeCamera::Reply(request, "200 OK",
                              "RTP-Info: url=" + request.uri + "/trackID=1;seq=1000;rtptime=0\r\n");
    } else if (request.method == "TEARDOWN") {
        r.text = FakeCamera::Reply(request, "200 OK", "Connection: close\r\n");
    } else {
        r.text = FakeCamera::Reply(request, "501 Not Implemented");
    }
    return r;
}

}  // namespace camvue::test
