// MPEG-4 Visual (ISO/IEC 14496-2) configuration: the usability test and the
// video object layer (VOL) header, read for the picture size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/picture_size.h"

namespace camvue {

// True when the bytes begin with 00 00 01 and the code is B0 (visual object
// sequence), 20-2F (VOL), or B6 (VOP) with an I-VOP coding type.
bool IsMpeg4Config(const uint8_t* bytes, size_t length);

// Offset of the next start code at or after `from`: 00 00 01 plus its code
// byte, or the short video header prefix (00 00 then 100000xx). Returns
// `length` when there is none.
size_t FindMpeg4StartCode(const uint8_t* bytes, size_t length, size_t from);

struct Mpeg4VolInfo {
    bool ok = false;
    int32_t width = 0;
    int32_t height = 0;
    size_t startCodeOffset = 0;  // of the 00 00 01 2x, once one was found
};

// Finds the first VOL start code (00 00 01 20-2F) and reads its header up to
// the picture size. Fails when there is no VOL, a marker bit is 0, the shape is
// not rectangular, vop_time_increment_resolution is 0, the header is cut off,
// or a dimension is 0. Returns out->ok.
bool ParseMpeg4Vol(const uint8_t* bytes, size_t length, Mpeg4VolInfo* out);

// Sets *size from a successful parse; leaves it alone otherwise.
void ApplyMpeg4Vol(const Mpeg4VolInfo& vol, PictureSize* size);

}  // namespace camvue
