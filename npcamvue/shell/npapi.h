// NPAPI types the shell uses, declared from the published NPAPI layouts
// (Windows: no ws_info in NPWindow).
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

struct NPP_t {
    void* pdata;  // the plug-in's instance
    void* ndata;  // the browser's
};
using NPP = NPP_t*;

struct NPRect {
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
};

enum NPWindowType : int32_t {
    NPWindowTypeWindow = 1,
    NPWindowTypeDrawable = 2,
};

struct NPWindow {
    void* window;  // HWND on Windows
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    NPWindowType type;
};

struct NPObject;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(NPWindow) == 32 && offsetof(NPWindow, width) == 12 &&
                  offsetof(NPWindow, clipRect) == 20,
              "NPWindow on 32-bit Windows");
#endif

}  // namespace camvue
