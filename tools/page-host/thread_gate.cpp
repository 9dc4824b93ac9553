#include "tools/page-host/thread_gate.h"

#include <windows.h>

#include <mutex>

namespace pagehost {
namespace {

DWORD g_mainThread = 0;
std::mutex g_mutex;
std::map<std::string, long> g_counts;

}  // namespace

void SetMainThread() {
    g_mainThread = GetCurrentThreadId();
}

bool OnMainThread(const char* entry) {
    if (GetCurrentThreadId() == g_mainThread)
        return true;
    std::lock_guard<std::mutex> hold(g_mutex);
    ++g_counts[entry];
    return false;
}

std::map<std::string, long> OffThreadCalls() {
    std::lock_guard<std::mutex> hold(g_mutex);
    return g_counts;
}

long OffThreadTotal() {
    long total = 0;
    for (const auto& entry : OffThreadCalls())
        total += entry.second;
    return total;
}

}  // namespace pagehost
