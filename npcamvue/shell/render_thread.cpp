#include "npcamvue/shell/render_thread.h"

#include "npcamvue/shell/answering_wait.h"
#include "npcamvue/shell/draw_step.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue {
namespace {

void Invalidate(PluginInstance* instance) {
    InvalidateRectFn invalidate = g_invalidateRect;
    if (invalidate == nullptr || instance->npp == nullptr || instance->npWindow == nullptr)
        return;
    NPRect rect = {0, 0, static_cast<uint16_t>(instance->npWindow->height),
                   static_cast<uint16_t>(instance->npWindow->width)};
    invalidate(instance->npp, &rect);
}

bool RingHasFrames(StreamCore* core) {
    SpinLockGuard ring(core->frames.lock, "RenderThread");
    return core->readIndex != core->writeIndex;
}

void Drain(PluginInstance* instance, StreamCore* core, HDC dc, HWND hwnd) {
    while (RingHasFrames(core)) {
        if (WaitForSingleObject(instance->quitEvent, 0) == WAIT_OBJECT_0)
            return;
        // Without a window to draw into, or when another instance took the
        // frame first (or it could not be copied), draining would spin.
        if (instance->npWindow == nullptr)
            return;
        const bool took = DrawStep(dc, instance, hwnd);
        Invalidate(instance);
        if (!took)
            return;
    }
}

}  // namespace

DWORD WINAPI RenderThreadMain(void* arg) {
    auto* instance = static_cast<PluginInstance*>(arg);
    StreamCore* core = instance->core;
    if (core == nullptr) {
        SetEvent(instance->startedEvent);
        return 0;
    }
    HANDLE handles[2] = {instance->quitEvent, core->wakeEvent};
    SetEvent(instance->startedEvent);
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (woke != WAIT_OBJECT_0 + 1)
            return 0;
        HWND hwnd = instance->hwnd;
        if (hwnd == nullptr || instance->core == nullptr)
            continue;
        HDC dc = GetDC(hwnd);
        if (dc == nullptr)
            continue;
        if (InterlockedExchange(&core->redrawRequested, 0) != 0) {
            if (instance->npWindow != nullptr) {
                DrawStep(dc, instance, hwnd);
                Invalidate(instance);
            }
        } else {
            Drain(instance, core, dc, hwnd);
        }
        ReleaseDC(hwnd, dc);
    }
}

bool StartRenderThread(PluginInstance* instance) {
    if (instance->quitEvent == nullptr)
        instance->quitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (instance->startedEvent == nullptr)
        instance->startedEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (instance->quitEvent == nullptr || instance->startedEvent == nullptr)
        return false;
    if (instance->renderThread == nullptr) {
        instance->renderThread = CreateThread(nullptr, 0, RenderThreadMain, instance, 0, nullptr);
        if (instance->renderThread == nullptr)
            return false;
        WaitAnswering(instance->startedEvent);
    }
    return true;
}

void StopRenderThread(PluginInstance* instance) {
    if (instance->renderThread != nullptr) {
        SetEvent(instance->quitEvent);
        WaitAnswering(instance->renderThread);
        CloseHandle(instance->renderThread);
        instance->renderThread = nullptr;
    }
    if (instance->quitEvent != nullptr)
        CloseHandle(instance->quitEvent);
    if (instance->startedEvent != nullptr)
        CloseHandle(instance->startedEvent);
    instance->quitEvent = nullptr;
    instance->startedEvent = nullptr;
}

}  // namespace camvue
