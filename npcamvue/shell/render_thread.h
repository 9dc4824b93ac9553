// The render thread of an attached instance: woken by its core's wakeEvent,
// it drains the frame ring through the draw step (or draws once on a redraw
// request) and asks the browser for a repaint; the instance's quitEvent ends
// it.
#pragma once

#include <windows.h>

namespace camvue {

struct PluginInstance;

DWORD WINAPI RenderThreadMain(void* instance);

// Creates the instance's quitEvent and startedEvent if missing, then the
// render thread if missing, and waits until it runs. False when the thread
// could not be made.
bool StartRenderThread(PluginInstance* instance);
// Signals quitEvent, waits for the thread, closes it and both events.
void StopRenderThread(PluginInstance* instance);

}  // namespace camvue
