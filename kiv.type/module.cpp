// kiv.type: the exports, the module lock and the one registry of the process.
// The library's memory comes from kiv.memory through its own copy of the
// runtime, bound on the first allocation and unbound (kiv.gc first, then
// kiv.memory) when the last kiv_module_free destroys the registry.
#include <windows.h>

#include <cstdio>

#include "kiv.basis/includes/kiv_exports.h"
#include "kiv.basis/lib/binding.h"
#include "kiv.type/manager.h"
#include "kiv.type/type.h"

extern const char kKivOwnModuleName[] = "kiv.type";

namespace {

// Serialises the exports that create, count or destroy the registry or change
// what entries carry. Created at load, deleted at unload.
CRITICAL_SECTION g_module_lock;
XTypeManager* g_manager = nullptr;

class ModuleLock {
  public:
    ModuleLock() { EnterCriticalSection(&g_module_lock); }
    ~ModuleLock() { LeaveCriticalSection(&g_module_lock); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

}  // namespace

KIV_EXPORT void KIV_CDECL kiv_module_init(int /*unused*/) {
    ModuleLock guard;
    if (g_manager != nullptr) {
        InterlockedIncrement(&g_manager->init_count);
    } else {
        g_manager = XTypeManager::Create();
    }
}

KIV_EXPORT void KIV_CDECL kiv_module_free(int /*unused*/) {
    ModuleLock guard;
    if (g_manager == nullptr) {
        return;
    }
    LONG count = g_manager->init_count;
    if (count > 0) {
        count = InterlockedDecrement(&g_manager->init_count);
    }
    if (count <= 0) {
        XTypeManager::Destroy(g_manager);
        g_manager = nullptr;
        // This library never binds kiv.type itself, so this lets go of its
        // kiv.gc binding (if any) and then of kiv.memory.
        FreeRuntimeLibraries();
    }
}

// The registry must outlive every call in flight: a module frees it (its last
// kiv_module_free) only once no lookup of its own is running.
KIV_EXPORT _Type* KIV_CDECL kiv_typeof(const char* module_name, const char* type_name) {
    if (type_name == nullptr) {
        std::fputs("XTypeManager::TypeOf , type name is EMPTY\n", stderr);
        std::fflush(stderr);
        return nullptr;
    }
    XTypeManager* manager;
    {
        ModuleLock guard;
        if (g_manager == nullptr) {
            g_manager = XTypeManager::Create();
        }
        manager = g_manager;
    }
    if (manager == nullptr) {
        return nullptr;
    }
    return manager->TypeOf(module_name, type_name);
}

KIV_EXPORT void KIV_CDECL kiv_add_type_method_info(_Type* type, XTypeMethodInfo* info) {
    if (type == nullptr || info == nullptr) {
        return;
    }
    ModuleLock guard;
    const _TypeMethodInfo* source = info->object;
    if (g_manager == nullptr || source == nullptr) {
        return;
    }
    XTypeMethodInfo copy;
    _TypeMethodInfo* record = copy.object;
    if (record == nullptr) {
        return;
    }
    record->owns_data = source->owns_data;
    record->value = source->value;
    record->data[0] = source->data[0];
    record->owning_type = type;
    record->AddRef();
    if (type->method_infos.Add(record) == type->method_infos.kNoIndex) {
        // Not attached: the block stays the caller's.
        record->data[0] = nullptr;
        record->Release();
    }
    // The copy's handle goes now; the list keeps the record alive.
}

KIV_EXPORT void KIV_CDECL kiv_type_free_types(const char* module_name) {
    if (module_name == nullptr) {
        return;
    }
    ModuleLock guard;
    if (g_manager != nullptr) {
        g_manager->FreeTypes(module_name);
    }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&g_module_lock);
    } else if (reason == DLL_PROCESS_DETACH) {
        // A registry still alive here belongs to a client that never made its
        // last kiv_module_free; kiv.memory may already be gone, so it is left.
        DeleteCriticalSection(&g_module_lock);
    }
    return TRUE;
}
