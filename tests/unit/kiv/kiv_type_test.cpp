// kiv.type.dll as a client module sees it: loaded by name beside the counting
// kiv.memory.dll, driven through its five exports, and checked through the
// descriptors it returns and the block accounting of kiv.memory. Every case
// loads a fresh copy of the library and, once it is unloaded again, expects
// every block it allocated to have been freed exactly once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "kiv.basis/includes/kiv_exports.h"
#include "kiv.basis/lib/binding.h"
#include "kiv.memory/counters.h"
#include "kiv.type/method_info.h"
#include "kiv.type/type.h"

namespace {

using KivMemoryCountersFn = void(KIV_CDECL*)(KivMemoryCounters*);

template <class F>
F Proc(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Runs body with the C runtime's standard error sent to a temporary file and
// returns what was written to it.
std::string CaptureStderr(const std::function<void()>& body) {
    char dir[MAX_PATH];
    char path[MAX_PATH];
    if (GetTempPathA(MAX_PATH, dir) == 0 || GetTempFileNameA(dir, "kty", 0, path) == 0) {
        return "<no temporary file>";
    }
    std::fflush(stderr);
    const int saved = _dup(2);
    const int file = _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (saved < 0 || file < 0) {
        return "<no descriptor>";
    }
    _dup2(file, 2);
    _close(file);
    body();
    std::fflush(stderr);
    _dup2(saved, 2);
    _close(saved);

    std::string text;
    if (FILE* in = std::fopen(path, "rb")) {
        char chunk[256];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
            text.append(chunk, got);
        }
        std::fclose(in);
    }
    DeleteFileA(path);
    return text;
}

// All parties leave Wait together; reusable round after round.
class SpinBarrier {
  public:
    explicit SpinBarrier(int parties) : parties_(parties) {}
    void Wait() {
        const int generation = generation_.load();
        if (arrived_.fetch_add(1) + 1 == parties_) {
            arrived_.store(0);
            generation_.fetch_add(1);
            return;
        }
        while (generation_.load() == generation) {
            SwitchToThread();
        }
    }

  private:
    const int parties_;
    std::atomic<int> arrived_{0};
    std::atomic<int> generation_{0};
};

DWORD WINAPI RunBody(LPVOID body) {
    (*static_cast<std::function<void()>*>(body))();
    return 0;
}

constexpr char kModuleA[] = "module.a";
constexpr char kModuleB[] = "module.b";
constexpr char kModuleC[] = "module.c";
constexpr char kModuleD[] = "module.d";

class KivTypeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // This program's own runtime copy keeps kiv.memory loaded and in use
        // for the whole run, so its counters outlive every copy of kiv.type.
        ASSERT_TRUE(KivBindMemory());
        memory_ = GetModuleHandleW(L"kiv.memory.dll");
        ASSERT_NE(memory_, nullptr);
        counters_ = Proc<KivMemoryCountersFn>(memory_, "kiv_memory_counters");
        alloc_ = Proc<KivAllocFn>(memory_, "kiv_alloc");
        free_block_ = Proc<KivFreeFn>(memory_, "kiv_free");
        ASSERT_NE(counters_, nullptr)
            << "kiv.memory.dll beside the tests is not the counting build";
        ASSERT_NE(alloc_, nullptr);
        ASSERT_NE(free_block_, nullptr);

