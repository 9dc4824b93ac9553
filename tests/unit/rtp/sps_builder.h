// Test helper: SPS syntax values and their encoding as RBSP / NAL unit.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/unit/rtp/bit_writer.h"

namespace camvue {
namespace testing_support {

struct SpsFields {
    uint32_t profile_idc = 66;
    uint32_t constraint_flags = 0;  // constraint_set0..3, 4 bits
    uint32_t reserved4 = 0;         // the 4 bits after constraint_set3_flag
    uint32_t level_idc = 30;
    uint64_t sps_id = 0;
    uint64_t chroma_format_idc = 1;  // written for the high profiles only
    uint32_t separate_colour_plane = 0;
    uint64_t bit_depth_luma_minus8 = 0;
    uint64_t bit_depth_chroma_minus8 = 0;
    uint32_t scaling_matrix_present = 0;
    // Per list: empty = not present; otherwise the delta_scale values written.
    std::vector<int64_t> scaling_deltas[12];
    uint64_t log2_max_frame_num_minus4 = 0;
    uint64_t poc_type = 0;
    uint64_t log2_max_poc_lsb_minus4 = 2;
    uint32_t delta_pic_order_always_zero = 0;
    int64_t offset_for_non_ref_pic = 0;
    int64_t offset_for_top_to_bottom_field = 0;
    std::vector<int64_t> offset_for_ref_frame;    // its size is the cycle length
    uint64_t cycle_length_override = UINT64_MAX;  // writes this count instead
    uint64_t max_num_ref_frames = 1;
    uint64_t width_mbs_minus1 = 21;         // 352
    uint64_t height_map_units_minus1 = 17;  // 288
    uint32_t frame_mbs_only = 1;
    uint32_t mbaff = 0;
    uint32_t direct_8x8 = 1;
    uint32_t cropping = 0;
    uint64_t crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;
    uint32_t vui = 0;
    bool stop_bit = true;
};

inline bool IsHighProfile(uint32_t profile) {
    return profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
           profile == 83 || profile == 86 || profile == 118 || profile == 128;
}

inline std::vector<uint8_t> BuildSpsRbsp(const SpsFields& f) {
    BitWriter w;
    w.U(8, f.profile_idc);
    w.U(4, f.constraint_flags);
    w.U(4, f.reserved4);
    w.U(8, f.level_idc);
    w.Ue(f.sps_id);
    if (IsHighProfile(f.profile_idc)) {
        w.Ue(f.chroma_format_idc);
        if (f.chroma_format_idc == 3)
            w.U(1, f.separate_colour_plane);
        w.Ue(f.bit_depth_luma_minus8);
        w.Ue(f.bit_depth_chroma_minus8);
        w.U(1, 0);
        w.U(1, f.scaling_matrix_present);
        if (f.scaling_matrix_present) {
            const int lists = f.chroma_format_idc == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i) {
                w.U(1, f.scaling_deltas[i].empty() ? 0 : 1);
                for (int64_t d : f.scaling_deltas[i])
                    w.Se(d);
            }
        }
    }
    w.Ue(f.log2_max_frame_num_minus4);
    w.Ue(f.poc_type);
    if (f.poc_type == 0) {
        w.Ue(f.log2_max_poc_lsb_minus4);
    } else if (f.poc_type == 1) {
        w.U(1, f.delta_pic_order_always_zero);
        w.Se(f.offset_for_non_ref_pic);
        w.Se(f.offset_for_top_to_bottom_field);
        w.Ue(f.cycle_length_override != UINT64_MAX ? f.cycle_length_override
                                                   : f.offset_for_ref_frame.size());
        for (int64_t o : f.offset_for_ref_frame)
            w.Se(o);
    }
    w.Ue(f.max_num_ref_frames);
    w.U(1, 0);  // gaps_in_frame_num_value_allowed_flag
    w.Ue(f.width_mbs_minus1);
    w.Ue(f.height_map_units_minus1);
    w.U(1, f.frame_mbs_only);
    if (!f.frame_mbs_only)
        w.U(1, f.mbaff);
    w.U(1, f.direct_8x8);
    w.U(1, f.cropping);
    if (f.cropping) {
        w.Ue(f.crop_left);
        w.Ue(f.crop_right);
        w.Ue(f.crop_top);
        w.Ue(f.crop_bottom);
    }
    w.U(1, f.vui);
    if (f.stop_bit) {
        w.TrailingBits();
    } else {
        w.Align();
    }
    return w.bytes();
}

// NAL unit 0x67 (nal_ref_idc 3, type 7) with emulation prevention applied.
inline std::vector<uint8_t> BuildSpsNal(const SpsFields& f) {
    return Concat({{0x67}, AddEmulationPrevention(BuildSpsRbsp(f))});
}

}  // namespace testing_support
}  // namespace camvue
