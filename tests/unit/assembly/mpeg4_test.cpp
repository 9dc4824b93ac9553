// RFC 3016 MPEG-4 Visual through the assembler: configuration headers, the
// picture size, I-VOP key frames with the config bytes in front, and the
// frame-end inspection.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>

#include "npcamvue/rtp/mpeg4_depacketizer.h"
#include "tests/unit/assembly/assembly_harness.h"

namespace camvue {
namespace assembly_test {
namespace {

// tests/fixtures/mpeg4/mpeg4_176x144_r25.m4v (FFmpeg's encoder): visual object
// sequence, visual object, video object, VOL, then a group of VOPs header.
const Bytes kHeaders = {0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb5, 0x89,
                        0x13, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00,
                        0xc4, 0x8d, 0x88, 0x00, 0xcd, 0x05, 0x84, 0x12, 0x14, 0x43,
                        0x00, 0x00, 0x01, 0xb3, 0x00, 0x10, 0x07};
constexpr size_t kVolAt = 15;
constexpr size_t kGovAt = 30;

const Bytes kIVop = {0, 0, 1, 0xB6, 0x10, 0x60, 0x70};
const Bytes kPVop = {0, 0, 1, 0xB6, 0x51, 0x22};
const Bytes kData = {0x12, 0x34, 0x56, 0x78};

Bytes Part(const Bytes& b, size_t from, size_t to) {
    return Bytes(b.begin() + from, b.begin() + to);
}

TEST(Mpeg4Test, ConfigurationAndIVopInOnePacket) {
    Harness h(kCodecMpeg4);
    const Bytes config = Part(kHeaders, 0, kGovAt);
    const Bytes packet = Join({config, kIVop});
    ASSERT_EQ(h.Next(packet, true), PushResult::kTaken);
    // VOS up to the start code after the VOL.
    EXPECT_EQ(h.stream.config, config);
    EXPECT_EQ(h.stream.picture.width, 176);
    EXPECT_EQ(h.stream.picture.height, 144);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    const Delivered& d = h.recorder.frames[0];
    EXPECT_EQ(d.bytes, Join({config, packet}));
    EXPECT_EQ(d.descriptor.key, 1u);
    EXPECT_EQ(d.descriptor.width, 176);
    EXPECT_EQ(d.descriptor.height, 144);
    EXPECT_EQ(d.descriptor.codecKind, 3u);
}

TEST(Mpeg4Test, ConfigurationPacketWithoutVop) {
    Harness h(kCodecMpeg4);
    // VOS to GOV header: the config ends at the GOV start code, and only the
    // VOL onwards enters the frame.
    ASSERT_EQ(h.Next(kHeaders), PushResult::kTaken);
    const Bytes config = Part(kHeaders, 0, kGovAt);
    EXPECT_EQ(h.stream.config, config);
    const FrameBuffer& frame = h.assembler.frame();
    EXPECT_EQ(Bytes(frame.data, frame.data + frame.length),
              Part(kHeaders, kVolAt, kHeaders.size()));
    ASSERT_EQ(h.Next(kIVop, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.recorder.frames[0].bytes,
              Join({Part(kHeaders, kVolAt, kHeaders.size()), config, kIVop}));
    EXPECT_EQ(h.recorder.frames[0].descriptor.key, 1u);
}

TEST(Mpeg4Test, VolThatDoesNotParseKeepsConfigAndSize) {
    Harness h(kCodecMpeg4);
    const Bytes old = {0, 0, 1, 0xB0, 0x03};
    h.stream.config = old;
    h.stream.picture = {320, 240};
    // VOS, VO, then a VOL cut after two bytes, then an I-VOP.
    const Bytes packet = Join({Part(kHeaders, 0, kVolAt + 6), kIVop});
    ASSERT_EQ(h.Next(packet, true), PushResult::kTaken);
    EXPECT_EQ(h.stream.config, old);
    EXPECT_EQ(h.stream.picture.width, 320);
    EXPECT_EQ(h.stream.picture.height, 240);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.recorder.frames[0].bytes, Join({old, packet}));
}

struct DropCase {
    std::string name;
    Bytes payload;
};

// Cases print as their name.
void PrintTo(const DropCase& c, std::ostream* os) {
    *os << c.name;
}

class SequenceStartDropTest : public testing::TestWithParam<DropCase> {};

TEST_P(SequenceStartDropTest, NoFurtherStartCode) {
    Harness h(kCodecMpeg4);
    EXPECT_EQ(h.Next(GetParam().payload, true), PushResult::kDropped);
    EXPECT_EQ(h.assembler.frame().length, 0u);
    EXPECT_TRUE(h.stream.config.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, SequenceStartDropTest,
    testing::Values(DropCase{"VosOnly", {0, 0, 1, 0xB0, 0x01}},
                    DropCase{"VosThenEnd", {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB1, 0x00}},
                    DropCase{"VosEndOnly", {0, 0, 1, 0xB1}},
                    // A start code in the last four bytes is not looked at.
                    DropCase{"StartCodeAtTheVeryEnd", {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5}}),
    [](const testing::TestParamInfo<DropCase>& tpi) { return tpi.param.name; });

// Frames of one packet each.
struct VopCase {
    std::string name;
    Bytes config;
    std::vector<Bytes> frames;
    std::vector<Bytes> delivered;
    std::vector<uint32_t> keys;
};

// Cases print as their name.
void PrintTo(const VopCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<VopCase> VopCases() {
    const Bytes config = Part(kHeaders, 0, kGovAt);
    return {
        {"PVopFirstIsDiscarded", {}, {kPVop, kIVop, kPVop}, {kIVop, kPVop}, {1, 0}},
        {"IVopGetsConfigInFront",
         config,
         {kIVop, kPVop, kIVop},
         {Join({config, kIVop}), kPVop, Join({config, kIVop})},
         {1, 0, 1}},
        {"NoStartCodesNeverKey", config, {kData, kData, kData}, {}, {}},
        // Packets that do not begin with a start code get no config; the frame end
        // still finds the VOP.
        {"VopInsideThePayloadFoundAtFrameEnd",
         config,
         {Join({kData, kIVop})},
         {Join({kData, kIVop})},
         {1}},
        {"BVopIsNoKey", {}, {{0, 0, 1, 0xB6, 0x90, 0x01}}, {}, {}},
    };
}

class VopTest : public testing::TestWithParam<VopCase> {};

TEST_P(VopTest, KeyFramesAndConfig) {
    const VopCase& c = GetParam();
    Harness h(kCodecMpeg4);
    h.stream.config = c.config;
    for (const Bytes& frame : c.frames)
        ASSERT_EQ(h.Next(frame, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), c.delivered.size());
    for (size_t i = 0; i < c.delivered.size(); ++i) {
        EXPECT_EQ(h.recorder.frames[i].bytes, c.delivered[i]) << i;
        EXPECT_EQ(h.recorder.frames[i].descriptor.key, c.keys[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, VopTest, testing::ValuesIn(VopCases()),
                         [](const testing::TestParamInfo<VopCase>& tpi) { return tpi.param.name; });

TEST(Mpeg4Test, IVopOverSeveralPackets) {
    Harness h(kCodecMpeg4);
    const Bytes config = {0, 0, 1, 0xB0, 0x01};
    h.stream.config = config;
    ASSERT_EQ(h.Next(kIVop), PushResult::kTaken);
    ASSERT_EQ(h.Next(kData), PushResult::kTaken);
    ASSERT_EQ(h.Next(kData, true), PushResult::kTaken);
    ASSERT_EQ(h.recorder.frames.size(), 1u);
    EXPECT_EQ(h.recorder.frames[0].bytes, Join({config, kIVop, kData, kData}));
}

struct VopScanCase {
    std::string name;
    Bytes bytes;
    bool found;
    bool intra;
    size_t offset;
};

// Cases print as their name.
void PrintTo(const VopScanCase& c, std::ostream* os) {
    *os << c.name;
}

class IntraVopTest : public testing::TestWithParam<VopScanCase> {};

TEST_P(IntraVopTest, FirstVop) {
    const VopScanCase& c = GetParam();
    const Mpeg4VopInfo info = IsMpeg4IntraVop(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(info.found, c.found);
    EXPECT_EQ(info.intra, c.intra);
    if (c.found) {
        EXPECT_EQ(info.offset, c.offset);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scans, IntraVopTest,
    testing::Values(
        VopScanCase{"IVop", {0, 0, 1, 0xB6, 0x3F}, true, true, 0},
        VopScanCase{"PVop", {0, 0, 1, 0xB6, 0x40}, true, false, 0},
        VopScanCase{"BVop", {0, 0, 1, 0xB6, 0x80}, true, false, 0},
        VopScanCase{"SVop", {0, 0, 1, 0xB6, 0xC0}, true, false, 0},
        VopScanCase{"AfterOtherCodes", {0, 0, 1, 0xB3, 0, 0, 1, 0xB6, 0x00, 0xFF}, true, true, 4},
        VopScanCase{"FirstOfTwo", {0, 0, 1, 0xB6, 0x40, 0, 0, 1, 0xB6, 0x00}, true, false, 0},
        VopScanCase{"CodingTypeByteMissing", {0xFF, 0, 0, 1, 0xB6}, false, false, 0},
        VopScanCase{"None", {0, 0, 1, 0xB3, 0x00, 0x00, 0x00}, false, false, 0},
        VopScanCase{"Empty", {}, false, false, 0}),
    [](const testing::TestParamInfo<VopScanCase>& tpi) { return tpi.param.name; });

struct FrameInfoCase {
    std::string name;
    Bytes frame;
    bool keyBefore;
    bool keyAfter;
    int32_t width;  // picture width afterwards (starts at 8)
};

// Cases print as their name.
void PrintTo(const FrameInfoCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameInfoTest : public testing::TestWithParam<FrameInfoCase> {};

TEST_P(FrameInfoTest, FirstStartCodeDecides) {
    const FrameInfoCase& c = GetParam();
    StreamState stream;
    stream.picture = {8, 8};
    // An exactly sized copy: the scans must stay inside the frame.
    std::unique_ptr<uint8_t[]> data(new uint8_t[c.frame.empty() ? 1 : c.frame.size()]);
    std::copy(c.frame.begin(), c.frame.end(), data.get());
    FrameBuffer frame;
    frame.data = data.get();
    frame.capacity = c.frame.size();
    frame.length = c.frame.size();
    frame.key = c.keyBefore;
    Mpeg4FrameInfo(stream, frame);
    EXPECT_EQ(frame.key, c.keyAfter);
    EXPECT_EQ(stream.picture.width, c.width);
    EXPECT_EQ(frame.length, c.frame.size());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameInfoTest,
    testing::Values(
        FrameInfoCase{"VolSetsSize", Part(kHeaders, kVolAt, kGovAt), false, false, 176},
        FrameInfoCase{"VolAfterJunkSetsSize", Join({{0x11, 0x22}, Part(kHeaders, kVolAt, kGovAt)}),
                      true, true, 176},
        FrameInfoCase{"PVopClearsKey", kPVop, true, false, 8},
        FrameInfoCase{"IVopSetsKey", kIVop, false, true, 8},
        FrameInfoCase{"SequenceStartChangesNothing", Join({Part(kHeaders, 0, 5), kPVop}), true,
                      true, 8},
        FrameInfoCase{
            "ShortVideoHeaderChangesNothing", {0, 0, 0x82, 0x10, 0x00, 0xB6}, true, true, 8},
        FrameInfoCase{"VopCutAfterStartCode", {0, 0, 1, 0xB6}, true, true, 8},
        FrameInfoCase{"PrefixCutBeforeCode", {0x55, 0, 0, 1}, false, false, 8},
        FrameInfoCase{"Empty", {}, true, true, 8}),
    [](const testing::TestParamInfo<FrameInfoCase>& tpi) { return tpi.param.name; });

}  // namespace
}  // namespace assembly_test
}  // namespace camvue
