// picdec.dll: the JPEG codec library the plug-in loads at run time, on
// libavcodec's mjpeg decoder.
//
// Exports (by undecorated name, picdec.def; cdecl on 32-bit, the caller
// removes the arguments):
//   int AddRef(void** handle, int, int)   new decoder into *handle; 0, or -1 with *handle null
//   int DeCodeBmp(void* handle, const unsigned char* frame, BITMAPINFOHEADER* format,
//                 unsigned char* out, int* extra)
//   int Release(void* handle)             destroys the decoder; returns 0
//
// DeCodeBmp decodes the whole JPEG file at `frame`, biSizeImage bytes long, and
// returns 0 on success, -1 on failure. On success it sets biWidth and
// biHeight to the picture's own size (which wins over the size the caller
// announced), biPlanes 1, biBitCount 12 and biCompression "YV12", so that
// biBitCount x biWidth x biHeight / 8 bytes hold the picture. With `out` null
// it only sets the header (biSizeImage = the bytes the picture will take);
// with `out` it also writes the picture there in the YV12 layout of
// codecs/common/yv12.h, always video range (see there), and sets biSizeImage
// to the bytes written. The picture of the last file is kept, so the usual
// pair of calls for the same file decodes it once. A call with `out` whose
// header (as the caller passes it) describes fewer bytes than the picture
// needs fails without writing. *extra, when given, is set to 0.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "codecs/common/av_decoder.h"
#include "codecs/common/yv12.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes on both builds");

constexpr DWORD kFourccYv12 = 0x32315659;  // "YV12"
constexpr WORD kYv12Bits = 12;
constexpr DWORD kMaxFrameBytes = 64u << 20;

struct PicDecoder {
    camvue::codecs::AvDecoder av;
    std::vector<uint8_t> input;    // the file the picture came from
    std::vector<uint8_t> picture;  // its YV12 picture
    int width = 0;
    int height = 0;
    bool ready = false;

    bool Holds(const unsigned char* frame, size_t length) const {
        return ready && input.size() == length && std::memcmp(input.data(), frame, length) == 0;
    }

    bool Decode(const unsigned char* frame, size_t length) {
        ready = false;
        if (av.Decode(frame, length) != 1 ||
            !camvue::codecs::FrameToYv12(*av.frame(), camvue::codecs::UnmarkedRange::kFull,
                                         &picture))
            return false;
        width = av.frame()->width;
        height = av.frame()->height;
        input.assign(frame, frame + length);
        ready = true;
        return true;
    }
};

}  // namespace

extern "C" {

int __cdecl AddRef(void** handle, int, int) {
    if (handle == nullptr)
        return -1;
    *handle = nullptr;
    auto* decoder = new (std::nothrow) PicDecoder;
    if (decoder == nullptr)
        return -1;
    if (!decoder->av.Open(camvue::codecs::AvDecoder::Kind::kJpeg)) {
        delete decoder;
        return -1;
    }
    *handle = decoder;
    return 0;
}

int __cdecl DeCodeBmp(void* handle, const unsigned char* frame, BITMAPINFOHEADER* format,
                      unsigned char* out, int* extra) {
    auto* decoder = static_cast<PicDecoder*>(handle);
    if (format == nullptr || format->biSize < sizeof(BITMAPINFOHEADER))
        return -1;
    const DWORD length = format->biSizeImage;
    // What the caller allocated, by the header as it passes it in.
    const uint64_t capacity = static_cast<uint64_t>(format->biBitCount) *
                              static_cast<uint64_t>(std::llabs(format->biWidth)) *
                              static_cast<uint64_t>(std::llabs(format->biHeight)) / 8;
    format->biSizeImage = 0;
    if (decoder == nullptr || frame == nullptr || length == 0 || length > kMaxFrameBytes)
        return -1;
    if (!decoder->Holds(frame, length) && !decoder->Decode(frame, length))
        return -1;

    format->biWidth = decoder->width;
    format->biHeight = decoder->height;
    format->biPlanes = 1;
    format->biBitCount = kYv12Bits;
    format->biCompression = kFourccYv12;
    if (extra != nullptr)
        *extra = 0;
    const size_t size = decoder->picture.size();
    if (out != nullptr) {
        if (capacity < size)
            return -1;
        std::memcpy(out, decoder->picture.data(), size);
    }
    format->biSizeImage = static_cast<DWORD>(size);
    return 0;
}

int __cdecl Release(void* handle) {
    delete static_cast<PicDecoder*>(handle);
    return 0;
}

}  // extern "C"
