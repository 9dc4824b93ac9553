// kiv.memory: zero-filled blocks and the usage count. The test build of the
// library (with counters) lies beside this program; the shipped one is loaded
// from its own folder by full path.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <thread>
#include <vector>

#include "kiv.basis/includes/kiv_exports.h"
#include "tests/unit/kiv/kiv_test_util.h"

namespace {

struct Memory {
    explicit Memory(const wchar_t* path) : module(LoadLibraryW(path)) {
        alloc = Get<KivAllocFn>("kiv_alloc");
        free = Get<KivFreeFn>("kiv_free");
        init = Get<KivModuleInitFn>("kiv_module_init");
        module_free = Get<KivModuleFreeFn>("kiv_module_free");
        counters = Get<void (*)(KivMemoryCounters*)>("kiv_memory_counters");
    }
    ~Memory() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
    template <class F>
    F Get(const char* name) {
        return module != nullptr
                   ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                   : nullptr;
    }
    KivMemoryCounters Counters() {
        KivMemoryCounters c = {};
        counters(&c);
        return c;
    }
    bool Complete() const {
        return alloc != nullptr && free != nullptr && init != nullptr && module_free != nullptr;
    }

    HMODULE module;
    KivAllocFn alloc;
    KivFreeFn free;
    KivModuleInitFn init;
    KivModuleFreeFn module_free;
    void (*counters)(KivMemoryCounters*);
};

bool AllZero(const void* block, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

class MemoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(memory.Complete());
        ASSERT_NE(memory.counters, nullptr);
        ASSERT_EQ(memory.Counters().usage, -1) << "each case starts with the state absent";
    }
    void TearDown() override {
        EXPECT_EQ(memory.Counters().usage, -1) << "each case must leave the state absent";
        EXPECT_EQ(memory.Counters().bad_frees, 0u);
    }
    Memory memory{L"kiv.memory.dll"};
};

TEST_F(MemoryTest, ZeroByteBlockIsValid) {
    void* block = memory.alloc(0, "char", __FILE__, __LINE__);
    ASSERT_NE(block, nullptr);
    const uint64_t frees = memory.Counters().frees;
    memory.free(block);
    EXPECT_EQ(memory.Counters().frees, frees + 1);
    memory.free(nullptr);  // harmless
    memory.module_free(0);
}

TEST_F(MemoryTest, BlockBeforeInitIsZeroFilledAndInitCountsTwo) {
    // Dirty the heap first so that zero-filling is not an accident.
    memory.init(0);
    auto* dirty = static_cast<unsigned char*>(memory.alloc(4096, "char", __FILE__, __LINE__));
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xA5, 4096);
    memory.free(dirty);
    memory.module_free(0);
    ASSERT_EQ(memory.Counters().usage, -1);

    void* block = memory.alloc(4096, "char", __FILE__, __LINE__);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, 4096));
    EXPECT_EQ(memory.Counters().usage, 1);
    memory.init(0);
    EXPECT_EQ(memory.Counters().usage, 2);
    memory.free(block);
    memory.module_free(0);
    EXPECT_EQ(memory.Counters().usage, 1);
    memory.module_free(0);
}

TEST_F(MemoryTest, AfterTheLastFreeBlocksAreKeptAndAllocRestarts) {
    memory.init(0);
    void* block = memory.alloc(64, "char", __FILE__, __LINE__);
    ASSERT_NE(block, nullptr);
    memory.module_free(0);
    const KivMemoryCounters before = memory.Counters();
    memory.free(block);  // the state is absent: not released
    EXPECT_EQ(memory.Counters().frees, before.frees);
    EXPECT_EQ(memory.Counters().live, before.live);
    void* again = memory.alloc(8, "char", __FILE__, __LINE__);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(memory.Counters().usage, 1);
    memory.free(block);
    memory.free(again);
    EXPECT_EQ(memory.Counters().frees, before.frees + 2);
    memory.module_free(0);
    memory.module_free(0);  // an absent state stays absent
}

TEST_F(MemoryTest, SizesBeyondTheAddressSpaceAreRefused) {
    EXPECT_EQ(memory.alloc(~uint64_t{0}, "char", __FILE__, __LINE__), nullptr);
    EXPECT_EQ(memory.alloc(uint64_t{1} << 62, "char", __FILE__, __LINE__), nullptr);
    memory.module_free(0);
}

TEST_F(MemoryTest, ThreadsAllocateAndFreeTogether) {
    memory.init(0);
    const KivMemoryCounters before = memory.Counters();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            std::vector<void*> blocks;
            for (int i = 0; i < 2000; ++i) {
                blocks.push_back(memory.alloc(16 + (i % 64), "char", __FILE__, t));
                if (i % 3 == 0) {
                    memory.init(0);
                    memory.module_free(0);
                }
            }
            for (void* block : blocks) {
                memory.free(block);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const KivMemoryCounters after = memory.Counters();
    EXPECT_EQ(after.allocations - before.allocations, 8000u);
    EXPECT_EQ(after.frees - before.frees, 8000u);
    EXPECT_EQ(after.live, before.live);
    EXPECT_EQ(after.usage, 1);
    memory.module_free(0);
}

TEST(ShippedMemory, HandsOutZeroFilledBlocks) {
    Memory shipped(KIV_SHIPPED_DIR L"/kiv.memory.dll");
    ASSERT_TRUE(shipped.Complete());
    EXPECT_EQ(shipped.counters, nullptr) << "the shipped library has no test export";
    shipped.init(0);
    auto* block = static_cast<unsigned char*>(shipped.alloc(1000, "char", __FILE__, __LINE__));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, 1000));
    std::memset(block, 1, 1000);
    shipped.free(block);
    EXPECT_NE(shipped.alloc(0, "char", __FILE__, __LINE__), nullptr);
    shipped.module_free(0);
}

}  // namespace
