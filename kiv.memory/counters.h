// Test builds of kiv.memory (KIV_MEMORY_COUNTERS) keep every live block in a
// table and count allocations, frees and frees of blocks that are not live
// (double or foreign frees), readable through kiv_memory_counters. The shipped
// library compiles these to nothing.
#pragma once

#include <cstdint>

struct KivMemoryCounters {
    uint64_t allocations;
    uint64_t frees;
    uint64_t bad_frees;  // a block freed twice, or never allocated here
    uint64_t live;
    int32_t usage;  // the module state's usage count, -1 when absent
};

#ifdef KIV_MEMORY_COUNTERS
void KivCountersInit();
void KivCountersFree();
void KivCountAlloc(void* block);
// False for a block that is not live: the caller must not free it again.
bool KivCountFree(void* block);
#else
inline void KivCountersInit() {}
inline void KivCountersFree() {}
inline void KivCountAlloc(void*) {}
inline bool KivCountFree(void*) {
    return true;
}
#endif
