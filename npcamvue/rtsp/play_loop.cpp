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
            session->Receive();
            ended = true;
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
