// A scripted RTSP camera on loopback for session tests: it answers each
// request through a handler the test gives, records every request, and owns a
// UDP pair from which it sends RTP and RTCP and on which it receives the
// client's RTCP.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "npcamvue/platform/platform.h"

namespace camvue::test {

struct CameraRequest {
    std::string text;    // the whole request, up to and including the blank line
    std::string method;  // first word
    std::string uri;     // second word
    int connection = 0;  // 1 for the first accepted connection, then 2, ...
    uint32_t cseq = 0;   // CSeq header value (0 when absent)
};

// What the camera does with a request.
struct CameraReply {
    std::string text;          // sent as is (empty: nothing is sent)
    bool close = false;        // close the connection after sending
    bool byteAtATime = false;  // deliver the reply one byte per send, 2 ms apart
};

class FakeCamera {
  public:
    using Handler = std::function<CameraReply(FakeCamera& camera, const CameraRequest& request)>;

    explicit FakeCamera(Handler handler);
    ~FakeCamera();
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    uint16_t port() const { return port_; }
    // "rtsp://127.0.0.1:PORT" + path
    std::string Url(const std::string& path) const;
    uint16_t rtpPort() const { return rtpPort_; }
    uint16_t rtcpPort() const { return rtcpPort_; }

    std::vector<CameraRequest> Requests() const;
    // Waits until at least n requests have come.
    bool WaitForRequests(size_t n, uint32_t timeoutMs) const;
    // Client ports from the last SETUP's "client_port=a-b", 0 when none.
    uint16_t clientRtpPort() const { return clientRtp_.load(); }
    uint16_t clientRtcpPort() const { return clientRtcp_.load(); }

    // From the camera's RTP socket to the client's RTP port (or RTCP socket to
    // the client's RTCP port).
    bool SendRtp(const std::vector<uint8_t>& datagram);
    bool SendRtcp(const std::vector<uint8_t>& datagram);
    // One datagram that arrived on the camera's RTCP port.
    bool ReceiveRtcp(std::vector<uint8_t>* datagram, uint32_t timeoutMs);

    // RTSP interleaved frames ("$", channel, length) the client sent on the
    // control connection, each as its channel byte followed by its payload.
    std::vector<std::vector<uint8_t>> ClientFrames() const;
    // Raw bytes on the connection being served (false when there is none).
    bool SendControl(const std::string& bytes);

    // A plain RTSP reply: status line, CSeq, extra header lines (each ending in
    // CR LF) and an optional body with its Content-Length.
    static std::string Reply(const CameraRequest& request, const std::string& status,
                             const std::string& headers = "", const std::string& body = "");

  private:
    void Serve();
    void HandleConnection(SocketHandle connection, int number);

    Handler handler_;
    SocketHandle listener_ = kInvalidSocket;
    SocketHandle rtp_ = kInvalidSocket;
    SocketHandle rtcp_ = kInvalidSocket;
    uint16_t port_ = 0;
    uint16_t rtpPort_ = 0;
    uint16_t rtcpPort_ = 0;
    std::atomic<uint16_t> clientRtp_{0};
    std::atomic<uint16_t> clientRtcp_{0};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<CameraRequest> requests_;
    std::vector<std::vector<uint8_t>> clientFrames_;
    std::atomic<SocketHandle> connection_{kInvalidSocket};
    std::mutex sendMutex_;  // the camera thread and SendControl share the connection
    std::thread thread_;
};

// An RTP packet: version 2, the given payload type, sequence, timestamp and
// SSRC, marker bit, then the payload.
std::vector<uint8_t> MakeRtp(uint8_t payloadType, uint16_t sequence, uint32_t timestamp,
                             uint32_t ssrc, bool marker, const std::vector<uint8_t>& payload);
// An RTCP sender report from `ssrc` (28 bytes, no report blocks).
std::vector<uint8_t> MakeSenderReport(uint32_t ssrc);

}  // namespace camvue::test
