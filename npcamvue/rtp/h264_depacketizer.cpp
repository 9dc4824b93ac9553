#include "npcamvue/rtp/h264_depacketizer.h"

#include <algorithm>
#include <new>

#include "npcamvue/rtp/emulation_prevention.h"
#include "npcamvue/rtp/h264_sps.h"
#include "npcamvue/rtp/rbsp_bit_reader.h"

namespace camvue {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
constexpr uint8_t kAccessUnitDelimiter[5] = {0, 0, 1, 9, 0x10};

enum NalType : uint8_t {
    kNalSlice = 1,
    kNalPartitionC = 4,
    kNalIdr = 5,
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
    kNalStapA = 24,
    kNalStapB = 25,
    kNalMtap16 = 26,
    kNalMtap24 = 27,
    kNalFuA = 28,
    kNalFuB = 29,
};

constexpr uint8_t kForbiddenBit = 0x80;
constexpr uint8_t kTypeMask = 0x1F;
constexpr uint8_t kFuStart = 0x80;
constexpr uint8_t kFuEnd = 0x40;
constexpr uint32_t kSliceTypeI = 2;

bool SameSet(const std::vector<uint8_t>& stored, const uint8_t* unit, size_t length) {
    return stored.size() == length + 4 && std::equal(unit, unit + length, stored.begin() + 4);
}

// A type-1 slice that starts the picture (first_mb_in_slice 0) as an I slice
// (slice_type 2 or 7) lets a decoder start here.
bool IsIntraSliceStart(const uint8_t* nal, size_t length) {
    RbspBitReader reader;
    InitRbspBitReader(&reader, nal, length);
    const uint32_t firstMb = RbspUe(&reader);
    const uint32_t sliceType = RbspUe(&reader);
    return !reader.failed && firstMb == 0 && sliceType % 5 == kSliceTypeI;
}

// A slice whose first_mb_in_slice is above 0 continues the picture of the
// slice before it.
bool ContinuesPicture(const uint8_t* nal, size_t length) {
    RbspBitReader reader;
    InitRbspBitReader(&reader, nal, length);
    const uint32_t firstMb = RbspUe(&reader);
    return !reader.failed && firstMb > 0;
}

}  // namespace

void H264Depacketizer::Reset() {
    nalStart_ = true;
    nalType_ = 0;
    pending_ = false;
    pendingSet_.clear();
}

bool H264Depacketizer::Accept(const uint8_t* payload, size_t length) const {
    if (payload == nullptr || length < 1)
        return false;
    const uint8_t type = payload[0] & kTypeMask;
    return (payload[0] & kForbiddenBit) == 0 && type != 0 && type != 30 && type != 31;
}

HandlerResult H264Depacketizer::OnPacket(StreamState& stream, FrameBuffer& frame, uint8_t* payload,
                                         size_t length) {
    nalStart_ = false;
    nalType_ = 0;
    if (!Accept(payload, length))
        return HandlerResult::kDrop;

    size_t skip = 0;
    const uint8_t outer = payload[0] & kTypeMask;
    switch (outer) {
        case kNalStapA:
            return AggregateStapA(stream, frame, payload, length);
        case kNalStapB:
        case kNalMtap16:
        case kNalMtap24:
        case kNalFuB:
            // Interleaved mode: never requested by the client, so never depacketized.
            return HandlerResult::kDrop;
        case kNalFuA:
            // Indicator and FU header; a packet without the FU header is nothing.
            if (length < 2)
                return HandlerResult::kDrop;
            nalType_ = payload[1] & kTypeMask;
            nalStart_ = (payload[1] & kFuStart) != 0;
            if (nalType_ == kNalSps || nalType_ == kNalPps)
                return CollectFragmentedSet(stream, frame, payload, length);
            if (nalStart_) {
                // RFC 6184 FU-A: rebuild the NAL header in place over the FU header
                // (F and NRI from the indicator), so it is copied with the data.
                payload[1] = static_cast<uint8_t>((payload[0] & 0xE0) | (payload[1] & kTypeMask));
                skip = 1;
            } else {
                skip = 2;
            }
            break;
        default:  // 1-23: a single NAL unit
            nalType_ = outer;
            nalStart_ = true;
            break;
    }
    frame.payloadSkip = skip;
    return OnUnit(stream, frame, payload + skip, length - skip, false);
}

HandlerResult H264Depacketizer::OnUnit(StreamState& stream, FrameBuffer& frame, const uint8_t* unit,
                                       size_t length, bool aggregated) {
    bool newUnit = nalType_ != kNalSlice;
    switch (nalType_) {
        case 0:
            if (nalStart_)
                frame.key = true;
            break;
        case kNalIdr:
            if (nalStart_) {
                frame.key = true;
                // Further slices of an IDR picture join it.
                newUnit = !ContinuesPicture(unit, length);
            }
            break;
        case kNalSlice:
            if (nalStart_ && IsIntraSliceStart(unit, length))
                frame.key = true;
            break;
        case 2:
        case 3:
        case kNalPartitionC:
            break;
        case kNalSei:
            return HandlerResult::kDrop;
        case kNalSps:
        case kNalPps:
            // Single NAL units and aggregated ones (FU-A sets were collected
            // before); an aggregated set is stored again only when it changed.
            return StoreSet(stream, unit, length, aggregated) ? HandlerResult::kConsumed
                                                              : HandlerResult::kEnd;
        default:  // 9-31
            return HandlerResult::kDrop;
    }

    if (nalStart_)
        return Compose(stream, frame, newUnit);
    return HandlerResult::kGoOn;
}

