#include "tools/page-host/primary_surfaces.h"

#include <ddraw.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace pagehost {
namespace {

// {15E65EC0-3B9C-11D2-B92F-00609797EA5B}
const GUID kIidDirectDraw7 = {
    0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};

constexpr int kCreateSurfaceSlot = 6;  // IDirectDraw7
constexpr int kReleaseSlot = 2;        // IDirectDrawSurface7
constexpr int kBltSlot = 5;            // IDirectDrawSurface7
constexpr DWORD kFourccYv12 = 0x32315659;

using CreateSurfaceFn = HRESULT(STDMETHODCALLTYPE*)(IDirectDraw7*, DDSURFACEDESC2*,
                                                    IDirectDrawSurface7**, IUnknown*);
using ReleaseFn = ULONG(STDMETHODCALLTYPE*)(IDirectDrawSurface7*);
using BltFn = HRESULT(STDMETHODCALLTYPE*)(IDirectDrawSurface7*, RECT*, IDirectDrawSurface7*, RECT*,
                                          DWORD, DDBLTFX*);

// A live primary and the last picture blitted to it, at its screen rectangle.
struct Primary {
    IDirectDrawSurface7* surface = nullptr;  // not counted: it goes in HookRelease
    RECT dest = {};
    Picture picture;
};

CRITICAL_SECTION g_lock;
std::vector<Primary> g_primaries;  // oldest first
CreateSurfaceFn g_createSurface = nullptr;
ReleaseFn g_release = nullptr;
BltFn g_blt = nullptr;

Primary* FindPrimary(IDirectDrawSurface7* surface) {
    for (Primary& p : g_primaries) {
        if (p.surface == surface)
            return &p;
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE HookCreateSurface(IDirectDraw7* self, DDSURFACEDESC2* desc,
                                            IDirectDrawSurface7** out, IUnknown* outer) {
    const HRESULT result = g_createSurface(self, desc, out, outer);
    if (SUCCEEDED(result) && desc != nullptr && out != nullptr && *out != nullptr &&
        (desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) != 0) {
        EnterCriticalSection(&g_lock);
        Primary primary;
        primary.surface = *out;
        g_primaries.push_back(std::move(primary));
        LeaveCriticalSection(&g_lock);
    }
    return result;
}

ULONG STDMETHODCALLTYPE HookRelease(IDirectDrawSurface7* self) {
    EnterCriticalSection(&g_lock);
    const ULONG left = g_release(self);
    if (left == 0)
        g_primaries.erase(std::remove_if(g_primaries.begin(), g_primaries.end(),
                                         [self](const Primary& p) { return p.surface == self; }),
                          g_primaries.end());
    LeaveCriticalSection(&g_lock);
    return left;
}

template <typename Fn>
Fn Patch(void* object, int slot, Fn hook) {
    void** table = *static_cast<void***>(object);
    DWORD old = 0;
    if (!VirtualProtect(&table[slot], sizeof(void*), PAGE_EXECUTE_READWRITE, &old))
        return nullptr;
    Fn original = reinterpret_cast<Fn>(table[slot]);
    table[slot] = reinterpret_cast<void*>(hook);
    VirtualProtect(&table[slot], sizeof(void*), old, &old);
    return original;
}

HWND ClipperWindow(IDirectDrawSurface7* surface) {
    IDirectDrawClipper* clipper = nullptr;
    HWND hwnd = nullptr;
    if (SUCCEEDED(surface->GetClipper(&clipper)) && clipper != nullptr) {
        clipper->GetHWnd(&hwnd);
        clipper->Release();
    }
    return hwnd;
}

int Shift(uint32_t mask) {
    int s = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++s;
    }
    return s;
}

uint8_t Channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0)
        return 0;
    const uint32_t max = mask >> Shift(mask);
    return static_cast<uint8_t>(((pixel & mask) >> Shift(mask)) * 255 / max);
}

uint8_t Clamp(int value) {
    return static_cast<uint8_t>(std::min(255, std::max(0, value)));
}

// BT.601 studio range to RGB, in 1/1024 steps.
void Yv12ToRgb(int y, int u, int v, uint8_t* rgb) {
    const int c = 1192 * (y - 16);
    rgb[0] = Clamp((c + 1634 * (v - 128)) >> 10);
    rgb[1] = Clamp((c - 833 * (v - 128) - 401 * (u - 128)) >> 10);
    rgb[2] = Clamp((c + 2066 * (u - 128)) >> 10);
}

// The `from` rectangle of a locked surface, scaled (nearest pixel) to
// width x height. YV12 (Y, then V and U at half the pitch) and RGB of 16 to
// 32 bits are read; false for any other format.
bool Convert(const DDSURFACEDESC2& desc, const RECT& from, int width, int height, Picture* out) {
    const DDPIXELFORMAT& f = desc.ddpfPixelFormat;
    const bool yv12 = (f.dwFlags & DDPF_FOURCC) != 0 && f.dwFourCC == kFourccYv12;
    const int bytes = (f.dwFlags & DDPF_RGB) != 0 ? static_cast<int>(f.dwRGBBitCount / 8) : 0;
    if (!yv12 && (bytes < 2 || bytes > 4))
        return false;
    const auto* base = static_cast<const uint8_t*>(desc.lpSurface);
    const size_t pitch = static_cast<size_t>(desc.lPitch);
    const uint8_t* vPlane = base + pitch * desc.dwHeight;
    const uint8_t* uPlane = vPlane + (pitch / 2) * (desc.dwHeight / 2);
    const LONG fromWidth = from.right - from.left, fromHeight = from.bottom - from.top;
    out->width = width;
    out->height = height;
    out->rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    uint8_t* to = out->rgb.data();
    for (int row = 0; row < height; ++row) {
        const size_t y = static_cast<size_t>(from.top + row * fromHeight / height);
        for (int col = 0; col < width; ++col, to += 3) {
            const size_t x = static_cast<size_t>(from.left + col * fromWidth / width);
            if (yv12) {
                const size_t chroma = (y / 2) * (pitch / 2) + x / 2;
                Yv12ToRgb(base[y * pitch + x], uPlane[chroma], vPlane[chroma], to);
                continue;
            }
            uint32_t pixel = 0;
            std::copy(base + y * pitch + x * bytes, base + y * pitch + (x + 1) * bytes,
                      reinterpret_cast<uint8_t*>(&pixel));
            to[0] = Channel(pixel, f.dwRBitMask);
            to[1] = Channel(pixel, f.dwGBitMask);
            to[2] = Channel(pixel, f.dwBBitMask);
        }
    }
    return true;
}

