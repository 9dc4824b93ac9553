// C-style COM (CINTERFACE) so that the vtables have named entries. Only
// plain pointers cross to the C++ side.
#define CINTERFACE
#include "tests/unit/render/ddraw_faults.h"

#include <ddraw.h>

#include "npcamvue/shell/shell_seams.h"

namespace camvue_test {
namespace {

DdStep g_step = DdStep::kNone;
bool g_processorFault = false;
int g_creations = 0;
int* volatile g_nowhere = nullptr;

const IDirectDraw7Vtbl* g_realDraw = nullptr;
IDirectDraw7Vtbl g_draw;
const IDirectDrawSurface7Vtbl* g_realSurface = nullptr;
IDirectDrawSurface7Vtbl g_surface;
// ddraw checks its own vtable in every clipper call, so the renderer gets a
// stand-in that forwards to the real clipper; the primary's SetClipper hands
// wine the real one.
struct FakeClipper {
    IDirectDrawClipperVtbl* lpVtbl;
    IDirectDrawClipper* real;
};
IDirectDrawClipperVtbl g_fakeClipper;

IDirectDrawClipper* RealClipper(IDirectDrawClipper* clipper) {
    if (clipper != nullptr && clipper->lpVtbl == &g_fakeClipper)
        return reinterpret_cast<FakeClipper*>(clipper)->real;
    return clipper;
}

// DDERR_GENERIC when `step` is the armed one (or a processor exception).
HRESULT Injected(DdStep step) {
    if (step != g_step)
        return S_OK;
    if (g_processorFault)
        *g_nowhere = 1;
    return DDERR_GENERIC;
}

HRESULT STDMETHODCALLTYPE SetCooperativeLevel(IDirectDraw7* self, HWND hwnd, DWORD flags) {
    const HRESULT hr = Injected(DdStep::kCooperative);
    return FAILED(hr) ? hr : g_realDraw->SetCooperativeLevel(self, hwnd, flags);
}

HRESULT STDMETHODCALLTYPE SetClipper(IDirectDrawSurface7* self, IDirectDrawClipper* clipper) {
    // Detaching (null) at teardown always goes through.
    const HRESULT hr = clipper != nullptr ? Injected(DdStep::kSetClipper) : S_OK;
    if (FAILED(hr))
        return hr;
    const HRESULT set = g_realSurface->SetClipper(self, RealClipper(clipper));
    return set;
}

HRESULT STDMETHODCALLTYPE GetSurfaceDesc(IDirectDrawSurface7* self, DDSURFACEDESC2* desc) {
    const HRESULT hr = Injected(DdStep::kPrimaryDesc);
    return FAILED(hr) ? hr : g_realSurface->GetSurfaceDesc(self, desc);
}

HRESULT STDMETHODCALLTYPE SetHWnd(IDirectDrawClipper* self, DWORD flags, HWND hwnd) {
    const HRESULT hr = Injected(DdStep::kSetHWnd);
    IDirectDrawClipper* real = reinterpret_cast<FakeClipper*>(self)->real;
    return FAILED(hr) ? hr : real->lpVtbl->SetHWnd(real, flags, hwnd);
}

ULONG STDMETHODCALLTYPE ClipperAddRef(IDirectDrawClipper* self) {
    IDirectDrawClipper* real = reinterpret_cast<FakeClipper*>(self)->real;
    return real->lpVtbl->AddRef(real);
}

ULONG STDMETHODCALLTYPE ClipperRelease(IDirectDrawClipper* self) {
    auto* fake = reinterpret_cast<FakeClipper*>(self);
    const ULONG left = fake->real->lpVtbl->Release(fake->real);
    if (left == 0)
        delete fake;
    return left;
}

HRESULT STDMETHODCALLTYPE CreateSurface(IDirectDraw7* self, DDSURFACEDESC2* desc,
                                        IDirectDrawSurface7** out, IUnknown* outer) {
    const bool primary = (desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) != 0;
    const bool yuv = (desc->ddpfPixelFormat.dwFlags & DDPF_FOURCC) != 0;
    const HRESULT hr = Injected(primary ? DdStep::kPrimary : yuv ? DdStep::kShadow : DdStep::kText);
    if (FAILED(hr))
        return hr;
    const HRESULT made = g_realDraw->CreateSurface(self, desc, out, outer);
    if (SUCCEEDED(made) && primary) {
        g_realSurface = (*out)->lpVtbl;
        g_surface = *g_realSurface;
        g_surface.SetClipper = SetClipper;
        g_surface.GetSurfaceDesc = GetSurfaceDesc;
        (*out)->lpVtbl = &g_surface;
    }
    return made;
}

HRESULT STDMETHODCALLTYPE CreateClipper(IDirectDraw7* self, DWORD flags, IDirectDrawClipper** out,
                                        IUnknown* outer) {
    const HRESULT hr = Injected(DdStep::kClipper);
    if (FAILED(hr))
        return hr;
    const HRESULT made = g_realDraw->CreateClipper(self, flags, out, outer);
    if (SUCCEEDED(made)) {
        g_fakeClipper.AddRef = ClipperAddRef;
        g_fakeClipper.Release = ClipperRelease;
        g_fakeClipper.SetHWnd = SetHWnd;
        *out = reinterpret_cast<IDirectDrawClipper*>(new FakeClipper{&g_fakeClipper, *out});
    }
    return made;
}

HRESULT Create(GUID* device, void** out, REFIID iid, void* outer) {
    ++g_creations;
    const HRESULT hr = Injected(DdStep::kCreate);
    if (FAILED(hr))
        return hr;
    const HRESULT made = DirectDrawCreateEx(device, out, iid, static_cast<IUnknown*>(outer));
    if (SUCCEEDED(made)) {
        auto* draw = static_cast<IDirectDraw7*>(*out);
        g_realDraw = draw->lpVtbl;
        g_draw = *g_realDraw;
        g_draw.SetCooperativeLevel = SetCooperativeLevel;
        g_draw.CreateSurface = CreateSurface;
        g_draw.CreateClipper = CreateClipper;
        draw->lpVtbl = &g_draw;
    }
    return made;
}

}  // namespace

void ArmDirectDrawFault(DdStep step, bool processorFault) {
    g_step = step;
    g_processorFault = processorFault;
    g_creations = 0;
    camvue::g_shellSeams.createDirectDraw = Create;
}

int DirectDrawCreations() {
    return g_creations;
}

}  // namespace camvue_test
