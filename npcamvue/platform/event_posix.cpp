// Win32-style events over a mutex and a condition variable. The state is
// mirrored in an atomic flag, so that the zero-timeout check of a clear
// event takes neither the mutex nor a system call.
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "npcamvue/platform/platform.h"

namespace camvue {

struct Event {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool manualReset;
    bool set;                 // under the mutex
    std::atomic<bool> shown;  // `set`, written with it under the mutex
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
    e->shown.store(initiallySet);
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
    e->shown.store(true, std::memory_order_release);
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
    e->shown.store(false, std::memory_order_release);
    pthread_mutex_unlock(&e->mutex);
}

bool EventWait(Event* e, uint32_t timeoutMs) {
    if (timeoutMs == 0 && !e->shown.load(std::memory_order_acquire))
        return false;
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
    if (signalled && !e->manualReset) {
        e->set = false;
        e->shown.store(false, std::memory_order_release);
    }
    pthread_mutex_unlock(&e->mutex);
    return signalled;
}

}  // namespace camvue