// The picture a blit from `source` gives a destination of width x height.
bool ReadSource(IDirectDrawSurface7* source, const RECT* part, int width, int height,
                Picture* out) {
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof desc;
    if (width <= 0 || height <= 0 ||
        FAILED(source->Lock(nullptr, &desc, DDLOCK_READONLY | DDLOCK_WAIT, nullptr)))
        return false;
    RECT whole = {0, 0, static_cast<LONG>(desc.dwWidth), static_cast<LONG>(desc.dwHeight)};
    RECT from = whole;
    const bool inside = part == nullptr || IntersectRect(&from, part, &whole);
    const bool ok = inside && desc.lpSurface != nullptr && Convert(desc, from, width, height, out);
    source->Unlock(nullptr);
    return ok;
}

// A blit to a tracked primary also updates its copy. The source is read
// after the blit: the plug-in does not touch it before its next one.
HRESULT STDMETHODCALLTYPE HookBlt(IDirectDrawSurface7* self, RECT* dest,
                                  IDirectDrawSurface7* source, RECT* part, DWORD flags,
                                  DDBLTFX* fx) {
    const HRESULT result = g_blt(self, dest, source, part, flags, fx);
    if (FAILED(result) || source == nullptr)
        return result;
    EnterCriticalSection(&g_lock);
    const bool primary = FindPrimary(self) != nullptr;
    LeaveCriticalSection(&g_lock);
    if (!primary)
        return result;
    RECT to = {};
    if (dest != nullptr) {
        to = *dest;
    } else {
        DDSURFACEDESC2 desc = {};
        desc.dwSize = sizeof desc;
        if (FAILED(self->GetSurfaceDesc(&desc)))
            return result;
        to = {0, 0, static_cast<LONG>(desc.dwWidth), static_cast<LONG>(desc.dwHeight)};
    }
    Picture picture;
    if (!ReadSource(source, part, to.right - to.left, to.bottom - to.top, &picture))
        return result;
    EnterCriticalSection(&g_lock);
    if (Primary* p = FindPrimary(self)) {
        p->dest = to;
        p->picture = std::move(picture);
    }
    LeaveCriticalSection(&g_lock);
    return result;
}

}  // namespace

bool TrackPrimarySurfaces(std::string* error) {
    if (g_createSurface != nullptr)
        return true;
    InitializeCriticalSection(&g_lock);
    void* created = nullptr;
    if (FAILED(DirectDrawCreateEx(nullptr, &created, kIidDirectDraw7, nullptr)) ||
        created == nullptr) {
        *error = "DirectDraw is not available";
        return false;
    }
    auto* ddraw = static_cast<IDirectDraw7*>(created);
    ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    desc.dwWidth = 8;
    desc.dwHeight = 8;
    IDirectDrawSurface7* probe = nullptr;
    if (FAILED(ddraw->CreateSurface(&desc, &probe, nullptr)) || probe == nullptr) {
        ddraw->Release();
        *error = "cannot create a DirectDraw surface";
        return false;
    }
    g_release = Patch<ReleaseFn>(probe, kReleaseSlot, HookRelease);
    g_blt = Patch<BltFn>(probe, kBltSlot, HookBlt);
    g_createSurface = Patch<CreateSurfaceFn>(ddraw, kCreateSurfaceSlot, HookCreateSurface);
    probe->Release();
    ddraw->Release();
    if (g_release == nullptr || g_blt == nullptr || g_createSurface == nullptr) {
        *error = "cannot hook DirectDraw";
        return false;
    }
    return true;
}

bool CapturePrimary(HWND hwnd, const RECT& area, Picture* out) {
    if (g_createSurface == nullptr || area.right <= area.left || area.bottom <= area.top)
        return false;
    bool found = false;
    EnterCriticalSection(&g_lock);
    // The newest first: a renderer that made itself again for a new picture
    // size draws through its latest primary.
    for (auto it = g_primaries.rbegin(); it != g_primaries.rend(); ++it) {
        if (ClipperWindow(it->surface) != hwnd)
            continue;
        found = true;
        out->width = static_cast<int>(area.right - area.left);
        out->height = static_cast<int>(area.bottom - area.top);
        out->rgb.assign(static_cast<size_t>(out->width) * out->height * 3, 0);
        if (!it->picture.rgb.empty())  // blitted to at least once
            Paste(it->picture, static_cast<int>(it->dest.left - area.left),
                  static_cast<int>(it->dest.top - area.top), out);
        break;
    }
    LeaveCriticalSection(&g_lock);
    return found;
}

int TrackedPrimaries() {
    if (g_createSurface == nullptr)
        return 0;
    EnterCriticalSection(&g_lock);
    const int count = static_cast<int>(g_primaries.size());
    LeaveCriticalSection(&g_lock);
    return count;
}

}  // namespace pagehost
