#include "npcamvue/rtsp/play_loop.h"

#include "npcamvue/rtsp/backoff.h"
#include "npcamvue/rtsp/rtsp_url.h"

namespace camvue {

PlayLoopResult RunPlayLoop(RtspSession* session, const char* address, Event* abortEvent,
                           Event* quitEvent, const PlayLoopOptions& options) {
    PlayLoopResult result;
    RtspUrl url;
    if (!ParseRtspUrl(address, &url) || !session->SetTarget(url)) {
        result.badAddress = true;
        return result;
    }
    SetupBackoff backoff;
    bool ended = false;
    while (!EventWait(quitEvent, 1)) {
        if (ended) {
            session->observer()->OnReconnecting();
            ++result.reconnects;
        }
        ++result.attempts;
        if (session->Open(abortEvent)) {
            result.played = true;
            ended = true;
            if (!EndedWithoutMedia(session->Receive(), *session)) {
                backoff.Reset();
                continue;
            }
            // A camera that ends every stream at once (closes the connection
            // after PLAY) is paced like a failed set-up.
            const uint32_t wait = backoff.After(SetupFailure::kOther);
            if (WaitForStopRequest(abortEvent, quitEvent, wait))
                backoff.Reset();
            continue;
        }
        if (options.stopOnUnresolvedHost && session->failure() == SetupFailure::kUnresolved) {
            result.unresolvedHost = true;
            break;
        }
        const uint32_t wait = backoff.After(session->failure());
        if (wait != 0 && WaitForStopRequest(abortEvent, quitEvent, wait))
            backoff.Reset();
    }
    session->Close();
    return result;
}

}  // namespace camvue
