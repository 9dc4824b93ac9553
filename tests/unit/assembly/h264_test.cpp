// RFC 6184 depacketizing through the assembler: FU-A rebuild, key frames,
// parameter sets in front, STAP-A capture, dropped NAL types, the access unit
// delimiter and the buffer bounds of every composition step.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "npcamvue/rtp/h264_depacketizer.h"
#include "tests/unit/assembly/assembly_harness.h"
#include "tests/unit/rtp/bit_writer.h"

namespace camvue {
namespace assembly_test {
namespace {

using testing_support::BitWriter;

// tests/fixtures/sps/baseline_352x288.h264 and main_1280x720.h264 (x264).
const Bytes kSps = {0x67, 0x42, 0xc0, 0x0d, 0xd9, 0x01, 0x60, 0x96, 0xc0, 0x44, 0x00, 0x00,
                    0x03, 0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0xc8, 0x3c, 0x50, 0xa9, 0x20};
const Bytes kPps = {0x68, 0xcb, 0x83, 0xcb, 0x20};
const Bytes kSps720 = {0x67, 0x4d, 0x40, 0x1f, 0xec, 0xa0, 0x28, 0x02, 0xdd, 0x80, 0x88, 0x00, 0x00,
                       0x03, 0x00, 0x08, 0x00, 0x00, 0x03, 0x01, 0x90, 0x78, 0xc1, 0x8c, 0xb0};
const Bytes kPps720 = {0x68, 0xeb, 0xe3, 0xcb, 0x20};
const Bytes kStartCode = {0, 0, 0, 1};

Bytes WithStartCode(const Bytes& unit) {
    return Join({kStartCode, unit});
}

// A slice NAL unit: header byte, first_mb_in_slice, slice_type,
// pic_parameter_set_id 0, a few more bits, then `data` as slice data.
Bytes Slice(uint8_t header, uint32_t firstMb, uint32_t sliceType, const Bytes& data = {0xAB}) {
    BitWriter w;
    w.U(8, header);
    w.Ue(firstMb);
    w.Ue(sliceType);
    w.Ue(0);
    w.U(4, 0x9);
    w.TrailingBits();
    return Join({w.bytes(), data});
}

Bytes StapA(std::initializer_list<Bytes> units) {
    Bytes out = {0x78};
    for (const Bytes& unit : units) {
        out.push_back(static_cast<uint8_t>(unit.size() >> 8));
        out.push_back(static_cast<uint8_t>(unit.size()));
        Put(&out, unit);
    }
    return out;
}

// FU-A fragments of one NAL unit, cut after the given byte counts of its body.
std::vector<Bytes> FuA(const Bytes& nal, std::initializer_list<size_t> cuts) {
    std::vector<Bytes> out;
    const uint8_t indicator = static_cast<uint8_t>((nal[0] & 0xE0) | 28);
    const uint8_t type = nal[0] & 0x1F;
    size_t from = 1;
    std::vector<size_t> ends(cuts);
    ends.push_back(nal.size() - 1);
    for (size_t i = 0; i < ends.size(); ++i) {
        const size_t to = 1 + ends[i];
        uint8_t fu = type;
        if (i == 0)
            fu |= 0x80;
        if (i + 1 == ends.size())
            fu |= 0x40;
        Bytes fragment = {indicator, fu};
        Put(&fragment, Bytes(nal.begin() + from, nal.begin() + to));
        out.push_back(fragment);
        from = to;
    }
    return out;
}

// The delimiter and zero bytes that the frame end adds to a frame of `length`.
Bytes Trailer(size_t length) {
    Bytes t = {0, 0, 1, 9, 0x10};
    while ((length + t.size()) % 8 != 0)
        t.push_back(0);
    return t;
}

Bytes Sets() {
    return Join({WithStartCode(kSps), WithStartCode(kPps)});
}

Bytes WithTrailer(const Bytes& body) {
    return Join({body, Trailer(body.size())});
}

void LoadSets(StreamState* stream) {
    stream->sps = WithStartCode(kSps);
    stream->pps = WithStartCode(kPps);
    stream->spsFound = true;
    stream->ppsFound = true;
}

// --------------------------------------------------------------- FU-A IDR

TEST(H264Test, FuAIdrAfterStapASets) {
    Harness h(kCodecH264);
    h.next = 300;
    EXPECT_EQ(h.Next(StapA({kSps, kPps})), PushResult::kDropped);
    EXPECT_EQ(h.stream.sps, WithStartCode(kSps));
    EXPECT_EQ(h.stream.pps, WithStartCode(kPps));
    EXPECT_TRUE(h.stream.spsFound && h.stream.ppsFound);
    EXPECT_EQ(h.stream.picture.width, 352);
    EXPECT_EQ(h.stream.picture.height, 288);

    // NRI 3 in the indicator; the FU header carries type 5.
    const Bytes idr = Slice(0x65, 0, 7, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    const std::vector<Bytes> fragments = FuA(idr, {3, 6});
    ASSERT_EQ(fragments.size(), 3u);
    EXPECT_EQ(fragments[0][0], 0x7C);
    EXPECT_EQ(fragments[0][1], 0x85);
    EXPECT_EQ(h.Next(fragments[0]), PushResult::kTaken);
    // First fragment: SPS, PPS, start code, rebuilt header, fragment data.
    const FrameBuffer& frame = h.assembler.frame();
    const Bytes afterFirst = Join({Sets(), kStartCode, Bytes(idr.begin(), idr.begin() + 4)});
    EXPECT_EQ(Bytes(frame.data, frame.data + frame.length), afterFirst);
    // Later fragments add their data only.
    EXPECT_EQ(h.Next(fragments[1]), PushResult::kTaken);
    EXPECT_EQ(frame.length, afterFirst.size() + 3);
    EXPECT_EQ(h.Next(fragments[2], true), PushResult::kTaken);

    ASSERT_EQ(h.recorder.frames.size(), 1u);
    const Delivered& d = h.recorder.frames[0];
    const Bytes body = Join({Sets(), kStartCode, idr});
    EXPECT_EQ(d.bytes, WithTrailer(body));
    EXPECT_EQ(d.bytes.size() % 8, 0u);
    EXPECT_EQ(d.descriptor.length, d.bytes.size());
    EXPECT_EQ(d.descriptor.key, 1u);
    EXPECT_EQ(d.descriptor.width, 352);
    EXPECT_EQ(d.descriptor.height, 288);
    EXPECT_EQ(d.descriptor.codecKind, 2u);
    EXPECT_EQ(d.descriptor.packetsLow, 5u);  // 1 + STAP-A + three fragments
    EXPECT_EQ(d.descriptor.userData, &h.recorder);
    EXPECT_TRUE(d.trailingArgumentsZero);
}

TEST(H264Test, FuARebuildsHeaderFromIndicatorNri) {
    Harness h(kCodecH264);
    // Indicator NRI 1, FU header S | type 5: the rebuilt header is 0x25.
    EXPECT_EQ(h.Next({0x3C, 0x85, 0x88, 0x80}, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.recorder.frames[0].bytes, WithTrailer({0, 0, 0, 1, 0x25, 0x88, 0x80}));
}

// ------------------------------------------------------------- key frames

struct Packet {
    Bytes payload;
    bool marker;
};

struct KeyCase {
    std::string name;
    std::vector<Packet> packets;
    bool delivered;
    Bytes body;  // the delivered frame without its trailer
};

// Cases print as their name.
void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<KeyCase> KeyCases() {
    const Bytes idr = Slice(0x65, 0, 7);
    const Bytes idr2 = Slice(0x65, 0, 7, {0xEE, 0xFF});
    const Bytes idrSecondSlice = Slice(0x65, 20, 7, {0xCD});
    const Bytes iSlice7 = Slice(0x41, 0, 7);
    const Bytes iSlice2 = Slice(0x41, 0, 2);
    const Bytes pSlice = Slice(0x41, 0, 5);
    const Bytes pSliceLater = Slice(0x41, 10, 0, {0x77});
    const Bytes iSliceNotFirst = Slice(0x41, 5, 7);
    const std::vector<Bytes> iFu = FuA(iSlice7, {1});
    const std::vector<Bytes> idrFu = FuA(Slice(0x65, 0, 7, {1, 2, 3, 4}), {2, 4});
    return {
        {"IdrSingleNal", {{idr, true}}, true, Join({Sets(), kStartCode, idr})},
        {"TypeOneSliceType7IsKey", {{iSlice7, true}}, true, Join({Sets(), kStartCode, iSlice7})},
        {"TypeOneSliceType2IsKey", {{iSlice2, true}}, true, Join({Sets(), kStartCode, iSlice2})},
        {"TypeOnePSliceIsNot", {{pSlice, true}}, false, {}},
        {"TypeOneISliceNotFirstIsNot", {{iSliceNotFirst, true}}, false, {}},
        {"TypeOneHeaderOnlyIsNot", {{{0x41}, true}}, false, {}},
        {"FuATypeOneISliceIsKey",
         {{iFu[0], false}, {iFu[1], true}},
         true,
         Join({Sets(), kStartCode, iSlice7})},
        {"FuAIdrWithoutItsStartIsNot", {{idrFu[1], false}, {idrFu[2], true}}, false, {}},
        // Anything but a type-1 slice starts the access unit afresh.
        {"IdrEmptiesEarlierSlices",
         {{pSlice, false}, {idr, true}},
         true,
         Join({Sets(), kStartCode, idr})},
        {"NextIdrPictureEmptiesTheFirst",
         {{idr, false}, {idr2, true}},
         true,
         Join({Sets(), kStartCode, idr2})},
        // Sets go in front of every NAL start while the key flag is set.
        {"TypeOneSliceJoinsIdr",
         {{idr, false}, {pSliceLater, true}},
         true,
         Join({Sets(), kStartCode, idr, Sets(), kStartCode, pSliceLater})},
        {"IdrInTwoSlicesKeepsBoth",
         {{idr, false}, {idrSecondSlice, true}},
         true,
         Join({Sets(), kStartCode, idr, Sets(), kStartCode, idrSecondSlice})},
    };
}

class KeyFrameTest : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyFrameTest, FirstFrameOfTheLoop) {
    const KeyCase& c = GetParam();
    Harness h(kCodecH264);
    LoadSets(&h.stream);
    for (const Packet& p : c.packets)
        ASSERT_EQ(h.Next(p.payload, p.marker), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), c.delivered ? 1u : 0u);
    EXPECT_EQ(h.assembler.frame().length, 0u);
    if (!c.delivered)
        return;
    EXPECT_EQ(h.recorder.frames[0].bytes, WithTrailer(c.body));
    EXPECT_EQ(h.recorder.frames[0].descriptor.key, 1u);
}

INSTANTIATE_TEST_SUITE_P(Frames, KeyFrameTest, testing::ValuesIn(KeyCases()),
                         [](const testing::TestParamInfo<KeyCase>& tpi) { return tpi.param.name; });

TEST(H264Test, PSliceAfterKeyFrameHasNoSets) {
    Harness h(kCodecH264);
    LoadSets(&h.stream);
    const Bytes idr = Slice(0x65, 0, 7);
    const Bytes p = Slice(0x41, 0, 5);
    ASSERT_EQ(h.Next(idr, true), PushResult::kTaken);
    ASSERT_EQ(h.Next(p, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 2u);
    EXPECT_EQ(h.recorder.frames[1].bytes, WithTrailer(Join({kStartCode, p})));
    EXPECT_EQ(h.recorder.frames[1].descriptor.key, 0u);
}

struct SourceCase {
    std::string name;
    Bytes sps, pps, config;
    Bytes front;  // what precedes the IDR's start code
};

// Cases print as their name.
void PrintTo(const SourceCase& c, std::ostream* os) {
    *os << c.name;
}

class SetSourceTest : public testing::TestWithParam<SourceCase> {};

TEST_P(SetSourceTest, KeyFrameFront) {
    const SourceCase& c = GetParam();
    Harness h(kCodecH264);
    h.stream.sps = c.sps;
    h.stream.pps = c.pps;
    h.stream.config = c.config;
    const Bytes idr = Slice(0x65, 0, 7);
    ASSERT_EQ(h.Next(idr, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.recorder.frames[0].bytes, WithTrailer(Join({c.front, kStartCode, idr})));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SetSourceTest,
    testing::Values(SourceCase{"StoredSets", WithStartCode(kSps), WithStartCode(kPps),
                               Bytes{0, 0, 0, 1, 0x67}, Sets()},
                    SourceCase{"ConfigWhenPpsMissing", WithStartCode(kSps), {}, Sets(), Sets()},
                    SourceCase{"ConfigWhenSpsMissing", {}, WithStartCode(kPps), Sets(), Sets()},
                    SourceCase{"NothingKnown", {}, {}, {}, {}}),
    [](const testing::TestParamInfo<SourceCase>& tpi) { return tpi.param.name; });

// ------------------------------------------------------------- dropped

struct DropCase {
    std::string name;
    Bytes payload;
};

// Cases print as their name.
void PrintTo(const DropCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<DropCase> DropCases() {
    return {
        {"ForbiddenBit", {0xE5, 0x88, 0x80}},
        {"ForbiddenBitTypeOne", {0xC1, 0x88, 0x80}},
        {"TypeZero", {0x00, 0x88}},
        {"Type30", {0x7E, 0x01}},
        {"Type31", {0x7F, 0x01}},
        {"Sei", {0x06, 0x05, 0x01, 0x80}},
        {"AccessUnitDelimiter", {0x09, 0x10}},
        {"EndOfSequence", {0x0A}},
        {"Filler", {0x0C, 0xFF, 0xFF, 0x80}},
        {"Type13", {0x0D, 0x11}},
        {"AuxiliarySlice19", {0x13, 0x88}},
        {"Type23", {0x17, 0x01}},
        {"StapB", {0x19, 0x00, 0x01, 0x00, 0x05, 0x65, 0x88, 0x80, 0x00, 0x00}},
        {"Mtap16", {0x1A, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x01, 0x65, 0x88}},
        {"Mtap24", {0x1B, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x65}},
        {"FuB", {0x1D, 0x85, 0x00, 0x01, 0x88, 0x80}},
        {"FuAOneByte", {0x7C}},
        {"FuAForbiddenIndicator", {0xFC, 0x85, 0x88}},
        {"FuASei", {0x7C, 0x86, 0x05, 0x01}},
        {"FuADelimiter", {0x7C, 0xC9, 0x10}},
        {"FuAInnerType28", {0x7C, 0x9C, 0x10}},
    };
}

class DroppedTest : public testing::TestWithParam<DropCase> {};

TEST_P(DroppedTest, LeavesFrameAndSequenceAlone) {
    Harness h(kCodecH264);
    LoadSets(&h.stream);
    const Bytes idr = Slice(0x65, 0, 7);
    ASSERT_EQ(h.Next(idr), PushResult::kTaken);
    const size_t before = h.assembler.frame().length;
    // Dropped packets do not refresh the inactivity time either.
    EXPECT_EQ(h.Next(GetParam().payload), PushResult::kDropped);
    EXPECT_EQ(h.assembler.frame().length, before);
    EXPECT_EQ(h.stream.sps, WithStartCode(kSps));
    EXPECT_EQ(h.stream.pps, WithStartCode(kPps));
    // The packet was in sequence: no gap, the frame completes.
    EXPECT_EQ(h.Next({0x7C, 0x45, 0xEE}, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.recorder.frames[0].bytes, WithTrailer(Join({Sets(), kStartCode, idr, {0xEE}})));
}

INSTANTIATE_TEST_SUITE_P(Types, DroppedTest, testing::ValuesIn(DropCases()),
                         [](const testing::TestParamInfo<DropCase>& tpi) {
                             return tpi.param.name;
                         });

struct EndCase {
    std::string name;
    Bytes payload;
    PushResult result;
};

// Cases print as their name.
void PrintTo(const EndCase& c, std::ostream* os) {
    *os << c.name;
}

class FragmentSizeTest : public testing::TestWithParam<EndCase> {};

TEST_P(FragmentSizeTest, TinyFragments) {
    Harness h(kCodecH264);
    EXPECT_EQ(h.Next(GetParam().payload, true), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FragmentSizeTest,
    testing::Values(EndCase{"OneByteDropped", {0x7C}, PushResult::kDropped},
                    // No data after the FU header: an empty payload.
                    EndCase{"TwoByteMiddleEnds", {0x7C, 0x05}, PushResult::kEnd},
                    EndCase{"TwoByteStartKeepsHeader", {0x7C, 0x85}, PushResult::kTaken},
                    EndCase{"SingleNalHeaderOnly", {0x65}, PushResult::kTaken}),
    [](const testing::TestParamInfo<EndCase>& tpi) { return tpi.param.name; });

// ------------------------------------------------------------- STAP-A

struct StapCase {
    std::string name;
    Bytes payload;
    Bytes sps;  // stored afterwards
    Bytes pps;
};

// Cases print as their name.
void PrintTo(const StapCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<StapCase> StapCases() {
    Bytes unitPastEnd = StapA({kSps});
    Put(&unitPastEnd, {0x01, 0x00, 0x68, 0xcb, 0x83});  // 256 announced, 3 there
    Bytes firstPastEnd = {0x78, 0x00, static_cast<uint8_t>(kSps.size() + 1)};
    Put(&firstPastEnd, kSps);
    Bytes halfSize = StapA({kSps});
    halfSize.push_back(0x00);
    Bytes zeroFirst = {0x78, 0x00, 0x00};
    Put(&zeroFirst, StapA({kSps, kPps}));
    Bytes zeroBetween = StapA({kSps});
    Put(&zeroBetween, {0x00, 0x00});
    Put(&zeroBetween, StapA({kPps}));
    return {
        {"PpsFirst", StapA({kPps, kSps}), WithStartCode(kSps), WithStartCode(kPps)},
        {"UnitPastEnd", unitPastEnd, WithStartCode(kSps), {}},
        {"FirstUnitPastEnd", firstPastEnd, {}, {}},
        {"HalfASizeField", halfSize, WithStartCode(kSps), {}},
        {"SizeZeroFirst", zeroFirst, {}, {}},
        {"SizeZeroBetween", zeroBetween, WithStartCode(kSps), {}},
        {"HeaderOnly", {0x78}, {}, {}},
        {"OtherUnitsOnly", StapA({{0x06, 0x05, 0x80}, {0x09, 0x10}}), {}, {}},
    };
}

class StapATest : public testing::TestWithParam<StapCase> {};

TEST_P(StapATest, CapturesSetsOnly) {
    const StapCase& c = GetParam();
    Harness h(kCodecH264);
    // With the marker: a STAP-A without slices neither enters nor ends the frame.
    EXPECT_EQ(h.Next(c.payload, true), PushResult::kDropped);
    EXPECT_EQ(h.stream.sps, c.sps);
    EXPECT_EQ(h.stream.pps, c.pps);
    EXPECT_EQ(h.stream.spsFound, !c.sps.empty());
    EXPECT_EQ(h.stream.ppsFound, !c.pps.empty());
    EXPECT_EQ(h.assembler.frame().length, 0u);
    EXPECT_TRUE(h.recorder.frames.empty());
    if (!c.sps.empty()) {
        EXPECT_EQ(h.stream.picture.width, 352);
    }
}

INSTANTIATE_TEST_SUITE_P(Units, StapATest, testing::ValuesIn(StapCases()),
                         [](const testing::TestParamInfo<StapCase>& tpi) {
                             return tpi.param.name;
                         });

// STAP-A units that carry slices enter the access unit in order, under the
// filters of single NAL units; the marker of the STAP-A ends the frame.
struct StapSliceCase {
    std::string name;
    std::vector<Bytes> packets;  // the last one with the marker
    Bytes delivered;             // before the trailer; empty: no frame
    bool key;
};

void PrintTo(const StapSliceCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<StapSliceCase> StapSliceCases() {
    const Bytes idr = Slice(0x65, 0, 7, {0x11});
    const Bytes idr2 = Slice(0x65, 40, 7, {0x22});
    const Bytes p0 = Slice(0x41, 0, 5, {0x33});
    const Bytes p1 = Slice(0x41, 40, 5, {0x44});
    const Bytes sei = {0x06, 0x05, 0x80};
    const Bytes aud = {0x09, 0x10};
    Bytes cut = StapA({p0, p1});
    cut.resize(cut.size() - 1);  // the second unit's size passes the end
    return {
        {"SetsAndIdrInOne", {StapA({kSps, kPps, idr})}, Join({Sets(), kStartCode, idr}), true},
        // Each slice of a key picture is preceded by the sets, as with
        // single NAL units.
        {"TwoIdrSlices",
         {StapA({kSps, kPps, idr, idr2})},
         Join({Sets(), kStartCode, idr, Sets(), kStartCode, idr2}),
         true},
        {"SeiAndDelimiterDropped",
         {StapA({kSps, kPps, aud, sei, idr})},
         Join({Sets(), kStartCode, idr}),
         true},
        {"PSlicesAfterAKeyFrame",
         {StapA({kSps, kPps, idr}), StapA({p0, p1})},
         Join({kStartCode, p0, kStartCode, p1}),
         false},
        {"SingleThenAggregatedSlices",
         {StapA({kSps, kPps, idr}), p0, StapA({p1})},
         Join({kStartCode, p0, kStartCode, p1}),
         false},
        {"ForbiddenBitUnitSkipped",
         {StapA({kSps, kPps, idr}), StapA({Bytes{0xC1, 0x9A}, p0})},
         Join({kStartCode, p0}),
         false},
        {"UnitPastTheEndEndsThePacket",
         {StapA({kSps, kPps, idr}), cut},
         Join({kStartCode, p0}),
         false},
        {"PSliceBeforeAnyKeyFrame", {StapA({kSps, kPps, p0})}, {}, false},
    };
}

class StapASliceTest : public testing::TestWithParam<StapSliceCase> {};

TEST_P(StapASliceTest, SlicesEnterTheFrameInOrder) {
    const StapSliceCase& c = GetParam();
    Harness h(kCodecH264);
    for (size_t i = 0; i < c.packets.size(); ++i) {
        // Every packet but the last ends its own frame when it is a STAP-A
        // with slices; single NAL units here carry no marker.
        const bool marker = i + 1 == c.packets.size() || c.packets[i][0] == 0x78;
        EXPECT_NE(h.Next(c.packets[i], marker), PushResult::kEnd) << i;
    }
    if (c.delivered.empty()) {
        EXPECT_TRUE(h.recorder.frames.empty());
        return;
    }
    ASSERT_FALSE(h.recorder.frames.empty());
    const Delivered& d = h.recorder.frames.back();
    EXPECT_EQ(d.bytes, WithTrailer(c.delivered));
    EXPECT_EQ(d.descriptor.key, c.key ? 1u : 0u);
    EXPECT_EQ(d.descriptor.width, 352);
}

INSTANTIATE_TEST_SUITE_P(Units, StapASliceTest, testing::ValuesIn(StapSliceCases()),
                         [](const testing::TestParamInfo<StapSliceCase>& tpi) {
                             return tpi.param.name;
                         });

TEST(H264Test, AggregatedSlicesBeyondTheBufferEndTheLoop) {
    Harness h(kCodecH264);
    ASSERT_EQ(h.Next(StapA({kSps, kPps, Slice(0x65, 0, 7)}), true), PushResult::kTaken);
    // A slice of nearly 64 KiB, again and again without a marker, until the
    // frame buffer has no room left: the loop ends rather than overrun it.
    const Bytes big = Slice(0x41, 0, 5, Bytes(65000, 0x5A));
    PushResult last = PushResult::kTaken;
    for (int i = 0; i < 1000 && last != PushResult::kEnd; ++i)
        last = h.Next(StapA({big}), false);
    EXPECT_EQ(last, PushResult::kEnd);
    EXPECT_LE(h.assembler.frame().length + H264Depacketizer::kTrailerRoom,
              h.assembler.frame().capacity);
}

TEST(H264SetsTest, RepeatedStapASpsIsParsedOnceChangedSpsChangesSize) {
    Harness h(kCodecH264);
    ASSERT_EQ(h.Next(StapA({kSps, kPps})), PushResult::kDropped);
    EXPECT_EQ(h.stream.picture.width, 352);
    // A probe value: an identical SPS must leave it alone.
    h.stream.picture = {1, 1};
    ASSERT_EQ(h.Next(StapA({kSps, kPps})), PushResult::kDropped);
    EXPECT_EQ(h.stream.picture.width, 1);
    EXPECT_EQ(h.stream.picture.height, 1);
    ASSERT_EQ(h.Next(StapA({kSps720, kPps720})), PushResult::kDropped);
    EXPECT_EQ(h.stream.picture.width, 1280);
    EXPECT_EQ(h.stream.picture.height, 720);
    EXPECT_EQ(h.stream.sps, WithStartCode(kSps720));
    EXPECT_EQ(h.stream.pps, WithStartCode(kPps720));
    // And back.
    ASSERT_EQ(h.Next(StapA({kSps, kPps})), PushResult::kDropped);
    EXPECT_EQ(h.stream.picture.width, 352);
    EXPECT_EQ(h.stream.sps, WithStartCode(kSps));
}

TEST(H264SetsTest, SetsAloneAreStoredAndParsed) {
    Harness h(kCodecH264);
    h.stream.sps = WithStartCode(kSps720);
    h.stream.picture = {1, 1};
    EXPECT_EQ(h.Next(kSps), PushResult::kDropped);
    EXPECT_EQ(h.Next(kPps), PushResult::kDropped);
    EXPECT_EQ(h.stream.sps, WithStartCode(kSps));
    EXPECT_EQ(h.stream.pps, WithStartCode(kPps));
    EXPECT_EQ(h.stream.picture.width, 352);
    EXPECT_EQ(h.stream.picture.height, 288);
    EXPECT_TRUE(h.stream.spsInfo.valid);
    EXPECT_EQ(h.assembler.frame().length, 0u);
}

TEST(H264SetsTest, BrokenSpsKeepsTheSize) {
    Harness h(kCodecH264);
    h.stream.picture = {640, 480};
    // 00 00 00 inside the unit: emulation prevention fails; a cut SPS fails
    // the parse.
    EXPECT_EQ(h.Next({0x67, 0x42, 0x00, 0x00, 0x00, 0x1E}), PushResult::kDropped);
    EXPECT_EQ(h.Next(Bytes(kSps.begin(), kSps.begin() + 6)), PushResult::kDropped);
    EXPECT_EQ(h.stream.picture.width, 640);
    EXPECT_EQ(h.stream.picture.height, 480);
    EXPECT_EQ(h.stream.sps, WithStartCode(Bytes(kSps.begin(), kSps.begin() + 6)));
}

// An SPS in FU-A fragments is collected and stored whole.
struct FragmentedSetCase {
    std::string name;
    std::vector<int> order;  // fragment indexes pushed, -1 = a sequence number skipped
    bool stored;
};

// Cases print as their name.
void PrintTo(const FragmentedSetCase& c, std::ostream* os) {
    *os << c.name;
}

class FragmentedSetTest : public testing::TestWithParam<FragmentedSetCase> {};

TEST_P(FragmentedSetTest, Collect) {
    const FragmentedSetCase& c = GetParam();
    Harness h(kCodecH264);
    const std::vector<Bytes> fragments = FuA(kSps, {5, 10, 15});
    ASSERT_EQ(fragments.size(), 4u);
    for (int index : c.order) {
        if (index < 0) {
            ++h.next;
            continue;
        }
        h.Next(fragments[static_cast<size_t>(index)]);
    }
    EXPECT_EQ(h.stream.sps, c.stored ? WithStartCode(kSps) : Bytes());
    EXPECT_EQ(h.stream.picture.width, c.stored ? 352 : 0);
    EXPECT_EQ(h.assembler.frame().length, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, FragmentedSetTest,
    testing::Values(FragmentedSetCase{"InOrder", {0, 1, 2, 3}, true},
                    // The packet after the gap is dropped; the rest must not
                    // complete a set with a hole in it.
                    FragmentedSetCase{"GapInBetween", {0, 1, -1, 2, 3}, false},
                    FragmentedSetCase{"StartMissing", {1, 2, 3}, false},
                    FragmentedSetCase{"RestartedAfterGap", {0, -1, 1, 0, 1, 2, 3}, true}),
    [](const testing::TestParamInfo<FragmentedSetCase>& tpi) { return tpi.param.name; });

// ------------------------------------------------------------- trailer

class TrailerTest : public testing::TestWithParam<size_t> {};

TEST_P(TrailerTest, DelimiterThenZerosToAMultipleOf8) {
    Harness h(kCodecH264);
    Bytes idr = {0x65};
    for (size_t i = 1; i < GetParam(); ++i)
        idr.push_back(static_cast<uint8_t>(0x80 + i));
    ASSERT_EQ(h.Next(idr, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    const Bytes& bytes = h.recorder.frames[0].bytes;
    const size_t body = 4 + idr.size();
    ASSERT_EQ(bytes.size() % 8, 0u);
    ASSERT_GE(bytes.size(), body + 5);
    EXPECT_LT(bytes.size(), body + 5 + 8);
    EXPECT_EQ(Bytes(bytes.begin() + body, bytes.begin() + body + 5), Bytes({0, 0, 1, 9, 0x10}));
    for (size_t i = body + 5; i < bytes.size(); ++i)
        EXPECT_EQ(bytes[i], 0) << i;
}

INSTANTIATE_TEST_SUITE_P(NalSizes, TrailerTest, testing::Range(size_t{1}, size_t{17}));

// ------------------------------------------------------------- bounds

TEST(H264BoundsTest, ParameterSetsThatWouldOverflowEndTheLoop) {
    Harness h(kCodecH264);
    // A stored SPS of 2 MiB: once in front of the IDR it fits, a second copy
    // in front of the next slice does not.
    Bytes big(2u * 1024 * 1024, 0x5A);
    big[0] = 0;
    big[1] = 0;
    big[2] = 0;
    big[3] = 1;
    big[4] = 0x67;
    h.stream.sps = big;
    h.stream.pps = WithStartCode(kPps);
    ASSERT_EQ(h.Next(Slice(0x65, 0, 7)), PushResult::kTaken);
    EXPECT_GT(h.assembler.frame().length, big.size());
    EXPECT_EQ(h.Next(Slice(0x41, 30, 0), true), PushResult::kEnd);
    EXPECT_TRUE(h.recorder.frames.empty());
}

}  // namespace
}  // namespace assembly_test
}  // namespace camvue
