#include "tools/page-host/picture.h"

#include <cstdlib>
#include <cstring>

namespace pagehost {

bool CaptureWindow(HWND hwnd, Picture* out) {
    RECT client;
    if (!GetClientRect(hwnd, &client) || client.right <= 0 || client.bottom <= 0)
        return false;
    const int w = client.right, h = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC window = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(window);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, w, h, window, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        out->width = w;
        out->height = h;
        out->rgb.resize(static_cast<size_t>(w) * h * 3);
        const auto* src = static_cast<const uint8_t*>(bits);
        for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
            out->rgb[i * 3] = src[i * 4 + 2];
            out->rgb[i * 3 + 1] = src[i * 4 + 1];
            out->rgb[i * 3 + 2] = src[i * 4];
        }
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    if (memory != nullptr)
        DeleteDC(memory);
    ReleaseDC(hwnd, window);
    return ok;
}

void Paste(const Picture& part, int x, int y, Picture* page) {
    for (int row = 0; row < part.height; ++row) {
        const int py = y + row;
        if (py < 0 || py >= page->height)
            continue;
        for (int col = 0; col < part.width; ++col) {
            const int px = x + col;
            if (px < 0 || px >= page->width)
                continue;
            std::memcpy(&page->rgb[(static_cast<size_t>(py) * page->width + px) * 3],
                        &part.rgb[(static_cast<size_t>(row) * part.width + col) * 3], 3);
        }
    }
}

bool Uniform(const Picture& picture, int tolerance) {
    if (picture.rgb.size() < 3)
        return true;
    for (size_t i = 3; i < picture.rgb.size(); ++i) {
        if (std::abs(picture.rgb[i] - picture.rgb[i % 3]) > tolerance)
            return false;
    }
    return true;
}

}  // namespace pagehost
