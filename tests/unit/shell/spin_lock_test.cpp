// SpinLock: recursion, waiting between threads, Leave by a non-owner, the
// scoped guard and unbound locks.
#include "npcamvue/shell/spin_lock.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

namespace camvue {
namespace {

// Waits up to `ms` for `done`.
bool WaitFor(const std::atomic<bool>& done, int ms) {
    for (int i = 0; i < ms && !done.load(); ++i)
        Sleep(1);
    return done.load();
}

long Self() {
    return static_cast<long>(GetCurrentThreadId());
}

TEST(SpinLock, RecursiveEnterIsHeldUntilTheLastLeave) {
    SpinLock lock("test");
    lock.Enter("first");
    lock.Enter("second");
    EXPECT_EQ(lock.words()->lock, 1);
    EXPECT_EQ(lock.words()->owner, Self());
    EXPECT_EQ(lock.words()->recursion, 2);
    EXPECT_STREQ(lock.words()->holder, "second");

    std::atomic<bool> entered{false};
    std::thread other([&] {
        lock.Enter("other");
        entered = true;
        lock.Leave();
    });
    lock.Leave();  // still held once
    EXPECT_FALSE(WaitFor(entered, 100)) << "the second thread got in while the lock was held";
    EXPECT_EQ(lock.words()->owner, Self());
    lock.Leave();
    EXPECT_TRUE(WaitFor(entered, 5000)) << "the second thread never got the lock";
    other.join();
    EXPECT_EQ(lock.words()->lock, 0);
    EXPECT_EQ(lock.words()->owner, 0);
    EXPECT_EQ(lock.words()->recursion, 0);
}

TEST(SpinLock, LeaveByAnotherThreadChangesNothing) {
    SpinLock lock("test");
    lock.Enter("owner");
    std::thread intruder([&] {
        lock.Leave();
        lock.Leave();
    });
    intruder.join();
    EXPECT_EQ(lock.words()->lock, 1);
    EXPECT_EQ(lock.words()->owner, Self());
    EXPECT_EQ(lock.words()->recursion, 1);

    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        lock.Enter("waiter");
        entered = true;
        lock.Leave();
    });
    EXPECT_FALSE(WaitFor(entered, 50));
    lock.Leave();
    EXPECT_TRUE(WaitFor(entered, 5000));
    waiter.join();
}

// A Leave of a free lock must not leave a debt behind: the next holder's
// nested Enter would otherwise be released one Leave early.
TEST(SpinLock, LeaveOfAFreeLockLeavesNoDebt) {
    SpinLock lock("test");
    lock.Leave();
    std::thread([&] { lock.Leave(); }).join();
    EXPECT_EQ(lock.words()->recursion, 0);
    lock.Enter("a");
    lock.Enter("b");
    lock.Leave();
    EXPECT_EQ(lock.words()->lock, 1) << "released while still entered once";
    EXPECT_EQ(lock.words()->owner, Self());
    lock.Leave();
    EXPECT_EQ(lock.words()->lock, 0);
}

TEST(SpinLock, ExcludesOtherThreads) {
    SpinLock lock("test");
    long counter = 0;  // guarded by `lock` only
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    constexpr int kThreads = 3;
    constexpr int kRounds = 3000;
    std::thread threads[kThreads];
    for (auto& t : threads) {
        t = std::thread([&] {
            for (int i = 0; i < kRounds; ++i) {
                lock.Enter("worker");
                lock.Enter("worker nested");
                if (inside.fetch_add(1) != 0)
                    ++overlaps;
                const long seen = counter;
                if ((i & 63) == 0)
                    Sleep(0);  // give the others a chance to run in the middle
                counter = seen + 1;
                inside.fetch_sub(1);
                lock.Leave();
                lock.Leave();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(counter, kThreads * kRounds);
    EXPECT_EQ(lock.words()->lock, 0);
}

TEST(SpinLock, UnboundLockDoesNothing) {
    SpinLock unbound;
    EXPECT_FALSE(unbound.bound());
    unbound.Enter("x");
    unbound.Leave();
    unbound.Leave();
    { SpinLockGuard guard(unbound, "guard"); }
    EXPECT_EQ(unbound.words(), nullptr);
}

TEST(SpinLock, GuardBindsToAnotherLocksWordsForItsScope) {
    SpinLock lock("test");
    std::atomic<bool> entered{false};
    std::thread other;
    {
        SpinLockGuard guard(lock, "guard");
        EXPECT_EQ(lock.words()->lock, 1);
        EXPECT_EQ(lock.words()->owner, Self());
        EXPECT_STREQ(lock.words()->holder, "guard");
        {
            SpinLockGuard nested(lock, "nested");
            EXPECT_EQ(lock.words()->recursion, 2);
        }
        EXPECT_EQ(lock.words()->recursion, 1);
        other = std::thread([&] {
            SpinLockGuard theirs(lock, "other");
            entered = true;
        });
        EXPECT_FALSE(WaitFor(entered, 50)) << "got in while the guard held the lock";
    }
    EXPECT_TRUE(WaitFor(entered, 5000)) << "the guard did not leave at its end";
    other.join();
    EXPECT_STREQ(lock.words()->holder, "other");
    EXPECT_EQ(lock.words()->lock, 0);
}

}  // namespace
}  // namespace camvue
