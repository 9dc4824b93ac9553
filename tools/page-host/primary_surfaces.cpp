#include "tools/page-host/primary_surfaces.h"

#include <ddraw.h>

#include <algorithm>
#include <vector>

namespace pagehost {
namespace {

// {15E65EC0-3B9C-11D2-B92F-00609797EA5B}
const GUID kIidDirectDraw7 = {
    0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};

constexpr int kCreateSurfaceSlot = 6;  // IDirectDraw7
constexpr int kReleaseSlot = 2;        // IDirectDrawSurface7

using CreateSurfaceFn = HRESULT(STDMETHODCALLTYPE*)(IDirectDraw7*, DDSURFACEDESC2*,
                                                    IDirectDrawSurface7**, IUnknown*);
using ReleaseFn = ULONG(STDMETHODCALLTYPE*)(IDirectDrawSurface7*);

CRITICAL_SECTION g_lock;
std::vector<IDirectDrawSurface7*> g_primaries;  // not counted: they go in HookRelease
CreateSurfaceFn g_createSurface = nullptr;
ReleaseFn g_release = nullptr;

HRESULT STDMETHODCALLTYPE HookCreateSurface(IDirectDraw7* self, DDSURFACEDESC2* desc,
                                            IDirectDrawSurface7** out, IUnknown* outer) {
    const HRESULT result = g_createSurface(self, desc, out, outer);
    if (SUCCEEDED(result) && desc != nullptr && out != nullptr && *out != nullptr &&
        (desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) != 0) {
        EnterCriticalSection(&g_lock);
        g_primaries.push_back(*out);
        LeaveCriticalSection(&g_lock);
    }
    return result;
}

ULONG STDMETHODCALLTYPE HookRelease(IDirectDrawSurface7* self) {
    EnterCriticalSection(&g_lock);
    const ULONG left = g_release(self);
    if (left == 0)
        g_primaries.erase(std::remove(g_primaries.begin(), g_primaries.end(), self),
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

bool Read(IDirectDrawSurface7* surface, const RECT& area, Picture* out) {
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof desc;
    if (FAILED(surface->Lock(nullptr, &desc, DDLOCK_READONLY | DDLOCK_WAIT, nullptr)))
        return false;
    const int bytes = static_cast<int>(desc.ddpfPixelFormat.dwRGBBitCount / 8);
    const LONG left = std::max(area.left, 0L), top = std::max(area.top, 0L);
    const LONG right = std::min(area.right, static_cast<LONG>(desc.dwWidth));
    const LONG bottom = std::min(area.bottom, static_cast<LONG>(desc.dwHeight));
    const bool ok = bytes >= 2 && bytes <= 4 && right > left && bottom > top;
    if (ok) {
        out->width = static_cast<int>(right - left);
        out->height = static_cast<int>(bottom - top);
        out->rgb.assign(static_cast<size_t>(out->width) * out->height * 3, 0);
        const auto* base = static_cast<const uint8_t*>(desc.lpSurface);
        const DDPIXELFORMAT& f = desc.ddpfPixelFormat;
        uint8_t* to = out->rgb.data();
        for (LONG y = top; y < bottom; ++y) {
            const uint8_t* row = base + static_cast<size_t>(y) * desc.lPitch;
            for (LONG x = left; x < right; ++x) {
                uint32_t pixel = 0;
                std::copy(row + x * bytes, row + (x + 1) * bytes,
                          reinterpret_cast<uint8_t*>(&pixel));
                *to++ = Channel(pixel, f.dwRBitMask);
                *to++ = Channel(pixel, f.dwGBitMask);
                *to++ = Channel(pixel, f.dwBBitMask);
            }
        }
    }
    surface->Unlock(nullptr);
    return ok;
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
    g_createSurface = Patch<CreateSurfaceFn>(ddraw, kCreateSurfaceSlot, HookCreateSurface);
    probe->Release();
    ddraw->Release();
    if (g_release == nullptr || g_createSurface == nullptr) {
        *error = "cannot hook DirectDraw";
        return false;
    }
    return true;
}

bool CapturePrimary(HWND hwnd, const RECT& area, Picture* out) {
    if (g_createSurface == nullptr)
        return false;
    IDirectDrawSurface7* found = nullptr;
    EnterCriticalSection(&g_lock);
    // The newest first: a renderer that made itself again for a new picture
    // size draws through its latest primary.
    for (auto it = g_primaries.rbegin(); it != g_primaries.rend(); ++it) {
        if (ClipperWindow(*it) == hwnd) {
            found = *it;
            found->AddRef();
            break;
        }
    }
    LeaveCriticalSection(&g_lock);
    if (found == nullptr)
        return false;
    const bool ok = Read(found, area, out);
    found->Release();
    return ok;
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
