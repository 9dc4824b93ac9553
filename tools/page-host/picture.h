// Pictures read back from the screen and written as PNG files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pagehost {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // rows top-down, 3 bytes a pixel
};

bool WritePng(const std::string& path, const Picture& picture);

// A window's client area through GDI (what reached the screen).
bool CaptureWindow(HWND hwnd, Picture* out);
// `part` pasted into `page` with its top-left corner at (x, y).
void Paste(const Picture& part, int x, int y, Picture* page);
// True when every pixel is within `tolerance` of the first one.
bool Uniform(const Picture& picture, int tolerance = 8);

}  // namespace pagehost
