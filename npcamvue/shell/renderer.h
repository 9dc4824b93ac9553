// mStructRenderer: puts decoded YV12 pictures into the plug-in window with
// DirectDraw 7. A picture is copied row by row into an off-screen YV12
// surface in video memory of the picture's own size; one asynchronous
// stretch-blit onto the primary surface, clipped to the window, does the
// scaling and the colour conversion.
//
// One renderer per plug-in instance, always used under the instance lock, so
// never by two threads at once. Init returns 1/0, Show 1 when a blit was
// issued. Messages go through g_shellSeams.messageBox.
#pragma once

#include <ddraw.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace camvue {

struct mStructRenderer {
    IDirectDraw7* directDraw;
    IDirectDrawSurface7* primary;      // the "final surface"
    IDirectDrawClipper* clipper;       // bound to hwnd
    IDirectDrawSurface7* shadow;       // YV12, picture-sized: receives pictures
    IDirectDrawSurface7* textSurface;  // primary format, picture-sized, never drawn into
    HWND hwnd;
    RECT lastRect;        // last destination rectangle (screen), empty at start
    int32_t mode;         // given to Init, passed back on re-initialisation
    int32_t sizeChanged;  // set by Show; read and cleared by the caller

    // Builds every DirectDraw object for `window` and a picture of
    // width x height. 1 on success; 0 on failure, after the failing step's
    // message box (none for the DirectDraw object, the cooperative level and
    // the clipper), with everything released again. A processor exception
    // inside DirectDraw fails it too.
    int Init(HWND window, int width, int height, int initMode);
    // Releases every DirectDraw object (null-safe, repeatable).
    void Teardown();
    // Draws a packed YV12 picture (Y, then V, then U plane; stride = width)
    // of width x height, which must hold width x height x 3 / 2 bytes, into
    // the window, or into an override-sized area at the window's top-left
    // corner when `override` has a positive width and height (null or all
    // zeros: the window's size). A picture of another size re-creates the
    // surfaces first. 1 when a blit was issued.
    int Show(int width, int height, const uint8_t* picture, const RECT* override);
};

// Zero-filled state, as construction and Teardown leave it.
void RendererClear(mStructRenderer* renderer);

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(DDSURFACEDESC2) == 124, "DDSURFACEDESC2 is 124 bytes");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT is 32 bytes");
static_assert(sizeof(DDBLTFX) == 100, "DDBLTFX is 100 bytes");
static_assert(offsetof(mStructRenderer, hwnd) == 20 && offsetof(mStructRenderer, lastRect) == 24 &&
                  offsetof(mStructRenderer, mode) == 40 &&
                  offsetof(mStructRenderer, sizeChanged) == 44 && sizeof(mStructRenderer) == 48,
              "mStructRenderer fields in order");
#endif

}  // namespace camvue
