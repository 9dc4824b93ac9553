// Decoded pictures to the planar YV12 layout the plug-in's renderer takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVFrame;

namespace camvue::codecs {

// One YV12 picture of width W and height H in one buffer, rows packed:
// W x H luma bytes, then the V plane of (W / 2) x (H / 2) bytes at W x H, then
// the U plane of the same size at W x H + (W x H) / 4. For even sizes this is
// plain YV12 of W x H x 3 / 2 bytes; for odd sizes the chroma of the last
// column and row falls outside the layout and is left out, and the bytes
// between the two chroma planes are neutral chroma (128).
struct Yv12Layout {
    size_t chromaWidth = 0;
    size_t chromaHeight = 0;
    size_t vOffset = 0;
    size_t uOffset = 0;
    size_t size = 0;  // bytes up to the end of the U plane, never above W x H x 3 / 2
};

Yv12Layout Yv12LayoutFor(int width, int height);

// Which range a picture that does not say its own is taken to have.
enum class UnmarkedRange { kVideo, kFull };

// Converts one decoded picture to YV12 into *out (resized to the layout's
// size). Takes any 8-bit planar YUV or gray picture; fails (false) for other
// formats (high bit depths, RGB, palettes) and for sizes that are not positive.
bool FrameToYv12(const AVFrame& frame, UnmarkedRange unmarked, std::vector<uint8_t>* out);

}  // namespace camvue::codecs
