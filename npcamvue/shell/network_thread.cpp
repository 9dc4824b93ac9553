// The network thread of a stream core: one RtspSession and its frame
// assembly for the thread's whole life, set up again whenever a session
// ends while play is requested. Set-ups that fail one after another are
// paced by SetupBackoff; the wait ends at once on the core's abort event,
// which Stop, Start, a new address and the core's end all signal.
#include <cstring>
#include <new>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtp/frame_assembler.h"
#include "npcamvue/rtsp/backoff.h"
#include "npcamvue/rtsp/rtsp_url.h"
#include "npcamvue/rtsp/session.h"
#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue {
namespace {

// Copies the core's address into the thread's own block. False when the
// block cannot grow (the thread then ends); *copy null when there is no
// address.
bool CopyUrl(StreamCore* core, char** copy, bool* have) {
    SpinLockGuard guard(core->urlLock, "NetworkThread");
    *have = false;
    if (core->url == nullptr)
        return true;
    const size_t length = std::strlen(core->url);
    auto* grown =
        static_cast<char*>(AlignedBlock::Reallocate(static_cast<int>(length) + 1, *copy, false));
    *copy = grown;
    if (grown == nullptr)
        return false;
    std::memcpy(grown, core->url, length + 1);
    *have = true;
    return true;
}

}  // namespace

DWORD WINAPI NetworkThreadMain(void* arg) {
    auto* core = static_cast<StreamCore*>(arg);
    auto* session = new (std::nothrow) RtspSession;
    auto* assembly = new (std::nothrow) RtpFrameAssembler;
    if (session == nullptr || assembly == nullptr) {
        delete session;
        delete assembly;
        SetEvent(core->startedEvent);
        return 0;
    }
    assembly->SetCallback(CoreFrameCallback, core);
    session->SetSink(assembly);
    session->SetCname();
    SetEvent(core->startedEvent);

    char* url = nullptr;
    SetupBackoff backoff;
    while (WaitForSingleObject(core->quitEvent, 1) == WAIT_TIMEOUT) {
        if (!core->playRequested) {
            backoff.Reset();
            continue;
        }
        bool have = false;
        if (!CopyUrl(core, &url, &have))
            break;
        if (!have)
            continue;
        RtspUrl target;
        if (!ParseRtspUrl(url, &target) || !session->SetTarget(target))
            continue;
        uint32_t wait = 0;
        if (session->Open(core->abortEvent)) {
            if (!EndedWithoutMedia(session->Receive(), *session)) {
                backoff.Reset();
                continue;
            }
            // Every stream ends at once: paced like a failed set-up.
            wait = backoff.After(SetupFailure::kOther);
        } else {
            wait = backoff.After(session->failure());
        }
        // The quit event comes with the abort event (CoreDestroy sets both).
        if (wait != 0 && WaitForStopRequest(core->abortEvent, nullptr, wait))
            backoff.Reset();
    }
    AlignedBlock::Free(url);
    delete session;  // closes it: TEARDOWN when one is owed
    delete assembly;
    return 0;
}

}  // namespace camvue
