#include "npcamvue/rtp/h264_sps.h"

namespace camvue {
namespace {

// H.264 Annex A: PicWidthInMbs and FrameHeightInMbs never exceed
// Sqrt(MaxFS * 8) with MaxFS at most 139264 (level 6.2).
constexpr uint64_t kMaxMbsPerSide = 1055;

bool IsKnownProfile(uint32_t profile) {
    switch (profile) {
        case 44:
        case 66:
        case 77:
        case 88:
        case 100:
        case 110:
        case 122:
        case 244:
            return true;
        default:
            return false;
    }
}

bool HasChromaFields(uint32_t profile) {
    return profile == 44 || profile == 100 || profile == 110 || profile == 122 || profile == 244;
}

// H.264 7.3.2.1.1.1. The values are only stored.
bool ParseScalingList(RbspBitReader* reader, int32_t* list, int size) {
    int32_t lastScale = 8;
    int32_t nextScale = 8;
    for (int j = 0; j < size; ++j) {
        if (nextScale != 0) {
            const int32_t delta = RbspSe(reader);
            if (delta < -128 || delta > 127)
                return false;  // keeps the sum small
            nextScale = (lastScale + delta + 256) % 256;
        }
        list[j] = (nextScale == 0) ? lastScale : nextScale;
        lastScale = list[j];
    }
    return true;
}

// Cropped size in pixels, false when a field is out of range or the crop
// leaves no picture. All arithmetic in 64 bits: the offsets are full 32-bit
// ue(v) values.
bool CroppedSize(const SpsInfo& info, int64_t* width, int64_t* height) {
    const uint64_t widthMbs = uint64_t{info.pic_width_in_mbs_minus1} + 1;
    const uint64_t fieldFactor = info.frame_mbs_only_flag ? 1 : 2;
    const uint64_t heightMbs = (uint64_t{info.pic_height_in_map_units_minus1} + 1) * fieldFactor;
    if (widthMbs > kMaxMbsPerSide || heightMbs > kMaxMbsPerSide)
        return false;
    if (info.chroma_format_idc > 3)
        return false;
    // H.264 7.4.2.1.1: CropUnitX/Y follow SubWidthC/SubHeightC, 1 without chroma.
    const uint32_t chromaArrayType = info.separate_colour_plane_flag ? 0 : info.chroma_format_idc;
    uint64_t cropUnitX = 1;
    uint64_t cropUnitY = fieldFactor;
    if (chromaArrayType != 0) {
        cropUnitX = (chromaArrayType == 3) ? 1 : 2;
        cropUnitY = ((chromaArrayType == 1) ? 2 : 1) * fieldFactor;
    }
    uint64_t cropX = 0;
    uint64_t cropY = 0;
    if (info.frame_cropping_flag) {
        cropX = cropUnitX * (uint64_t{info.frame_crop_left_offset} + info.frame_crop_right_offset);
        cropY = cropUnitY * (uint64_t{info.frame_crop_top_offset} + info.frame_crop_bottom_offset);
    }
    const uint64_t fullWidth = widthMbs * 16;
    const uint64_t fullHeight = heightMbs * 16;
    if (cropX >= fullWidth || cropY >= fullHeight)
        return false;
    *width = static_cast<int64_t>(fullWidth - cropX);
    *height = static_cast<int64_t>(fullHeight - cropY);
    return true;
}

uint8_t Flag(RbspBitReader* reader) {
    return static_cast<uint8_t>(RbspU(reader, 1));
}

}  // namespace

int ParseSps(RbspBitReader* reader, SpsInfo* info) {
    if (reader == nullptr || info == nullptr)
        return -1;
    info->valid = 0;
    info->profile_idc = RbspU(reader, 8);
    if (!IsKnownProfile(info->profile_idc))
        return 0;
    info->constraint_set0_flag = Flag(reader);
    info->constraint_set1_flag = Flag(reader);
    info->constraint_set2_flag = Flag(reader);
    info->constraint_set3_flag = Flag(reader);
    if (RbspU(reader, 4) != 0)
        return -1;
    info->level_idc = RbspU(reader, 8);
    info->seq_parameter_set_id = RbspUe(reader);

    info->chroma_format_idc = 1;
    info->separate_colour_plane_flag = 0;
    info->bit_depth_luma_minus8 = 0;
    info->bit_depth_chroma_minus8 = 0;
    info->seq_scaling_matrix_present_flag = 0;
    for (uint8_t& present : info->seq_scaling_list_present_flag)
        present = 0;
    if (HasChromaFields(info->profile_idc)) {
        info->chroma_format_idc = RbspUe(reader);
        if (info->chroma_format_idc > 3)
            return -1;
        if (info->chroma_format_idc == 3)
            info->separate_colour_plane_flag = Flag(reader);
        info->bit_depth_luma_minus8 = RbspUe(reader);
        info->bit_depth_chroma_minus8 = RbspUe(reader);
        RbspU(reader, 1);  // qpprime_y_zero_transform_bypass_flag, not kept
        info->seq_scaling_matrix_present_flag = Flag(reader);
        if (info->seq_scaling_matrix_present_flag) {
            const int lists = (info->chroma_format_idc == 3) ? 12 : 8;
            for (int i = 0; i < lists; ++i) {
                info->seq_scaling_list_present_flag[i] = Flag(reader);
                if (!info->seq_scaling_list_present_flag[i])
                    continue;
                const bool ok = (i < 6)
                                    ? ParseScalingList(reader, info->scaling_list_4x4[i], 16)
                                    : ParseScalingList(reader, info->scaling_list_8x8[i - 6], 64);
                if (!ok)
                    return -1;
            }
        }
    }

    info->log2_max_frame_num_minus4 = RbspUe(reader);
    info->pic_order_cnt_type = RbspUe(reader);
    if (info->pic_order_cnt_type == 0) {
        info->log2_max_pic_order_cnt_lsb_minus4 = RbspUe(reader);
    } else if (info->pic_order_cnt_type == 1) {
        info->delta_pic_order_always_zero_flag = Flag(reader);
        info->offset_for_non_ref_pic = RbspSe(reader);
        info->offset_for_top_to_bottom_field = RbspSe(reader);
        info->num_ref_frames_in_pic_order_cnt_cycle = RbspUe(reader);
        if (info->num_ref_frames_in_pic_order_cnt_cycle > 255)
            return -1;
        for (uint32_t i = 0; i < info->num_ref_frames_in_pic_order_cnt_cycle; ++i) {
            info->offset_for_ref_frame[i] = RbspSe(reader);
        }
    } else if (info->pic_order_cnt_type > 2) {
        return -1;  // the rest would be read from the wrong bits
    }

    info->max_num_ref_frames = RbspUe(reader);
    info->gaps_in_frame_num_value_allowed_flag = Flag(reader);
    info->pic_width_in_mbs_minus1 = RbspUe(reader);
    info->pic_height_in_map_units_minus1 = RbspUe(reader);
    info->frame_mbs_only_flag = Flag(reader);
    info->mb_adaptive_frame_field_flag = 0;
    if (!info->frame_mbs_only_flag)
        info->mb_adaptive_frame_field_flag = Flag(reader);
    info->direct_8x8_inference_flag = Flag(reader);
    info->frame_cropping_flag = Flag(reader);
    info->frame_crop_left_offset = 0;
    info->frame_crop_right_offset = 0;
    info->frame_crop_top_offset = 0;
    info->frame_crop_bottom_offset = 0;
    if (info->frame_cropping_flag) {
        info->frame_crop_left_offset = RbspUe(reader);
        info->frame_crop_right_offset = RbspUe(reader);
        info->frame_crop_top_offset = RbspUe(reader);
        info->frame_crop_bottom_offset = RbspUe(reader);
    }
    // A cut-off SPS would otherwise read its missing fields as zeros and give
    // a wrong size (a missing frame_mbs_only_flag doubles the height).
    if (reader->failed)
        return -1;
    // An SPS without its stop bit may end right here; a missing flag reads 0.
    info->vui_parameters_present_flag = Flag(reader);

    int64_t width = 0;
    int64_t height = 0;
    if (!CroppedSize(*info, &width, &height))
        return -1;
    info->valid = 1;
    return 0;
}

void SpsPictureSize(const SpsInfo& info, int32_t* width, int32_t* height) {
    int64_t w = 0;
    int64_t h = 0;
    if (!CroppedSize(info, &w, &h)) {
        w = 0;
        h = 0;
    }
    if (width != nullptr)
        *width = static_cast<int32_t>(w);
    if (height != nullptr)
        *height = static_cast<int32_t>(h);
}

}  // namespace camvue