HandlerResult H264Depacketizer::Compose(StreamState& stream, FrameBuffer& frame,
                                        bool newUnit) const {
    // Anything but a type-1 slice (or a further slice of an IDR picture)
    // starts the access unit afresh.
    if (newUnit)
        frame.length = 0;
    frame.content = true;
    if (frame.key) {
        bool ok = true;
        if (!stream.sps.empty() && !stream.pps.empty()) {
            ok = frame.Append(stream.sps.data(), stream.sps.size()) &&
                 frame.Append(stream.pps.data(), stream.pps.size());
        } else if (!stream.config.empty()) {
            ok = frame.Append(stream.config.data(), stream.config.size());
        }
        if (!ok)
            return HandlerResult::kEnd;
    }
    if (!frame.Append(kStartCode, sizeof kStartCode))
        return HandlerResult::kEnd;
    return HandlerResult::kGoOn;
}

HandlerResult H264Depacketizer::AggregateStapA(StreamState& stream, FrameBuffer& frame,
                                               const uint8_t* payload, size_t length) {
    // RFC 6184 STAP-A: aggregation units of a 16-bit size and a NAL unit,
    // each taken as a single NAL unit would be (same filters, same
    // composition), in order. A malformed size ends the packet there.
    bool appended = false;
    size_t pos = 1;
    while (length - pos >= 2) {
        const size_t size = (size_t(payload[pos]) << 8) | payload[pos + 1];
        pos += 2;
        if (size == 0 || size > length - pos)
            break;
        const uint8_t* unit = payload + pos;
        pos += size;
        if (!Accept(unit, size))
            continue;
        nalType_ = unit[0] & kTypeMask;
        nalStart_ = true;
        const HandlerResult result = OnUnit(stream, frame, unit, size, true);
        if (result == HandlerResult::kEnd)
            return HandlerResult::kEnd;
        if (result != HandlerResult::kGoOn)
            continue;
        // The assembler's bound: room stays for the delimiter at delivery.
        if (frame.length > frame.capacity || kTrailerRoom > frame.capacity - frame.length ||
            size > frame.capacity - frame.length - kTrailerRoom || !frame.Append(unit, size))
            return HandlerResult::kEnd;
        appended = true;
    }
    if (!appended) {
        // Parameter sets (or nothing usable) only: the frame is untouched.
        nalStart_ = false;
        nalType_ = 0;
        return HandlerResult::kConsumed;
    }
    return HandlerResult::kAppended;
}

HandlerResult H264Depacketizer::CollectFragmentedSet(StreamState& stream, const FrameBuffer& frame,
                                                     const uint8_t* payload, size_t length) {
    const bool end = (payload[1] & kFuEnd) != 0;
    try {
        if (nalStart_) {
            pendingSet_.clear();
            pendingSet_.push_back(static_cast<uint8_t>((payload[0] & 0xE0) | nalType_));
            pending_ = true;
            pendingType_ = nalType_;
            pendingGaps_ = frame.gaps;
        } else if (!pending_ || pendingType_ != nalType_ || pendingGaps_ != frame.gaps) {
            // The start, or a fragment in between, never arrived.
            pending_ = false;
            return HandlerResult::kConsumed;
        }
        if (length - 2 > kMaxFragmentedSet - pendingSet_.size()) {
            pending_ = false;
            return HandlerResult::kConsumed;
        }
        pendingSet_.insert(pendingSet_.end(), payload + 2, payload + length);
    } catch (const std::bad_alloc&) {
        return HandlerResult::kEnd;
    }
    if (!end)
        return HandlerResult::kConsumed;
    pending_ = false;
    return StoreSet(stream, pendingSet_.data(), pendingSet_.size(), false)
               ? HandlerResult::kConsumed
               : HandlerResult::kEnd;
}

bool H264Depacketizer::StoreSet(StreamState& stream, const uint8_t* unit, size_t length,
                                bool onlyWhenChanged) {
    const bool sps = (unit[0] & kTypeMask) == kNalSps;
    std::vector<uint8_t>& stored = sps ? stream.sps : stream.pps;
    if (onlyWhenChanged && SameSet(stored, unit, length))
        return true;
    try {
        if (!SameSet(stored, unit, length)) {
            stored.assign(kStartCode, kStartCode + sizeof kStartCode);
            stored.insert(stored.end(), unit, unit + length);
        }
        if (sps) {
            stream.spsFound = true;
            // The stored set keeps the bytes as received; the parse works on a copy.
            rbsp_.assign(unit, unit + length);
        } else {
            stream.ppsFound = true;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!sps || length > static_cast<size_t>(INT32_MAX))
        return true;
    const int rbspLength = RemoveEmulationPrevention(static_cast<int>(length), rbsp_.data());
    if (rbspLength < 0)
        return true;
    RbspBitReader reader;
    InitRbspBitReader(&reader, rbsp_.data(), static_cast<size_t>(rbspLength));
    ParseSps(&reader, &stream.spsInfo);
    if (stream.spsInfo.valid)
        SpsPictureSize(stream.spsInfo, &stream.picture.width, &stream.picture.height);
    return true;
}

void H264Depacketizer::AppendTrailer(FrameBuffer& frame) {
    if (!frame.Append(kAccessUnitDelimiter, sizeof kAccessUnitDelimiter))
        return;
    const uint8_t zero = 0;
    while (frame.length % 8 != 0 && frame.Append(&zero, 1)) {
    }
}

}  // namespace camvue
