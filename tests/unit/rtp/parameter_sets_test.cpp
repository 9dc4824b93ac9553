#include "npcamvue/rtp/parameter_sets.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/rtp/sps_builder.h"

namespace camvue {
namespace {

using testing_support::BuildSpsNal;
using testing_support::Concat;
using testing_support::SpsFields;

using Bytes = std::vector<uint8_t>;

const Bytes kSc4{0x00, 0x00, 0x00, 0x01};
const Bytes kSc3{0x00, 0x00, 0x01};
const Bytes kPps{0x68, 0xCE, 0x38, 0x80};
const Bytes kIdr{0x65, 0x88, 0x84, 0x00, 0x33, 0xFF};
const Bytes kNonIdr{0x41, 0x9A, 0x02, 0x04};
const Bytes kPartitionA{0x22, 0x9A, 0x02, 0x04};
const Bytes kAud{0x09, 0xF0};
const Bytes kEndOfSeq{0x0A};
const Bytes kSei{0x06, 0x05, 0x02, 0xAA, 0xBB, 0x80};

Bytes Sps(uint64_t widthMbsMinus1, uint64_t heightMinus1) {
    SpsFields f;
    f.width_mbs_minus1 = widthMbsMinus1;
    f.height_map_units_minus1 = heightMinus1;
    return BuildSpsNal(f);
}

const Bytes kSps720 = Sps(79, 44);
const Bytes kSps1080 = Sps(119, 67);
const Bytes kSpsReserved = [] {
    SpsFields f;
    f.reserved4 = 1;
    f.width_mbs_minus1 = 119;
    return BuildSpsNal(f);
}();
const Bytes kSpsProfile83 = [] {
    SpsFields f;
    f.profile_idc = 83;
    return BuildSpsNal(f);
}();

constexpr int32_t kUntouched = -7;

struct ScanCase {
    const char* name;
    Bytes bytes;
    int32_t width;  // kUntouched: the size must stay as it was
    int32_t height;
};

void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.name;
}

class ScanParameterSetsTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanParameterSetsTest, SetsSizeFromValidSps) {
    const ScanCase& c = GetParam();
    // Exactly sized heap copy: ASan flags any read past the end.
    Bytes input = c.bytes;
    input.shrink_to_fit();
    const Bytes before = input;
    SpsInfo sps;
    PictureSize size{kUntouched, kUntouched};
    ScanParameterSets(input.data(), input.size(), &sps, &size);
    EXPECT_EQ(size.width, c.width);
    EXPECT_EQ(size.height, c.height);
    EXPECT_EQ(input, before) << "the caller's bytes were written";
}

