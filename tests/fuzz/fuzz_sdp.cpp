// DESCRIBE replies of any content: the SDP reading (with a fresh and with a
// stale stream record) and the H.264 picture size from its parameter sets;
// the same bytes as a configured address for ParseRtspUrl.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "npcamvue/rtsp/rtsp_url.h"
#include "npcamvue/rtsp/sdp.h"

namespace {

using namespace camvue;

void Check(bool condition) {
    if (!condition)
        std::abort();
}

constexpr char kBuilt[] = "rtsp://10.0.0.5/live/ch1";

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool StartsWithStartCode(const std::vector<uint8_t>& unit, uint8_t type) {
    return unit.size() > 4 && unit[0] == 0 && unit[1] == 0 && unit[2] == 0 && unit[3] == 1 &&
           (unit[4] & 0x1F) == type;
}

void ReadAndCheck(const char* reply, const StreamState& before) {
    SessionUrls urls;
    urls.media = kBuilt;
    StreamState stream = before;
    Check(ApplySessionDescription(reply, &urls, &stream));
    ReadConfigPictureSize(&stream);

    Check(stream.payloadType <= 127 || stream.payloadType == before.payloadType);
    Check(stream.clockRate >= 0);
    Check(stream.codec == kCodecNone || stream.codec == kCodecJpeg || stream.codec == kCodecH264 ||
          stream.codec == kCodecMpeg4);
    Check(stream.spsFound == !stream.sps.empty());
    Check(stream.ppsFound == !stream.pps.empty());
    Check(!stream.spsFound || StartsWithStartCode(stream.sps, 7));
    Check(!stream.ppsFound || StartsWithStartCode(stream.pps, 8));
    Check(stream.config.size() >= stream.sps.size() + stream.pps.size());
    // URLs go into request lines: never a line break in them.
    Check(!urls.aggregate.empty() && !HasLineBreak(urls.aggregate) && !HasLineBreak(urls.media));
    Check(urls.media.compare(0, urls.aggregate.size(), urls.aggregate) == 0 ||
          urls.media.find("://") != std::string::npos);
}

void ParseAddress(const char* text) {
    RtspUrl url;
    if (!ParseRtspUrl(text, &url))
        return;
    Check(!url.host.empty() && url.host.size() <= kMaxHostLength);
    Check(url.port != 0);
    Check(url.path.empty() || url.path[0] == '/');
    Check(url.hasPassword ? url.hasUser : url.password.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exactly sized, NUL-terminated copy, like the reply buffer.
    std::unique_ptr<char[]> buffer(new char[size + 1]);
    if (size > 0)
        std::memcpy(buffer.get(), data, size);
    buffer[size] = '\0';

    ReadAndCheck(buffer.get(), StreamState());

    StreamState stale;
    stale.payloadType = 96;
    stale.clockRate = 90000;
    stale.codec = kCodecH264;
    stale.config = {0, 0, 0, 1, 0x67, 0x42, 0, 0x1E, 0, 0, 0, 1, 0x68, 0xCE};
    stale.sps = {0, 0, 0, 1, 0x67, 0x42, 0, 0x1E};
    stale.pps = {0, 0, 0, 1, 0x68, 0xCE};
    stale.spsFound = true;
    stale.ppsFound = true;
    stale.picture.width = 1920;
    stale.picture.height = 1080;
    ReadAndCheck(buffer.get(), stale);

    ParseAddress(buffer.get());
    return 0;
}
