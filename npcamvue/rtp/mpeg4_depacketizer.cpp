#include "npcamvue/rtp/mpeg4_depacketizer.h"

#include <new>

#include "npcamvue/rtp/mpeg4_config.h"

namespace camvue {
namespace {

constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kVisualObjectSequenceEnd = 0xB1;
constexpr uint8_t kVop = 0xB6;
// A start code and at least one byte after it.
constexpr size_t kScanTail = 5;

bool IsStartCodePrefix(const uint8_t* b) {
    return b[0] == 0 && b[1] == 0 && b[2] == 1;
}

bool IsVolCode(uint8_t code) {
    return (code & 0xF0) == 0x20;
}

bool IsSequenceCode(uint8_t code) {
    return code == kVisualObjectSequence || code == kVisualObjectSequenceEnd;
}

// First start code at or after `from` whose code is not a sequence start or
// end; `length` when there is none.
size_t FindAfterSequenceCodes(const uint8_t* bytes, size_t length, size_t from) {
    for (size_t i = from; length >= kScanTail && i <= length - kScanTail; ++i) {
        if (IsStartCodePrefix(bytes + i) && !IsSequenceCode(bytes[i + 3]))
            return i;
    }
    return length;
}

}  // namespace

Mpeg4VopInfo IsMpeg4IntraVop(const uint8_t* bytes, size_t length) {
    Mpeg4VopInfo info;
    if (bytes == nullptr)
        return info;
    for (size_t i = 0; length >= kScanTail && i <= length - kScanTail; ++i) {
        if (IsStartCodePrefix(bytes + i) && bytes[i + 3] == kVop) {
            info.found = true;
            info.intra = (bytes[i + 4] >> 6) == 0;
            info.offset = i;
            break;
        }
    }
    return info;
}

void Mpeg4FrameInfo(StreamState& stream, FrameBuffer& frame) {
    const size_t at = FindMpeg4StartCode(frame.data, frame.length, 0);
    // Not a short video header, and the code byte is there.
    if (at >= frame.length || frame.length - at < 4 || frame.data[at + 2] != 1)
        return;
    const uint8_t* code = frame.data + at;
    const size_t rest = frame.length - at;
    if (IsVolCode(code[3])) {
        Mpeg4VolInfo vol;
        ParseMpeg4Vol(code, rest, &vol);
        ApplyMpeg4Vol(vol, &stream.picture);
    } else if (code[3] == kVop) {
        const Mpeg4VopInfo vop = IsMpeg4IntraVop(code, rest);
        if (vop.found)
            frame.key = vop.intra;
    }
}

HandlerResult Mpeg4Depacketizer::OnPacket(StreamState& stream, FrameBuffer& frame, uint8_t* payload,
                                          size_t length) {
    frame.content = true;
    frame.payloadSkip = 0;
    if (payload == nullptr || length < 3 || !IsStartCodePrefix(payload))
        return HandlerResult::kGoOn;

    // Configuration headers: from the first start code after the sequence
    // codes, read the VOL; the bytes up to the start code after the VOL are the
    // new config bytes. Only the VOL and what follows enter the frame.
    size_t reached = 0;
    if (length >= 4 && IsSequenceCode(payload[3])) {
        const size_t from = FindAfterSequenceCodes(payload, length, 4);
        if (from >= length)
            return HandlerResult::kDrop;
        reached = from;
        Mpeg4VolInfo vol;
        ParseMpeg4Vol(payload + from, length - from, &vol);
        const size_t volAt = from + vol.startCodeOffset;
        if (length - volAt >= 4 && IsStartCodePrefix(payload + volAt) &&
            IsVolCode(payload[volAt + 3]))
            reached = volAt;
        if (vol.ok) {
            ApplyMpeg4Vol(vol, &stream.picture);
            const size_t next = FindMpeg4StartCode(payload, length, volAt + 3);
            if (next < length) {
                try {
                    stream.config.assign(payload, payload + next);
                } catch (const std::bad_alloc&) {
                    return HandlerResult::kEnd;
                }
            }
        }
        frame.payloadSkip = reached;
    }

    const Mpeg4VopInfo vop = IsMpeg4IntraVop(payload + reached, length - reached);
    if (vop.found) {
        frame.payloadSkip = 0;
        frame.key = vop.intra;
        if (vop.intra && !stream.config.empty() &&
            !frame.Append(stream.config.data(), stream.config.size()))
            return HandlerResult::kEnd;
    }
    return HandlerResult::kGoOn;
}

}  // namespace camvue
