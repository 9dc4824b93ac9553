// A PluginInstance from NPP_New to NPP_Destroy: instance start (the element
// id, the core, the page window's calls), Attach and Detach (the window
// subclassing and the render thread), and Instance release.
#pragma once

#include <windows.h>

#include "npcamvue/shell/npapi.h"

namespace camvue {

struct PluginInstance;

// The embed parameters NPP_New reads.
struct EmbedParams {
    bool autostart;   // on once a value is exactly "true"
    const char* url;  // the last "url", or null
};
// Scans argn/argv in order; pairs with a null name or value are skipped.
EmbedParams ScanEmbedParams(int argc, char* const* argn, char* const* argv);

// Instance start on a zero-filled instance: stores it in npp->pdata, finds
// the element id and its core, applies the parameters, then makes the page
// window's calls.
void InstanceStart(PluginInstance* instance, NPP npp, const EmbedParams& params);

// Subclasses window->window, starts the renderer and the render thread.
void Attach(PluginInstance* instance, const NPWindow* window);
// Puts the window's own procedure back, stops the render thread.
void Detach(PluginInstance* instance);
// Under the instance lock: releases the browser objects, leaves the core
// (destroying it with its last instance unless kept alive), tears the
// renderer down. The instance is freed afterwards with InstanceFree.
void InstanceRelease(PluginInstance* instance);

// The subclassed window's procedure: WM_PAINT runs the draw step.
LRESULT CALLBACK PluginWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace camvue
