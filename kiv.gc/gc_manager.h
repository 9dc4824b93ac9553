// The process-wide collector: the list of objects in transit, its lock (which
// every registered object points at) and the collector thread that releases
// objects nobody took back, after a grace of at least one pass.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "kiv.gc/gc_list.h"

class XGCRef;

// 100 ns units of UTC (a FILETIME as one number).
using GcClock = uint64_t (*)();
uint64_t GcSystemClock();

// The collector thread: calls its callback every period until stopped.
struct GcThread {
    LONG mode;  // 1: call the callback each period
    DWORD period_ms;
    HANDLE stop_event;  // manual reset
    char* name;         // process-heap copy of the thread name
    DWORD id;
    HANDLE handle;
    void (*callback)(void* data);
    void* data;
};

class GcManager {
  public:
    static constexpr DWORD kPeriodMs = 1500;
    static constexpr uint64_t kStatisticsInterval = 6000000000ull;  // 600 s

    // A manager from the process heap, its thread running when start_thread.
    static GcManager* Create(bool start_thread, DWORD period_ms = kPeriodMs);
    // Stops the thread, destroys every object still registered, frees all.
    static void Destroy(GcManager* manager);

    void Add(XGCRef* object);
    void Remove(XGCRef* object);
    // One collection pass: clears fresh flags, releases the objects whose
    // flag a previous pass cleared.
    void Pass();
    // Releases every registered object at once.
    void CollectAll();

    CRITICAL_SECTION lock;
    GcList list;
    GcThread thread;
    volatile LONG init_count = 1;
    uint64_t last_statistics = 0;

    // Test seams: the clock of the statistics line and where it goes.
    GcClock clock = GcSystemClock;
    FILE* statistics_stream = stdout;

  private:
    GcManager() = default;
    ~GcManager() = default;
    bool StartThread(DWORD period_ms);
    void StopThread();
    void Statistics();
};
