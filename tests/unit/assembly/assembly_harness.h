// Test support: RTP datagrams built byte by byte, a frame recorder behind the
// frame callback, a settable clock, and an assembler wired to all three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <vector>

#include "npcamvue/rtp/frame_assembler.h"
#include "npcamvue/rtp/stream_state.h"

namespace camvue {
namespace assembly_test {

using Bytes = std::vector<uint8_t>;

// Appends without vector::insert of temporaries (GCC 12 -Warray-bounds noise
// under mingw).
inline void Put(Bytes* out, const Bytes& part) {
    out->reserve(out->size() + part.size());
    for (uint8_t b : part)
        out->push_back(b);
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        Put(&out, part);
    return out;
}

struct RtpFields {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    bool marker = false;
    uint8_t payloadType = 96;
    uint32_t ssrc = 0x11223344;
    uint8_t version = 2;
    uint8_t csrcCount = 0;
    // Extension: written when set; `extensionWords` is the 16-bit length L and
    // `extensionBody` follows the 4-byte extension header as is.
    bool extension = false;
    uint16_t extensionWords = 0;
    Bytes extensionBody;
    // Padding bytes appended (the last one carries the count).
    uint8_t padding = 0;
};

inline Bytes BuildRtp(const RtpFields& f, const Bytes& payload) {
    Bytes p;
    p.push_back(static_cast<uint8_t>((f.version << 6) | (f.padding != 0 ? 0x20 : 0) |
                                     (f.extension ? 0x10 : 0) | (f.csrcCount & 0x0F)));
    p.push_back(static_cast<uint8_t>((f.marker ? 0x80 : 0) | (f.payloadType & 0x7F)));
    p.push_back(static_cast<uint8_t>(f.sequence >> 8));
    p.push_back(static_cast<uint8_t>(f.sequence));
    for (int shift = 24; shift >= 0; shift -= 8)
        p.push_back(static_cast<uint8_t>(f.timestamp >> shift));
    for (int shift = 24; shift >= 0; shift -= 8)
        p.push_back(static_cast<uint8_t>(f.ssrc >> shift));
    for (int i = 0; i < f.csrcCount; ++i) {
        for (int b = 0; b < 4; ++b)
            p.push_back(static_cast<uint8_t>(0xC0 + i));
    }
    if (f.extension) {
        p.push_back(0xBE);
        p.push_back(0xDE);
        p.push_back(static_cast<uint8_t>(f.extensionWords >> 8));
        p.push_back(static_cast<uint8_t>(f.extensionWords));
        Put(&p, f.extensionBody);
    }
    Put(&p, payload);
    for (int i = 1; i < f.padding; ++i)
        p.push_back(0);
    if (f.padding != 0)
        p.push_back(f.padding);
    return p;
}

// One delivered frame: the descriptor words and a copy of the bytes.
struct Delivered {
    FrameDescriptor descriptor{};
    Bytes bytes;
    bool trailingArgumentsZero = false;
};

class Recorder {
  public:
    static int Callback(FrameDescriptor* d, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4,
                        uintptr_t a5, uintptr_t a6, uintptr_t a7, uintptr_t a8, uintptr_t a9,
                        uintptr_t a10, uintptr_t a11, uintptr_t a12) {
        auto* self = static_cast<Recorder*>(d->userData);
        Delivered frame;
        frame.descriptor = *d;
        frame.bytes.assign(d->data, d->data + d->length);
        frame.trailingArgumentsZero =
            (a1 | a2 | a3 | a4 | a5 | a6 | a7 | a8 | a9 | a10 | a11 | a12) == 0;
        self->frames.push_back(frame);
        return 0;
    }
    std::vector<Delivered> frames;
};

// The loop's local time, set by the tests.
inline uint64_t& FakeNow() {
    static uint64_t now = 0;
    return now;
}
inline uint64_t FakeClock() {
    return FakeNow();
}

// A 2024 wall-clock time in 100 ns units since 1601.
constexpr uint64_t kSomeFileTime = 133500000000000000ull;

struct Harness {
    explicit Harness(CodecKind codec, uint32_t payloadType = 96, int32_t clockRate = 90000) {
        stream.codec = codec;
        stream.payloadType = payloadType;
        stream.clockRate = clockRate;
        FakeNow() = kSomeFileTime;
        assembler.SetCallback(&Recorder::Callback, &recorder);
        assembler.SetClock(&FakeClock);
        assembler.Reset(stream);
    }

    PushResult Push(const RtpFields& fields, const Bytes& payload) {
        return PushRaw(BuildRtp(fields, payload));
    }
    // Through an exactly sized heap copy, so that ASan sees any access past
    // the datagram.
    PushResult PushRaw(const Bytes& packet) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[packet.size() == 0 ? 1 : packet.size()]);
        for (size_t i = 0; i < packet.size(); ++i)
            exact[i] = packet[i];
        return assembler.PushPacket(stream, exact.get(), packet.size());
    }
    // Sequence numbers count up from `next`; the timestamp stays unless set.
    PushResult Next(const Bytes& payload, bool marker = false) {
        RtpFields f;
        f.sequence = next++;
        f.timestamp = timestamp;
        f.marker = marker;
        f.payloadType = static_cast<uint8_t>(stream.payloadType);
        return Push(f, payload);
    }

    StreamState stream;
    RtpFrameAssembler assembler;
    Recorder recorder;
    uint16_t next = 1000;
    uint32_t timestamp = 0x10000000;
};

}  // namespace assembly_test
}  // namespace camvue