        ASSERT_EQ(GetModuleHandleW(L"kiv.type.dll"), nullptr) << "a previous copy is still loaded";
        baseline_ = Counters();
        library_ = LoadLibraryW(L"kiv.type.dll");
        ASSERT_NE(library_, nullptr);
        init_ = Proc<KivModuleInitFn>(library_, "kiv_module_init");
        module_free_ = Proc<KivModuleFreeFn>(library_, "kiv_module_free");
        type_of_ = Proc<KivTypeofFn>(library_, "kiv_typeof");
        add_info_ = Proc<KivAddTypeMethodInfoFn>(library_, "kiv_add_type_method_info");
        free_types_ = Proc<KivTypeFreeTypesFn>(library_, "kiv_type_free_types");
        ASSERT_NE(init_, nullptr);
        ASSERT_NE(module_free_, nullptr);
        ASSERT_NE(type_of_, nullptr);
        ASSERT_NE(add_info_, nullptr);
        ASSERT_NE(free_types_, nullptr);
    }

    void TearDown() override {
        if (library_ != nullptr) {
            FreeLibrary(library_);
            library_ = nullptr;
        }
        EXPECT_EQ(GetModuleHandleW(L"kiv.type.dll"), nullptr);
        if (counters_ == nullptr) {
            return;
        }
        const KivMemoryCounters after = Counters();
        EXPECT_EQ(after.bad_frees, baseline_.bad_frees) << "a block was freed twice or was foreign";
        EXPECT_EQ(after.live, baseline_.live) << "blocks left behind";
        EXPECT_EQ(after.usage, baseline_.usage) << "kiv.type did not let go of kiv.memory";
    }

    KivMemoryCounters Counters() const {
        KivMemoryCounters counters = {};
        counters_(&counters);
        return counters;
    }

    void* Block(uint64_t size) { return alloc_(size, "test block", __FILE__, __LINE__); }

    // Attaches a record with flag, value and data block to type; the block
    // passes to kiv.type's copy (cleared here so that it is freed once).
    void Attach(_Type* type, uint8_t owns_data, uint32_t value, void* block) {
        XTypeMethodInfo info;
        ASSERT_NE(info.object, nullptr);
        info.object->owns_data = owns_data;
        info.object->value = value;
        info.object->data[0] = block;
        add_info_(type, &info);
        info.object->data[0] = nullptr;
    }

    HMODULE memory_ = nullptr;
    KivMemoryCountersFn counters_ = nullptr;
    KivAllocFn alloc_ = nullptr;
    KivFreeFn free_block_ = nullptr;
    KivMemoryCounters baseline_ = {};

    HMODULE library_ = nullptr;
    KivModuleInitFn init_ = nullptr;
    KivModuleFreeFn module_free_ = nullptr;
    KivTypeofFn type_of_ = nullptr;
    KivAddTypeMethodInfoFn add_info_ = nullptr;
    KivTypeFreeTypesFn free_types_ = nullptr;
};

TEST_F(KivTypeTest, ExportsExactlyTheFiveUndecoratedNames) {
    const auto* base = reinterpret_cast<const BYTE*>(library_);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> found;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        found.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    }
    std::sort(found.begin(), found.end());
    const std::vector<std::string> expected = {"kiv_add_type_method_info", "kiv_module_free",
                                               "kiv_module_init", "kiv_type_free_types",
                                               "kiv_typeof"};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(exports->NumberOfFunctions, 5u);
}

TEST_F(KivTypeTest, EqualNamesAtDifferentAddressesShareOneType) {
    char first[] = "Camera";
    char second[] = "Camera";
    _Type* type = type_of_(kModuleA, first);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->type_name, first) << "the name is kept as the caller's pointer";
    EXPECT_EQ(type->module_name, kModuleA);
    EXPECT_EQ(type->ref_count, 1);
    EXPECT_EQ(type->method_infos.Count(), 0u);
    EXPECT_STREQ(type->name, "_Type");

    const uint64_t allocations = Counters().allocations;
    EXPECT_EQ(type_of_(kModuleB, second), type);
    EXPECT_EQ(type_of_(kModuleA, first), type);
    EXPECT_EQ(type->module_name, kModuleA) << "the first registration's module stays";
    EXPECT_EQ(type->type_name, first);
    EXPECT_EQ(Counters().allocations, allocations) << "a registered name is found, not registered";

    // Names that differ only at the end are different types.
    char longer[] = "Cameras";
    char shorter[] = "Camer";
    _Type* longer_type = type_of_(kModuleB, longer);
    _Type* shorter_type = type_of_(kModuleB, shorter);
    ASSERT_NE(longer_type, nullptr);
    ASSERT_NE(shorter_type, nullptr);
    EXPECT_NE(longer_type, type);
    EXPECT_NE(shorter_type, type);
    EXPECT_NE(shorter_type, longer_type);
    EXPECT_EQ(longer_type->module_name, kModuleB);
    EXPECT_EQ(type_of_(kModuleA, second), type);

    module_free_(0);
    EXPECT_EQ(Counters().live, baseline_.live);
}

