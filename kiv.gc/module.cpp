// kiv.gc: the exports, the module lock, the one manager of the process and
// this library's own binding of kiv.memory (to free what it releases).
#include <windows.h>

#include <cstdio>

#include "kiv.basis/includes/kiv_exports.h"
#include "kiv.basis/includes/kiv_load_library.h"
#include "kiv.basis/includes/kiv_object.h"
#include "kiv.gc/gc_manager.h"

namespace {

CRITICAL_SECTION g_module_lock;
GcManager* g_manager = nullptr;

HMODULE g_memory = nullptr;
KivAllocFn g_alloc = nullptr;
KivFreeFn g_free = nullptr;
KivModuleFreeFn g_memory_module_free = nullptr;
KivModuleInitFn g_memory_module_init = nullptr;

HMODULE LoadMemoryLibrary() {
    return KivLoadRuntimeLibrary(L"kiv.memory.dll", L"kiv.gc",
                                 reinterpret_cast<const void*>(&LoadMemoryLibrary));
}

template <class F>
F Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Binds kiv.memory; the module lock is held. Without it the collector still
// runs but cannot free what it releases.
void BindMemoryLocked() {
    if (g_memory != nullptr) {
        return;
    }
    HMODULE handle = LoadMemoryLibrary();
    if (handle == nullptr) {
        std::fprintf(stderr,
                     "kiv.gc module , kiv_module_init , cannot load library 'kiv.memory.dll'\n");
        return;
    }
    auto alloc = Lookup<KivAllocFn>(handle, "kiv_alloc");
    auto free_block = Lookup<KivFreeFn>(handle, "kiv_free");
    auto module_free = Lookup<KivModuleFreeFn>(handle, "kiv_module_free");
    auto module_init = Lookup<KivModuleInitFn>(handle, "kiv_module_init");
    if (alloc == nullptr || free_block == nullptr || module_free == nullptr ||
        module_init == nullptr) {
        std::fprintf(stderr,
                     "kiv.gc module , kiv_module_init , 'kiv.memory.dll' lacks an export\n");
        FreeLibrary(handle);
        return;
    }
    g_memory = handle;
    g_alloc = alloc;
    g_free = free_block;
    g_memory_module_free = module_free;
    g_memory_module_init = module_init;
    g_memory_module_init(0);
}

void UnbindMemoryLocked() {
    if (g_memory == nullptr) {
        return;
    }
    g_memory_module_free(0);
    FreeLibrary(g_memory);
    g_memory = nullptr;
    g_alloc = nullptr;
    g_free = nullptr;
    g_memory_module_free = nullptr;
    g_memory_module_init = nullptr;
}

// The manager, created when missing (without binding kiv.memory).
GcManager* Manager() {
    EnterCriticalSection(&g_module_lock);
    if (g_manager == nullptr) {
        g_manager = GcManager::Create(true);
    }
    GcManager* manager = g_manager;
    LeaveCriticalSection(&g_module_lock);
    return manager;
}

}  // namespace

// The hooks of this library's copy of the release operations.
void* KivMemAlloc(uint64_t size, const char* type_name, const char* source, int line) {
    return g_alloc != nullptr ? g_alloc(size, type_name, source, line) : nullptr;
}
void KivMemFree(void* block) {
    if (block != nullptr && g_free != nullptr) {
        g_free(block);
    }
}
bool KivGcAdd(XGCRef* object) {
    GcManager* manager = Manager();
    if (manager == nullptr) {
        return false;
    }
    manager->Add(object);
    return true;
}
bool KivGcRemove(XGCRef* object) {
    GcManager* manager = Manager();
    if (manager == nullptr) {
        return false;
    }
    manager->Remove(object);
    return true;
}

KIV_EXPORT void KIV_CDECL kiv_module_init(int /*unused*/) {
    EnterCriticalSection(&g_module_lock);
    if (g_manager != nullptr) {
        InterlockedIncrement(&g_manager->init_count);
    } else {
        BindMemoryLocked();
        g_manager = GcManager::Create(true);
    }
    LeaveCriticalSection(&g_module_lock);
}

KIV_EXPORT void KIV_CDECL kiv_module_free(int /*unused*/) {
    EnterCriticalSection(&g_module_lock);
    if (g_manager != nullptr) {
        LONG count = g_manager->init_count;
        if (count > 0) {
            count = InterlockedDecrement(&g_manager->init_count);
        }
        if (count <= 0) {
            GcManager::Destroy(g_manager);
            g_manager = nullptr;
            UnbindMemoryLocked();
        }
    }
    LeaveCriticalSection(&g_module_lock);
}

KIV_EXPORT void KIV_CDECL kiv_add_gc_ref(XGCRef* object) {
    if (object != nullptr) {
        KivGcAdd(object);
    }
}

KIV_EXPORT void KIV_CDECL kiv_remove_gc_ref(XGCRef* object) {
    if (object != nullptr) {
        KivGcRemove(object);
    }
}

KIV_EXPORT void KIV_CDECL kiv_gc_collect() {
    EnterCriticalSection(&g_module_lock);
    if (g_manager != nullptr) {
        g_manager->CollectAll();
    }
    LeaveCriticalSection(&g_module_lock);
}

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_module_lock);
    } else if (reason == DLL_PROCESS_DETACH) {
        DeleteCriticalSection(&g_module_lock);
    }
    return TRUE;
}
