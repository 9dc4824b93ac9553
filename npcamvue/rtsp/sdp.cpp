#include "npcamvue/rtsp/sdp.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "npcamvue/rtp/mpeg4_config.h"
#include "npcamvue/rtp/parameter_sets.h"
#include "npcamvue/rtsp/base64.h"
#include "npcamvue/rtsp/decimal_text.h"
#include "npcamvue/rtsp/reply_text.h"
#include "npcamvue/rtsp/text_scan.h"

namespace camvue {
namespace {

constexpr uint32_t kJpegPayloadType = 26;  // RFC 3551 static payload type
constexpr uint32_t kMaxPayloadType = 127;  // RFC 3550: a 7-bit field
constexpr uint8_t kNalTypeSps = 7;
constexpr uint8_t kNalTypePps = 8;
constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Drops trailing blanks: a URL with a space in it would break the request line.
const char* TrimBlanksBack(const char* begin, const char* end) {
    while (end > begin && IsBlank(end[-1]))
        --end;
    return end;
}

// RFC 4566: a line is "<type>=<value>", so "m=video" counts only at the start
// of a line (not inside "a=control:stream=video"). Case is ignored.
const char* FindAtLineStart(const char* text, const char* key) {
    for (const char* p = text; (p = FindNoCase(p, key)) != nullptr; ++p) {
        if (p == text || IsLineEnd(p[-1]))
            return p;
    }
    return nullptr;
}

// The video media section: from its "m=video" line to the next "m=" line or
// the end of the reply. Media-level attributes of other sections (an audio
// track's a=control or config=) must not be taken for the video's.
std::string VideoSection(const char* video) {
    const char* lineEnd = video;
    while (*lineEnd != '\0' && !IsLineEnd(*lineEnd))
        ++lineEnd;
    const char* next = FindAtLineStart(lineEnd, "m=");
    return next == nullptr ? std::string(video) : std::string(video, next);
}

// Content-Base. Its value ends at the first byte outside 0x20-0x7F;
// one that runs to the end of the buffer was cut off and is not used.
void ApplyContentBase(const char* text, std::string* media) {
    const char* value = FindHeaderValue("Content-Base:", text, nullptr, nullptr);
    if (value == nullptr)
        return;
    const char* end = value;
    while (static_cast<unsigned char>(*end) >= 0x20 && static_cast<unsigned char>(*end) <= 0x7F)
        ++end;
    if (*end == '\0')
        return;
    end = TrimBlanksBack(value, end);
    if (end > value)
        media->assign(value, end);
}

// The first number after "RTP/AVP " on the m=video line. A missing,
// overflowing or above-127 number leaves the old payload type.
void ReadPayloadType(const char* videoLine, uint32_t* payloadType) {
    static const char kProfile[] = "RTP/AVP ";
    const char* lineEnd = videoLine;
    while (*lineEnd != '\0' && !IsLineEnd(*lineEnd))
        ++lineEnd;
    const size_t profileLength = sizeof(kProfile) - 1;
    for (const char* p = videoLine; static_cast<size_t>(lineEnd - p) >= profileLength; ++p) {
        if (std::memcmp(p, kProfile, profileLength) != 0)
            continue;
        const char* number = p + profileLength;
        while (number < lineEnd && IsBlank(*number))
            ++number;
        uint32_t value = 0;
        if (ReadDecimal(number, static_cast<size_t>(lineEnd - number), kMaxPayloadType, &value,
                        nullptr)) {
            *payloadType = value;
        }
        return;
    }
}

// "a=rtpmap:<pt>" in `from`, not followed by another digit
// (the key for 9 must not take the line of 96). Returns the value (blanks
// skipped, up to CR/LF, ";" or ",") and its length, or null.
const char* FindRtpmap(const char* from, uint32_t payloadType, int* length) {
    const std::string key = "a=rtpmap:" + std::to_string(payloadType);
    for (const char* p = from; (p = FindNoCase(p, key.c_str())) != nullptr; ++p) {
        if (!IsDigit(p[key.size()]))
            return FindHeaderValue(key.c_str(), p, nullptr, length);
    }
    return nullptr;
}

// Clock rate: the decimal number after the first "/" of the rtpmap value; 0
// when there is none or it does not fit a signed 32-bit value.
int32_t ReadClockRate(const char* value, int length) {
    const char* end = value + length;
    const char* slash =
        static_cast<const char*>(std::memchr(value, '/', static_cast<size_t>(length)));
    if (slash == nullptr)
        return 0;
    const char* number = slash + 1;
    uint32_t rate = 0;
    if (!ReadDecimal(number, static_cast<size_t>(end - number), INT32_MAX, &rate, nullptr))
        return 0;
    return static_cast<int32_t>(rate);
}

enum class ConfigResult { kAbsent, kUsed };

// MPEG-4: the run of hex digits at the start of the "config="
// value (it ends at the first other character). A run that is empty or odd
// counts as no config, so the encoding name still decides. Decoded bytes
// that IsMpeg4Config refuses stay stored without a codec kind; accepted ones
// whose VOL header does not parse are dropped.
ConfigResult ReadMpeg4Config(const char* from, StreamState* stream) {
    int length = 0;
    const char* value = FindHeaderValue("config=", from, nullptr, &length);
    if (value == nullptr)
        return ConfigResult::kAbsent;
    size_t digits = 0;
    while (digits < static_cast<size_t>(length) && HexDigitValue(value[digits]) >= 0)
        ++digits;
    if (digits < 2 || digits % 2 != 0)
        return ConfigResult::kAbsent;
    std::vector<uint8_t> bytes(digits / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(HexDigitValue(value[2 * i]) * 16 +
                                        HexDigitValue(value[2 * i + 1]));
    }
    if (!IsMpeg4Config(bytes.data(), bytes.size())) {
        stream->config = std::move(bytes);
        return ConfigResult::kUsed;
    }
    Mpeg4VolInfo vol;
    if (ParseMpeg4Vol(bytes.data(), bytes.size(), &vol)) {
        ApplyMpeg4Vol(vol, &stream->picture);
        stream->config = std::move(bytes);
        stream->codec = kCodecMpeg4;
    }
    return ConfigResult::kUsed;
}

// The encoding name, searched from the rtpmap value to the end of the
// reply (not only its line); "config=" is looked for in the video section.
void ReadCodec(const char* rtpmapValue, const char* section, StreamState* stream) {
    if (std::strstr(rtpmapValue, "H264") != nullptr ||
        std::strstr(rtpmapValue, "h264") != nullptr) {
        stream->codec = kCodecH264;
        return;
    }
    if (ReadMpeg4Config(section, stream) == ConfigResult::kUsed)
        return;
    if (std::strstr(rtpmapValue, "MP4V") != nullptr ||
        std::strstr(rtpmapValue, "mp4v") != nullptr) {
        stream->codec = kCodecMpeg4;
    }
}

// The control value joined to the aggregate URL.
void ApplyControl(const char* from, SessionUrls* urls) {
    int length = 0;
    const char* value = FindHeaderValue("a=control:", from, nullptr, &length);
    const char* end = value == nullptr ? nullptr : TrimBlanksBack(value, value + length);
    if (value == nullptr || end == value) {
        urls->media = urls->aggregate;
        return;
    }
    const std::string control(value, end);
    if (control.find("://") != std::string::npos) {
        urls->media = control;
        return;
    }
    urls->media = urls->aggregate;
    if (urls->media.empty() || urls->media.back() != '/')
        urls->media += '/';
    urls->media += control;
}

// Decodes one base64 item behind a start code at the end of the config bytes
// and keeps it as the SPS or PPS by its NAL unit type. Returns false when the
// decode fails (the scan then ends); an item with no bytes is passed over.
bool AppendParameterSet(const char* item, size_t length, StreamState* stream) {
    size_t decoded = 0;
    Base64Decode(item, length, nullptr, 0, &decoded);
    if (decoded == 0)
        return true;  // an empty item ("a,,b" or a trailing comma) holds no NAL unit
    std::vector<uint8_t>& config = stream->config;
    const size_t start = config.size();
    config.insert(config.end(), kStartCode, kStartCode + sizeof(kStartCode));
    config.resize(start + sizeof(kStartCode) + decoded);
    size_t written = 0;
    if (!Base64Decode(item, length, config.data() + start + sizeof(kStartCode), decoded,
                      &written) ||
        written != decoded) {
        config.resize(start);
        return false;
    }
    const uint8_t type = config[start + sizeof(kStartCode)] & 0x1F;
    if (type == kNalTypeSps) {
        stream->sps.assign(config.begin() + static_cast<std::ptrdiff_t>(start), config.end());
        stream->spsFound = true;
    } else if (type == kNalTypePps) {
        stream->pps.assign(config.begin() + static_cast<std::ptrdiff_t>(start), config.end());
        stream->ppsFound = true;
    }
    return true;
}

// RFC 6184 sprop-parameter-sets, a comma-separated list of base64
// parameter sets running to ";" or the end of the line (or of the reply).
void ReadParameterSets(const char* from, StreamState* stream) {
    const char* value = FindHeaderValue("sprop-parameter-sets=", from, nullptr, nullptr);
    if (value == nullptr)
        return;
    const char* end = value;
    while (*end != '\0' && *end != ';' && !IsLineEnd(*end))
        ++end;
    const char* item = value;
    while (item < end && !(stream->spsFound && stream->ppsFound)) {
        const char* comma = item;
        while (comma < end && *comma != ',')
            ++comma;
        if (!AppendParameterSet(item, static_cast<size_t>(comma - item), stream))
            return;
        item = comma + 1;
    }
}

}  // namespace

bool ApplySessionDescription(const char* reply, SessionUrls* urls, StreamState* stream) {
    if (urls == nullptr || stream == nullptr)
        return false;
    const char* text = reply == nullptr ? "" : reply;
    try {
        stream->clockRate = 0;
        stream->codec = kCodecNone;
        stream->ClearConfig();

        ApplyContentBase(text, &urls->media);
        urls->aggregate = urls->media;

        // Attributes are searched in the video section; without an
        // "m=video" line, in the whole reply (the payload type then stays).
        const char* video = FindAtLineStart(text, "m=video");
        if (video != nullptr)
            ReadPayloadType(video, &stream->payloadType);
        const char* from = video != nullptr ? video : text;
        const std::string section = video != nullptr ? VideoSection(video) : std::string(text);

        int rtpmapLength = 0;
        const char* rtpmap = FindRtpmap(section.c_str(), stream->payloadType, &rtpmapLength);
        if (rtpmap != nullptr) {
            stream->clockRate = ReadClockRate(rtpmap, rtpmapLength);
            // The same place in the reply itself, for the name search.
            const char* rtpmapInReply = from + (rtpmap - section.c_str());
            ReadCodec(rtpmapInReply, section.c_str(), stream);
        }

        ApplyControl(section.c_str(), urls);

        // RFC 3551: payload type 26 is JPEG whatever the rtpmap says.
        if (stream->payloadType == kJpegPayloadType)
            stream->codec = kCodecJpeg;

        ReadParameterSets(section.c_str(), stream);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void ReadConfigPictureSize(StreamState* stream) {
    if (stream == nullptr || stream->codec != kCodecH264 || stream->config.empty())
        return;
    ScanParameterSets(stream->config.data(), stream->config.size(), &stream->spsInfo,
                      &stream->picture);
}

}  // namespace camvue
