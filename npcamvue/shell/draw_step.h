// The draw step: takes the next frame out of the core's ring, decodes it
// through the core's codec binding and shows the picture with the instance's
// renderer. Without a new picture it redraws the last one, or draws an
// empty white frame with a black outline; without a codec library it writes
// a statistics line instead. Runs on the render thread (window DC) and on
// WM_PAINT (paint DC), always under the instance lock.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace camvue {

struct PluginInstance;
struct StreamCore;

// True when a frame was taken out of the ring.
bool DrawStep(HDC dc, PluginInstance* instance, HWND hwnd);

// Redraws the last picture (at the instance's window size) or draws the
// empty frame.
void FallbackDrawing(HDC dc, PluginInstance* instance, HWND hwnd);

// "[%05u][%ux%u] key=%u size=%7u time=%I64u osize=%u [%ux%u]": frames
// received, frame size, key flag, frame length, presentation time, decode
// result, client area size. Returns the text length.
int FormatStatistics(char* out, size_t size, uint32_t framesReceived, uint32_t width,
                     uint32_t height, uint32_t key, uint32_t length, uint64_t pts, uint32_t decoded,
                     uint32_t clientWidth, uint32_t clientHeight);

// Whether a packed YV12 picture of `size` bytes holds width x height x 3 / 2
// bytes (the renderer reads that many).
bool PictureFits(int width, int height, int size);

}  // namespace camvue
