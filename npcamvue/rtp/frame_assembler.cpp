#include "npcamvue/rtp/frame_assembler.h"

#include <cstring>
#include <new>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtp/rtp_header.h"

namespace camvue {

void RtpFrameAssembler::Reset(StreamState& /*stream*/) {
    if (!buffer_)
        buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
    frame_ = FrameBuffer{};
    frame_.data = buffer_.get();
    frame_.capacity = buffer_ ? kBufferSize : 0;
    h264_.Reset();
    jpeg_.Reset();
    mpeg4_.Reset();
    other_.Reset();
    presentation_.Clear();
    lastAccepted_ = -1;
    receivedSequence_ = 0;
    packetCounter_ = 1;
}

PayloadHandler& RtpFrameAssembler::HandlerFor(const StreamState& stream) {
    switch (stream.codec) {
        case kCodecH264:
            return h264_;
        case kCodecJpeg:
            return jpeg_;
        case kCodecMpeg4:
            return mpeg4_;
        default:
            return other_;
    }
}

uint64_t RtpFrameAssembler::Now() {
    if (!nowRead_) {
        now_ = clock_ != nullptr ? clock_() : SystemFileTime();
        nowRead_ = true;
    }
    return now_;
}

uint64_t RtpFrameAssembler::ArrivalTime(StreamState& stream) {
    if (stream.firstDatagramTime != 0) {
        const uint64_t first = stream.firstDatagramTime;
        stream.firstDatagramTime = 0;
        return first;
    }
    return Now();
}

void RtpFrameAssembler::EmptyFrame() {
    frame_.key = false;
    frame_.length = 0;
    frame_.content = false;
}

PushResult RtpFrameAssembler::PushPacket(StreamState& stream, uint8_t* data, size_t length) {
    if (!buffer_)
        return PushResult::kEnd;
    nowRead_ = false;

    RtpHeader header;
    switch (ParseRtpHeader(data, length, &header)) {
        case RtpHeaderStatus::kNotVersion2:
            return PushResult::kEnd;
        case RtpHeaderStatus::kShort:
            return PushResult::kDropped;
        case RtpHeaderStatus::kOk:
            break;
    }

    // Time base from the first packet (with a known clock rate).
    if (presentation_.NeedsTimeBase() && stream.clockRate > 0)
        presentation_.SetTimeBase(ArrivalTime(stream), stream.clockRate);

    if (header.ssrc != stream.lastSsrc) {
        stream.lastSsrc = header.ssrc;
        presentation_.RetakeReference();
    }
    receivedSequence_ = header.sequence;

    // Payload type: learned from the first packet when the description gave
    // none. Packets of another type share the sequence space: step past them.
    if (stream.payloadType == 0)
        stream.payloadType = header.payloadType;
    if (header.payloadType != stream.payloadType) {
        ++stream.expectedSequence;
        return PushResult::kDropped;
    }
    if (stream.payloadType == kJpegPayloadType)
        stream.codec = kCodecJpeg;

    // Sequence: the first packet (of the loop, or after a gap) sets the
    // expectation; a repeat of the last number is ignored; anything else out
    // of order is a gap that costs the frame under assembly and this packet.
    if (lastAccepted_ < 0)
        stream.expectedSequence = header.sequence;
    if (header.sequence != stream.expectedSequence) {
        if (static_cast<int32_t>(header.sequence) == lastAccepted_)
            return PushResult::kDropped;
        lastAccepted_ = -1;
        frame_.loss = true;
        frame_.started = false;
        ++frame_.gaps;
        EmptyFrame();
        stream.expectedSequence = static_cast<uint16_t>(header.sequence + 1);
        return PushResult::kDropped;
    }
    ++packetCounter_;
    stream.expectedSequence = static_cast<uint16_t>(header.sequence + 1);
    lastAccepted_ = header.sequence;

    // Nothing after the headers and the padding (or headers that pass the
    // end of the datagram): not a stream this loop can follow.
    if (header.payloadLength == 0)
        return PushResult::kEnd;
    uint8_t* payload = data + header.payloadOffset;
    PayloadHandler& handler = HandlerFor(stream);
    if (!handler.Accept(payload, header.payloadLength))
        return PushResult::kDropped;

    frame_.payloadSkip = 0;
    bool appended = false;
    switch (handler.OnPacket(stream, frame_, payload, header.payloadLength)) {
        case HandlerResult::kGoOn:
            break;
        case HandlerResult::kAppended:
            appended = true;
            break;
        case HandlerResult::kDrop:
        case HandlerResult::kConsumed:
            return PushResult::kDropped;
        case HandlerResult::kEnd:
            return PushResult::kEnd;
    }

    // Append, keeping room for the bytes the handler adds at delivery.
    if (!appended) {
        if (frame_.payloadSkip >= header.payloadLength)
            return PushResult::kEnd;
        const size_t count = header.payloadLength - frame_.payloadSkip;
        const size_t room = handler.TrailerRoom();
        if (frame_.length > frame_.capacity || room > frame_.capacity - frame_.length ||
            count > frame_.capacity - frame_.length - room)
            return PushResult::kEnd;
        std::memcpy(frame_.data + frame_.length, payload + frame_.payloadSkip, count);
        frame_.length += count;
    }

    if (!header.marker)
        return PushResult::kTaken;

    // Frame end: delivered from the first key frame on.
    handler.OnFrameEnd(stream, frame_);
    frame_.loss = false;
    if (!frame_.key && !frame_.started) {
        EmptyFrame();
        return PushResult::kTaken;
    }
    if (frame_.key)
        frame_.started = true;
    if (callback_ == nullptr) {
        EmptyFrame();
        return PushResult::kTaken;
    }
    Deliver(stream, handler, header.timestamp);
    return PushResult::kTaken;
}

void RtpFrameAssembler::Deliver(StreamState& stream, PayloadHandler& handler, uint32_t timestamp) {
    handler.AppendTrailer(frame_);
    const uint64_t pts = presentation_.Deliver(timestamp, stream.clockRate,
                                               stream.clockRate > 0 ? 0 : ArrivalTime(stream));
    if (frame_.content) {
        descriptor_ = FrameDescriptor{};
        descriptor_.userData = userData_;
        descriptor_.data = frame_.data;
        descriptor_.length = static_cast<uint32_t>(frame_.length);
        descriptor_.key = frame_.key ? 1 : 0;
        descriptor_.width = stream.picture.width;
        descriptor_.height = stream.picture.height;
        descriptor_.ptsLow = static_cast<uint32_t>(pts);
        descriptor_.ptsHigh = static_cast<uint32_t>(pts >> 32);
        descriptor_.codecKind = handler.kind();
        descriptor_.packetsLow = static_cast<uint32_t>(packetCounter_);
        descriptor_.packetsHigh = static_cast<uint32_t>(packetCounter_ >> 32);
        callback_(&descriptor_, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    }
    EmptyFrame();
}

}  // namespace camvue
