#include "npcamvue/rtsp/play_loop.h"

#include "npcamvue/rtsp/rtsp_url.h"

namespace camvue {

PlayLoopResult RunPlayLoop(RtspSession* session, const char* address, Event* abortEvent,
                           Event* quitEvent) {
    PlayLoopResult result;
    RtspUrl url;
    if (!ParseRtspUrl(address, &url) || !session->SetTarget(url)) {
        result.badAddress = true;
        return result;
    }
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
        }
    }
    session->Close();
    return result;
}

}  // namespace camvue
