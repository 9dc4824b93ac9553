// Browsers serve their function table on the main thread only: a call from
// any other thread is refused (memory entries are still served). The gate
// counts those calls per entry so that page-host can report them.
#pragma once

#include <map>
#include <string>

namespace pagehost {

void SetMainThread();                  // the calling thread becomes the main thread
bool OnMainThread(const char* entry);  // false (and counted) on any other thread
std::map<std::string, long> OffThreadCalls();
long OffThreadTotal();

}  // namespace pagehost