TEST_F(KivTypeTest, FreedTypesAreNotFoundAndTheirEntriesAreReused) {
    char x1[] = "X1";
    char y[] = "Y";
    char x2[] = "X2";
    _Type* x1_type = type_of_(kModuleA, x1);
    _Type* y_type = type_of_(kModuleB, y);
    _Type* x2_type = type_of_(kModuleA, x2);
    ASSERT_NE(x1_type, nullptr);
    ASSERT_NE(y_type, nullptr);
    ASSERT_NE(x2_type, nullptr);

    void* first_block = Block(16);
    void* second_block = Block(24);
    void* y_block = Block(8);
    ASSERT_NE(first_block, nullptr);
    ASSERT_NE(second_block, nullptr);
    ASSERT_NE(y_block, nullptr);
    Attach(x1_type, 1, 7, first_block);
    Attach(x1_type, 0, 8, second_block);
    Attach(y_type, 1, 9, y_block);
    ASSERT_EQ(x1_type->method_infos.Count(), 2u);

    const KivMemoryCounters before = Counters();
    free_types_(kModuleA);
    const KivMemoryCounters after = Counters();
    EXPECT_EQ(after.frees, before.frees + 2) << "both data blocks of X1, whatever the flag";
    EXPECT_EQ(after.bad_frees, before.bad_frees);
    EXPECT_EQ(after.allocations, before.allocations);
    EXPECT_EQ(x1_type->type_name, nullptr);
    EXPECT_EQ(x1_type->module_name, nullptr);
    EXPECT_EQ(x2_type->type_name, nullptr);
    EXPECT_EQ(x2_type->module_name, nullptr);
    ASSERT_EQ(x1_type->method_infos.Count(), 2u) << "the records stay with the descriptor";
    EXPECT_EQ(x1_type->method_infos.At(0)->data[0], nullptr);
    EXPECT_EQ(x1_type->method_infos.At(1)->data[0], nullptr);
    EXPECT_EQ(y_type->type_name, y);
    ASSERT_EQ(y_type->method_infos.Count(), 1u);
    EXPECT_EQ(y_type->method_infos.At(0)->data[0], y_block) << "other modules keep their data";

    // "X2" is no longer found in its old entry: looking it up registers it
    // anew, in the first free entry, which is X1's.
    char x2_again[] = "X2";
    const uint64_t allocations = Counters().allocations;
    EXPECT_EQ(type_of_(kModuleC, x2_again), x1_type);
    EXPECT_EQ(x1_type->type_name, x2_again);
    EXPECT_EQ(x1_type->module_name, kModuleC);
    ASSERT_EQ(x1_type->method_infos.Count(), 2u) << "the reused descriptor keeps the old records";
    EXPECT_EQ(x1_type->method_infos.At(0)->value, 7u);
    EXPECT_EQ(x1_type->method_infos.At(0)->data[0], nullptr);
    EXPECT_EQ(x1_type->method_infos.At(1)->value, 8u);
    EXPECT_EQ(x1_type->method_infos.At(1)->data[0], nullptr);

    // The next new name takes the next free entry; then the list grows.
    char w[] = "W";
    EXPECT_EQ(type_of_(kModuleD, w), x2_type);
    EXPECT_EQ(x2_type->module_name, kModuleD);
    EXPECT_EQ(Counters().allocations, allocations) << "free entries are reused, not reallocated";
    char x1_again[] = "X1";
    _Type* fresh = type_of_(kModuleA, x1_again);
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, x1_type);
    EXPECT_NE(fresh, x2_type);
    EXPECT_NE(fresh, y_type);
    EXPECT_EQ(fresh->method_infos.Count(), 0u);
    EXPECT_GT(Counters().allocations, allocations);
    EXPECT_EQ(type_of_(kModuleA, y), y_type);

    // Freeing module A now gives back only the fresh X1 entry.
    free_types_(kModuleA);
    EXPECT_EQ(fresh->type_name, nullptr);
    EXPECT_EQ(x1_type->type_name, x2_again);
    EXPECT_EQ(x2_type->type_name, w);
    EXPECT_EQ(y_type->type_name, y);

    module_free_(0);
    EXPECT_EQ(Counters().live, baseline_.live) << "y_block goes with the registry";
}

