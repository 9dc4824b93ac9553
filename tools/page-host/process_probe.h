// The process's open handles and committed private memory, measured the hard
// way (GetHandleInformation over the handle range, VirtualQuery over the
// address space) because wine reports 0 for the counters that give them.
#pragma once

#include <cstdint>

namespace pagehost {

long OpenHandles();
uint64_t PrivateBytes();

}  // namespace pagehost
