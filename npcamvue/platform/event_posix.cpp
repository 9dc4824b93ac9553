// Win32-style events over a mutex and a condition variable.
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <new>

#include "npcamvue/platform/platform.h"

namespace camvue {

struct Event {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool manualReset;
    bool set;
};

Event* EventCreate(bool manualReset, bool initiallySet) {
    Event* e = new (std::nothrow) Event;
    if (e == nullptr)
        return nullptr;
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_mutex_init(&e->mutex, nullptr);
    pthread_cond_init(&e->cond, &attr);
    pthread_condattr_destroy(&attr);
    e->manualReset = manualReset;
    e->set = initiallySet;
    return e;
}

void EventDestroy(Event* e) {
    if (e == nullptr)
        return;
    pthread_cond_destroy(&e->cond);
    pthread_mutex_destroy(&e->mutex);
    delete e;
}

void EventSet(Event* e) {
    pthread_mutex_lock(&e->mutex);
    e->set = true;
    if (e->manualReset) {
        pthread_cond_broadcast(&e->cond);
    } else {
        pthread_cond_signal(&e->cond);
    }
    pthread_mutex_unlock(&e->mutex);
}

void EventReset(Event* e) {
    pthread_mutex_lock(&e->mutex);
    e->set = false;
    pthread_mutex_unlock(&e->mutex);
}

bool EventWait(Event* e, uint32_t timeoutMs) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&e->mutex);
    while (!e->set) {
        if (pthread_cond_timedwait(&e->cond, &e->mutex, &deadline) == ETIMEDOUT)
            break;
    }
    bool signalled = e->set;
    if (signalled && !e->manualReset)
        e->set = false;
    pthread_mutex_unlock(&e->mutex);
    return signalled;
}

}  // namespace camvue
