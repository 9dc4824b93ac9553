// Frame assembly over arbitrary packet sequences. The input starts with a
// session description (16-bit length, then its text) that sets payload type,
// clock rate, codec and configuration; then come packets, each a kind byte, a
// 16-bit length and that many bytes:
//   kind 0xFE         a new receive loop (Reset), no bytes follow
//   kind bit 0 clear  the bytes are a whole datagram
//   kind bit 0 set    the bytes are a payload behind a well-formed header:
//                     bit 1 marker, bit 2 skip a sequence number, bit 3 keep
//                     the timestamp, bit 4 the other SSRC, bit 5 payload
//                     type + 1.
// The same packets run with the description's codec, then as H.264, JPEG and
// MPEG-4, and with payload type 0 (learned from the first packet). Every
// delivered frame is checked against the descriptor rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "npcamvue/rtp/frame_assembler.h"
#include "npcamvue/rtsp/sdp.h"

namespace {

using namespace camvue;

void Check(bool condition) {
    if (!condition)
        std::abort();
}

struct Context {
    const StreamState* stream = nullptr;
    size_t frames = 0;
};

uint64_t FixedClock() {
    return 133500000000000000ull;
}

int OnFrame(FrameDescriptor* d, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4,
            uintptr_t a5, uintptr_t a6, uintptr_t a7, uintptr_t a8, uintptr_t a9, uintptr_t a10,
            uintptr_t a11, uintptr_t a12) {
    Check((a1 | a2 | a3 | a4 | a5 | a6 | a7 | a8 | a9 | a10 | a11 | a12) == 0);
    Check(d != nullptr && d->userData != nullptr);
    auto* context = static_cast<Context*>(d->userData);
    Check(d->data != nullptr);
    Check(d->length <= RtpFrameAssembler::kBufferSize);
    Check(d->codecKind >= 1 && d->codecKind <= 3);
    Check(d->key <= 1);
    Check(d->reserved4 == 0 && d->zero5 == 0 && d->zero6 == 0 && d->unused9 == 0 &&
          d->reserved12 == 0);
    const StreamState& stream = *context->stream;
    Check(d->width == stream.picture.width && d->height == stream.picture.height);
    switch (stream.codec) {
        case kCodecH264:
            Check(d->codecKind == 2);
            // Access unit delimiter and zero bytes to a multiple of 8.
            Check(d->length % 8 == 0 && d->length >= 8);
            break;
        case kCodecJpeg:
            Check(d->codecKind == 1);
            break;
        default:
            Check(d->codecKind == 3);
            break;
    }
    // Every byte must be readable.
    unsigned sum = 0;
    for (uint32_t i = 0; i < d->length; ++i)
        sum += d->data[i];
    Check(sum != 0xFFFFFFFFu);
    ++context->frames;
    return 0;
}

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void Run(const StreamState& described, uint8_t headerType, const uint8_t* data, size_t size) {
    StreamState stream = described;
    Context context;
    context.stream = &stream;
    // One assembler for every run, as the session keeps one across receive
    // loops: its 3 MiB buffer is allocated once.
    static RtpFrameAssembler assembler;
    assembler.SetCallback(&OnFrame, &context);
    assembler.SetClock(&FixedClock);
    assembler.Reset(stream);

    uint16_t sequence = 0x1234;
    uint32_t timestamp = 0x89ABCDEF;
    size_t pos = 0;
    while (pos < size) {
        const uint8_t kind = data[pos++];
        if (kind == 0xFE) {
            assembler.Reset(stream);
            continue;
        }
        if (size - pos < 2)
            break;
        const size_t length = Read16(data + pos);
        pos += 2;
        if (length > size - pos)
            break;
        std::vector<uint8_t> datagram;
        if ((kind & 1) == 0) {
            datagram.assign(data + pos, data + pos + length);
        } else {
            if (kind & 4)
                ++sequence;
            if ((kind & 8) == 0)
                timestamp += 3000;
            const uint32_t ssrc = (kind & 16) ? 0x0BADF00D : 0x12345678;
            const uint8_t payloadType =
                static_cast<uint8_t>((headerType + ((kind & 32) ? 1 : 0)) & 0x7F);
            const uint8_t header[12] = {0x80,
                                        static_cast<uint8_t>(((kind & 2) ? 0x80 : 0) | payloadType),
                                        static_cast<uint8_t>(sequence >> 8),
                                        static_cast<uint8_t>(sequence),
                                        static_cast<uint8_t>(timestamp >> 24),
                                        static_cast<uint8_t>(timestamp >> 16),
                                        static_cast<uint8_t>(timestamp >> 8),
                                        static_cast<uint8_t>(timestamp),
                                        static_cast<uint8_t>(ssrc >> 24),
                                        static_cast<uint8_t>(ssrc >> 16),
                                        static_cast<uint8_t>(ssrc >> 8),
                                        static_cast<uint8_t>(ssrc)};
            ++sequence;
            datagram.assign(header, header + sizeof header);
            for (size_t i = 0; i < length; ++i)
                datagram.push_back(data[pos + i]);
        }
        pos += length;
        // An exactly sized copy the assembler may rewrite in place.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[datagram.empty() ? 1 : datagram.size()]);
        if (!datagram.empty())
            std::memcpy(exact.get(), datagram.data(), datagram.size());
        const PushResult result = assembler.PushPacket(stream, exact.get(), datagram.size());
        if (result == PushResult::kEnd) {
            // The receive loop would stop here; a reconnect starts a new one.
            assembler.Reset(stream);
        }
        const FrameBuffer& frame = assembler.frame();
        Check(frame.length <= frame.capacity);
        Check(frame.capacity == RtpFrameAssembler::kBufferSize);
        Check(stream.sps.empty() || (stream.sps.size() > 4 && stream.sps[3] == 1));
        Check(stream.pps.empty() || (stream.pps.size() > 4 && stream.pps[3] == 1));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    size_t sdpLength = Read16(data);
    if (sdpLength > size - 2)
        sdpLength = size - 2;
    const std::string reply(reinterpret_cast<const char*>(data + 2), sdpLength);
    const uint8_t* packets = data + 2 + sdpLength;
    const size_t packetBytes = size - 2 - sdpLength;

    StreamState described;
    SessionUrls urls;
    urls.media = "rtsp://10.0.0.5/live";
    if (!ApplySessionDescription(reply.c_str(), &urls, &described))
        return 0;
    ReadConfigPictureSize(&described);
    if (described.payloadType == 0)
        described.payloadType = 96;

    const uint8_t headerType = static_cast<uint8_t>(described.payloadType);
    Run(described, headerType, packets, packetBytes);
    for (CodecKind codec : {kCodecH264, kCodecJpeg, kCodecMpeg4}) {
        StreamState forced = described;
        forced.codec = codec;
        Run(forced, headerType, packets, packetBytes);
    }
    StreamState learning = described;
    learning.payloadType = 0;
    Run(learning, headerType, packets, packetBytes);
    return 0;
}
