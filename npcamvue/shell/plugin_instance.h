// PluginInstance: one per browser instance of the plug-in (NPP->pdata). This
// holds what the video path needs: the window, its rectangle, the render
// thread and its events, the renderer, the frame buffer, the instance lock
// and the stream core. Created zero-filled; every handle or pointer is null
// until set.
#pragma once

#include <windows.h>

#include <cstdint>

#include "npcamvue/shell/npapi.h"
#include "npcamvue/shell/renderer.h"
#include "npcamvue/shell/spin_lock.h"

namespace camvue {

struct StreamCore;

struct PluginInstance {
    HWND hwnd;        // the plug-in window, null while detached
    RECT windowRect;  // screen coordinates, refreshed by NPP_SetWindow
    HANDLE renderThread;
    HANDLE quitEvent;     // manual reset: ends the render thread
    HANDLE startedEvent;  // auto reset: the render thread runs
    mStructRenderer renderer;
    NPP npp;
    NPWindow* npWindow;  // the NPWindow last given to NPP_SetWindow
    uint8_t attached;
    NPObject* scriptObject;
    uint8_t* frameBuffer;  // AlignedBlock: the coded frame being decoded
    SpinLock lock;         // serialises drawing against release
    StreamCore* core;
    char* elementId;  // AlignedBlock text + two NULs
    int32_t elementIdLength;
    NPObject* windowObject;
    // Kept per instance, after the fields above: the procedure the window
    // had before this instance subclassed it (Detach puts it back), and the
    // instance's own copy of the NPWindow last given (npWindow points here,
    // so it never refers to memory the browser may reuse).
    WNDPROC previousWndProc;
    NPWindow windowCopy;
};

// A zero-filled instance with its lock set up; null when memory is short.
PluginInstance* InstanceCreate();
// Frees what InstanceCreate made and the instance's own buffers (the
// renderer must be torn down and the render thread stopped). Null is ignored.
void InstanceFree(PluginInstance* instance);

// The browser's NPN_InvalidateRect, or null where there is no browser; the
// render thread asks through it for a repaint of the plug-in area.
using InvalidateRectFn = void (*)(NPP npp, NPRect* rect);
extern InvalidateRectFn g_invalidateRect;

}  // namespace camvue
