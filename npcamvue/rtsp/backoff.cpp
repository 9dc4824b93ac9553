#include "npcamvue/rtsp/backoff.h"

#include "npcamvue/rtsp/session.h"

namespace camvue {
namespace {

constexpr uint32_t kQuitPollMs = 10;

}  // namespace

uint32_t SetupBackoff::After(SetupFailure failure) {
    if (failure == SetupFailure::kNone || failure == SetupFailure::kStopped) {
        Reset();
        return 0;
    }
    delayMs_ = delayMs_ == 0 ? kFirstMs : (delayMs_ >= kMaxMs / 2 ? kMaxMs : delayMs_ * 2);
    // The doubling goes on under a connect failure, so that a camera that
    // comes back still refusing the credentials is paced at once.
    if (failure == SetupFailure::kConnect && delayMs_ > kConnectMaxMs)
        return kConnectMaxMs;
    return delayMs_;
}

bool EndedWithoutMedia(StreamEnd end, const RtspSession& session) {
    return StreamEndIsError(end) && !session.mediaReceived();
}

bool WaitForStopRequest(Event* abortEvent, Event* quitEvent, uint32_t ms) {
    const uint32_t start = TickCountMs();
    for (;;) {
        if (quitEvent != nullptr && EventWait(quitEvent, 0))
            return true;
        const uint32_t elapsed = TickCountMs() - start;
        if (elapsed >= ms)
            return false;
        uint32_t slice = ms - elapsed;
        if (quitEvent != nullptr && slice > kQuitPollMs)
            slice = kQuitPollMs;
        if (abortEvent == nullptr) {
            SleepMs(slice);
        } else if (EventWait(abortEvent, slice)) {
            return true;
        }
    }
}

}  // namespace camvue
