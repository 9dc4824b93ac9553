#include "npcamvue/shell/renderer.h"

#include <cstring>

#include "npcamvue/shell/guarded_call.h"
#include "npcamvue/shell/shell_seams.h"
#include "npcamvue/shell/spin_lock.h"

namespace camvue {
namespace {

// {15E65EC0-3B9C-11D2-B92F-00609797EA5B}
const GUID kIidDirectDraw7 = {
    0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};

constexpr DWORD kCooperation = DDSCL_NORMAL | DDSCL_MULTITHREADED;                        // 0x408
constexpr DWORD kSurfaceFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;  // 0x1007
constexpr DWORD kFourccYv12 = 0x32315659;                                                 // "YV12"
constexpr DWORD kLockFlags = DDLOCK_WAIT | DDLOCK_WRITEONLY;                              // 0x21
constexpr DWORD kBltFlags = DDBLT_ASYNC | DDBLT_ROP | DDBLT_DONOTWAIT;  // 0x08020200
static_assert(kCooperation == 0x408 && kSurfaceFlags == 0x1007 && kLockFlags == 0x21 &&
                  kBltFlags == 0x08020200,
              "the renderer's DirectDraw flags");

constexpr const char* kInitCaption = "Error";

// Every renderer's DirectDraw calls, in every thread, one at a time. Under
// wine all DirectDraw objects of a process share one lock of their own, and
// a call on a render thread may send messages to the window's thread while it
// holds it: a window thread that then entered DirectDraw itself (a release,
// a repaint) would wait for that lock without answering, and neither thread
// would go on. Waiting here instead answers those messages (SpinLock waits
// on a thread with windows do). Message boxes go up outside it.
SpinLock& DirectDrawLock() {
    static SpinLock lock("DirectDraw");
    return lock;
}

template <typename T>
void ReleaseInto(T*& object) {
    if (object != nullptr)
        object->Release();
    object = nullptr;
}

void ZeroDescription(DDSURFACEDESC2* desc) {
    std::memset(desc, 0, sizeof *desc);
    desc->dwSize = sizeof *desc;
}

// The body of Init, run guarded. Returns 1/0 and the message to show (null:
// none); the message box goes up after the guard is gone.
int InitSteps(mStructRenderer* r, int width, int height, const char** message) {
    GUID device = {};
    void* created = nullptr;
    if (FAILED(g_shellSeams.createDirectDraw(&device, &created, kIidDirectDraw7, nullptr)) ||
        created == nullptr)
        return 0;
    r->directDraw = static_cast<IDirectDraw7*>(created);
    if (FAILED(r->directDraw->SetCooperativeLevel(r->hwnd, kCooperation)))
        return 0;

    DDSURFACEDESC2 desc;
    ZeroDescription(&desc);
    desc.dwFlags = kSurfaceFlags;
    desc.ddsCaps.dwCaps = DDSCAPS_VIDEOMEMORY;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddpfPixelFormat.dwFlags = DDPF_FOURCC;
    desc.ddpfPixelFormat.dwFourCC = kFourccYv12;
    desc.ddpfPixelFormat.dwYUVBitCount = 12;
    if (FAILED(r->directDraw->CreateSurface(&desc, &r->shadow, nullptr))) {
        r->shadow = nullptr;
        *message = "Error: Create Shadow Surface";
        return 0;
    }

    ZeroDescription(&desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (FAILED(r->directDraw->CreateSurface(&desc, &r->primary, nullptr))) {
        r->primary = nullptr;
        *message = "Error: Create Final Surface";
        return 0;
    }
    if (FAILED(r->directDraw->CreateClipper(0, &r->clipper, nullptr))) {
        r->clipper = nullptr;
        return 0;
    }
    if (FAILED(r->primary->SetClipper(r->clipper))) {
        *message = "Error: Set Clipper Surface";
        return 0;
    }
    if (FAILED(r->clipper->SetHWnd(0, r->hwnd))) {
        *message = "Error: Set Handle Window";
        return 0;
    }

    ZeroDescription(&desc);
    if (FAILED(r->primary->GetSurfaceDesc(&desc)))
        return 1;  // no text surface
    desc.dwSize = sizeof desc;
    desc.dwFlags = kSurfaceFlags;
    std::memset(&desc.ddsCaps, 0, sizeof desc.ddsCaps);
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    if (FAILED(r->directDraw->CreateSurface(&desc, &r->textSurface, nullptr))) {
        r->textSurface = nullptr;
        *message = "Error: Create Shadow Text Surface";
        return 0;
    }
    return 1;
}

void TeardownSteps(mStructRenderer* r) {
    if (r->primary != nullptr)
        r->primary->SetClipper(nullptr);
    ReleaseInto(r->primary);
    ReleaseInto(r->textSurface);
    ReleaseInto(r->clipper);
    ReleaseInto(r->shadow);
    ReleaseInto(r->directDraw);
}

bool EmptyRect(const RECT& r) {
    return r.right - r.left <= 0 || r.bottom - r.top <= 0;
}

// Copies the three planes into the locked surface: Y rows at the pitch, then
// the two chroma planes at half the pitch, continuing where the luma ended.
// Nothing is written when the surface is not at least the picture's size.
void CopyPicture(const DDSURFACEDESC2& locked, int width, int height, const uint8_t* picture) {
    const LONG pitch = locked.lPitch;
    if (locked.lpSurface == nullptr || pitch < width || static_cast<LONG>(locked.dwWidth) < width ||
        static_cast<LONG>(locked.dwHeight) < height)
        return;
    auto* out = static_cast<uint8_t*>(locked.lpSurface);
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    const uint8_t* in = picture;
    for (size_t row = 0; row < h; ++row, out += pitch, in += w)
        std::memcpy(out, in, w);
    const size_t halfPitch = static_cast<size_t>(pitch) / 2;
    const size_t chromaOffsets[2] = {w * h, w * h + (w * h) / 4};
    for (size_t plane : chromaOffsets) {
        in = picture + plane;
        for (size_t row = 0; row < h / 2; ++row, out += halfPitch, in += w / 2)
            std::memcpy(out, in, w / 2);
    }
}

}  // namespace

void RendererClear(mStructRenderer* renderer) {
    std::memset(renderer, 0, sizeof *renderer);
}

int mStructRenderer::Init(HWND window, int width, int height, int initMode) {
    int result = 0;
    const char* message = nullptr;
    {
        SpinLockGuard oneAtATime(DirectDrawLock(), "mStructRenderer::Init");
        hwnd = window;
        mode = initMode;
        Teardown();
        if (width <= 0 || height <= 0)
            return 0;
        CallGuarded([&] { result = InitSteps(this, width, height, &message); });
        // A failed Init leaves the renderer empty, so Show draws nothing and
        // does not try again until the next Init.
        if (result == 0)
            Teardown();
    }
    if (message != nullptr)
        g_shellSeams.messageBox(message, kInitCaption, MB_ICONERROR);
    return result;
}

void mStructRenderer::Teardown() {
    SpinLockGuard oneAtATime(DirectDrawLock(), "mStructRenderer::Teardown");
    if (!CallGuarded([&] { TeardownSteps(this); })) {
        // A fault inside DirectDraw: whatever was not released yet is
        // abandoned rather than released twice.
        primary = nullptr;
        textSurface = nullptr;
        clipper = nullptr;
        shadow = nullptr;
        directDraw = nullptr;
    }
}

int mStructRenderer::Show(int width, int height, const uint8_t* picture, const RECT* override) {
    if (shadow == nullptr || width <= 0 || height <= 0 || picture == nullptr)
        return 0;
    RECT rect;
    if (!GetWindowRect(hwnd, &rect))
        return 0;
    if (override != nullptr && override->right - override->left > 0 &&
        override->bottom - override->top > 0) {
        rect.right = rect.left + (override->right - override->left);
        rect.bottom = rect.top + (override->bottom - override->top);
    }
    if (EmptyRect(rect))
        return 0;
    if (EmptyRect(lastRect))
        lastRect = rect;
    if (lastRect.right - lastRect.left != rect.right - rect.left ||
        lastRect.bottom - lastRect.top != rect.bottom - rect.top) {
        lastRect = rect;
        sizeChanged = 1;
    }

    DDBLTFX fx;
    std::memset(&fx, 0, sizeof fx);
    fx.dwSize = sizeof fx;
    fx.dwROP = SRCCOPY;

    DDSURFACEDESC2 desc;
    bool resized = false;
    {
        SpinLockGuard oneAtATime(DirectDrawLock(), "mStructRenderer::Show");
        ZeroDescription(&desc);
        shadow->GetSurfaceDesc(&desc);
        resized =
            static_cast<LONG>(desc.dwWidth) != width || static_cast<LONG>(desc.dwHeight) != height;
    }
    if (resized && !Init(hwnd, width, height, mode)) {
        g_shellSeams.messageBox("bad render init", "mStructRenderer::Show", MB_ICONWARNING);
        return 0;
    }

    SpinLockGuard oneAtATime(DirectDrawLock(), "mStructRenderer::Show");
    if (shadow == nullptr || primary == nullptr)
        return 0;
    ZeroDescription(&desc);
    if (SUCCEEDED(shadow->Lock(nullptr, &desc, kLockFlags, nullptr)))
        CopyPicture(desc, width, height, picture);
    if (FAILED(shadow->Unlock(nullptr)))
        return 0;
    primary->Blt(&rect, shadow, nullptr, kBltFlags, &fx);
    return 1;
}

}  // namespace camvue
