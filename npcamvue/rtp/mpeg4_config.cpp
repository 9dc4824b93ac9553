#include "npcamvue/rtp/mpeg4_config.h"

#include "npcamvue/rtp/rbsp_bit_reader.h"

namespace camvue {
namespace {

constexpr int kShapeRectangular = 0;
constexpr int kShapeGrayscale = 3;
constexpr int kAspectExtendedPar = 15;
constexpr int kVbvParameterBits = 79;  // 15+1+15+1+15+1+3+11+1+15+1

bool IsVolStartCode(const uint8_t* b) {
    return b[0] == 0 && b[1] == 0 && b[2] == 1 && (b[3] & 0xF0) == 0x20;
}

// Number of bits needed for value, 0 for 0.
int BitLength(uint32_t value) {
    int bits = 0;
    while (value != 0) {
        ++bits;
        value >>= 1;
    }
    return bits;
}

bool ReadVolHeader(RbspBitReader* r, int32_t* width, int32_t* height) {
    RbspU(r, 1);  // random_accessible_vol
    RbspU(r, 8);  // video_object_type_indication
    uint32_t verid = 1;
    if (RbspU(r, 1)) {  // is_object_layer_identifier
        verid = RbspU(r, 4);
        RbspU(r, 3);  // video_object_layer_priority
    }
    if (RbspU(r, 4) == kAspectExtendedPar) {
        RbspU(r, 8);  // par_width
        RbspU(r, 8);  // par_height
    }
    if (RbspU(r, 1)) {  // vol_control_parameters
        RbspU(r, 2);    // chroma_format
        RbspU(r, 1);    // low_delay
        if (RbspU(r, 1)) {
            RbspU(r, 32);
            RbspU(r, 32);
            RbspU(r, kVbvParameterBits - 64);
        }
    }
    const uint32_t shape = RbspU(r, 2);
    if (shape == kShapeGrayscale && verid != 1)
        RbspU(r, 4);  // shape extension
    if (RbspU(r, 1) != 1)
        return false;
    const uint32_t resolution = RbspU(r, 16);
    if (RbspU(r, 1) != 1)
        return false;
    // 14496-2 forbids 0; the increment length below would be meaningless.
    if (resolution == 0)
        return false;
    if (RbspU(r, 1)) {  // fixed_vop_rate
        const int bits = BitLength(resolution - 1);
        RbspU(r, bits < 1 ? 1 : bits);  // fixed_vop_time_increment
    }
    if (shape != kShapeRectangular)
        return false;
    if (RbspU(r, 1) != 1)
        return false;
    const uint32_t w = RbspU(r, 13);
    if (RbspU(r, 1) != 1)
        return false;
    const uint32_t h = RbspU(r, 13);
    if (RbspU(r, 1) != 1)
        return false;
    // A read past the end yields 0 without moving, so a cut-off header could
    // still meet its markers further on; it is not a header.
    if (r->failed || w == 0 || h == 0)
        return false;
    *width = static_cast<int32_t>(w);
    *height = static_cast<int32_t>(h);
    return true;
}

}  // namespace

bool IsMpeg4Config(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length < 4)
        return false;
    if (bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1)
        return false;
    const uint8_t code = bytes[3];
    if (code == 0xB0 || (code >= 0x20 && code <= 0x2F))
        return true;
    // vop_coding_type 00: an I-VOP can start decoding.
    return code == 0xB6 && length >= 5 && (bytes[4] & 0xC0) == 0;
}

size_t FindMpeg4StartCode(const uint8_t* bytes, size_t length, size_t from) {
    if (bytes == nullptr)
        return length;
    for (size_t i = from; i < length && length - i >= 3; ++i) {
        if (bytes[i] != 0 || bytes[i + 1] != 0)
            continue;
        if ((bytes[i + 2] & 0xFC) == 0x80)
            return i;  // short video header
        if (bytes[i + 2] == 1 && length - i >= 4)
            return i;
    }
    return length;
}

bool ParseMpeg4Vol(const uint8_t* bytes, size_t length, Mpeg4VolInfo* out) {
    if (out == nullptr)
        return false;
    *out = Mpeg4VolInfo{};
    if (bytes == nullptr)
        return false;
    // One byte at a time; a start code needs at least one header byte after it.
    for (size_t i = 0; length >= 5 && i <= length - 5; ++i) {
        if (!IsVolStartCode(bytes + i))
            continue;
        out->startCodeOffset = i;
        RbspBitReader reader;
        InitRawBitReader(&reader, bytes + i + 4, length - i - 4);
        int32_t width = 0;
        int32_t height = 0;
        if (!ReadVolHeader(&reader, &width, &height))
            return false;
        out->ok = true;
        out->width = width;
        out->height = height;
        return true;
    }
    return false;
}

void ApplyMpeg4Vol(const Mpeg4VolInfo& vol, PictureSize* size) {
    if (!vol.ok || size == nullptr)
        return;
    size->width = vol.width;
    size->height = vol.height;
}

}  // namespace camvue
