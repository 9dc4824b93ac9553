// The few system calls of the shell that tests replace: message boxes, the
// statistics text, the creation of the DirectDraw object, the folder the
// codec libraries are looked for in, and the host program's file name. Each seam is a
// process-wide function pointer that starts at the real call; a test sets
// its own and puts the real one back (ResetShellSeams).
#pragma once

#include <windows.h>

namespace camvue {

using MessageBoxFn = int (*)(const char* text, const char* caption, UINT type);
using DrawTextFn = int (*)(HDC dc, const char* text, int length, RECT* rect, UINT format);
// GetModuleFileNameA of the host program (module handle null).
using ModuleFileNameFn = DWORD (*)(char* buffer, DWORD size);
// DirectDrawCreateEx; the outer object is always null.
using DirectDrawCreateFn = HRESULT (*)(GUID* device, void** out, REFIID iid, void* outer);

struct ShellSeams {
    MessageBoxFn messageBox;              // MessageBoxA without an owner window
    DrawTextFn drawText;                  // DrawTextA
    DirectDrawCreateFn createDirectDraw;  // DirectDrawCreateEx
    const char* codecFolder;        // where the codec binding looks; null: the plug-in's folder
    ModuleFileNameFn hostFileName;  // GetModuleFileNameA(NULL, ...)
};

extern ShellSeams g_shellSeams;

// Puts every seam back to the real system call.
void ResetShellSeams();

}  // namespace camvue
