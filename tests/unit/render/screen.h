// Window and screen helpers for the render tests: borderless test windows,
// message pumping, packed YV12 test pictures and the read-back of screen
// pixels through a DirectDraw primary surface locked read-only (under wine
// this sees blits clipped to child windows too, which never reach X).
#pragma once

#include <ddraw.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "npcamvue/shell/spin_lock.h"

namespace camvue_test {

struct Rgb {
    int r, g, b;
};
bool Near(Rgb a, Rgb b, int tolerance = 48);

// A borderless window (client = window rectangle), shown; with a parent it
// is a child at (x, y) of the parent's client area.
HWND MakeWindow(int x, int y, int width, int height, HWND parent = nullptr);
void Pump();

// Vertical bars, left to right, in the YV12 layout (Y, V, U; stride =
// width). Colours are given as RGB and converted with BT.601 limited range.
std::vector<uint8_t> Yv12Bars(int width, int height, const std::vector<Rgb>& bars);
extern const std::vector<Rgb> kFourBars;  // white, red, green, blue

// Screen pixels through a read-only lock of a renderer's primary surface
// (read through `*primary` at each grab, as the renderer may re-make it;
// `lock`, if given, is held around the grab). Under wine the primary of the
// DirectDraw object that blitted holds the picture even where it never
// reaches X (child windows).
class ScreenReader {
  public:
    explicit ScreenReader(IDirectDrawSurface7* const* primary, camvue::SpinLock* lock = nullptr)
        : primary_(primary), lock_(lock) {}
    // Takes a fresh copy of the screen. False when the lock failed.
    bool Grab();
    Rgb At(int x, int y) const;  // screen coordinates, from the last Grab
    // Waits (pumping messages) up to `ms` until the pixel is near `want`.
    bool WaitFor(int x, int y, Rgb want, int ms = 10000);

  private:
    IDirectDrawSurface7* const* primary_;
    camvue::SpinLock* lock_;
    std::vector<uint8_t> pixels_;
    int width_ = 0, height_ = 0, pitch_ = 0, bytes_ = 0;
    uint32_t rMask_ = 0, gMask_ = 0, bMask_ = 0;
};

}  // namespace camvue_test