TEST_F(KivTypeTest, FreeTypesOfModuleThatRegisteredNothingChangesNothing) {
    // Without a registry there is nothing to free and nothing is created.
    free_types_(kModuleA);
    EXPECT_EQ(Counters().allocations, baseline_.allocations);

    char name[] = "Name";
    char other[] = "Other";
    _Type* type = type_of_(kModuleA, name);
    _Type* other_type = type_of_(kModuleB, other);
    ASSERT_NE(type, nullptr);
    ASSERT_NE(other_type, nullptr);
    void* block = Block(32);
    ASSERT_NE(block, nullptr);
    Attach(type, 1, 3, block);

    const KivMemoryCounters before = Counters();
    char module_a_prefix[] = "module.";
    char module_a_longer[] = "module.aa";
    free_types_(kModuleC);
    free_types_(module_a_prefix);
    free_types_(module_a_longer);
    free_types_(nullptr);
    const KivMemoryCounters after = Counters();
    EXPECT_EQ(after.frees, before.frees);
    EXPECT_EQ(after.allocations, before.allocations);
    EXPECT_EQ(type->type_name, name);
    EXPECT_EQ(type->module_name, kModuleA);
    EXPECT_EQ(other_type->type_name, other);
    ASSERT_EQ(type->method_infos.Count(), 1u);
    EXPECT_EQ(type->method_infos.At(0)->data[0], block);
    EXPECT_EQ(type_of_(kModuleC, name), type);

    // The module name is compared by content, not by address.
    char module_a_copy[] = "module.a";
    free_types_(module_a_copy);
    EXPECT_EQ(type->type_name, nullptr);
    EXPECT_EQ(type->method_infos.At(0)->data[0], nullptr);
    EXPECT_EQ(Counters().frees, before.frees + 1);
    EXPECT_EQ(other_type->type_name, other);

    module_free_(0);
}

TEST_F(KivTypeTest, RegistrySurvivesFirstFreeAndGoesWithTheLast) {
    init_(0);
    init_(0);
    char name[] = "Session";
    _Type* type = type_of_(kModuleA, name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(Counters().usage, baseline_.usage + 1) << "kiv.type binds kiv.memory once";
    void* block = Block(40);
    ASSERT_NE(block, nullptr);
    Attach(type, 0, 1, block);

    const KivMemoryCounters before = Counters();
    module_free_(0);
    const KivMemoryCounters survived = Counters();
    EXPECT_EQ(survived.frees, before.frees) << "the first free destroys nothing";
    EXPECT_EQ(survived.usage, before.usage);
    char same[] = "Session";
    EXPECT_EQ(type_of_(kModuleB, same), type);
    EXPECT_EQ(type->module_name, kModuleA);
    ASSERT_EQ(type->method_infos.Count(), 1u);
    EXPECT_EQ(type->method_infos.At(0)->data[0], block);
    EXPECT_EQ(Counters().allocations, before.allocations);

    module_free_(0);
    const KivMemoryCounters destroyed = Counters();
    EXPECT_EQ(destroyed.live, baseline_.live)
        << "registry, entries, records and their data are all freed";
    EXPECT_EQ(destroyed.bad_frees, baseline_.bad_frees);
    EXPECT_EQ(destroyed.usage, baseline_.usage) << "kiv.memory is unbound";

    // A later lookup builds a new registry: the name is registered anew.
    EXPECT_GT(destroyed.frees, before.frees);
    _Type* again = type_of_(kModuleB, same);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->module_name, kModuleB);
    EXPECT_EQ(again->type_name, same);
    EXPECT_EQ(again->method_infos.Count(), 0u);
    EXPECT_GT(Counters().allocations, destroyed.allocations);
    EXPECT_EQ(Counters().usage, baseline_.usage + 1);

    // Created by a lookup, the registry starts with an init count of 1.
    init_(0);
    module_free_(0);
    EXPECT_EQ(type_of_(kModuleA, name), again) << "one init and one free leave it standing";
    module_free_(0);
    EXPECT_EQ(Counters().live, baseline_.live);
    EXPECT_EQ(Counters().usage, baseline_.usage);

    // Without a registry a free does nothing at all.
    const KivMemoryCounters idle = Counters();
    module_free_(0);
    const KivMemoryCounters still = Counters();
    EXPECT_EQ(still.allocations, idle.allocations);
    EXPECT_EQ(still.frees, idle.frees);
    EXPECT_EQ(still.usage, idle.usage);
}