INSTANTIATE_TEST_SUITE_P(
    AnnexB, ScanParameterSetsTest,
    ::testing::Values(
        ScanCase{"FourByteStartCode", Concat({kSc4, kSps720}), 1280, 720},
        ScanCase{"ThreeByteStartCode", Concat({kSc3, kSps720}), 1280, 720},
        ScanCase{"SpsThenPps", Concat({kSc4, kSps720, kSc4, kPps}), 1280, 720},
        ScanCase{"PpsThenSps", Concat({kSc4, kPps, kSc4, kSps720}), 1280, 720},
        ScanCase{"PpsThenSpsThreeByte", Concat({kSc3, kPps, kSc3, kSps720}), 1280, 720},
        ScanCase{"LastValidSpsWins", Concat({kSc4, kSps720, kSc4, kPps, kSc4, kSps1080}), 1920,
                 1088},
        ScanCase{"InvalidSpsKeepsEarlierSize", Concat({kSc4, kSps720, kSc4, kSpsReserved}), 1280,
                 720},
        ScanCase{"ReservedBitsLeaveSize", Concat({kSc4, kSpsReserved}), kUntouched, kUntouched},
        ScanCase{"Profile83LeavesSize", Concat({kSc4, kSpsProfile83}), kUntouched, kUntouched},
        ScanCase{"IdrSliceEndsScan", Concat({kSc4, kSps720, kSc4, kIdr, kSc4, kSps1080}), 1280,
                 720},
        ScanCase{"NonIdrSliceEndsScan", Concat({kSc4, kNonIdr, kSc4, kSps720}), kUntouched,
                 kUntouched},
        ScanCase{"PartitionEndsScan", Concat({kSc4, kPartitionA, kSc4, kSps720}), kUntouched,
                 kUntouched},
        ScanCase{"SeiPassedOver", Concat({kSc4, kSei, kSc4, kSps720}), 1280, 720},
        // One- and two-byte units cannot be an SPS and are passed over.
        ScanCase{"AccessUnitDelimiterPassedOver", Concat({kSc4, kAud, kSc4, kSps720}), 1280, 720},
        ScanCase{"EndOfSequencePassedOver", Concat({kSc4, kEndOfSeq, kSc3, kSps720}), 1280, 720},
        ScanCase{"EmptyUnitPassedOver", Concat({kSc3, kSc4, kSps720}), 1280, 720},
        ScanCase{"LeadingZeroBytes", Concat({Bytes(9, 0x00), kSc3, kSps720}), 1280, 720},
        ScanCase{"TrailingZeroBytes", Concat({kSc4, kSps720, Bytes(7, 0x00)}), 1280, 720},
        ScanCase{"TrailingZeroBytesBetweenUnits",
                 Concat({kSc4, kPps, Bytes(5, 0x00), kSc4, kSps720}), 1280, 720},
        ScanCase{"NoStartCode", kSps720, kUntouched, kUntouched},
        ScanCase{"GarbageBeforeStartCode", Concat({{0x12}, kSc4, kSps720}), kUntouched, kUntouched},
        ScanCase{"BrokenEscapeEndsScan",
                 Concat({kSc4, {0x06, 0x00, 0x00, 0x03, 0x05, 0x80}, kSc4, kSps720}), kUntouched,
                 kUntouched},
        ScanCase{"ZeroZeroTwoEndsScan",
                 Concat({kSc4, {0x06, 0x11, 0x00, 0x00, 0x02, 0x80}, kSc4, kSps720}), kUntouched,
                 kUntouched},
        ScanCase{"TrailingEscapeInPps",
                 Concat({kSc4, {0x68, 0xCE, 0x00, 0x00, 0x03}, kSc4, kSps720}), 1280, 720},
        ScanCase{"TruncatedStartCodeAtEnd", Concat({kSc4, kSps720, {0x00, 0x00}}), 1280, 720},
        ScanCase{"StartCodeAtEnd", Concat({kSc4, kSps720, kSc3}), 1280, 720},
        ScanCase{"OnlyStartCodes", Concat({kSc4, kSc4, kSc3, kSc4}), kUntouched, kUntouched},
        ScanCase{"AllZero", Bytes(64, 0x00), kUntouched, kUntouched},
        ScanCase{"AllFF", Bytes(64, 0xFF), kUntouched, kUntouched},
        ScanCase{"StartCodeThenFF", Concat({kSc4, Bytes(64, 0xFF)}), kUntouched, kUntouched},
        ScanCase{"ThreeBytes", {0x00, 0x00, 0x01}, kUntouched, kUntouched},
        ScanCase{"Empty", {}, kUntouched, kUntouched}),
    [](const ::testing::TestParamInfo<ScanCase>& param) { return std::string(param.param.name); });

TEST(ScanParameterSets, EscapedSpsIsParsed) {
    // A level of 0 and a large sps id put 00 00 03 01 into the NAL unit.
    SpsFields f;
    f.level_idc = 0;
    f.sps_id = 200;
    f.width_mbs_minus1 = 79;
    f.height_map_units_minus1 = 44;
    const Bytes nal = BuildSpsNal(f);
    ASSERT_EQ(nal[4], 0x03);
    const Bytes input = Concat({kSc4, kPps, kSc4, nal, kSc4, kPps});
    SpsInfo sps;
    PictureSize size;
    ScanParameterSets(input.data(), input.size(), &sps, &size);
    EXPECT_EQ(sps.valid, 1);
    EXPECT_EQ(sps.seq_parameter_set_id, 200u);
    EXPECT_EQ(size.width, 1280);
    EXPECT_EQ(size.height, 720);
    EXPECT_EQ(input[4 + kPps.size() + 4 + 4], 0x03) << "the caller's copy keeps its escape";
}

TEST(ScanParameterSets, TruncatedInputAtEveryLength) {
    const Bytes full = Concat({kSc4, kPps, kSc4, Sps(119, 67)});
    for (size_t length = 0; length <= full.size(); ++length) {
        Bytes input(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        input.shrink_to_fit();
        SpsInfo sps;
        PictureSize size{kUntouched, kUntouched};
        ScanParameterSets(input.data(), input.size(), &sps, &size);
        if (size.width == kUntouched) {
            EXPECT_EQ(size.height, kUntouched);
            continue;
        }
        EXPECT_EQ(size.width, 1920) << "length " << length;
        EXPECT_EQ(size.height, 1088) << "length " << length;
    }
}

TEST(ScanParameterSets, NullArgumentsAreIgnored) {
    const Bytes input = Concat({kSc4, kSps720});
    SpsInfo sps;
    PictureSize size;
    ScanParameterSets(nullptr, 100, &sps, &size);
    ScanParameterSets(input.data(), input.size(), nullptr, &size);
    ScanParameterSets(input.data(), input.size(), &sps, nullptr);
    EXPECT_EQ(size.width, 0);
    EXPECT_EQ(size.height, 0);
    EXPECT_EQ(sps.valid, 0);
}

}  // namespace
}  // namespace camvue
