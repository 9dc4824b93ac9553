// Events are kernel32 events with a flag word beside them, so that the
// zero-timeout check of a clear event (the receive loop's abort check, once
// per wake-up) costs no kernel call.
//
// The flag is a conservative hint: once EventSet returns, the flag stays 1
// for as long as the kernel event is signalled. A consuming wait and
// EventReset lower it before they touch the kernel event; EventSet raises it
// after SetEvent, so a set that overlaps them always leaves it raised. A
// check that runs while EventSet is between its two steps sees the event
// as it was before the set. A raised flag over a clear event only costs
// the kernel check.
#include <windows.h>

#include <new>

#include "npcamvue/platform/platform.h"

namespace camvue {

struct Event {
    HANDLE handle;
    volatile LONG flag;
    bool manualReset;
};

Event* EventCreate(bool manualReset, bool initiallySet) {
    Event* e = new (std::nothrow) Event;
    if (e == nullptr)
        return nullptr;
    e->handle = CreateEventA(nullptr, manualReset, initiallySet, nullptr);
    if (e->handle == nullptr) {
        delete e;
        return nullptr;
    }
    e->flag = initiallySet ? 1 : 0;
    e->manualReset = manualReset;
    return e;
}

void EventDestroy(Event* e) {
    if (e == nullptr)
        return;
    CloseHandle(e->handle);
    delete e;
}

void EventSet(Event* e) {
    SetEvent(e->handle);
    InterlockedExchange(&e->flag, 1);
}

void EventReset(Event* e) {
    InterlockedExchange(&e->flag, 0);
    ResetEvent(e->handle);
}

bool EventWait(Event* e, uint32_t timeoutMs) {
    if (timeoutMs == 0 && InterlockedCompareExchange(&e->flag, 0, 0) == 0)
        return false;
    if (!e->manualReset)
        InterlockedExchange(&e->flag, 0);
    return WaitForSingleObject(e->handle, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace camvue
