// Waits on the browser's window thread that keep answering messages other
// threads send to it. DirectDraw (re)initialisation on a render thread sends
// messages to the plug-in window's thread; if that thread sat in a plain wait
// for the instance lock or for the render thread's end, neither would ever
// finish. Threads without windows wait as before.
#pragma once

#include <windows.h>

namespace camvue {

// Pauses up to 1 ms (the lock's retry interval); a GUI thread handles the
// messages sent to it meanwhile.
void PauseAnswering();

// Waits for `handle` without time limit; a GUI thread handles the messages
// sent to it meanwhile. Returns WaitForSingleObject's result.
DWORD WaitAnswering(HANDLE handle);

}  // namespace camvue
