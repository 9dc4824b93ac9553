#include "kiv.basis/lib/binding.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "kiv.basis/includes/kiv_hooks.h"
#include "kiv.basis/includes/kiv_load_library.h"
#include "kiv.basis/lib/diagnostic.h"

namespace {

struct Export {
    const char* name;
    FARPROC* slot;
};

struct Library {
    const wchar_t* file;
    const char* file_narrow;
    HMODULE handle;
    bool reported;
};

SRWLOCK g_bind_lock = SRWLOCK_INIT;

Library g_memory_lib = {L"kiv.memory.dll", "kiv.memory.dll", nullptr, false};
std::atomic<KivAllocFn> g_alloc{nullptr};
std::atomic<KivFreeFn> g_free{nullptr};
KivModuleInitFn g_memory_init = nullptr;
KivModuleFreeFn g_memory_free_module = nullptr;

Library g_gc_lib = {L"kiv.gc.dll", "kiv.gc.dll", nullptr, false};
std::atomic<KivAddGcRefFn> g_add_gc_ref{nullptr};
std::atomic<KivRemoveGcRefFn> g_remove_gc_ref{nullptr};
KivGcCollectFn g_gc_collect = nullptr;
KivModuleInitFn g_gc_init = nullptr;
KivModuleFreeFn g_gc_free_module = nullptr;

Library g_type_lib = {L"kiv.type.dll", "kiv.type.dll", nullptr, false};
std::atomic<KivTypeofFn> g_typeof{nullptr};
KivAddTypeMethodInfoFn g_add_method_info = nullptr;
KivTypeFreeTypesFn g_free_types = nullptr;
KivModuleInitFn g_type_init = nullptr;
KivModuleFreeFn g_type_free_module = nullptr;

void Report(Library& lib, const char* what, const char* detail) {
    if (lib.reported) {
        return;
    }
    lib.reported = true;
    char line[512];
    std::snprintf(line, sizeof line, "%s module , runtime binding , %s '%s' (%s)\n",
                  kKivOwnModuleName, what, detail, lib.file_narrow);
    KivPrintUtf8(stderr, kKivMessageError, line);
}

// The library by bare name, else beside this module's own file.
HMODULE LoadBesideOwnModule(Library& lib) {
    wchar_t own_name[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, kKivOwnModuleName, -1, own_name, MAX_PATH) == 0) {
        return LoadLibraryW(lib.file);
    }
    return KivLoadRuntimeLibrary(lib.file, own_name, reinterpret_cast<const void*>(&Report));
}

// Loads the library and looks up every export; all or nothing.
bool Bind(Library& lib, const Export* exports, size_t count) {
    HMODULE handle = LoadBesideOwnModule(lib);
    if (handle == nullptr) {
        Report(lib, "cannot load library", lib.file_narrow);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        *exports[i].slot = GetProcAddress(handle, exports[i].name);
        if (*exports[i].slot == nullptr) {
            Report(lib, "cannot find export", exports[i].name);
            for (size_t j = 0; j < count; ++j) {
                *exports[j].slot = nullptr;
            }
            FreeLibrary(handle);
            return false;
        }
    }
    lib.handle = handle;
    lib.reported = false;
    return true;
}

template <class F>
F As(FARPROC proc) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(proc));
}

class BindGuard {
  public:
    BindGuard() { AcquireSRWLockExclusive(&g_bind_lock); }
    ~BindGuard() { ReleaseSRWLockExclusive(&g_bind_lock); }
    BindGuard(const BindGuard&) = delete;
    BindGuard& operator=(const BindGuard&) = delete;
};

}  // namespace

bool KivBindMemory() {
    if (g_alloc.load(std::memory_order_acquire) != nullptr) {
        return true;
    }
    BindGuard guard;
    if (g_alloc.load(std::memory_order_acquire) != nullptr) {
        return true;
    }
    FARPROC alloc = nullptr, free_block = nullptr, module_free = nullptr, module_init = nullptr;
    const Export exports[] = {{"kiv_alloc", &alloc},
                              {"kiv_free", &free_block},
                              {"kiv_module_free", &module_free},
                              {"kiv_module_init", &module_init}};
    if (!Bind(g_memory_lib, exports, 4)) {
        return false;
    }
    g_memory_free_module = As<KivModuleFreeFn>(module_free);
    g_memory_init = As<KivModuleInitFn>(module_init);
    g_memory_init(0);
    g_free.store(As<KivFreeFn>(free_block), std::memory_order_release);
    g_alloc.store(As<KivAllocFn>(alloc), std::memory_order_release);
    return true;
}

