// RtspSession: one RTSP/1.0 client that sets up a camera's video stream over
// UDP (unicast or multicast), receives it and tears it down. One object serves
// one network thread and is reused across reconnects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtp/packet_sink.h"
#include "npcamvue/rtp/stream_state.h"
#include "npcamvue/rtsp/authorization.h"
#include "npcamvue/rtsp/interleaved.h"
#include "npcamvue/rtsp/session_observer.h"
#include "npcamvue/rtsp/transport.h"

namespace camvue {

struct RtspUrl;

class RtspSession {
  public:
    RtspSession();
    ~RtspSession();  // tears down (TEARDOWN when one is owed)
    RtspSession(const RtspSession&) = delete;
    RtspSession& operator=(const RtspSession&) = delete;

    // Where to connect: dotted IPv4 text or a host name (at most 15
    // characters; a name is resolved at each set-up), port (0 keeps the
    // current one, 554 by default), credentials (empty: none) and the path
    // with its leading "/" (may be empty). False when the host does not fit
    // or is neither (ClassifyHost).
    bool SetTarget(uint16_t port, const char* host, const char* user, const char* password,
                   const char* path);
    bool SetTarget(const RtspUrl& url);
    // Builds the RTCP CNAME from this host's name, once.
    void SetCname();

    void SetSink(PacketSink* sink) { sink_ = sink; }
    // Null restores the silent observer.
    void SetObserver(SessionObserver* observer);
    SessionObserver* observer() const { return observer_; }
    void SetResponseTimeout(int ms) { responseTimeoutMs_ = ms; }

    // The whole set-up: connect, UDP pair, OPTIONS, DESCRIBE (with one
    // authentication retry, and one more when a Digest answer is refused for
    // a stale nonce), SDP, SETUP, path opening, PLAY. True once SETUP
    // succeeded and PLAY was tried; false on failure or an abort request.
    bool Open(Event* abortEvent);
    // PLAY, once per set-up.
    void Play();
    // The receive loop; returns why it ended. TEARDOWN goes out at once
    // unless the loop ended with an error (then at the next Open).
    StreamEnd Receive();
    // TEARDOWN when owed; closes every socket and releases the set-up state.
    void Close();

    const StreamState& stream() const { return stream_; }
    StreamState& stream() { return stream_; }
    uint32_t cseq() const { return cseq_; }
    bool multicast() const { return multicast_; }
    // RTP comes interleaved on the RTSP connection (after UDP failed).
    bool interleaved() const { return interleaved_; }
    bool tcpFallback() const { return tcp_; }
    // The last run of the receive loop took at least one RTP packet.
    bool mediaReceived() const { return mediaReceived_; }
    bool established() const { return established_; }
    const std::string& mediaUrl() const { return mediaUrl_; }
    const std::string& aggregateUrl() const { return aggregateUrl_; }
    const std::string& sessionId() const { return sessionId_; }
    uint32_t sessionTimeout() const { return sessionTimeout_; }
    int authKind() const { return authKind_; }
    const MediaSockets& sockets() const { return media_; }
    uint32_t localSsrc() const { return localSsrc_; }
    const std::string& cname() const { return cname_; }
    // Why the last Open failed (a short text), or empty.
    const char* lastError() const { return lastError_.c_str(); }
    SetupFailure failure() const { return failure_; }

  private:
    friend class ReceiveLoop;

    StreamEnd ReceiveInterleaved();
    bool SendInterleaved(uint8_t channel, const uint8_t* data, size_t length);
    bool ReadInterleavedReply(char* reply, size_t size, int timeoutMs);
    void FallBackToTcp(const char* why);

    bool Fail(const std::string& why, SetupFailure kind = SetupFailure::kOther);
    bool Stopped();
    bool Aborted();
    void DrainControl();
    bool SendRequest(const std::string& request);
    int ReadReply(char* buffer, int size, int timeoutMs);
    void AppendAuthorization(const char* method, std::string* request);
    bool SendKeepAlive(char* buffer, size_t size);
    void ReleaseAll();

    // Target.
    std::string host_;
    uint16_t port_ = 554;
    std::string user_;
    std::string password_;
    std::string path_;

    // Request state.
    uint32_t cseq_ = 0;
    std::string mediaUrl_;
    std::string aggregateUrl_;
    std::string digestUri_;
    int responseTimeoutMs_ = 60000;
    Event* abortEvent_ = nullptr;

    // Reply results.
    std::string sessionId_;
    uint32_t sessionTimeout_ = 0;
    int authKind_ = kAuthNone;
    DigestContext digest_;

    // Sockets and transport.
    SocketHandle control_ = kInvalidSocket;
    MediaSockets media_;
    uint32_t serverAddress_ = 0;
    uint16_t serverRtpPort_ = 0;
    uint16_t serverRtcpPort_ = 0;
    bool multicast_ = false;  // once set, every later SETUP asks for multicast
    uint32_t group_ = 0;
    // UDP could not pass: every set-up of this target asks for TCP.
    bool tcp_ = false;
    bool interleaved_ = false;  // the current set-up is RTP/AVP/TCP
    bool mediaReceived_ = false;
    uint8_t rtpChannel_ = 0;
    uint8_t rtcpChannel_ = 1;
    std::unique_ptr<InterleavedReader> reader_;

    // Media state.
    StreamState stream_;
    uint32_t localSsrc_ = 0;
    std::string cname_;

    PacketSink* sink_ = nullptr;
    SessionObserver* observer_ = nullptr;

    bool established_ = false;
    bool playSent_ = false;
    std::string lastError_;
    SetupFailure failure_ = SetupFailure::kNone;
};

}  // namespace camvue
