// Frame assembly at the RTP level: sequence tracking and gaps, payload-type
// filter, header forms, the frame end and delivery rules, the buffer limit,
// presentation times and the descriptor words. MPEG-4 VOPs serve as the
// simplest payload that marks key frames.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "npcamvue/rtp/frame_assembler.h"
#include "tests/unit/assembly/assembly_harness.h"

namespace camvue {
namespace assembly_test {
namespace {

const Bytes kIVop = {0, 0, 1, 0xB6, 0x10, 0x20, 0x30};
const Bytes kPVop = {0, 0, 1, 0xB6, 0x50, 0x21};
const Bytes kData = {0xAA, 0xBB, 0xCC};

// ---------------------------------------------------------------- sequences

enum class Kind { kKey, kDelta, kBody, kOtherType };

struct Step {
    uint16_t sequence;
    Kind kind;
    bool marker;
    PushResult result;
    size_t delivered;  // frames delivered so far
};

struct Scenario {
    std::string name;
    std::vector<Step> steps;
    Bytes lastFrame;  // the last frame delivered, when given
};

// Cases print as their name.
void PrintTo(const Scenario& c, std::ostream* os) {
    *os << c.name;
}

constexpr PushResult kTaken = PushResult::kTaken;
constexpr PushResult kDropped = PushResult::kDropped;

std::vector<Scenario> Scenarios() {
    return {
        {"FirstPacketAcceptedWhateverItsNumber", {{40000, Kind::kKey, true, kTaken, 1}}, {}},
        {"FirstPacketZero",
         {{0, Kind::kKey, true, kTaken, 1}, {1, Kind::kDelta, true, kTaken, 2}},
         {}},
        {"WrapWithoutGap",
         {{65534, Kind::kKey, true, kTaken, 1},
          {65535, Kind::kDelta, true, kTaken, 2},
          {0, Kind::kDelta, true, kTaken, 3},
          {1, Kind::kDelta, true, kTaken, 4}},
         {}},
        {"WrapInsideAFrame",
         {{65535, Kind::kKey, false, kTaken, 0}, {0, Kind::kBody, true, kTaken, 1}},
         Join({kIVop, kData})},
        {"DuplicateIgnored",
         {{10, Kind::kKey, false, kTaken, 0},
          {10, Kind::kKey, false, kDropped, 0},
          {11, Kind::kBody, true, kTaken, 1},
          {11, Kind::kBody, true, kDropped, 1},
          {12, Kind::kDelta, true, kTaken, 2}},
         {}},
        // An older number is a gap: the next packet is accepted whatever its
        // number, but delivery waits for a key frame.
        {"OlderNumberIsGap",
         {{10, Kind::kKey, true, kTaken, 1},
          {11, Kind::kDelta, true, kTaken, 2},
          {10, Kind::kDelta, true, kDropped, 2},
          {500, Kind::kDelta, true, kTaken, 2},
          {501, Kind::kKey, true, kTaken, 3},
          {502, Kind::kDelta, true, kTaken, 4}},
         {}},
        {"GapDiscardsFrameUnderAssembly",
         {{1, Kind::kKey, true, kTaken, 1},
          {2, Kind::kKey, false, kTaken, 1},
          {4, Kind::kBody, true, kDropped, 1},
          {5, Kind::kDelta, true, kTaken, 1},
          {6, Kind::kKey, true, kTaken, 2}},
         kIVop},
        // The marker packet of a frame is lost: the first packet of the next
        // frame shows the gap and is dropped, the rest of that frame is
        // discarded, delivery resumes at the next key frame.
        {"MarkerPacketLost",
         {{1, Kind::kKey, true, kTaken, 1},
          {2, Kind::kDelta, false, kTaken, 1},
          {4, Kind::kDelta, false, kDropped, 1},
          {5, Kind::kBody, true, kTaken, 1},
          {6, Kind::kDelta, true, kTaken, 1},
          {7, Kind::kKey, true, kTaken, 2}},
         kIVop},
        {"NoKeyFrameNoDelivery",
         {{1, Kind::kDelta, true, kTaken, 0},
          {2, Kind::kBody, true, kTaken, 0},
          {3, Kind::kKey, true, kTaken, 1},
          {4, Kind::kBody, true, kTaken, 2}},
         {}},
        // Another payload type shares the sequence space: the number is
        // stepped over, no gap.
        {"OtherPayloadTypeIsNoLoss",
         {{1, Kind::kKey, false, kTaken, 0},
          {2, Kind::kOtherType, true, kDropped, 0},
          {3, Kind::kBody, true, kTaken, 1},
          {4, Kind::kOtherType, false, kDropped, 1},
          {5, Kind::kOtherType, false, kDropped, 1},
          {6, Kind::kDelta, true, kTaken, 2}},
         kPVop},
    };
}

class SequenceTest : public testing::TestWithParam<Scenario> {};

TEST_P(SequenceTest, ResultsAndDeliveries) {
    Harness h(kCodecMpeg4);
    size_t index = 0;
    for (const Step& step : GetParam().steps) {
        RtpFields f;
        f.sequence = step.sequence;
        f.marker = step.marker;
        f.payloadType = step.kind == Kind::kOtherType ? 97 : 96;
        const Bytes& payload = step.kind == Kind::kKey     ? kIVop
                               : step.kind == Kind::kDelta ? kPVop
                                                           : kData;
        EXPECT_EQ(h.Push(f, payload), step.result) << "step " << index;
        EXPECT_EQ(h.recorder.frames.size(), step.delivered) << "step " << index;
        ++index;
    }
    // Never the tail of a discarded frame in front.
    if (!GetParam().lastFrame.empty()) {
        ASSERT_FALSE(h.recorder.frames.empty());
        EXPECT_EQ(h.recorder.frames.back().bytes, GetParam().lastFrame);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, SequenceTest, testing::ValuesIn(Scenarios()),
                         [](const testing::TestParamInfo<Scenario>& tpi) {
                             return tpi.param.name;
                         });

TEST(AssemblerSequenceTest, FirstPacketSetsExpectedAndLast) {
    for (uint16_t first : {uint16_t{0}, uint16_t{1}, uint16_t{40000}, uint16_t{65535}}) {
        Harness h(kCodecMpeg4);
        h.stream.expectedSequence = 7;  // from RTP-Info; the first packet wins
        RtpFields f;
        f.sequence = first;
        EXPECT_EQ(h.Push(f, kIVop), PushResult::kTaken) << first;
        EXPECT_EQ(h.assembler.lastAccepted(), first);
        EXPECT_EQ(h.stream.expectedSequence, uint16_t(first + 1));
        EXPECT_EQ(h.assembler.LastSequence(), first);
        EXPECT_EQ(h.assembler.packetCounter(), 2u);
    }
}

TEST(AssemblerSequenceTest, GapResetsLastAndExpectsTheNextNumber) {
    Harness h(kCodecMpeg4);
    RtpFields f;
    f.sequence = 100;
    ASSERT_EQ(h.Push(f, kIVop), PushResult::kTaken);
    f.sequence = 103;
    EXPECT_EQ(h.Push(f, kData), PushResult::kDropped);
    EXPECT_EQ(h.assembler.lastAccepted(), -1);
    EXPECT_EQ(h.stream.expectedSequence, 104);
    EXPECT_TRUE(h.assembler.frame().loss);
    EXPECT_EQ(h.assembler.frame().length, 0u);
    EXPECT_EQ(h.assembler.frame().gaps, 1u);
    // The packet that showed the gap does not count.
    EXPECT_EQ(h.assembler.packetCounter(), 2u);
    EXPECT_EQ(h.assembler.LastSequence(), 103);
}

TEST(AssemblerSequenceTest, OtherPayloadTypeAdvancesExpected) {
    Harness h(kCodecMpeg4);
    RtpFields f;
    f.sequence = 20;
    ASSERT_EQ(h.Push(f, kIVop), PushResult::kTaken);
    f.sequence = 21;
    f.payloadType = 8;
    EXPECT_EQ(h.Push(f, kIVop), PushResult::kDropped);
    EXPECT_EQ(h.stream.expectedSequence, 22);
    EXPECT_EQ(h.stream.payloadType, 96u);
    EXPECT_FALSE(h.assembler.frame().loss);
    EXPECT_EQ(h.assembler.LastSequence(), 21);
}

TEST(AssemblerSequenceTest, PayloadTypeZeroLocksOntoTheFirstPacket) {
    Harness h(kCodecMpeg4, 0);
    RtpFields f;
    f.sequence = 1;
    f.payloadType = 99;
    f.marker = true;
    EXPECT_EQ(h.Push(f, kIVop), PushResult::kTaken);
    EXPECT_EQ(h.stream.payloadType, 99u);
    f.sequence = 2;
    f.payloadType = 96;
    EXPECT_EQ(h.Push(f, kIVop), PushResult::kDropped);
    f.sequence = 3;
    f.payloadType = 99;
    EXPECT_EQ(h.Push(f, kPVop), PushResult::kTaken);
    EXPECT_EQ(h.recorder.frames.size(), 2u);
}

TEST(AssemblerSequenceTest, PayloadType26SwitchesToJpeg) {
    Harness h(kCodecH264, 0);
    RtpFields f;
    f.sequence = 1;
    f.payloadType = 26;
    f.marker = true;
    // RFC 2435 main header: offset 0, type 1, Q 50, 16 x 16, then scan data.
    const Bytes jpeg = {0, 0, 0, 0, 1, 50, 2, 2, 0x12, 0x34, 0x56};
    EXPECT_EQ(h.Push(f, jpeg), PushResult::kTaken);
    EXPECT_EQ(h.stream.codec, kCodecJpeg);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    const Delivered& d = h.recorder.frames[0];
    EXPECT_EQ(d.descriptor.codecKind, uint32_t{kCodecJpeg});
    EXPECT_EQ(d.descriptor.key, 1u);
    ASSERT_GE(d.bytes.size(), 4u);
    EXPECT_EQ(d.bytes[0], 0xFF);
    EXPECT_EQ(d.bytes[1], 0xD8);
    EXPECT_EQ(d.bytes[d.bytes.size() - 2], 0xFF);
    EXPECT_EQ(d.bytes[d.bytes.size() - 1], 0xD9);
}

TEST(AssemblerSequenceTest, OtherFormatNeverDelivers) {
    Harness h(kCodecNone);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(h.Next(i % 2 == 0 ? kIVop : Bytes{0x41, 0x9A, 0x02}, true), PushResult::kTaken);
    EXPECT_TRUE(h.recorder.frames.empty());
    EXPECT_EQ(h.assembler.frame().length, 0u);
}

TEST(AssemblerSequenceTest, ResetStartsAFreshLoop) {
    Harness h(kCodecMpeg4);
    h.next = 10;
    ASSERT_EQ(h.Next(kIVop, true), PushResult::kTaken);
    ASSERT_EQ(h.Next(kPVop), PushResult::kTaken);  // half a frame
    h.assembler.Reset(h.stream);
    EXPECT_EQ(h.assembler.packetCounter(), 1u);
    EXPECT_EQ(h.assembler.lastAccepted(), -1);
    EXPECT_EQ(h.assembler.frame().length, 0u);
    // Any number is accepted; the old half frame is gone and delivery waits
    // for a key frame again.
    h.next = 9000;
    EXPECT_EQ(h.Next(kPVop, true), PushResult::kTaken);
    EXPECT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.Next(kIVop, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 2u);
    EXPECT_EQ(h.recorder.frames[1].bytes, kIVop);
    EXPECT_EQ(h.recorder.frames[1].descriptor.packetsLow, 3u);
}

// ------------------------------------------------------------ header forms

struct FormCase {
    std::string name;
    RtpFields fields;
    Bytes payload;
    PushResult result;
    Bytes frame;  // what the frame holds afterwards
};

// Cases print as their name.
void PrintTo(const FormCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<FormCase> FormCases() {
    std::vector<FormCase> cases;
    RtpFields f;
    f.sequence = 5;
    cases.push_back({"Plain", f, kIVop, PushResult::kTaken, kIVop});
    RtpFields csrc = f;
    csrc.csrcCount = 3;
    cases.push_back({"CsrcList", csrc, kIVop, PushResult::kTaken, kIVop});
    RtpFields ext = f;
    ext.extension = true;
    ext.extensionWords = 2;
    ext.extensionBody = Bytes(8, 0);
    cases.push_back({"Extension", ext, kIVop, PushResult::kTaken, kIVop});
    RtpFields ext0 = f;
    ext0.extension = true;
    ext0.extensionWords = 0;
    // One byte after the extension header counts: 3 + 2 more header bytes.
    ext0.extensionBody = {0x00, 0x02, 0x00, 0x00, 0x00};
    cases.push_back({"ExtensionLengthZero", ext0, kIVop, PushResult::kTaken, kIVop});
    RtpFields padded = f;
    padded.padding = 4;
    cases.push_back({"PaddingFour", padded, kIVop, PushResult::kTaken, kIVop});
    RtpFields padded1 = f;
    padded1.padding = 1;
    cases.push_back({"PaddingOne", padded1, kIVop, PushResult::kTaken, kIVop});
    cases.push_back({"HeaderOnly", f, {}, PushResult::kEnd, {}});
    cases.push_back({"PaddingOnly", padded, {}, PushResult::kEnd, {}});
    RtpFields ext0Past = f;
    ext0Past.extension = true;
    ext0Past.extensionBody = {0x00, 0xF0};
    cases.push_back({"ExtensionLengthZeroPastEnd", ext0Past, kIVop, PushResult::kEnd, {}});
    RtpFields version1 = f;
    version1.version = 1;
    cases.push_back({"Version1", version1, kIVop, PushResult::kEnd, {}});
    RtpFields version0 = f;
    version0.version = 0;
    cases.push_back({"Version0", version0, kIVop, PushResult::kEnd, {}});
    return cases;
}

class HeaderFormTest : public testing::TestWithParam<FormCase> {};

TEST_P(HeaderFormTest, PayloadBetweenHeaderAndPadding) {
    const FormCase& c = GetParam();
    Harness h(kCodecMpeg4);
    EXPECT_EQ(h.Push(c.fields, c.payload), c.result);
    const FrameBuffer& frame = h.assembler.frame();
    EXPECT_EQ(Bytes(frame.data, frame.data + frame.length), c.frame);
}

INSTANTIATE_TEST_SUITE_P(Forms, HeaderFormTest, testing::ValuesIn(FormCases()),
                         [](const testing::TestParamInfo<FormCase>& tpi) {
                             return tpi.param.name;
                         });

TEST(AssemblerBufferTest, NoAssemblyBufferEndsEveryPacket) {
    // Before the first Reset there is no buffer, as after a failed allocation.
    StreamState stream;
    stream.codec = kCodecMpeg4;
    stream.payloadType = 96;
    RtpFrameAssembler assembler;
    Bytes packet = BuildRtp(RtpFields{}, kIVop);
    EXPECT_EQ(assembler.PushPacket(stream, packet.data(), packet.size()), PushResult::kEnd);
    EXPECT_EQ(assembler.PushPacket(stream, packet.data(), packet.size()), PushResult::kEnd);
    assembler.Reset(stream);
    EXPECT_EQ(assembler.PushPacket(stream, packet.data(), packet.size()), PushResult::kTaken);
}

TEST(AssemblerHeaderTest, CsrcCountPastTheDatagramEnds) {
    Harness h(kCodecMpeg4);
    RtpFields f;
    Bytes packet = BuildRtp(f, {0, 0, 1, 0xB6});
    packet[0] |= 0x0F;  // 60 bytes of CSRC list in a 16-byte datagram
    EXPECT_EQ(h.PushRaw(packet), PushResult::kEnd);
}

TEST(AssemblerHeaderTest, ShortDatagramIsDropped) {
    Harness h(kCodecMpeg4);
    EXPECT_EQ(h.PushRaw({0x80, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0}), PushResult::kDropped);
    EXPECT_EQ(h.PushRaw({}), PushResult::kDropped);
    EXPECT_EQ(h.PushRaw({0x40}), PushResult::kEnd);
}

TEST(AssemblerHeaderTest, PaddingCutsOnlyItsOwnPacket) {
    Harness h(kCodecMpeg4);
    RtpFields f;
    f.sequence = 1;
    f.padding = 4;
    ASSERT_EQ(h.Push(f, kIVop), PushResult::kTaken);
    f.sequence = 2;
    f.padding = 0;
    f.marker = true;
    ASSERT_EQ(h.Push(f, kData), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.recorder.frames[0].bytes, Join({kIVop, kData}));
}

// ------------------------------------------------------------ buffer limit

// FU-A fragments of a type-1 slice up to exactly the room the access unit
// delimiter and its padding need, or one byte more.
struct LimitCase {
    std::string name;
    size_t extra;
    PushResult last;
};

// Cases print as their name.
void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

class BufferLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(BufferLimitTest, TrailerRoomIsReserved) {
    const LimitCase& c = GetParam();
    Harness h(kCodecH264);
    const size_t capacity = RtpFrameAssembler::kBufferSize;
    // P slice start: 00 00 00 01 and the rebuilt header, then its data.
    Bytes start = {0x5C, 0x81, 0x9A};
    ASSERT_EQ(h.Next(start), PushResult::kTaken);
    size_t length = 4 + 2;
    const size_t room = H264Depacketizer::kTrailerRoom;
    Bytes middle(60000 + 2, 0x33);
    middle[0] = 0x5C;
    middle[1] = 0x01;
    while (capacity - room - length > 60000) {
        ASSERT_EQ(h.Next(middle), PushResult::kTaken);
        length += 60000;
    }
    const size_t last = capacity - room - length + c.extra;
    Bytes end(last + 2, 0x44);
    end[0] = 0x5C;
    end[1] = 0x41;
    EXPECT_EQ(h.Next(end, true), c.last);
    if (c.last == PushResult::kEnd) {
        EXPECT_TRUE(h.recorder.frames.empty());
        return;
    }
    EXPECT_EQ(h.recorder.frames.size(), 0u);  // not a key frame
    EXPECT_EQ(h.assembler.frame().length, 0u);
}

INSTANTIATE_TEST_SUITE_P(Limits, BufferLimitTest,
                         testing::Values(LimitCase{"ExactlyFits", 0, PushResult::kTaken},
                                         LimitCase{"OneByteMore", 1, PushResult::kEnd}),
                         [](const testing::TestParamInfo<LimitCase>& tpi) {
                             return tpi.param.name;
                         });

TEST(AssemblerLimitTest, FullKeyFrameWithTrailerFillsTheBufferExactly) {
    Harness h(kCodecH264);
    const size_t capacity = RtpFrameAssembler::kBufferSize;
    // IDR start: 00 00 00 01 + rebuilt header + data (no parameter sets known).
    Bytes start = {0x7C, 0x85, 0x88, 0x80};
    ASSERT_EQ(h.Next(start), PushResult::kTaken);
    size_t length = 4 + 3;
    Bytes middle(50000 + 2, 0x55);
    middle[0] = 0x7C;
    middle[1] = 0x05;
    while (capacity - 12 - length > 50000) {
        ASSERT_EQ(h.Next(middle), PushResult::kTaken);
        length += 50000;
    }
    Bytes end(capacity - 12 - length + 2, 0x66);
    end[0] = 0x7C;
    end[1] = 0x45;
    ASSERT_EQ(h.Next(end, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    const Bytes& bytes = h.recorder.frames[0].bytes;
    // capacity - 12 + 5 delimiter bytes, then 7 zero bytes to a multiple of 8.
    ASSERT_EQ(bytes.size(), capacity);
    EXPECT_EQ(Bytes(bytes.end() - 12, bytes.end()), Bytes({0, 0, 1, 9, 0x10, 0, 0, 0, 0, 0, 0, 0}));
}

// ------------------------------------------------------------ delivery

TEST(AssemblerDeliveryTest, DescriptorWords) {
    Harness h(kCodecMpeg4);
    h.stream.picture.width = 640;
    h.stream.picture.height = 480;
    h.next = 77;
    ASSERT_EQ(h.Next(kIVop), PushResult::kTaken);
    ASSERT_EQ(h.Next(kData), PushResult::kTaken);
    ASSERT_EQ(h.Next(kData, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    const Delivered& d = h.recorder.frames[0];
    const FrameDescriptor& w = d.descriptor;
    EXPECT_TRUE(d.trailingArgumentsZero);
    EXPECT_EQ(w.userData, &h.recorder);
    EXPECT_NE(w.data, nullptr);
    EXPECT_EQ(w.length, kIVop.size() + 2 * kData.size());
    EXPECT_EQ(d.bytes, Join({kIVop, kData, kData}));
    EXPECT_EQ(w.key, 1u);
    EXPECT_EQ(w.reserved4, 0u);
    EXPECT_EQ(w.zero5, 0u);
    EXPECT_EQ(w.zero6, 0u);
    EXPECT_EQ(w.width, 640);
    EXPECT_EQ(w.height, 480);
    EXPECT_EQ(w.unused9, 0u);
    const uint64_t pts = (uint64_t{w.ptsHigh} << 32) | w.ptsLow;
    EXPECT_EQ(pts, kSomeFileTime);
    EXPECT_EQ(w.reserved12, 0u);
    EXPECT_EQ(w.codecKind, 3u);
    // Started at 1, one per accepted packet.
    EXPECT_EQ(w.packetsLow, 4u);
    EXPECT_EQ(w.packetsHigh, 0u);
    // The frame is emptied after the call; the started flag stays.
    EXPECT_EQ(h.assembler.frame().length, 0u);
    EXPECT_FALSE(h.assembler.frame().key);
    EXPECT_TRUE(h.assembler.frame().started);

    ASSERT_EQ(h.Next(kPVop, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 2u);
    EXPECT_EQ(h.recorder.frames[1].descriptor.key, 0u);
    EXPECT_EQ(h.recorder.frames[1].descriptor.packetsLow, 5u);
}

TEST(AssemblerDeliveryTest, WithoutCallbackFramesAreDiscardedButStartCounts) {
    Harness h(kCodecMpeg4);
    h.assembler.SetCallback(nullptr, nullptr);
    ASSERT_EQ(h.Next(kIVop, true), PushResult::kTaken);
    EXPECT_EQ(h.assembler.frame().length, 0u);
    EXPECT_TRUE(h.assembler.frame().started);
    h.assembler.SetCallback(&Recorder::Callback, &h.recorder);
    ASSERT_EQ(h.Next(kPVop, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.recorder.frames[0].bytes, kPVop);
}

// ------------------------------------------------------------ timestamps

struct FrameStamp {
    uint32_t ssrc;
    uint32_t timestamp;
    uint64_t now;  // local time when the frame's packet arrives
};

struct TimeCase {
    std::string name;
    int32_t clockRate;
    uint64_t firstDatagram;
    std::vector<FrameStamp> frames;
    std::vector<uint64_t> pts;
};

// Cases print as their name.
void PrintTo(const TimeCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr uint64_t T0 = kSomeFileTime;
constexpr uint32_t kSsrcA = 0x11223344;
constexpr uint32_t kSsrcB = 0x55667788;

std::vector<TimeCase> TimeCases() {
    // 1000 ticks of 90 kHz back: (9 T0 - 10^6) / 9, truncated.
    const uint64_t backwards = (T0 * 9 - 1000000) / 9;
    return {
        {"Step32400At90k",
         90000,
         0,
         {{kSsrcA, 1000, T0}, {kSsrcA, 33400, T0 + 5}, {kSsrcA, 123400, T0 + 9}},
         {T0, T0 + 3600000, T0 + 13600000}},
        {"BackwardsStepAt90k", 90000, 0, {{kSsrcA, 2000, T0}, {kSsrcA, 1000, T0}}, {T0, backwards}},
        {"SsrcChangeRepeatsTime",
         90000,
         0,
         {{kSsrcA, 1000, T0}, {kSsrcA, 10000, T0}, {kSsrcB, 777777, T0}, {kSsrcB, 786777, T0}},
         {T0, T0 + 1000000, T0 + 1000000, T0 + 2000000}},
        {"ClockRateZeroUsesArrival",
         0,
         0,
         {{kSsrcA, 1000, T0 + 1}, {kSsrcA, 1000, T0 + 2}, {kSsrcA, 90, T0 + 3}},
         {T0 + 1, T0 + 2, T0 + 3}},
        {"FirstDatagramTimeBase",
         90000,
         T0 - 20000000,
         {{kSsrcA, 500, T0}, {kSsrcA, 9500, T0 + 1}},
         {T0 - 20000000, T0 - 19000000}},
        {"FirstDatagramOnceAtClockRateZero",
         0,
         T0 - 20000000,
         {{kSsrcA, 500, T0 + 1}, {kSsrcA, 9500, T0 + 2}},
         {T0 - 20000000, T0 + 2}},
        {"ClockRate8000",
         8000,
         0,
         {{kSsrcA, 0, T0}, {kSsrcA, 8000, T0}, {kSsrcA, 8080, T0}},
         {T0, T0 + 10000000, T0 + 10100000}},
    };
}

class TimestampTest : public testing::TestWithParam<TimeCase> {};

TEST_P(TimestampTest, PresentationTimes) {
    const TimeCase& c = GetParam();
    Harness h(kCodecMpeg4, 96, c.clockRate);
    h.stream.firstDatagramTime = c.firstDatagram;
    uint16_t sequence = 1;
    for (const FrameStamp& stamp : c.frames) {
        FakeNow() = stamp.now;
        RtpFields f;
        f.sequence = sequence++;
        f.ssrc = stamp.ssrc;
        f.timestamp = stamp.timestamp;
        f.marker = true;
        ASSERT_EQ(h.Push(f, kIVop), PushResult::kTaken);
    }
    EXPECT_EQ(h.stream.firstDatagramTime, 0u);
    ASSERT_EQ(h.recorder.frames.size(), c.pts.size());
    for (size_t i = 0; i < c.pts.size(); ++i) {
        const FrameDescriptor& d = h.recorder.frames[i].descriptor;
        EXPECT_EQ((uint64_t{d.ptsHigh} << 32) | d.ptsLow, c.pts[i]) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Times, TimestampTest, testing::ValuesIn(TimeCases()),
                         [](const testing::TestParamInfo<TimeCase>& tpi) {
                             return tpi.param.name;
                         });

TEST(AssemblerTimeTest, TimestampOfTheMarkerPacketCounts) {
    Harness h(kCodecMpeg4);
    RtpFields f;
    f.sequence = 1;
    f.timestamp = 0;
    ASSERT_EQ(h.Push(f, kIVop), PushResult::kTaken);
    f.sequence = 2;
    f.timestamp = 0;
    f.marker = true;
    ASSERT_EQ(h.Push(f, kData), PushResult::kTaken);
    f.sequence = 3;
    f.timestamp = 45000;  // the first packet of the next frame: not yet
    f.marker = false;
    ASSERT_EQ(h.Push(f, kPVop), PushResult::kTaken);
    f.sequence = 4;
    f.timestamp = 90000;
    f.marker = true;
    ASSERT_EQ(h.Push(f, kData), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 2u);
    const auto pts = [&](size_t i) {
        const FrameDescriptor& d = h.recorder.frames[i].descriptor;
        return (uint64_t{d.ptsHigh} << 32) | d.ptsLow;
    };
    EXPECT_EQ(pts(1) - pts(0), 10000000u);
}

TEST(AssemblerTimeTest, NewLoopTakesAFreshTimeBase) {
    Harness h(kCodecMpeg4);
    h.stream.firstDatagramTime = T0 - 5;
    ASSERT_EQ(h.Next(kIVop, true), PushResult::kTaken);
    EXPECT_EQ(h.stream.firstDatagramTime, 0u);
    FakeNow() = T0 + 30000000;
    h.assembler.Reset(h.stream);
    h.timestamp += 9000;
    ASSERT_EQ(h.Next(kIVop, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 2u);
    const FrameDescriptor& d = h.recorder.frames[1].descriptor;
    EXPECT_EQ((uint64_t{d.ptsHigh} << 32) | d.ptsLow, T0 + 30000000);
}

}  // namespace
}  // namespace assembly_test
}  // namespace camvue
