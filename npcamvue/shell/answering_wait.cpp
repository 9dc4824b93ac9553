#include "npcamvue/shell/answering_wait.h"

namespace camvue {
namespace {

// PeekMessage delivers every message sent from another thread before it
// looks at the queue; nothing posted is taken out.
void AnswerSentMessages() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

void PauseAnswering() {
    if (!IsGUIThread(FALSE)) {
        Sleep(1);
        return;
    }
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE) == WAIT_OBJECT_0)
        AnswerSentMessages();
}

DWORD WaitAnswering(HANDLE handle) {
    if (!IsGUIThread(FALSE))
        return WaitForSingleObject(handle, INFINITE);
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1)
            return result;
        AnswerSentMessages();
    }
}

}  // namespace camvue
