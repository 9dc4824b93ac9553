#include <windows.h>

#include "npcamvue/platform/platform.h"

namespace camvue {

uint64_t SystemFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

uint32_t TickCountMs() {
    return GetTickCount();
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

}  // namespace camvue