bool KivBindGc() {
    if (g_add_gc_ref.load(std::memory_order_acquire) != nullptr) {
        return true;
    }
    BindGuard guard;
    if (g_add_gc_ref.load(std::memory_order_acquire) != nullptr) {
        return true;
    }
    FARPROC collect = nullptr, add = nullptr, remove = nullptr, module_free = nullptr,
            module_init = nullptr;
    const Export exports[] = {{"kiv_gc_collect", &collect},
                              {"kiv_add_gc_ref", &add},
                              {"kiv_remove_gc_ref", &remove},
                              {"kiv_module_free", &module_free},
                              {"kiv_module_init", &module_init}};
    if (!Bind(g_gc_lib, exports, 5)) {
        return false;
    }
    g_gc_collect = As<KivGcCollectFn>(collect);
    g_gc_free_module = As<KivModuleFreeFn>(module_free);
    g_gc_init = As<KivModuleInitFn>(module_init);
    g_gc_init(0);
    g_remove_gc_ref.store(As<KivRemoveGcRefFn>(remove), std::memory_order_release);
    g_add_gc_ref.store(As<KivAddGcRefFn>(add), std::memory_order_release);
    return true;
}

bool KivBindType() {
    if (g_typeof.load(std::memory_order_acquire) != nullptr) {
        return true;
    }
    BindGuard guard;
    if (g_typeof.load(std::memory_order_acquire) != nullptr) {
        return true;
    }
    FARPROC type_of = nullptr, add_info = nullptr, free_types = nullptr, module_free = nullptr,
            module_init = nullptr;
    const Export exports[] = {{"kiv_typeof", &type_of},
                              {"kiv_add_type_method_info", &add_info},
                              {"kiv_type_free_types", &free_types},
                              {"kiv_module_free", &module_free},
                              {"kiv_module_init", &module_init}};
    if (!Bind(g_type_lib, exports, 5)) {
        return false;
    }
    g_add_method_info = As<KivAddTypeMethodInfoFn>(add_info);
    g_free_types = As<KivTypeFreeTypesFn>(free_types);
    g_type_free_module = As<KivModuleFreeFn>(module_free);
    g_type_init = As<KivModuleInitFn>(module_init);
    g_type_init(0);
    g_typeof.store(As<KivTypeofFn>(type_of), std::memory_order_release);
    return true;
}

KivTypeofFn KivTypeofExport() {
    return g_typeof.load(std::memory_order_acquire);
}
KivAddTypeMethodInfoFn KivAddTypeMethodInfoExport() {
    return g_typeof.load(std::memory_order_acquire) != nullptr ? g_add_method_info : nullptr;
}

void FreeRuntimeLibraries() {
    // The bindings are cleared under the lock, the libraries are released
    // after it: their teardown may run destructors that come back here.
    HMODULE gc = nullptr, type = nullptr, memory = nullptr;
    KivModuleFreeFn gc_free = nullptr, type_free = nullptr, memory_free = nullptr;
    KivTypeFreeTypesFn free_types = nullptr;
    {
        BindGuard guard;
        gc = g_gc_lib.handle;
        gc_free = g_gc_free_module;
        g_add_gc_ref.store(nullptr, std::memory_order_release);
        g_remove_gc_ref.store(nullptr, std::memory_order_release);
        g_gc_lib.handle = nullptr;
        g_gc_collect = nullptr;
        g_gc_init = nullptr;
        g_gc_free_module = nullptr;

        type = g_type_lib.handle;
        type_free = g_type_free_module;
        free_types = g_free_types;
        g_typeof.store(nullptr, std::memory_order_release);
        g_type_lib.handle = nullptr;
        g_add_method_info = nullptr;
        g_free_types = nullptr;
        g_type_init = nullptr;
        g_type_free_module = nullptr;
    }
    if (gc != nullptr) {
        gc_free(0);
        FreeLibrary(gc);
    }
    if (type != nullptr) {
        free_types(kKivOwnModuleName);
        type_free(0);
        FreeLibrary(type);
    }
    {
        BindGuard guard;
        memory = g_memory_lib.handle;
        memory_free = g_memory_free_module;
        g_alloc.store(nullptr, std::memory_order_release);
        g_free.store(nullptr, std::memory_order_release);
        g_memory_lib.handle = nullptr;
        g_memory_init = nullptr;
        g_memory_free_module = nullptr;
    }
    if (memory != nullptr) {
        memory_free(0);
        FreeLibrary(memory);
    }
}

// The hooks the shared object code calls.
void* KivMemAlloc(uint64_t size, const char* type_name, const char* source, int line) {
    if (!KivBindMemory()) {
        return nullptr;
    }
    return g_alloc.load(std::memory_order_acquire)(size, type_name, source, line);
}

void KivMemFree(void* block) {
    if (block == nullptr || !KivBindMemory()) {
        return;
    }
    g_free.load(std::memory_order_acquire)(block);
}

bool KivGcAdd(XGCRef* object) {
    if (!KivBindGc()) {
        return false;
    }
    g_add_gc_ref.load(std::memory_order_acquire)(object);
    return true;
}

bool KivGcRemove(XGCRef* object) {
    if (!KivBindGc()) {
        return false;
    }
    g_remove_gc_ref.load(std::memory_order_acquire)(object);
    return true;
}
