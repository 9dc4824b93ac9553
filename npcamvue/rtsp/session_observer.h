// What a session reports as it goes: tools print it, the plug-in ignores it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/stream_state.h"
#include "npcamvue/rtsp/transport.h"

namespace camvue {

// Why a run of the receive loop ended.
enum class StreamEnd {
    kAborted,          // the abort event was signalled
    kMissed,           // five select timeouts or failed report sends
    kNotRtp,           // a datagram that is not RTP version 2
    kKeepAliveFailed,  // the keep-alive request could not be sent
    kSocketClosed,     // a media socket was closed
    kControlClosed,    // the server closed the RTSP connection during keep-alives
    kInactive,         // more than 15 s without an RTP packet taken
    kSelectError,
    kReceiveError,  // unicast receive error or empty datagram
    kNoBuffers,     // the loop's buffers could not be allocated
    kNoUdp,         // unicast UDP: no RTP datagram within 3 s of PLAY (TCP next)
};

// Why the last set-up did not reach PLAY, as far as retrying it goes.
enum class SetupFailure {
    kNone,        // it reached PLAY, or none was tried
    kStopped,     // the abort event was signalled
    kUnresolved,  // the host name did not resolve
    kConnect,     // the TCP connect failed (nothing listening, unreachable)
    kOther,       // anything after the connect: replies, authentication, SETUP
};

const char* StreamEndText(StreamEnd end);
// TEARDOWN follows at once for a normal end, at the next set-up otherwise.
bool StreamEndIsError(StreamEnd end);

class SessionObserver {
  public:
    virtual ~SessionObserver() = default;
    virtual void OnConnected(const char* /*host*/, uint16_t /*port*/) {}
    virtual void OnAuthenticated(int /*authKind*/) {}
    virtual void OnDescribed(const StreamState& /*stream*/) {}
    virtual void OnSetUp(const SetupReply& /*reply*/, const MediaSockets& /*sockets*/) {}
    // PLAY went out; setupMs: from the start of the TCP connect to PLAY sent.
    virtual void OnPlaying(uint32_t /*setupMs*/) {}
    virtual void OnSetupFailed(const char* /*why*/) {}
    // UDP cannot pass (`why`): this and every later set-up of the address
    // ask for RTP interleaved on the RTSP connection.
    virtual void OnTcpFallback(const char* /*why*/) {}
    virtual void OnReceiverReport(size_t /*bytes*/, bool /*answeringServer*/) {}
    virtual void OnKeepAlive() {}
    // An RTP datagram arrived (before the sink looks at it).
    virtual void OnDatagram(size_t /*bytes*/) {}
    virtual void OnEnded(StreamEnd /*why*/) {}
    // The play loop is about to set the stream up again.
    virtual void OnReconnecting() {}
};

}  // namespace camvue
