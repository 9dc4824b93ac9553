#include "npcamvue/rtsp/connect.h"

namespace camvue {

int ConnectWithStop(uint32_t address, uint16_t port, SocketHandle socket, Event* abortEvent) {
    if (abortEvent != nullptr && EventWait(abortEvent, 0))
        return 1;
    if (!SocketSetNonBlocking(socket, true))
        return -1;
    int started = SocketConnectStart(socket, address, port);
    if (started < 0) {
        SocketSetNonBlocking(socket, false);
        return -1;
    }
    while (started == 1) {
        // A refused connect shows in the error set (WinSock) or as an error
        // condition (POSIX); WaitConnected reports both as -1.
        int r = WaitConnected(socket, 1);
        if (r < 0) {
            SocketSetNonBlocking(socket, false);
            return -1;
        }
        if (r > 0)
            break;
        if (abortEvent == nullptr) {
            // Nothing can stop the wait: keep waiting for the connect itself.
            continue;
        }
        if (EventWait(abortEvent, 1)) {
            SocketSetNonBlocking(socket, false);
            return 1;
        }
    }
    SocketSetNonBlocking(socket, false);
    return abortEvent != nullptr && EventWait(abortEvent, 0) ? 1 : 0;
}

}  // namespace camvue
