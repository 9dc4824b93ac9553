// Events are kernel32 events.
#include <windows.h>

#include "npcamvue/platform/platform.h"

namespace camvue {

// The opaque Event is the HANDLE itself.
Event* EventCreate(bool manualReset, bool initiallySet) {
    return reinterpret_cast<Event*>(CreateEventA(nullptr, manualReset, initiallySet, nullptr));
}

void EventDestroy(Event* e) {
    if (e != nullptr)
        CloseHandle(reinterpret_cast<HANDLE>(e));
}

void EventSet(Event* e) {
    SetEvent(reinterpret_cast<HANDLE>(e));
}
void EventReset(Event* e) {
    ResetEvent(reinterpret_cast<HANDLE>(e));
}

bool EventWait(Event* e, uint32_t timeoutMs) {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(e), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace camvue
