// SpinLock: the plug-in's only lock type. A recursive lock made of a lock
// word (0 free, 1 held), the owner's thread id (0 none), a recursion count
// and a holder tag (a text naming the code that took it last; recorded,
// never read by the plug-in). Waiting is a loop that sleeps 1 ms between
// attempts, without time limit; on a thread with windows the sleep answers
// messages sent from other threads (answering_wait.h).
//
// A lock may be unbound (no words yet): Enter and Leave then do nothing.
// SpinLockGuard binds to another lock's words for the length of a block.
#pragma once

namespace camvue {

struct SpinLockWords {
    volatile long lock;       // 0 free, 1 held
    volatile long owner;      // thread id of the holder, 0 none
    volatile long recursion;  // Enter calls not yet left by the holder
    const char* volatile holder;
};

class SpinLock {
  public:
    SpinLock() = default;  // unbound
    // Bound to words of its own; `tag` is the first holder tag.
    explicit SpinLock(const char* tag);
    // Bound to another lock's words (null: unbound).
    explicit SpinLock(SpinLockWords* words) : words_(words) {}
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    // Takes the lock: at once when the calling thread holds it already
    // (recursion), otherwise by retrying every millisecond until it is free.
    void Enter(const char* tag);
    // Leaves one level of recursion; the last one frees the lock. A Leave by
    // a thread that does not own the lock (a free lock included) changes
    // nothing.
    void Leave();

    bool bound() const { return words_ != nullptr; }
    SpinLockWords* words() const { return words_; }

  private:
    SpinLockWords own_{};
    SpinLockWords* words_ = nullptr;
};

// Enters `lock` on construction and leaves it at scope end; an unbound lock
// makes it do nothing.
class SpinLockGuard {
  public:
    SpinLockGuard(SpinLock& lock, const char* tag) : lock_(lock.words()) { lock_.Enter(tag); }
    ~SpinLockGuard() { lock_.Leave(); }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

  private:
    SpinLock lock_;
};

}  // namespace camvue
