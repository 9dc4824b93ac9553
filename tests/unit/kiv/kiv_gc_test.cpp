// kiv.gc: the hole-keeping list, collection passes with their grace period
// and statistics (driven directly, with an injected clock), and the library's
// exports on objects allocated in this program (the cross-module case).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "kiv.basis/includes/kiv_exports.h"
#include "kiv.basis/lib/binding.h"
#include "kiv.gc/gc_list.h"
#include "kiv.gc/gc_manager.h"
#include "tests/unit/kiv/kiv_test_util.h"

namespace {

XGCRef* Fake(uintptr_t n) {
    return reinterpret_cast<XGCRef*>(n * 16);
}

TEST(GcList, HolesAreReusedBeforeTheListGrows) {
    GcList list;
    for (uintptr_t i = 1; i <= 60; ++i) {
        ASSERT_EQ(list.Add(Fake(i)), i - 1);
        if (i == 50) {
            EXPECT_EQ(list.capacity, 50u);
        }
        if (i == 51) {
            EXPECT_EQ(list.capacity, 100u);  // the 51st registration grows by 50
        }
    }
    for (uint32_t i = 10; i < 20; ++i) {
        list.Remove(i * 2);
    }
    EXPECT_EQ(list.length, 60u);
    EXPECT_EQ(list.holes, 10u);
    EXPECT_EQ(list.LiveCount(), 50u);
    for (uintptr_t i = 0; i < 10; ++i) {
        const uint32_t index = list.Add(Fake(100 + i));
        EXPECT_EQ(index, 20 + 2 * i);  // holes in order, from the hint
    }
    EXPECT_EQ(list.length, 60u);
    EXPECT_EQ(list.holes, 0u);
    EXPECT_EQ(list.Add(Fake(200)), 60u);
}

TEST(GcList, RemoveAndItemAtTheEdges) {
    GcList list;
    EXPECT_EQ(list.Item(0), nullptr);
    list.Remove(0);
    EXPECT_EQ(list.holes, 0u);
    list.Add(Fake(1));
    list.Add(Fake(2));
    list.Remove(5);  // beyond the length: ignored
    list.Remove(1);
    list.Remove(1);  // an empty slot is not a second hole
    EXPECT_EQ(list.holes, 1u);
    EXPECT_EQ(list.Item(1), nullptr);
    EXPECT_EQ(list.Item(2), nullptr);
    EXPECT_EQ(list.Find(Fake(1)), 0u);
    EXPECT_EQ(list.Find(Fake(2)), GcList::kNoIndex);
    EXPECT_EQ(list.Add(Fake(3)), 1u);
    EXPECT_EQ(list.Add(Fake(4)), 2u);
}

TEST(GcList, TrimKeepsFiftySpareSlots) {
    GcList list;
    for (uintptr_t i = 1; i <= 160; ++i) {
        list.Add(Fake(i));
    }
    EXPECT_EQ(list.capacity, 200u);
    list.Trim();
    EXPECT_EQ(list.capacity, 200u);  // 40 spare: kept
    GcList small;
    for (uintptr_t i = 1; i <= 101; ++i) {
        small.Add(Fake(i));
    }
    for (uint32_t i = 0; i < 101; ++i) {
        small.Remove(i);
    }
    small.Trim();
    EXPECT_EQ(small.capacity, 150u);  // never below length + 50: holes stay
    EXPECT_EQ(small.length, 101u);
}

// Registers an object with a manager the way AddGCRef does.
void Register(GcManager* manager, XGCRef* object) {
    object->AddRef();
    InterlockedIncrement(&object->gc_ref_count);
    manager->Add(object);
}

class ManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        manager = GcManager::Create(false);
        ASSERT_NE(manager, nullptr);
    }
    void TearDown() override {
        GcManager::Destroy(manager);
        EXPECT_EQ(MemoryCounters().bad_frees, 0u);
    }
    // An object that only the collector holds.
    CountedObject* InTransit() {
        CountedObject* object = KivNew<CountedObject>();
        Register(manager, object);
        object->Release();  // the local handle's reference goes
        return object;
    }
    GcManager* manager = nullptr;
};

TEST_F(ManagerTest, FirstPassClearsTheFreshFlagSecondReleases) {
    const int destroyed = CountedObject::Destroyed();
    CountedObject* object = InTransit();
    EXPECT_EQ(object->gc_lock, &manager->lock);
    manager->Pass();
    EXPECT_EQ(object->fresh, 0);
    EXPECT_EQ(CountedObject::Destroyed(), destroyed);
    manager->Pass();
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 1);
    EXPECT_EQ(manager->list.LiveCount(), 0u);
}

TEST_F(ManagerTest, ObjectRegisteredWithoutFreshFlagGoesAtTheFirstPass) {
    const int destroyed = CountedObject::Destroyed();
    CountedObject* object = KivNew<CountedObject>();
    object->fresh = 0;
    Register(manager, object);
    object->Release();
    manager->Pass();
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 1);
}

TEST_F(ManagerTest, ObjectStillHeldElsewhereOnlyLosesTheCollectorsReference) {
    CountedObject* object = KivNew<CountedObject>();
    Register(manager, object);  // the "handle" keeps its reference
    manager->Pass();
    manager->Pass();
    EXPECT_EQ(object->ref_count, 1);
    EXPECT_EQ(object->gc_ref_count, 0);
    EXPECT_EQ(object->gc_lock, nullptr);
    object->Release();
}

