// Helpers for the SDP tests: replies are handed over in exactly sized heap
// buffers, so the sanitizers see any read past the terminating NUL.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "npcamvue/rtsp/sdp.h"

namespace camvue {
namespace sdp_test {

// The media URL the session builds from rtsp://10.0.0.5:8554/live/ch1: the
// port is never part of it.
constexpr char kBuiltUrl[] = "rtsp://10.0.0.5/live/ch1";

struct SdpResult {
    bool ok = false;
    SessionUrls urls;
    StreamState stream;
};

inline SdpResult Apply(const std::string& reply, const StreamState& before = StreamState(),
                       const std::string& built = kBuiltUrl) {
    SdpResult result;
    result.urls.media = built;
    result.stream = before;
    std::unique_ptr<char[]> copy(new char[reply.size() + 1]);
    std::memcpy(copy.get(), reply.c_str(), reply.size() + 1);
    result.ok = ApplySessionDescription(copy.get(), &result.urls, &result.stream);
    return result;
}

// A 200 reply to DESCRIBE with the given extra headers and SDP body.
inline std::string Describe(const std::string& headers, const std::string& body) {
    return "RTSP/1.0 200 OK\r\nCSeq: 3\r\n" + headers +
           "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

// The session part GStreamer's rtsp-server writes before the media sections.
inline std::string SessionPart() {
    return "v=0\r\no=- 1188340656180883 1 IN IP4 10.0.0.5\r\ns=Session streamed by camera\r\n"
           "t=0 0\r\na=control:*\r\na=range:npt=now-\r\n";
}

inline std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::vector<uint8_t> WithStartCode(const std::vector<uint8_t>& nal) {
    std::vector<uint8_t> out = {0, 0, 0, 1};
    out.insert(out.end(), nal.begin(), nal.end());
    return out;
}

// GStreamer x264enc sets, 640x360 baseline (sprop-parameter-sets of a real
// rtsp-server reply), as base64 and as the NAL units they decode to.
constexpr char kSps640x360[] = "Z0LAHtkAoC/5cBagwMDUoAAAAwAgAAAHkeLFyQ==";
constexpr char kPps[] = "aMuMsg==";
inline std::vector<uint8_t> Sps640x360() {
    return Bytes("6742c01ed900a02ff97016a0c0c0d4a0000003002000000791e2c5c9");
}
inline std::vector<uint8_t> PpsBytes() {
    return Bytes("68cb8cb2");
}

}  // namespace sdp_test
}  // namespace camvue
