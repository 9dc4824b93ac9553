// Module entry of npcamvue.dll.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        // No per-thread attach/detach work: skip those notifications.
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
