// Reading one RTSP reply from the control socket within a deadline.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/platform/platform.h"

namespace camvue {

// Why ReadResponse stopped.
enum class ReadEnd {
    kComplete,      // the blank line arrived, and the Content-Length body if announced
    kTimeout,       // the deadline passed first
    kClosed,        // the peer closed the connection
    kError,         // waiting or receiving failed
    kAborted,       // abortEvent was signalled; the signal was consumed here
    kBufferFull,    // less than one read size of room was left
    kSecondSocket,  // the second socket became readable before the reply
    kBadArgument,   // invalid socket, null buffer or size below 1; nothing read
};

// Length of the complete reply whose first `length` bytes are in `data`: the
// header up to and including its blank line ("\r\n\r\n") plus the body length
// of a Content-Length header in that header. 0 while no blank line has
// arrived. Saturates at SIZE_MAX, so a huge Content-Length simply never
// completes. A Content-Length without digits counts as 0.
size_t ReplyExpectedLength(const char* data, size_t length);

// Reads one reply into `buffer` (zeroed first, always NUL-terminated after the
// bytes read) and returns the byte count; 0 when nothing arrived or an
// argument is invalid. Each recv takes at most bufferSize / 8 bytes (at least
// one), and the read stops once less than that much room is left: a 4096-byte
// buffer holds replies up to 3584 bytes plus the last read.
//
// The abort event and the deadline are looked at every 50 ms. With a second
// socket (PLAY: the RTP socket), its first readiness stores the system file
// time in *firstDatagramTime (cleared on entry) and, when the control socket
// is not readable too, ends the wait. `end`, when given, tells why the read
// stopped, so the caller can tell an abort request from a timeout.
int ReadResponse(Event* abortEvent, char* buffer, SocketHandle socket, int bufferSize,
                 int timeoutMs, SocketHandle secondSocket = kInvalidSocket,
                 uint64_t* firstDatagramTime = nullptr, ReadEnd* end = nullptr);

}  // namespace camvue
