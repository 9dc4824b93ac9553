// The network thread's loop: set the stream up, receive it, and set it up
// again at once whenever it ends, until told to quit. Tools run the very same
// loop.
#pragma once

#include <cstdint>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtsp/session.h"

namespace camvue {

struct PlayLoopResult {
    bool badAddress = false;  // the address was refused; nothing was tried
    bool played = false;      // at least one set-up reached PLAY
    uint32_t attempts = 0;    // set-ups tried
    uint32_t reconnects = 0;  // set-ups after a stream had ended
};

// Parses `address`, points the session at it and runs Open/Receive until
// `quitEvent` (manual-reset) is signalled; waits 1 ms between attempts.
// `abortEvent` (auto-reset) stops a set-up or a receive loop in progress
// (TEARDOWN goes out); signal both to end the loop with a TEARDOWN.
PlayLoopResult RunPlayLoop(RtspSession* session, const char* address, Event* abortEvent,
                           Event* quitEvent);

}  // namespace camvue
