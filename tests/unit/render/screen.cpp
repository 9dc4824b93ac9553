#include "tests/unit/render/screen.h"

#include <ddraw.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace camvue_test {

const std::vector<Rgb> kFourBars = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

namespace {

LRESULT CALLBACK PlainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(hwnd, msg, wp, lp);
}

const char* WindowClass() {
    static const char* name = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = PlainProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = "camvue-render-test";
        RegisterClassA(&wc);
        return wc.lpszClassName;
    }();
    return name;
}

int Shift(uint32_t mask) {
    int s = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++s;
    }
    return s;
}

int Channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0)
        return 0;
    const uint32_t max = mask >> Shift(mask);
    return static_cast<int>(((pixel & mask) >> Shift(mask)) * 255 / max);
}

}  // namespace

HWND MakeWindow(int x, int y, int width, int height, HWND parent) {
    const DWORD style = parent != nullptr ? (WS_CHILD | WS_VISIBLE) : (WS_POPUP | WS_VISIBLE);
    HWND hwnd = CreateWindowExA(0, WindowClass(), "render", style, x, y, width, height, parent,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    Pump();
    return hwnd;
}

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::vector<uint8_t> Yv12Bars(int width, int height, const std::vector<Rgb>& bars) {
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    std::vector<uint8_t> out(w * h * 3 / 2);
    auto bar = [&](size_t x, size_t of) {
        return bars[std::min(bars.size() - 1, x * bars.size() / of)];
    };
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) {
            const Rgb c = bar(x, w);
            out[y * w + x] =
                static_cast<uint8_t>(16 + (65.738 * c.r + 129.057 * c.g + 25.064 * c.b) / 256);
        }
    uint8_t* v = out.data() + w * h;
    uint8_t* u = v + (w / 2) * (h / 2);
    for (size_t y = 0; y < h / 2; ++y)
        for (size_t x = 0; x < w / 2; ++x) {
            const Rgb c = bar(x, w / 2);
            u[y * (w / 2) + x] =
                static_cast<uint8_t>(128 + (-37.945 * c.r - 74.494 * c.g + 112.439 * c.b) / 256);
            v[y * (w / 2) + x] =
                static_cast<uint8_t>(128 + (112.439 * c.r - 94.154 * c.g - 18.285 * c.b) / 256);
        }
    return out;
}

bool ScreenReader::Grab() {
    camvue::SpinLock lock(lock_ != nullptr ? lock_->words() : nullptr);
    lock.Enter("ScreenReader");
    IDirectDrawSurface7* primary = *primary_;
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof desc;
    if (primary == nullptr ||
        FAILED(primary->Lock(nullptr, &desc, DDLOCK_READONLY | DDLOCK_WAIT, nullptr))) {
        lock.Leave();
        return false;
    }
    width_ = static_cast<int>(desc.dwWidth);
    height_ = static_cast<int>(desc.dwHeight);
    pitch_ = static_cast<int>(desc.lPitch);
    bytes_ = static_cast<int>(desc.ddpfPixelFormat.dwRGBBitCount / 8);
    rMask_ = desc.ddpfPixelFormat.dwRBitMask;
    gMask_ = desc.ddpfPixelFormat.dwGBitMask;
    bMask_ = desc.ddpfPixelFormat.dwBBitMask;
    pixels_.assign(
        static_cast<const uint8_t*>(desc.lpSurface),
        static_cast<const uint8_t*>(desc.lpSurface) + static_cast<size_t>(pitch_) * height_);
    primary->Unlock(nullptr);
    lock.Leave();
    return true;
}

Rgb ScreenReader::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || bytes_ < 2 || bytes_ > 4)
        return {-1000, -1000, -1000};
    uint32_t pixel = 0;
    std::memcpy(&pixel,
                pixels_.data() + static_cast<size_t>(y) * pitch_ + static_cast<size_t>(x) * bytes_,
                static_cast<size_t>(bytes_));
    return {Channel(pixel, rMask_), Channel(pixel, gMask_), Channel(pixel, bMask_)};
}

bool ScreenReader::WaitFor(int x, int y, Rgb want, int ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (Grab() && Near(At(x, y), want))
            return true;
        if (GetTickCount() - start > static_cast<DWORD>(ms))
            return false;
        Sleep(20);
    }
}

}  // namespace camvue_test
