// H.264 sequence parameter set (H.264 7.3.2.1.1), read for the picture size.
#pragma once

#include <cstdint>

#include "npcamvue/rtp/rbsp_bit_reader.h"

namespace camvue {

// Fields in the order of the SPS syntax. ue(v) and u(n) values are unsigned,
// se(v) values signed, flags one byte. Only the size fields are used; the
// others are kept because the parse passes over them.
struct SpsInfo {
    uint32_t profile_idc = 0;
    uint8_t constraint_set0_flag = 0;
    uint8_t constraint_set1_flag = 0;
    uint8_t constraint_set2_flag = 0;
    uint8_t constraint_set3_flag = 0;
    uint32_t level_idc = 0;
    uint32_t seq_parameter_set_id = 0;
    uint32_t chroma_format_idc = 1;
    uint8_t separate_colour_plane_flag = 0;
    uint32_t bit_depth_luma_minus8 = 0;
    uint32_t bit_depth_chroma_minus8 = 0;
    uint8_t seq_scaling_matrix_present_flag = 0;
    uint8_t seq_scaling_list_present_flag[12] = {};
    int32_t scaling_list_4x4[6][16] = {};  // lists 0-5
    int32_t scaling_list_8x8[6][64] = {};  // lists 6-11
    uint32_t log2_max_frame_num_minus4 = 0;
    uint32_t pic_order_cnt_type = 0;
    uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    uint8_t delta_pic_order_always_zero_flag = 0;
    int32_t offset_for_non_ref_pic = 0;
    int32_t offset_for_top_to_bottom_field = 0;
    uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
    int32_t offset_for_ref_frame[255] = {};
    uint32_t max_num_ref_frames = 0;
    uint8_t gaps_in_frame_num_value_allowed_flag = 0;
    uint32_t pic_width_in_mbs_minus1 = 0;
    uint32_t pic_height_in_map_units_minus1 = 0;
    uint8_t frame_mbs_only_flag = 0;
    uint8_t mb_adaptive_frame_field_flag = 0;
    uint8_t direct_8x8_inference_flag = 0;
    uint8_t frame_cropping_flag = 0;
    uint32_t frame_crop_left_offset = 0;
    uint32_t frame_crop_right_offset = 0;
    uint32_t frame_crop_top_offset = 0;
    uint32_t frame_crop_bottom_offset = 0;
    uint8_t vui_parameters_present_flag = 0;
    uint8_t valid = 0;  // 1 when the last parse succeeded
};

// Parses one SPS from a reader set up by InitRbspBitReader (emulation
// prevention already removed). Clears `valid` first and sets it on success.
// Returns 0 when valid, and also 0 for a profile outside 44, 66, 77, 88, 100,
// 110, 122, 244 (then only profile_idc is written). Returns -1 when the four
// bits after constraint_set3_flag are not 0 and for malformed data: a syntax
// element before vui_parameters_present_flag running past the stop bit,
// chroma_format_idc above 3, delta_scale outside -128..127,
// pic_order_cnt_type above 2, more than 255 reference-frame offsets, or a
// size outside the H.264 level limits or cropped to nothing.
int ParseSps(RbspBitReader* reader, SpsInfo* info);

// Width and height in pixels, cropped (H.264 7.4.2.1.1, crop units by
// ChromaArrayType). Gives 0 x 0 for a record whose size fields are out of range.
void SpsPictureSize(const SpsInfo& info, int32_t* width, int32_t* height);

}  // namespace camvue
