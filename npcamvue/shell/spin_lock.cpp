#include "npcamvue/shell/spin_lock.h"

#include <windows.h>

#include "npcamvue/shell/answering_wait.h"

namespace camvue {

static_assert(sizeof(long) == sizeof(LONG), "the lock words are Win32 LONGs");

SpinLock::SpinLock(const char* tag) : words_(&own_) {
    own_.holder = tag;
}

void SpinLock::Enter(const char* tag) {
    if (words_ == nullptr)
        return;
    const long self = static_cast<long>(GetCurrentThreadId());
    bool taken = false;
    if (words_->owner != self) {
        while (InterlockedCompareExchange(&words_->lock, 1, 0) != 0)
            PauseAnswering();
        taken = true;
    }
    InterlockedIncrement(&words_->recursion);
    words_->holder = tag;
    if (taken)
        InterlockedExchange(&words_->owner, self);
}

void SpinLock::Leave() {
    if (words_ == nullptr)
        return;
    // Only the owner may leave. This also covers an owner of 0: a Leave of a
    // free lock, or one that races a fresh Enter before it has stored its
    // owner, must not drive the recursion count below zero (a later Enter
    // would then be left one level too early).
    if (words_->owner != static_cast<long>(GetCurrentThreadId()))
        return;
    if (InterlockedDecrement(&words_->recursion) <= 0) {
        InterlockedExchange(&words_->owner, 0);
        InterlockedExchange(&words_->lock, 0);
    }
}

}  // namespace camvue
