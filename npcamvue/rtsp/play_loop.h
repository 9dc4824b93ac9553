// The network thread's loop: set the stream up, receive it, and set it up
// again at once whenever it ends, until told to quit. Set-ups that fail one
// after another are paced by SetupBackoff. Tools run the very same loop.
#pragma once

#include <cstdint>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtsp/session.h"

namespace camvue {

struct PlayLoopOptions {
    // End the loop when the host name does not resolve, instead of trying
    // again under the back-off (the plug-in keeps trying: the name may
    // resolve later).
    bool stopOnUnresolvedHost = false;
};

struct PlayLoopResult {
    bool badAddress = false;      // the address was refused; nothing was tried
    bool unresolvedHost = false;  // the loop ended on a name that did not resolve
    bool played = false;          // at least one set-up reached PLAY
    uint32_t attempts = 0;        // set-ups tried
    uint32_t reconnects = 0;      // set-ups after a stream had ended
};

// Parses `address`, points the session at it and runs Open/Receive until
// `quitEvent` (manual-reset) is signalled; waits 1 ms between attempts, and
// the back-off's wait after a failed set-up. `abortEvent` (auto-reset) stops
// a set-up, a receive loop or a back-off wait in progress (TEARDOWN goes
// out; a stopped wait starts the pace afresh); signal both to end the loop
// with a TEARDOWN.
PlayLoopResult RunPlayLoop(RtspSession* session, const char* address, Event* abortEvent,
                           Event* quitEvent, const PlayLoopOptions& options = PlayLoopOptions());

}  // namespace camvue
