// The pace of set-ups that fail one after another. A failed set-up is tried
// again after 0.1 s, then after twice the wait before, up to 5 s: a wrong
// password makes a handful of attempts a minute instead of hundreds a
// second, far below what locks a camera account. A failed connect is
// retried at least every 0.5 s: it costs the camera nothing, and a camera
// that comes back is played again within a second of its return. A set-up
// that played, or one ended by an abort request (Stop, Start, a new
// address), starts the pace afresh.
#pragma once

#include <cstdint>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtsp/session_observer.h"

namespace camvue {

class SetupBackoff {
  public:
    static constexpr uint32_t kFirstMs = 100;
    static constexpr uint32_t kMaxMs = 5000;
    static constexpr uint32_t kConnectMaxMs = 500;

    // The wait before the next set-up after one that failed so; 0 for
    // kNone and kStopped, which start the pace afresh.
    uint32_t After(SetupFailure failure);
    void Reset() { delayMs_ = 0; }

  private:
    uint32_t delayMs_ = 0;  // the last doubling step; 0: none failed yet
};

class RtspSession;
// A stream that ended in error before its first RTP packet: the next set-up
// waits as after a failed one.
bool EndedWithoutMedia(StreamEnd end, const RtspSession& session);

// Waits up to `ms` for a stop request: true as soon as `abortEvent` is
// signalled (the wait takes the signal) or `quitEvent` (manual reset, may be
// null; polled every few milliseconds) is; false when the time ran out.
bool WaitForStopRequest(Event* abortEvent, Event* quitEvent, uint32_t ms);

}  // namespace camvue
