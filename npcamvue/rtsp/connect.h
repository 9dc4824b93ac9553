// TCP connect that an abort request can stop.
#pragma once

#include <cstdint>

#include "npcamvue/platform/platform.h"

namespace camvue {

// Connects `socket` to address:port (network byte order address). Returns 0
// when connected, -1 when the connect failed, 1 when the abort event stopped
// it (the signal is consumed). There is no timeout of its own: only the abort
// event ends a connect that never completes. The socket ends up blocking.
int ConnectWithStop(uint32_t address, uint16_t port, SocketHandle socket, Event* abortEvent);

}  // namespace camvue
