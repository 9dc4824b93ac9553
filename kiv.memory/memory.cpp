// kiv.memory: zero-filled blocks from this library's own heap for every module
// that carries the object runtime, so that one module may free what another
// allocated. A usage count tells whether the library is in use; blocks carry
// no header of their own.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kiv.basis/includes/kiv_exports.h"
#include "kiv.memory/counters.h"

namespace {

CRITICAL_SECTION g_module_lock;

struct ModuleState {
    volatile LONG usage;
};
ModuleState* g_state = nullptr;

// Creates the state with count 1 when absent; the module lock is held.
void EnsureStateLocked() {
    if (g_state == nullptr) {
        g_state = static_cast<ModuleState*>(std::malloc(sizeof(ModuleState)));
        if (g_state != nullptr) {
            g_state->usage = 1;
        }
    }
}

}  // namespace

#ifdef KIV_MEMORY_COUNTERS
int32_t KivUsageForCounters() {
    EnterCriticalSection(&g_module_lock);
    const int32_t usage = g_state != nullptr ? g_state->usage : -1;
    LeaveCriticalSection(&g_module_lock);
    return usage;
}
#endif

KIV_EXPORT void KIV_CDECL kiv_module_init(int /*unused*/) {
    EnterCriticalSection(&g_module_lock);
    if (g_state == nullptr) {
        EnsureStateLocked();
    } else {
        InterlockedIncrement(&g_state->usage);
    }
    LeaveCriticalSection(&g_module_lock);
}

KIV_EXPORT void* KIV_CDECL kiv_alloc(uint64_t size, const char* /*type_name*/,
                                     const char* /*source*/, int /*line*/) {
    EnterCriticalSection(&g_module_lock);
    EnsureStateLocked();
    LeaveCriticalSection(&g_module_lock);
    // A size this build cannot address is refused, never cut to its low word.
    if (size >= SIZE_MAX) {
        return nullptr;
    }
    const size_t bytes = static_cast<size_t>(size);
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) {
        std::memset(block, 0, bytes);
        KivCountAlloc(block);
    }
    return block;
}

KIV_EXPORT void KIV_CDECL kiv_free(void* block) {
    EnterCriticalSection(&g_module_lock);
    const bool present = g_state != nullptr;
    LeaveCriticalSection(&g_module_lock);
    if (present && block != nullptr) {
        if (KivCountFree(block)) {
            std::free(block);
        }
    }
}

KIV_EXPORT void KIV_CDECL kiv_module_free(int /*unused*/) {
    EnterCriticalSection(&g_module_lock);
    if (g_state != nullptr) {
        LONG count = g_state->usage;
        if (count > 0) {
            count = InterlockedDecrement(&g_state->usage);
        }
        if (count < 1) {
            std::free(g_state);
            g_state = nullptr;
        }
    }
    LeaveCriticalSection(&g_module_lock);
}

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_module_lock);
        KivCountersInit();
    } else if (reason == DLL_PROCESS_DETACH) {
        KivCountersFree();
        DeleteCriticalSection(&g_module_lock);
    }
    return TRUE;
}
