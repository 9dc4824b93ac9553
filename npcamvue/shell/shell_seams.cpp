#include "npcamvue/shell/shell_seams.h"

#include <ddraw.h>

namespace camvue {
namespace {

int RealMessageBox(const char* text, const char* caption, UINT type) {
    return MessageBoxA(nullptr, text, caption, type);
}

int RealDrawText(HDC dc, const char* text, int length, RECT* rect, UINT format) {
    return DrawTextA(dc, text, length, rect, format);
}

HRESULT RealDirectDrawCreate(GUID* device, void** out, REFIID iid, void* outer) {
    return DirectDrawCreateEx(device, out, iid, static_cast<IUnknown*>(outer));
}

DWORD RealHostFileName(char* buffer, DWORD size) {
    return GetModuleFileNameA(nullptr, buffer, size);
}

}  // namespace

ShellSeams g_shellSeams = {RealMessageBox, RealDrawText, RealDirectDrawCreate, nullptr,
                           RealHostFileName};

void ResetShellSeams() {
    g_shellSeams = {RealMessageBox, RealDrawText, RealDirectDrawCreate, nullptr, RealHostFileName};
}

}  // namespace camvue
