// Objects in transit under load: threads return objects through Detach and
// take them back with set_Object (some on another thread, some never) while
// kiv.gc's collector thread runs its passes. At the end every object has been
// destroyed exactly once and kiv.memory holds no block of this program.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "kiv.basis/lib/binding.h"
#include "kiv.basis/lib/string.h"
#include "tests/unit/kiv/kiv_test_util.h"

namespace {

class Counted : public XGCHandle<CountedObject> {};

// What a runtime function returning an object does.
CountedObject* MakeObject(int payload) {
    Counted local;
    local.get_Object()->payload = payload;
    return local.Detach();
}

_String* MakeString(int n) {
    XString text("item ");
    text += std::to_string(n).c_str();
    return text.Detach();
}

TEST(GcStress, DetachAndTakeBackAcrossThreadsWhileCollecting) {
    const int destroyed_before = CountedObject::Destroyed();
    std::atomic<int> created{0};
    std::atomic<int> taken{0};
    std::mutex queue_lock;
    std::deque<CountedObject*> queue;  // handed from producers to the consumer
    std::atomic<bool> producing{true};

    std::thread consumer([&] {
        for (;;) {
            CountedObject* raw = nullptr;
            {
                std::lock_guard<std::mutex> guard(queue_lock);
                if (!queue.empty()) {
                    raw = queue.front();
                    queue.pop_front();
                }
            }
            if (raw == nullptr) {
                if (!producing) {
                    break;
                }
                std::this_thread::yield();
                continue;
            }
            Counted handle;
            handle.set_Object(raw);
            EXPECT_EQ(raw->gc_ref_count, 0);
            EXPECT_GE(handle.get_Object()->payload, 0);
            ++taken;
        }
    });

    // Each pass visits a slot per millisecond, so the load stays at a few
    // thousand objects spread over several passes.
    constexpr int kPerProducer = 1500;
    std::vector<std::thread> producers;
    for (int t = 0; t < 3; ++t) {
        producers.emplace_back([&, t] {
            int n = 0;
            while (n < kPerProducer) {
                CountedObject* raw = MakeObject(n);
                ++created;
                switch (n % 4) {
                    case 0: {  // taken back on this thread
                        Counted handle;
                        handle.set_Object(raw);
                        handle.set_Object(raw);  // again: no change
                        EXPECT_EQ(handle.get_Object()->ref_count, 1);
                        ++taken;
                        break;
                    }
                    case 1: {  // handed to another thread
                        std::lock_guard<std::mutex> guard(queue_lock);
                        queue.push_back(raw);
                        break;
                    }
                    case 2: {  // a string through a copying constructor
                        XString copy(MakeString(n));
                        EXPECT_GT(copy.get_Length(), 5u);
                        {
                            Counted handle;
                            handle.set_Object(raw);
                        }
                        ++taken;
                        break;
                    }
                    default:  // never taken: the collector's to free
                        break;
                }
                ++n;
                if (n % 2 == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                (void)t;
            }
        });
    }
    for (auto& producer : producers) {
        producer.join();
    }
    producing = false;
    consumer.join();

    // The never-taken objects go with the passes (at most two periods).
    const auto wait_until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (CountedObject::Destroyed() - destroyed_before < created &&
           std::chrono::steady_clock::now() < wait_until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(CountedObject::Destroyed() - destroyed_before, created.load());
    EXPECT_EQ(created.load(), 3 * kPerProducer);
    EXPECT_EQ(created.load() - taken.load(), 3 * kPerProducer / 4);  // the collector's share

    FreeRuntimeLibraries();
    // kiv.memory is unbound now; the counters stay readable while the
    // library is loaded by this test.
    HMODULE memory = LoadLibraryW(L"kiv.memory.dll");
    ASSERT_NE(memory, nullptr);
    const KivMemoryCounters counters = MemoryCounters();
    EXPECT_EQ(counters.bad_frees, 0u);
    EXPECT_EQ(counters.allocations, counters.frees);
    EXPECT_EQ(counters.live, 0u);
    FreeLibrary(memory);
}

TEST(GcStress, ObjectsLeftInTransitAreFreedWhenTheLibrariesGo) {
    const int destroyed_before = CountedObject::Destroyed();
    for (int i = 0; i < 20; ++i) {
        MakeObject(i);
        XString leftover(static_cast<const char*>("left"));
        leftover.Detach();  // registered, never taken
    }
    FreeRuntimeLibraries();  // kiv.gc releases them before it goes
    EXPECT_EQ(CountedObject::Destroyed() - destroyed_before, 20);
    HMODULE memory = LoadLibraryW(L"kiv.memory.dll");
    ASSERT_NE(memory, nullptr);
    const KivMemoryCounters counters = MemoryCounters();
    EXPECT_EQ(counters.bad_frees, 0u);
    EXPECT_EQ(counters.live, 0u);
    FreeLibrary(memory);
}

}  // namespace
