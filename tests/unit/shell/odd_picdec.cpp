// A test JPEG-style codec library with the exports of picdec.dll (built a
// second time without "Release", odd_partial.dll). The first byte of each
// frame chooses what DeCodeBmp does:
//   'P'  first call: biBitCount 12; second call: width x height x 3 / 2
//        bytes filled with the second byte, biSizeImage set to that
//   'F'  an access violation in the first call
//   'G'  as 'P', but an access violation in the second call
//   'E'  the first call fails (result 5)
//   'B'  the first call leaves biBitCount 0
//   'L'  as 'P', but the second call claims 1 MB more than it wrote
// *extra receives 42. Every entry is logged (odd_log.h).
#include <cstdint>
#include <cstring>

#include "tests/unit/shell/odd_log.h"

namespace {
int g_decoders = 0;
}

extern "C" {

int __cdecl AddRef(void** handle, int, int) {
    camvue::odd::Log("picdec.AddRef");
    *handle = &g_decoders;
    ++g_decoders;
    return 0;
}

int __cdecl DeCodeBmp(void* handle, const unsigned char* frame, BITMAPINFOHEADER* format,
                      unsigned char* out, int* extra) {
    camvue::odd::Log(out == nullptr ? "picdec.DeCodeBmp" : "picdec.DeCodeBmp+out");
    if (handle != &g_decoders || frame == nullptr || format == nullptr)
        return 1;
    *extra = 42;
    const char mode = static_cast<char>(frame[0]);
    if (out == nullptr) {
        switch (mode) {
            case 'F':
                camvue::odd::AccessViolation();
                return 0;
            case 'E':
                return 5;
            case 'B':
                format->biBitCount = 0;
                return 0;
            default:
                format->biBitCount = 12;
                return 0;
        }
    }
    if (mode == 'G')
        camvue::odd::AccessViolation();
    const DWORD bytes = static_cast<DWORD>(format->biWidth * format->biHeight * 3 / 2);
    std::memset(out, format->biSizeImage > 1 ? frame[1] : 0, bytes);
    format->biSizeImage = bytes + (mode == 'L' ? (1u << 20) : 0u);
    return 0;
}

#if !defined(ODD_PARTIAL)
int __cdecl Release(void* handle) {
    camvue::odd::Log("picdec.Release");
    if (handle == &g_decoders)
        --g_decoders;
    return 0;
}
#endif

}  // extern "C"