TEST_F(KivTypeTest, AddMethodInfoWithoutRegistryDoesNothing) {
    XTypeMethodInfo info;
    ASSERT_NE(info.object, nullptr);
    void* block = Block(8);
    ASSERT_NE(block, nullptr);
    info.object->data[0] = block;
    info.object->value = 5;

    // Stands for a descriptor; any write into it would show.
    alignas(_Type) unsigned char storage[sizeof(_Type)] = {};
    _Type* fake = reinterpret_cast<_Type*>(storage);

    const KivMemoryCounters before = Counters();
    add_info_(fake, &info);
    const KivMemoryCounters after = Counters();
    EXPECT_EQ(after.allocations, before.allocations);
    EXPECT_EQ(after.frees, before.frees);
    EXPECT_EQ(after.usage, before.usage) << "nothing bound kiv.memory";
    EXPECT_TRUE(std::all_of(std::begin(storage), std::end(storage),
                            [](unsigned char byte) { return byte == 0; }));
    EXPECT_EQ(info.object->ref_count, 1);

    // Nor after the registry is gone.
    init_(0);
    module_free_(0);
    const KivMemoryCounters gone = Counters();
    add_info_(fake, &info);
    EXPECT_EQ(Counters().allocations, gone.allocations);
    EXPECT_TRUE(std::all_of(std::begin(storage), std::end(storage),
                            [](unsigned char byte) { return byte == 0; }));

    // Null arguments are ignored while a registry stands.
    char name[] = "Holder";
    _Type* type = type_of_(kModuleA, name);
    ASSERT_NE(type, nullptr);
    add_info_(type, nullptr);
    add_info_(nullptr, &info);
    EXPECT_EQ(type->method_infos.Count(), 0u);
    module_free_(0);

    info.object->data[0] = nullptr;
    free_block_(block);
}

