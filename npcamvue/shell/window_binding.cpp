// Attach, Detach and the subclassed window's procedure.
#include "npcamvue/shell/draw_step.h"
#include "npcamvue/shell/instance_lifecycle.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/render_thread.h"

namespace camvue {
namespace {

constexpr int kStartWidth = 720;
constexpr int kStartHeight = 576;
constexpr int kRendererMode = 1;

}  // namespace

LRESULT CALLBACK PluginWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        auto* instance = reinterpret_cast<PluginInstance*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (instance != nullptr)
            DrawStep(dc, instance, hwnd);
        EndPaint(hwnd, &paint);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Attach(PluginInstance* instance, const NPWindow* window) {
    Detach(instance);
    HWND hwnd = static_cast<HWND>(window->window);
    instance->hwnd = hwnd;
    instance->previousWndProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PluginWindowProc)));
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(instance));
    instance->renderer.Init(hwnd, kStartWidth, kStartHeight, kRendererMode);
    instance->windowCopy = *window;
    instance->npWindow = &instance->windowCopy;
    StartRenderThread(instance);
    instance->attached = 1;
}

void Detach(PluginInstance* instance) {
    HWND hwnd = instance->hwnd;
    if (hwnd != nullptr) {
        // This window's own previous procedure, whatever other instances
        // subclassed since; the user data goes only if it is still ours.
        if (instance->previousWndProc != nullptr)
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC,
                              reinterpret_cast<LONG_PTR>(instance->previousWndProc));
        if (GetWindowLongPtrA(hwnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(instance))
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        instance->previousWndProc = nullptr;
        instance->hwnd = nullptr;
    }
    StopRenderThread(instance);
    instance->attached = 0;
}

}  // namespace camvue
