// Helpers of the runtime tests: the counting kiv.memory's figures and an
// object class whose destructions are counted.
#pragma once

#include <windows.h>

#include <atomic>

#include "kiv.basis/includes/kiv_object.h"
#include "kiv.memory/counters.h"

// The counters of the kiv.memory.dll loaded in this process (the test build).
inline KivMemoryCounters MemoryCounters() {
    KivMemoryCounters counters = {};
    counters.usage = -2;
    HMODULE memory = GetModuleHandleW(L"kiv.memory.dll");
    if (memory != nullptr) {
        auto read = reinterpret_cast<void (*)(KivMemoryCounters*)>(
            reinterpret_cast<void*>(GetProcAddress(memory, "kiv_memory_counters")));
        if (read != nullptr) {
            read(&counters);
        }
    }
    return counters;
}

// An object that counts its destructions, to see who freed what.
class CountedObject : public XGCRef {
  public:
    static constexpr const char* kTypeName = "CountedObject";
    static std::atomic<int>& Destroyed() {
        static std::atomic<int> count{0};
        return count;
    }
    ~CountedObject() override { ++Destroyed(); }
    int payload = 0;
};