TEST_F(ManagerTest, RemoveTakesOnlyTheFirstSlot) {
    CountedObject* object = KivNew<CountedObject>();
    Register(manager, object);
    Register(manager, object);
    manager->Remove(object);
    EXPECT_EQ(manager->list.Item(0), nullptr);
    EXPECT_EQ(manager->list.Item(1), object);
    manager->Remove(Fake(77));  // not registered: nothing
    EXPECT_EQ(manager->list.LiveCount(), 1u);
    // Undo the first registration by hand, as RemoveGCRef would.
    InterlockedDecrement(&object->gc_ref_count);
    object->Release();
    manager->CollectAll();
    EXPECT_EQ(object->ref_count, 1);
    object->Release();
}

TEST_F(ManagerTest, CollectAllReleasesFreshAndOld) {
    const int destroyed = CountedObject::Destroyed();
    InTransit();
    manager->Pass();
    InTransit();
    manager->CollectAll();
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 2);
}

TEST_F(ManagerTest, DestroyReleasesWhatIsStillRegisteredOnce) {
    const int destroyed = CountedObject::Destroyed();
    CountedObject* twice = KivNew<CountedObject>();
    Register(manager, twice);
    Register(manager, twice);
    twice->Release();
    InTransit();
    GcManager::Destroy(manager);
    manager = GcManager::Create(false);
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 2);  // each object once
}

uint64_t g_now = 0;
uint64_t FakeClock() {
    return g_now;
}

std::string Drain(FILE* file) {
    std::string text;
    std::rewind(file);
    char block[256];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        text.append(block, got);
    }
    std::rewind(file);
    return text;
}

TEST_F(ManagerTest, StatisticsLineOnlyAfterTenMinutes) {
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    manager->clock = FakeClock;
    manager->statistics_stream = out;
    CountedObject* held = KivNew<CountedObject>();
    Register(manager, held);  // keeps the pass visiting one slot
    held->fresh = 1;
    const uint64_t second = 10000000;
    g_now = 1000 * second;
    manager->Pass();  // the first pass only notes the time
    held->fresh = 1;
    g_now += 600 * second;
    manager->Pass();
    EXPECT_EQ(Drain(out), "");
    held->fresh = 1;
    g_now += 1;
    manager->Pass();
    EXPECT_EQ(Drain(out), "GC manager , items count = 1\n");
    manager->CollectAll();
    held->Release();
    std::fclose(out);
}

// The library itself, through its exports.
class GcLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(KivBindMemory());  // this program's own binding: a known baseline
        module = LoadLibraryW(L"kiv.gc.dll");
        ASSERT_NE(module, nullptr);
        init = Get<KivModuleInitFn>("kiv_module_init");
        free_module = Get<KivModuleFreeFn>("kiv_module_free");
        add = Get<KivAddGcRefFn>("kiv_add_gc_ref");
        remove = Get<KivRemoveGcRefFn>("kiv_remove_gc_ref");
        collect = Get<KivGcCollectFn>("kiv_gc_collect");
        ASSERT_TRUE(init && free_module && add && remove && collect);
    }
    void TearDown() override {
        FreeLibrary(module);
        EXPECT_EQ(MemoryCounters().bad_frees, 0u);
    }
    template <class F>
    F Get(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    CountedObject* InTransit() {
        CountedObject* object = KivNew<CountedObject>();
        object->AddRef();
        InterlockedIncrement(&object->gc_ref_count);
        add(object);
        object->Release();
        return object;
    }
    HMODULE module = nullptr;
    KivModuleInitFn init = nullptr;
    KivModuleFreeFn free_module = nullptr;
    KivAddGcRefFn add = nullptr;
    KivRemoveGcRefFn remove = nullptr;
    KivGcCollectFn collect = nullptr;
};

TEST_F(GcLibrary, FreeWithoutManagerDoesNothing) {
    const KivMemoryCounters before = MemoryCounters();
    free_module(0);
    collect();
    EXPECT_EQ(MemoryCounters().usage, before.usage);  // kiv.memory not unbound
}

TEST_F(GcLibrary, CollectReleasesObjectsOfAnotherModule) {
    init(0);
    const int destroyed = CountedObject::Destroyed();
    const KivMemoryCounters before = MemoryCounters();
    for (int i = 0; i < 5; ++i) {
        InTransit();
    }
    collect();
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 5);
    const KivMemoryCounters after = MemoryCounters();
    EXPECT_EQ(after.frees - before.frees, 5u);  // freed by kiv.gc through kiv.memory
    free_module(0);
}

TEST_F(GcLibrary, RealPassesHonourTheGrace) {
    init(0);
    const int destroyed = CountedObject::Destroyed();
    const auto start = std::chrono::steady_clock::now();
    InTransit();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(CountedObject::Destroyed(), destroyed) << "released before a second pass";
    while (CountedObject::Destroyed() == destroyed &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(6)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
    free_module(0);
}

TEST_F(GcLibrary, TwoInitsNeedTwoFrees) {
    const int destroyed = CountedObject::Destroyed();
    const int32_t usage = MemoryCounters().usage;
    init(0);
    init(0);
    EXPECT_EQ(MemoryCounters().usage, usage + 1);  // kiv.memory bound once
    InTransit();
    free_module(0);
    EXPECT_EQ(CountedObject::Destroyed(), destroyed);  // still registered
    CountedObject* taken = InTransit();
    remove(taken);  // taken back through the export: stays alive
    InterlockedDecrement(&taken->gc_ref_count);
    free_module(0);
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 1);  // the manager took it with it
    EXPECT_EQ(MemoryCounters().usage, usage);              // and unbound kiv.memory
    EXPECT_EQ(taken->ref_count, 1);
    taken->gc_lock = nullptr;  // its collector is gone
    taken->Release();
}

}  // namespace