TEST_F(KivTypeTest, AddMethodInfoCopiesFlagValueAndFirstDataPointer) {
    char name[] = "Decoder";
    _Type* type = type_of_(kModuleA, name);
    ASSERT_NE(type, nullptr);
    void* blocks[_TypeMethodInfo::kDataCount];
    for (void*& block : blocks) {
        block = Block(12);
        ASSERT_NE(block, nullptr);
    }

    {
        XTypeMethodInfo info;
        ASSERT_NE(info.object, nullptr);
        info.object->owns_data = 0;
        info.object->value = 0xDEADBEEFu;
        for (int i = 0; i < _TypeMethodInfo::kDataCount; ++i) {
            info.object->data[i] = blocks[i];
        }
        const uint64_t allocations = Counters().allocations;
        add_info_(type, &info);
        EXPECT_EQ(Counters().allocations, allocations + 1) << "one record, nothing else";

        ASSERT_EQ(type->method_infos.Count(), 1u);
        _TypeMethodInfo* copy = type->method_infos.At(0);
        ASSERT_NE(copy, nullptr);
        EXPECT_NE(copy, info.object) << "kiv.type keeps a copy of its own";
        EXPECT_EQ(copy->owns_data, 0);
        EXPECT_EQ(copy->value, 0xDEADBEEFu);
        EXPECT_EQ(copy->owning_type, type);
        EXPECT_EQ(copy->data[0], blocks[0]);
        for (int i = 1; i < _TypeMethodInfo::kDataCount; ++i) {
            EXPECT_EQ(copy->data[i], nullptr) << "data pointer " << i << " is not copied";
        }
        EXPECT_EQ(copy->ref_count, 1) << "only the list holds it";
        EXPECT_EQ(info.object->ref_count, 1) << "the caller's record is only read";
        EXPECT_EQ(info.object->data[0], blocks[0]);

        // blocks[0] now belongs to the copy; the rest stay the caller's.
        for (int i = 0; i < _TypeMethodInfo::kDataCount; ++i) {
            info.object->data[i] = nullptr;
        }
    }
    for (int i = 1; i < _TypeMethodInfo::kDataCount; ++i) {
        free_block_(blocks[i]);
    }

    void* owned = Block(20);
    ASSERT_NE(owned, nullptr);
    Attach(type, 1, 2, owned);
    ASSERT_EQ(type->method_infos.Count(), 2u);
    EXPECT_EQ(type->method_infos.At(0)->value, 0xDEADBEEFu) << "records keep their order";
    _TypeMethodInfo* second = type->method_infos.At(1);
    EXPECT_EQ(second->owns_data, 1);
    EXPECT_EQ(second->value, 2u);
    EXPECT_EQ(second->data[0], owned);
    EXPECT_EQ(second->owning_type, type);

    // Destroying the registry frees both blocks, the one whose record had
    // the flag clear included.
    module_free_(0);
    const KivMemoryCounters after = Counters();
    EXPECT_EQ(after.live, baseline_.live);
    EXPECT_EQ(after.bad_frees, baseline_.bad_frees);
}

TEST_F(KivTypeTest, NullTypeNameIsReportedAndGivesNull) {
    _Type* result = reinterpret_cast<_Type*>(&result);
    const std::string text = CaptureStderr([&] { result = type_of_(kModuleA, nullptr); });
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(text, "XTypeManager::TypeOf , type name is EMPTY\n");
    EXPECT_EQ(Counters().allocations, baseline_.allocations) << "no registry for a null name";

    // A registered name is unaffected by a null lookup.
    char name[] = "Present";
    _Type* type = type_of_(kModuleA, name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type_of_(kModuleB, nullptr), nullptr);
    EXPECT_EQ(type_of_(kModuleB, name), type);
    module_free_(0);
}

