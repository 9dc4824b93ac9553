#include "npcamvue/rtp/h264_sps.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "npcamvue/rtp/emulation_prevention.h"
#include "tests/unit/rtp/sps_builder.h"

namespace camvue {
namespace {

using testing_support::BuildSpsNal;
using testing_support::BuildSpsRbsp;
using testing_support::SpsFields;

// Parses a NAL unit as the session does: emulation prevention removed in a
// copy, then the reader over it.
int ParseNal(std::vector<uint8_t> nal, SpsInfo* info) {
    const int n = RemoveEmulationPrevention(static_cast<int>(nal.size()), nal.data());
    if (n < 0)
        return -2;
    RbspBitReader reader;
    InitRbspBitReader(&reader, nal.data(), static_cast<size_t>(n));
    return ParseSps(&reader, info);
}

SpsFields Baseline(uint64_t widthMbsMinus1, uint64_t heightMinus1) {
    SpsFields f;
    f.width_mbs_minus1 = widthMbsMinus1;
    f.height_map_units_minus1 = heightMinus1;
    return f;
}

SpsFields High(uint32_t profile, uint64_t chroma) {
    SpsFields f;
    f.profile_idc = profile;
    f.chroma_format_idc = chroma;
    return f;
}

SpsFields Cropped(SpsFields f, uint64_t left, uint64_t right, uint64_t top, uint64_t bottom) {
    f.cropping = 1;
    f.crop_left = left;
    f.crop_right = right;
    f.crop_top = top;
    f.crop_bottom = bottom;
    return f;
}

SpsFields Interlaced(SpsFields f, uint32_t mbaff) {
    f.frame_mbs_only = 0;
    f.mbaff = mbaff;
    return f;
}

template <typename Fn>
SpsFields With(SpsFields f, Fn change) {
    change(f);
    return f;
}

struct SizeCase {
    const char* name;
    SpsFields fields;
    int expectedReturn;
    bool valid;
    int32_t width;
    int32_t height;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.name;
}

class SpsSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SpsSize, ParsesToSize) {
    const SizeCase& c = GetParam();
    SpsInfo info;
    info.valid = 1;  // a parse must clear it on failure
    ASSERT_EQ(ParseNal(BuildSpsNal(c.fields), &info), c.expectedReturn);
    ASSERT_EQ(info.valid, c.valid ? 1 : 0);
    if (!c.valid)
        return;
    int32_t width = -1;
    int32_t height = -1;
    SpsPictureSize(info, &width, &height);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
}

std::string CaseName(const ::testing::TestParamInfo<SizeCase>& info) {
    return info.param.name;
}

// Sizes from the SPS syntax, with crop units by chroma format (H.264 7.4.2.1.1).
INSTANTIATE_TEST_SUITE_P(
    Geometry, SpsSize,
    ::testing::Values(
        SizeCase{"Baseline1280x720", Baseline(79, 44), 0, true, 1280, 720},
        SizeCase{"FieldsDoubleHeight", Interlaced(Baseline(79, 29), 0), 0, true, 1280, 960},
        SizeCase{"MbaffDoublesHeight", Interlaced(Baseline(79, 29), 1), 0, true, 1280, 960},
        SizeCase{"FieldsCropBottom4", Cropped(Interlaced(Baseline(79, 29), 0), 0, 0, 0, 4), 0, true,
                 1280, 944},
        SizeCase{"Crop1080", Cropped(Baseline(119, 67), 0, 0, 0, 4), 0, true, 1920, 1080},
        SizeCase{"CropAllSides", Cropped(Baseline(21, 17), 1, 2, 3, 4), 0, true, 346, 274},
        SizeCase{"OneMacroblock", Baseline(0, 0), 0, true, 16, 16},
        SizeCase{"CroppingFlagWithZeroOffsets", Cropped(Baseline(21, 17), 0, 0, 0, 0), 0, true, 352,
                 288},
        SizeCase{"High420Crop", Cropped(High(100, 1), 0, 3, 0, 4), 0, true, 346, 280},
        SizeCase{"High422CropsLumaRowsVertically",
                 Cropped(With(High(122, 2), [](SpsFields& f) { f.height_map_units_minus1 = 67; }),
                         0, 0, 0, 8),
                 0, true, 352, 1080},
        SizeCase{"High444CropsInLumaSamples",
                 Cropped(With(High(244, 3),
                              [](SpsFields& f) {
                                  f.width_mbs_minus1 = 119;
                                  f.height_map_units_minus1 = 67;
                              }),
                         0, 3, 0, 8),
                 0, true, 1917, 1080},
        SizeCase{"SeparatePlanesCropLikeMonochrome",
                 Cropped(With(High(244, 3), [](SpsFields& f) { f.separate_colour_plane = 1; }), 1,
                         0, 0, 1),
                 0, true, 351, 287},
        SizeCase{"MonochromeCrop", Cropped(High(100, 0), 0, 5, 0, 3), 0, true, 347, 285},
        SizeCase{"MonochromeFieldsCrop", Cropped(Interlaced(High(100, 0), 1), 0, 0, 0, 3), 0, true,
                 352, 570},
        SizeCase{"High422FieldsCrop", Cropped(Interlaced(High(122, 2), 0), 0, 0, 0, 3), 0, true,
                 352, 570},
        SizeCase{"High420FieldsCrop", Cropped(Interlaced(High(110, 1), 1), 0, 0, 0, 3), 0, true,
                 352, 564},
        SizeCase{"CropLeavesTwoColumns", Cropped(Baseline(0, 0), 3, 4, 0, 0), 0, true, 2, 16},
        SizeCase{"CropToNothingIsInvalid", Cropped(Baseline(0, 0), 4, 4, 0, 0), -1, false, 0, 0},
        SizeCase{"CropBeyondPictureIsInvalid", Cropped(Baseline(79, 44), 0, 0, 0, 361), -1, false,
                 0, 0},
        SizeCase{"HugeCropOffsetsAreInvalid",
                 Cropped(Baseline(79, 44), 0xFFFFFFFEu, 0xFFFFFFFEu, 0, 0), -1, false, 0, 0},
        SizeCase{"LargestWidthInLevelLimits", Baseline(1054, 0), 0, true, 16880, 16},
        SizeCase{"WidthBeyondLevelLimitsIsInvalid", Baseline(1055, 0), -1, false, 0, 0},
        SizeCase{"HugeWidthIsInvalid", Baseline(0xFFFFFFFEu, 0), -1, false, 0, 0},
        SizeCase{"FieldHeightBeyondLevelLimitsIsInvalid", Interlaced(Baseline(0, 527), 0), -1,
                 false, 0, 0},
        SizeCase{"FieldHeightAtLevelLimits", Interlaced(Baseline(0, 526), 0), 0, true, 16, 16864}),
    CaseName);

// Which SPS headers are accepted: the profile list and the reserved bits.
INSTANTIATE_TEST_SUITE_P(
    Header, SpsSize,
    ::testing::Values(
        SizeCase{"Profile44", High(44, 1), 0, true, 352, 288},
        SizeCase{"Profile66", With(SpsFields{}, [](SpsFields& f) { f.profile_idc = 66; }), 0, true,
                 352, 288},
        SizeCase{"Profile77", With(SpsFields{}, [](SpsFields& f) { f.profile_idc = 77; }), 0, true,
                 352, 288},
        SizeCase{"Profile88", With(SpsFields{}, [](SpsFields& f) { f.profile_idc = 88; }), 0, true,
                 352, 288},
        SizeCase{"Profile100", High(100, 1), 0, true, 352, 288},
        SizeCase{"Profile110", High(110, 1), 0, true, 352, 288},
        SizeCase{"Profile122", High(122, 2), 0, true, 352, 288},
        SizeCase{"Profile244", High(244, 3), 0, true, 352, 288},
        SizeCase{"Profile83NotListed", High(83, 1), 0, false, 0, 0},
        SizeCase{"Profile118NotListed", High(118, 1), 0, false, 0, 0},
        SizeCase{"Profile0NotListed", With(SpsFields{}, [](SpsFields& f) { f.profile_idc = 0; }), 0,
                 false, 0, 0},
        SizeCase{"Profile255NotListed",
                 With(SpsFields{}, [](SpsFields& f) { f.profile_idc = 255; }), 0, false, 0, 0},
        SizeCase{"ConstraintFlagsAllowed",
                 With(SpsFields{}, [](SpsFields& f) { f.constraint_flags = 0xF; }), 0, true, 352,
                 288},
        SizeCase{"ReservedBit0", With(SpsFields{}, [](SpsFields& f) { f.reserved4 = 8; }), -1,
                 false, 0, 0},
        SizeCase{"ReservedBit1", With(SpsFields{}, [](SpsFields& f) { f.reserved4 = 4; }), -1,
                 false, 0, 0},
        SizeCase{"ReservedBit2", With(SpsFields{}, [](SpsFields& f) { f.reserved4 = 2; }), -1,
                 false, 0, 0},
        SizeCase{"ReservedBit3", With(SpsFields{}, [](SpsFields& f) { f.reserved4 = 1; }), -1,
                 false, 0, 0},
        SizeCase{"ChromaFormat4IsInvalid", High(100, 4), -1, false, 0, 0},
        SizeCase{"HighBitDepth",
                 With(High(110, 1),
                      [](SpsFields& f) {
                          f.bit_depth_luma_minus8 = 2;
                          f.bit_depth_chroma_minus8 = 2;
                      }),
                 0, true, 352, 288},
        SizeCase{"VuiFlagSet", With(SpsFields{}, [](SpsFields& f) { f.vui = 1; }), 0, true, 352,
                 288}),
    CaseName);

// The fields the parse passes over before the size: a wrong count of bits read
// shows in the size read after them.
INSTANTIATE_TEST_SUITE_P(
    Skipped, SpsSize,
    ::testing::Values(
        SizeCase{"PocType0",
                 With(SpsFields{}, [](SpsFields& f) { f.log2_max_poc_lsb_minus4 = 12; }), 0, true,
                 352, 288},
        SizeCase{"PocType2", With(SpsFields{}, [](SpsFields& f) { f.poc_type = 2; }), 0, true, 352,
                 288},
        SizeCase{"PocType1NoCycle",
                 With(SpsFields{},
                      [](SpsFields& f) {
                          f.poc_type = 1;
                          f.offset_for_non_ref_pic = -5;
                          f.offset_for_top_to_bottom_field = 7;
                      }),
                 0, true, 352, 288},
        SizeCase{"PocType1Cycle255",
                 With(SpsFields{},
                      [](SpsFields& f) {
                          f.poc_type = 1;
                          f.offset_for_ref_frame.assign(255, -3);
                      }),
                 0, true, 352, 288},
        SizeCase{"PocType1Cycle256IsInvalid",
                 With(SpsFields{},
                      [](SpsFields& f) {
                          f.poc_type = 1;
                          f.offset_for_ref_frame.assign(256, 1);
                      }),
                 -1, false, 0, 0},
        SizeCase{"PocType1HugeCycleIsInvalid",
                 With(SpsFields{},
                      [](SpsFields& f) {
                          f.poc_type = 1;
                          f.cycle_length_override = 0xFFFFFFFEu;
                      }),
                 -1, false, 0, 0},
        SizeCase{"PocType3IsInvalid", With(SpsFields{}, [](SpsFields& f) { f.poc_type = 3; }), -1,
                 false, 0, 0},
        SizeCase{"LargeSpsIdAndFrameNum",
                 With(SpsFields{},
                      [](SpsFields& f) {
                          f.sps_id = 31;
                          f.log2_max_frame_num_minus4 = 12;
                          f.max_num_ref_frames = 16;
                      }),
                 0, true, 352, 288},
        SizeCase{"ScalingEightFlatLists",
                 With(High(100, 1),
                      [](SpsFields& f) {
                          f.scaling_matrix_present = 1;
                          for (int i = 0; i < 6; ++i)
                              f.scaling_deltas[i].assign(16, 0);
                          for (int i = 6; i < 8; ++i)
                              f.scaling_deltas[i].assign(64, 0);
                      }),
                 0, true, 352, 288},
        SizeCase{"ScalingTwelveListsFor444",
                 With(High(244, 3),
                      [](SpsFields& f) {
                          f.scaling_matrix_present = 1;
                          for (int i = 0; i < 6; ++i)
                              f.scaling_deltas[i].assign(16, 1);
                          for (int i = 6; i < 12; ++i)
                              f.scaling_deltas[i].assign(64, 3);
                      }),
                 0, true, 352, 288},
        SizeCase{"ScalingSomeListsAbsent",
                 With(High(100, 1),
                      [](SpsFields& f) {
                          f.scaling_matrix_present = 1;
                          f.scaling_deltas[2].assign(16, 3);
                          f.scaling_deltas[7].assign(64, 2);
                      }),
                 0, true, 352, 288},
        // A next value of 0 ends the list's deltas early (the list repeats its
        // last entry); a delta of -8 at j = 0 selects the default list.
        SizeCase{"ScalingListsEndEarly",
                 With(High(100, 1),
                      [](SpsFields& f) {
                          f.scaling_matrix_present = 1;
                          f.scaling_deltas[0] = {-8};
                          f.scaling_deltas[1] = {4, 4, -16};
                          f.scaling_deltas[6] = {120, -128};
                      }),
                 0, true, 352, 288},
        SizeCase{"ScalingDeltaBelowRangeIsInvalid",
                 With(High(100, 1),
                      [](SpsFields& f) {
                          f.scaling_matrix_present = 1;
                          f.scaling_deltas[0] = {-129};
                      }),
                 -1, false, 0, 0},
        SizeCase{"ScalingDelta128IsInvalid",
                 With(High(100, 1),
                      [](SpsFields& f) {
                          f.scaling_matrix_present = 1;
                          f.scaling_deltas[1] = {1, 128};
                      }),
                 -1, false, 0, 0},
        SizeCase{"ScalingDeltaAboveRangeIsInvalid",
                 With(High(100, 1),
                      [](SpsFields& f) {
                          f.scaling_matrix_present = 1;
                          f.scaling_deltas[3] = {0x7FFFFFFF};
                      }),
                 -1, false, 0, 0}),
    CaseName);

TEST(Sps, UnlistedProfileTouchesNothingElse) {
    SpsInfo info;
    info.level_idc = 0xAA;
    info.pic_width_in_mbs_minus1 = 77;
    info.chroma_format_idc = 3;
    info.valid = 1;
    SpsFields f = High(83, 1);
    f.level_idc = 51;
    EXPECT_EQ(ParseNal(BuildSpsNal(f), &info), 0);
    EXPECT_EQ(info.valid, 0);
    EXPECT_EQ(info.profile_idc, 83u);
    EXPECT_EQ(info.level_idc, 0xAAu);
    EXPECT_EQ(info.pic_width_in_mbs_minus1, 77u);
    EXPECT_EQ(info.chroma_format_idc, 3u);
}

TEST(Sps, StoresTheFieldsItPassesOver) {
    SpsFields f = Cropped(Interlaced(High(244, 3), 1), 1, 2, 3, 4);
    f.constraint_flags = 0xA;  // set0 and set2
    f.level_idc = 41;
    f.sps_id = 5;
    f.separate_colour_plane = 1;
    f.bit_depth_luma_minus8 = 2;
    f.bit_depth_chroma_minus8 = 4;
    f.log2_max_frame_num_minus4 = 6;
    f.poc_type = 1;
    f.delta_pic_order_always_zero = 1;
    f.offset_for_non_ref_pic = -9;
    f.offset_for_top_to_bottom_field = 11;
    f.offset_for_ref_frame = {5, -6, 0x7FFFFFFF};
    f.max_num_ref_frames = 4;
    f.vui = 1;
    SpsInfo info;
    info.chroma_format_idc = 0;
    // A previous SPS with the same flags set must not leak into this one.
    info.seq_scaling_matrix_present_flag = 1;
    info.seq_scaling_list_present_flag[4] = 1;
    ASSERT_EQ(ParseNal(BuildSpsNal(f), &info), 0);
    ASSERT_EQ(info.valid, 1);
    EXPECT_EQ(info.profile_idc, 244u);
    EXPECT_EQ(info.constraint_set0_flag, 1);
    EXPECT_EQ(info.constraint_set1_flag, 0);
    EXPECT_EQ(info.constraint_set2_flag, 1);
    EXPECT_EQ(info.constraint_set3_flag, 0);
    EXPECT_EQ(info.level_idc, 41u);
    EXPECT_EQ(info.seq_parameter_set_id, 5u);
    EXPECT_EQ(info.chroma_format_idc, 3u);
    EXPECT_EQ(info.separate_colour_plane_flag, 1);
    EXPECT_EQ(info.bit_depth_luma_minus8, 2u);
    EXPECT_EQ(info.bit_depth_chroma_minus8, 4u);
    EXPECT_EQ(info.seq_scaling_matrix_present_flag, 0);
    EXPECT_EQ(info.seq_scaling_list_present_flag[4], 0);
    EXPECT_EQ(info.log2_max_frame_num_minus4, 6u);
    EXPECT_EQ(info.pic_order_cnt_type, 1u);
    EXPECT_EQ(info.delta_pic_order_always_zero_flag, 1);
    EXPECT_EQ(info.offset_for_non_ref_pic, -9);
    EXPECT_EQ(info.offset_for_top_to_bottom_field, 11);
    ASSERT_EQ(info.num_ref_frames_in_pic_order_cnt_cycle, 3u);
    EXPECT_EQ(info.offset_for_ref_frame[0], 5);
    EXPECT_EQ(info.offset_for_ref_frame[1], -6);
    EXPECT_EQ(info.offset_for_ref_frame[2], 0x7FFFFFFF);
    EXPECT_EQ(info.max_num_ref_frames, 4u);
    EXPECT_EQ(info.pic_width_in_mbs_minus1, 21u);
    EXPECT_EQ(info.pic_height_in_map_units_minus1, 17u);
    EXPECT_EQ(info.frame_mbs_only_flag, 0);
    EXPECT_EQ(info.mb_adaptive_frame_field_flag, 1);
    EXPECT_EQ(info.direct_8x8_inference_flag, 1);
    EXPECT_EQ(info.frame_cropping_flag, 1);
    EXPECT_EQ(info.frame_crop_left_offset, 1u);
    EXPECT_EQ(info.frame_crop_right_offset, 2u);
    EXPECT_EQ(info.frame_crop_top_offset, 3u);
    EXPECT_EQ(info.frame_crop_bottom_offset, 4u);
    EXPECT_EQ(info.vui_parameters_present_flag, 1);
    int32_t width = 0;
    int32_t height = 0;
    SpsPictureSize(info, &width, &height);
    // Separate planes: crop units 1 x 2 for fields.
    EXPECT_EQ(width, 352 - 3);
    EXPECT_EQ(height, 576 - 2 * 7);
}

TEST(Sps, ScalingListValues) {
    SpsFields f = High(100, 1);
    f.scaling_matrix_present = 1;
    f.scaling_deltas[0] = {8, -4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    f.scaling_deltas[1] = {4, 4, -16};      // 12, 16, then next 0: 16 repeats
    f.scaling_deltas[6] = {-8};             // next 0 at j = 0
    f.scaling_deltas[7] = {-7, 254 - 256};  // 1, then (1 - 2 + 256) % 256 = 255
    f.scaling_deltas[7].resize(64, 0);
    SpsInfo info;
    ASSERT_EQ(ParseNal(BuildSpsNal(f), &info), 0);
    ASSERT_EQ(info.valid, 1);
    EXPECT_EQ(info.seq_scaling_matrix_present_flag, 1);
    const uint8_t expectedFlags[12] = {1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(info.seq_scaling_list_present_flag[i], expectedFlags[i]);
    EXPECT_EQ(info.scaling_list_4x4[0][0], 16);
    EXPECT_EQ(info.scaling_list_4x4[0][1], 12);
    EXPECT_EQ(info.scaling_list_4x4[0][15], 12);
    EXPECT_EQ(info.scaling_list_4x4[1][0], 12);
    EXPECT_EQ(info.scaling_list_4x4[1][1], 16);
    EXPECT_EQ(info.scaling_list_4x4[1][2], 16);
    EXPECT_EQ(info.scaling_list_4x4[1][15], 16);
    EXPECT_EQ(info.scaling_list_8x8[0][0], 8);
    EXPECT_EQ(info.scaling_list_8x8[0][63], 8);
    EXPECT_EQ(info.scaling_list_8x8[1][0], 1);
    EXPECT_EQ(info.scaling_list_8x8[1][1], 255);
    EXPECT_EQ(info.scaling_list_8x8[1][63], 255);
    int32_t width = 0;
    int32_t height = 0;
    SpsPictureSize(info, &width, &height);
    EXPECT_EQ(width, 352);
    EXPECT_EQ(height, 288);
}

TEST(Sps, EmulationPreventedRbspParses) {
    // Level 0 and a large sps id give 00 00 01 in the RBSP: the NAL unit
    // carries 00 00 03 01 and the parse needs the 03 gone.
    SpsFields f = Baseline(79, 44);
    f.level_idc = 0;
    f.sps_id = 200;
    const std::vector<uint8_t> rbsp = BuildSpsRbsp(f);
    const std::vector<uint8_t> nal = BuildSpsNal(f);
    ASSERT_EQ(nal.size(), rbsp.size() + 2) << "expected exactly one escape";
    ASSERT_EQ(nal[3], 0x00);
    ASSERT_EQ(nal[4], 0x03);
    SpsInfo info;
    ASSERT_EQ(ParseNal(nal, &info), 0);
    ASSERT_EQ(info.valid, 1);
    EXPECT_EQ(info.seq_parameter_set_id, 200u);
    int32_t width = 0;
    int32_t height = 0;
    SpsPictureSize(info, &width, &height);
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 720);

    // Parsed without removal, the 03 shifts every later field.
    std::vector<uint8_t> raw = nal;
    RbspBitReader reader;
    InitRbspBitReader(&reader, raw.data(), raw.size());
    SpsInfo wrong;
    ParseSps(&reader, &wrong);
    EXPECT_NE(wrong.seq_parameter_set_id, 200u);
}

// Every prefix of an SPS either fails or gives the full SPS's size: a cut-off
// field must never read as zero into a different size.
TEST(Sps, TruncatedAtEveryLength) {
    const SpsFields cases[] = {
        Baseline(79, 44),
        Cropped(Interlaced(Baseline(79, 29), 0), 0, 0, 0, 4),
        Cropped(High(100, 1), 0, 0, 0, 4),
        With(Cropped(Interlaced(High(244, 3), 1), 0, 3, 0, 2),
             [](SpsFields& f) {
                 f.scaling_matrix_present = 1;
                 f.scaling_deltas[0].assign(16, 1);
                 f.scaling_deltas[11].assign(64, 1);
                 f.vui = 1;
             }),
        With(Baseline(44, 35),
             [](SpsFields& f) {
                 f.poc_type = 1;
                 f.offset_for_ref_frame = {1, -2, 3};
             }),
    };
    for (const SpsFields& f : cases) {
        const std::vector<uint8_t> nal = BuildSpsNal(f);
        SpsInfo full;
        ASSERT_EQ(ParseNal(nal, &full), 0);
        ASSERT_EQ(full.valid, 1);
        int32_t fullWidth = 0;
        int32_t fullHeight = 0;
        SpsPictureSize(full, &fullWidth, &fullHeight);
        for (size_t length = 0; length < nal.size(); ++length) {
            // Exactly `length` bytes on the heap so ASan sees any overrun.
            std::vector<uint8_t> prefix(nal.begin(),
                                        nal.begin() + static_cast<std::ptrdiff_t>(length));
            prefix.shrink_to_fit();
            const int n = RemoveEmulationPrevention(static_cast<int>(length), prefix.data());
            RbspBitReader reader;
            InitRbspBitReader(&reader, prefix.data(), n < 0 ? 0 : static_cast<size_t>(n));
            SpsInfo info;
            ParseSps(&reader, &info);
            if (!info.valid)
                continue;
            int32_t width = 0;
            int32_t height = 0;
            SpsPictureSize(info, &width, &height);
            EXPECT_EQ(width, fullWidth) << "prefix " << length << " of " << nal.size();
            EXPECT_EQ(height, fullHeight) << "prefix " << length << " of " << nal.size();
        }
    }
}

TEST(Sps, MissingStopBitStillParses) {
    // Some encoders drop the stop bit. Here the zero VUI flag then lies past
    // the last nonzero byte, and reads as 0.
    SpsFields f = Interlaced(Baseline(21, 17), 0);
    f.stop_bit = false;
    const std::vector<uint8_t> rbsp = BuildSpsRbsp(f);
    ASSERT_EQ(rbsp.back(), 0x00) << "the VUI flag must start a byte of its own";
    SpsInfo info;
    ASSERT_EQ(ParseNal(BuildSpsNal(f), &info), 0);
    ASSERT_EQ(info.valid, 1);
    int32_t width = 0;
    int32_t height = 0;
    SpsPictureSize(info, &width, &height);
    EXPECT_EQ(width, 352);
    EXPECT_EQ(height, 576);
}

TEST(Sps, JunkPayloads) {
    struct Case {
        const char* name;
        std::vector<uint8_t> rbsp;
        int expectedReturn;
    };
    const Case cases[] = {
        {"AllZero", std::vector<uint8_t>(32, 0x00), 0},                  // profile 0
        {"AllFF", std::vector<uint8_t>(32, 0xFF), 0},                    // profile 255
        {"Profile66ThenFF", {66, 0xFF, 0xFF, 0xFF, 0xFF}, -1},           // reserved bits
        {"Profile66ThenZeros", {66, 0x00, 0x00, 0x00, 0x00, 0x00}, -1},  // sps id never ends
        {"Profile100ThenZeros", {100, 0x00, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x80}, -1},
        {"Profile66Only", {66}, -1},
        {"Empty", {}, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> nal{0x67};
        nal.insert(nal.end(), c.rbsp.begin(), c.rbsp.end());
        RbspBitReader reader;
        InitRbspBitReader(&reader, nal.data(), nal.size());
        SpsInfo info;
        info.valid = 1;
        EXPECT_EQ(ParseSps(&reader, &info), c.expectedReturn) << c.name;
        EXPECT_EQ(info.valid, 0) << c.name;
    }
}

TEST(Sps, NullArguments) {
    SpsInfo info;
    RbspBitReader reader;
    EXPECT_EQ(ParseSps(nullptr, &info), -1);
    EXPECT_EQ(ParseSps(&reader, nullptr), -1);
}

TEST(Sps, PictureSizeOfOutOfRangeRecordIsZero) {
    SpsInfo hugeWidth;
    hugeWidth.frame_mbs_only_flag = 1;
    hugeWidth.pic_width_in_mbs_minus1 = 0xFFFFFFFFu;
    SpsInfo hugeHeight;
    hugeHeight.pic_height_in_map_units_minus1 = 0xFFFFFFFFu;
    SpsInfo hugeCrop;
    hugeCrop.frame_mbs_only_flag = 1;
    hugeCrop.frame_cropping_flag = 1;
    hugeCrop.frame_crop_left_offset = 0xFFFFFFFFu;
    hugeCrop.frame_crop_right_offset = 0xFFFFFFFFu;
    SpsInfo badChroma;
    badChroma.frame_mbs_only_flag = 1;
    badChroma.chroma_format_idc = 7;
    for (const SpsInfo& info : {hugeWidth, hugeHeight, hugeCrop, badChroma}) {
        int32_t width = -1;
        int32_t height = -1;
        SpsPictureSize(info, &width, &height);
        EXPECT_EQ(width, 0);
        EXPECT_EQ(height, 0);
    }
}

}  // namespace
}  // namespace camvue
