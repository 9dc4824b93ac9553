// Block accounting of the test build of kiv.memory.
#include "kiv.memory/counters.h"

#include <windows.h>

#include <unordered_set>

#include "kiv.basis/includes/kiv_exports.h"

namespace {
CRITICAL_SECTION g_lock;
std::unordered_set<void*>* g_live = nullptr;
KivMemoryCounters g_counters = {};
}  // namespace

// The usage count lives in memory.cpp; it reports it through this hook.
int32_t KivUsageForCounters();

void KivCountersInit() {
    InitializeCriticalSection(&g_lock);
    g_live = new std::unordered_set<void*>();
}

void KivCountersFree() {
    delete g_live;
    g_live = nullptr;
    DeleteCriticalSection(&g_lock);
}

void KivCountAlloc(void* block) {
    EnterCriticalSection(&g_lock);
    ++g_counters.allocations;
    g_live->insert(block);
    LeaveCriticalSection(&g_lock);
}

bool KivCountFree(void* block) {
    EnterCriticalSection(&g_lock);
    const bool live = g_live->erase(block) == 1;
    if (live) {
        ++g_counters.frees;
    } else {
        ++g_counters.bad_frees;
    }
    LeaveCriticalSection(&g_lock);
    return live;
}

KIV_EXPORT void KIV_CDECL kiv_memory_counters(KivMemoryCounters* out) {
    if (out == nullptr) {
        return;
    }
    EnterCriticalSection(&g_lock);
    *out = g_counters;
    out->live = g_live->size();
    LeaveCriticalSection(&g_lock);
    out->usage = KivUsageForCounters();
}
