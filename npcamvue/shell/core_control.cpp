#include "npcamvue/shell/core_control.h"

#include "npcamvue/shell/stream_core.h"

namespace camvue {

void CoreRestartPlay(StreamCore* core) {
    if (core == nullptr)
        return;
    if (core->playRequested && core->abortEvent != nullptr) {
        InterlockedExchange(&core->playRequested, 0);
        EventSet(core->abortEvent);
    }
    InterlockedExchange(&core->playRequested, 1);
}

void CoreStopPlay(StreamCore* core) {
    if (core == nullptr)
        return;
    if (core->playRequested && core->abortEvent != nullptr)
        EventSet(core->abortEvent);
    InterlockedExchange(&core->playRequested, 0);
}

void CoreRequestRedraw(StreamCore* core) {
    if (core == nullptr)
        return;
    InterlockedExchange(&core->redrawRequested, 1);
    if (core->wakeEvent != nullptr)
        SetEvent(core->wakeEvent);
}

bool CoreHasUrl(StreamCore* core) {
    if (core == nullptr)
        return false;
    SpinLockGuard guard(core->urlLock, "CoreHasUrl");
    return core->url != nullptr && core->url[0] != '\0';
}

void CorePictureSize(StreamCore* core, int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
    if (core == nullptr)
        return;
    // The draw step sets both under the ring lock.
    SpinLockGuard ring(core->frames.lock, "CorePictureSize");
    *width = core->width;
    *height = core->height;
}

}  // namespace camvue
