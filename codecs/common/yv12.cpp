#include "codecs/common/yv12.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

// Range. The renderer hands YV12 to a DirectDraw blit, which takes YV12 as
// video range (BT.601: luma 16..235, chroma 16..240). JPEG files carry
// full-range samples (0..255) unless the encoder marked them otherwise, and so
// do H.264 streams that set video_full_range_flag. Copied unchanged, such a
// picture would show with crushed shadows, clipped highlights and too much
// colour. So full-range pictures are scaled to video range here and
// video-range pictures are copied as they are: the output is always video
// range, whatever the source.
//
// Arithmetic. The conversion works the way libswscale does it with area
// averaging and accurate rounding: each chroma sample is first averaged
// horizontally into 15-bit precision, then range-scaled, then averaged
// vertically and rounded once to 8 bits. The range scaling uses libswscale's
// fixed-point constants. A picture from here is thus bit-identical to what
// `ffmpeg -sws_flags area+accurate_rnd+bitexact -pix_fmt yuv420p` makes of the
// same decode, and the tests compare with exactly that.

namespace camvue::codecs {
namespace {

constexpr uint8_t kNeutralChroma = 128;

uint8_t Clip8(int value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// Full-range luma to video range, 8 bits in and out.
uint8_t LumaToVideoRange(int sample) {
    const int x = ((sample << 7) * 14071 + 33561947) >> 14;
    return Clip8((x + 64) >> 7);
}

// Full-range chroma to video range on a 15-bit (sample x 128) value.
int ChromaToVideoRange15(int x) {
    return (x * 1799 + 4081085) >> 11;
}

bool IsFullRange(const AVFrame& frame, UnmarkedRange unmarked) {
    switch (frame.format) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P:
            return true;
        default:
            break;
    }
    if (frame.color_range == AVCOL_RANGE_JPEG)
        return true;
    if (frame.color_range == AVCOL_RANGE_MPEG)
        return false;
    return unmarked == UnmarkedRange::kFull;
}

// One chroma plane (source subsampling shifts sx, sy) into a (W/2) x (H/2)
// plane. Target sample (i, j) covers luma columns 2i, 2i+1 and rows 2j, 2j+1.
void ConvertChroma(const uint8_t* src, int srcStride, int sx, int sy, bool full, uint8_t* dst,
                   size_t width, size_t height) {
    auto horizontal = [&](const uint8_t* row, size_t i) -> int {
        if (sx == 0)
            return (row[2 * i] + row[2 * i + 1]) << 6;
        return row[(2 * i) >> sx] << 7;
    };
    for (size_t j = 0; j < height; ++j) {
        uint8_t* out = dst + j * width;
        if (sy == 0) {
            const uint8_t* row0 = src + static_cast<ptrdiff_t>(2 * j) * srcStride;
            const uint8_t* row1 = row0 + srcStride;
            for (size_t i = 0; i < width; ++i) {
                int a = horizontal(row0, i);
                int b = horizontal(row1, i);
                if (full) {
                    a = ChromaToVideoRange15(a);
                    b = ChromaToVideoRange15(b);
                }
                out[i] = Clip8((a + b + 128) >> 8);
            }
        } else {
            const uint8_t* row = src + static_cast<ptrdiff_t>((2 * j) >> sy) * srcStride;
            for (size_t i = 0; i < width; ++i) {
                int x = horizontal(row, i);
                if (full)
                    x = ChromaToVideoRange15(x);
                out[i] = Clip8((x + 64) >> 7);
            }
        }
    }
}

}  // namespace

Yv12Layout Yv12LayoutFor(int width, int height) {
    Yv12Layout layout;
    if (width <= 0 || height <= 0)
        return layout;
    const size_t lumaSize = static_cast<size_t>(width) * static_cast<size_t>(height);
    layout.chromaWidth = static_cast<size_t>(width / 2);
    layout.chromaHeight = static_cast<size_t>(height / 2);
    layout.vOffset = lumaSize;
    layout.uOffset = lumaSize + lumaSize / 4;
    layout.size = layout.uOffset + layout.chromaWidth * layout.chromaHeight;
    return layout;
}

bool FrameToYv12(const AVFrame& frame, UnmarkedRange unmarked, std::vector<uint8_t>* out) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (desc == nullptr || out == nullptr || frame.width <= 0 || frame.height <= 0)
        return false;
    const uint64_t unsupported = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL |
                                 AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM |
                                 AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_ALPHA |
                                 AV_PIX_FMT_FLAG_BAYER;
    if ((desc->flags & unsupported) != 0 || desc->comp[0].depth != 8 || desc->comp[0].step != 1)
        return false;
    const bool gray = desc->nb_components == 1;
    if (!gray && (desc->nb_components != 3 || (desc->flags & AV_PIX_FMT_FLAG_PLANAR) == 0 ||
                  desc->log2_chroma_w > 2 || desc->log2_chroma_h > 2 || desc->comp[1].plane != 1 ||
                  desc->comp[2].plane != 2))
        return false;

    const int width = frame.width;
    const int height = frame.height;
    const Yv12Layout layout = Yv12LayoutFor(width, height);
    out->resize(layout.size);
    uint8_t* dst = out->data();
    const bool full = IsFullRange(frame, unmarked);

    uint8_t lumaMap[256];
    for (int v = 0; v < 256; ++v)
        lumaMap[v] = full ? LumaToVideoRange(v) : static_cast<uint8_t>(v);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = frame.data[0] + static_cast<ptrdiff_t>(y) * frame.linesize[0];
        uint8_t* outRow = dst + static_cast<size_t>(y) * static_cast<size_t>(width);
        if (full) {
            for (int x = 0; x < width; ++x)
                outRow[x] = lumaMap[row[x]];
        } else {
            std::memcpy(outRow, row, static_cast<size_t>(width));
        }
    }

    // Neutral chroma fills the gap between the planes (odd sizes) and stands
    // for the missing chroma of a gray picture.
    std::memset(dst + layout.vOffset, kNeutralChroma, layout.size - layout.vOffset);
    if (!gray) {
        const int sx = desc->log2_chroma_w;
        const int sy = desc->log2_chroma_h;
        // YV12: V (Cr, plane 2) first, then U (Cb, plane 1).
        ConvertChroma(frame.data[2], frame.linesize[2], sx, sy, full, dst + layout.vOffset,
                      layout.chromaWidth, layout.chromaHeight);
        ConvertChroma(frame.data[1], frame.linesize[1], sx, sy, full, dst + layout.uOffset,
                      layout.chromaWidth, layout.chromaHeight);
    }
    return true;
}

}  // namespace camvue::codecs