// Lookup threads register the same fresh names at the same moment, round
// after round, each from its own copies of the strings, while another thread
// keeps registering and freeing the names of one more module and attaching
// data to them. Every name must map to exactly one descriptor.
TEST_F(KivTypeTest, ConcurrentLookupsRegisterEachNameOnce) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 60;
    constexpr int kNames = 8;
    static const char* const kLookupModules[kThreads] = {"lookup.0", "lookup.1", "lookup.2",
                                                         "lookup.3"};
    static const char kChurnModule[] = "churn";
    static const char* const kChurnNames[] = {"churn.0", "churn.1", "churn.2"};

    // names[t][r * kNames + i]: thread t's own copy of name i of round r.
    std::vector<std::vector<std::string>> names(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        for (int r = 0; r < kRounds; ++r) {
            for (int i = 0; i < kNames; ++i) {
                names[t].push_back("round" + std::to_string(r) + ".name" + std::to_string(i));
            }
        }
    }
    std::vector<std::vector<_Type*>> results(kThreads,
                                             std::vector<_Type*>(kRounds * kNames, nullptr));
    std::atomic<int> wrong{0};
    std::atomic<int> changed{0};
    std::atomic<int> churn_wrong{0};
    std::atomic<int> churn_rounds{0};
    std::atomic<bool> stop{false};
    SpinBarrier barrier(kThreads);

    std::vector<std::function<void()>> bodies;
    for (int t = 0; t < kThreads; ++t) {
        bodies.emplace_back([&, t] {
            while (churn_rounds.load() == 0) {
                SwitchToThread();
            }
            for (int r = 0; r < kRounds; ++r) {
                barrier.Wait();
                for (int k = 0; k < kNames; ++k) {
                    // Each thread walks the names in its own order.
                    const int i = (t % 2 == 0) ? (k + t) % kNames : (kNames - 1 - k + t) % kNames;
                    const int slot = r * kNames + i;
                    const char* name = names[t][slot].c_str();
                    _Type* type = type_of_(kLookupModules[t], name);
                    results[t][slot] = type;
                    if (type == nullptr || type->type_name == nullptr ||
                        std::strcmp(type->type_name, name) != 0) {
                        ++wrong;
                    }
                }
                if (r > 0) {
                    // What was registered a round ago is found where it was.
                    const int slot = (r - 1) * kNames + t % kNames;
                    if (type_of_(kLookupModules[t], names[t][slot].c_str()) != results[t][slot]) {
                        ++changed;
                    }
                }
            }
        });
    }
    bodies.emplace_back([&] {
        while (!stop.load()) {
            for (const char* name : kChurnNames) {
                _Type* type = type_of_(kChurnModule, name);
                if (type == nullptr || type->type_name == nullptr ||
                    std::strcmp(type->type_name, name) != 0) {
                    ++churn_wrong;
                }
            }
            // The churn names were all registered by this thread just now.
            _Type* type = type_of_(kChurnModule, kChurnNames[0]);
            if (type == nullptr || type->module_name != kChurnModule) {
                ++churn_wrong;
            } else {
                Attach(type, 1, static_cast<uint32_t>(churn_rounds.load()), Block(16));
            }
            free_types_(kChurnModule);
            ++churn_rounds;
        }
    });

    std::vector<HANDLE> threads;
    for (auto& body : bodies) {
        HANDLE thread = CreateThread(nullptr, 0, RunBody, &body, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        threads.push_back(thread);
    }
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads.data(), TRUE, 120000), WAIT_OBJECT_0);
    stop.store(true);
    ASSERT_EQ(WaitForSingleObject(threads.back(), 120000), WAIT_OBJECT_0);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }

    EXPECT_EQ(wrong.load(), 0) << "a lookup returned a descriptor of another name";
    EXPECT_EQ(changed.load(), 0) << "a registered name moved to another descriptor";
    EXPECT_EQ(churn_wrong.load(), 0);
    EXPECT_GT(churn_rounds.load(), 1);

    std::set<_Type*> distinct;
    for (int slot = 0; slot < kRounds * kNames; ++slot) {
        for (int t = 1; t < kThreads; ++t) {
            EXPECT_EQ(results[t][slot], results[0][slot])
                << names[0][slot] << " registered twice (thread " << t << ")";
        }
        distinct.insert(results[0][slot]);
        ASSERT_NE(results[0][slot], nullptr);
        EXPECT_STREQ(results[0][slot]->type_name, names[0][slot].c_str());
        const char* module = results[0][slot]->module_name;
        EXPECT_TRUE(std::find(std::begin(kLookupModules), std::end(kLookupModules), module) !=
                    std::end(kLookupModules))
            << names[0][slot] << " carries the module of a thread that registered it";
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kRounds * kNames));

    module_free_(0);
    const KivMemoryCounters after = Counters();
    EXPECT_EQ(after.live, baseline_.live);
    EXPECT_EQ(after.bad_frees, baseline_.bad_frees);
}

}  // namespace
