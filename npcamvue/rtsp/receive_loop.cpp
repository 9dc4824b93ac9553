// RtspSession::Receive: the one loop that reads RTP, answers with RTCP
// receiver reports, keeps multicast sessions alive and decides when a stream
// has ended.
#include <cstring>
#include <memory>
#include <new>

#include "npcamvue/rtsp/read_response.h"
#include "npcamvue/rtsp/receive_limits.h"
#include "npcamvue/rtsp/requests.h"
#include "npcamvue/rtsp/rtcp.h"
#include "npcamvue/rtsp/session.h"

namespace camvue {
namespace {

constexpr size_t kDatagramSize = 65536;
constexpr size_t kRtcpInputSize = 2048;
// Datagrams read per wake-up before the loop selects again (and looks at
// the abort request, reports and keep-alives).
constexpr int kDrainLimit = 64;
// Unicast UDP that brings nothing this long after PLAY is taken as blocked.
constexpr uint32_t kUdpWaitMs = 3000;

}  // namespace

bool RtspSession::SendKeepAlive(char* buffer, size_t size) {
    // An address without a path asks about the server as a whole.
    const std::string request = BuildKeepAlive(path_.empty() ? "*" : path_, ++cseq_, sessionId_);
    if (request.size() >= size || !SendRequest(request))
        return false;
    ReadEnd end = ReadEnd::kComplete;
    ReadResponse(abortEvent_, buffer, control_, static_cast<int>(size), responseTimeoutMs_,
                 kInvalidSocket, nullptr, &end);
    // An abort request seen while waiting for the reply still ends the loop.
    if (end == ReadEnd::kAborted && abortEvent_ != nullptr)
        EventSet(abortEvent_);
    return true;
}

StreamEnd RtspSession::Receive() {
    mediaReceived_ = false;
    if (interleaved_)
        return ReceiveInterleaved();
    std::unique_ptr<char[]> outgoing(new (std::nothrow) char[kOutgoingSize]);
    std::unique_ptr<uint8_t[]> datagram(new (std::nothrow) uint8_t[kDatagramSize]);
    std::unique_ptr<uint8_t[]> rtcpInput(new (std::nothrow) uint8_t[kRtcpInputSize]);
    if (!outgoing || !datagram || !rtcpInput) {
        observer_->OnEnded(StreamEnd::kNoBuffers);
        return StreamEnd::kNoBuffers;
    }
    std::memset(rtcpInput.get(), 0, kRtcpInputSize);
    if (sink_ != nullptr)
        sink_->Reset(stream_);

    const uint32_t start = TickCountMs();
    uint32_t lastPacket = start;
    uint32_t lastReport = start;
    uint32_t lastKeepAlive = start;
    int misses = 0;
    bool rtcpDue = false;
    bool rtcpInputSeen = false;
    bool haveServerReport = false;
    const bool keepAlive = multicast_ && sessionTimeout_ != 0;
    const uint32_t keepAliveMs = sessionTimeout_ / 2 * 1000;
    // Anything on the RTP port shows that UDP passes.
    bool udpPasses = multicast_ || stream_.firstDatagramTime != 0;

    StreamEnd end = StreamEnd::kAborted;
    for (;;) {
        if (media_.rtp == kInvalidSocket || media_.rtcp == kInvalidSocket) {
            end = StreamEnd::kSocketClosed;
            break;
        }
        SocketHandle set[3] = {media_.rtp, media_.rtcp, control_};
        int count = 2;

        if (keepAlive) {
            const uint32_t now = TickCountMs();
            if (now - lastKeepAlive >= keepAliveMs) {
                if (!SendKeepAlive(outgoing.get(), kOutgoingSize)) {
                    end = StreamEnd::kKeepAliveFailed;
                    break;
                }
                lastKeepAlive = now;
                observer_->OnKeepAlive();
            }
            if (control_ != kInvalidSocket)
                count = 3;
        }

        uint32_t now = TickCountMs();
        if (now - lastReport >= kReportIntervalMs) {
            rtcpDue = true;
            lastReport = now;
        }
        if (now - lastPacket > kInactivityLimitMs) {
            end = StreamEnd::kInactive;
            break;
        }
        if (!udpPasses && now - start >= kUdpWaitMs) {
            FallBackToTcp("no RTP over UDP within 3 s of PLAY");
            end = StreamEnd::kNoUdp;
            break;
        }

        bool readable[3] = {false, false, false};
        const uint32_t wait = udpPasses ? kSelectTimeoutMs : kUdpWaitMs - (now - start);
        int ready = WaitReadable(set, count, wait, readable);
        if (ready < 0) {
            end = StreamEnd::kSelectError;
            break;
        }
        if (ready == 0) {
            if (abortEvent_ != nullptr && EventWait(abortEvent_, 0)) {
                end = StreamEnd::kAborted;
                break;
            }
            if (!udpPasses)
                continue;  // the end of the UDP wait, not a miss
            if (++misses >= kMaxMisses) {
                end = StreamEnd::kMissed;
                break;
            }
            continue;
        }

        if (count == 3 && readable[2]) {
            // Late data on the control connection is read and dropped so the
            // select does not spin on it. A closed connection ends the loop:
            // no keep-alive can reach the server any more.
            char drop[512];
            if (SocketRecv(control_, drop, sizeof(drop)) <= 0) {
                end = StreamEnd::kControlClosed;
                break;
            }
        }

        bool runReport = false;
        if (!readable[0]) {
            rtcpInputSeen = readable[1];
            runReport = true;
        } else {
            // Drain what is waiting, one call per datagram, then select
            // again; each datagram gets the same checks, in order.
            bool stop = false;
            for (int drained = 0; drained < kDrainLimit; ++drained) {
                const int n = SocketRecvFromNow(media_.rtp, datagram.get(), kDatagramSize);
                if (n == kNothingWaiting)
                    break;
                udpPasses = true;
                bool skip = false;
                if (multicast_) {
                    skip = n < static_cast<int>(kRtpHeaderSize);
                } else if (n <= 0) {
                    end = StreamEnd::kReceiveError;
                    stop = true;
                    break;
                } else if (n < static_cast<int>(kRtpHeaderSize)) {
                    // Shorter than the fixed RTP header: nothing to assemble.
                    skip = true;
                }
                if (skip)
                    continue;
                observer_->OnDatagram(static_cast<size_t>(n));
                PushResult r = sink_ != nullptr ? sink_->PushPacket(stream_, datagram.get(),
                                                                    static_cast<size_t>(n))
                                                : PushResult::kTaken;
                if (r == PushResult::kEnd) {
                    end = StreamEnd::kNotRtp;
                    stop = true;
                    break;
                }
                if (r == PushResult::kTaken) {
                    mediaReceived_ = true;
                    lastPacket = TickCountMs();
                    runReport = true;
                }
            }
            if (stop)
                break;
        }

        if (runReport && (rtcpDue || rtcpInputSeen)) {
            bool send = true;
            bool answering = false;
            bool rtcpReadable[1] = {false};
            if (WaitReadable(&media_.rtcp, 1, 0, rtcpReadable) > 0) {
                int n = SocketRecvFrom(media_.rtcp, rtcpInput.get(), kRtcpInputSize);
                if (n < 0) {
                    send = false;
                } else if (n >= 8) {
                    haveServerReport = true;
                    answering = true;
                }
            }
            if (send) {
                uint32_t reportee = 0;
                if (haveServerReport) {
                    const uint8_t* p = rtcpInput.get() + 4;
                    reportee = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
                               (uint32_t(p[2]) << 8) | uint32_t(p[3]);
                }
                const uint16_t seq = sink_ != nullptr ? sink_->LastSequence() : 0;
                size_t len = BuildReceiverReport(
                    reinterpret_cast<uint8_t*>(outgoing.get()), kOutgoingSize, localSsrc_, reportee,
                    seq, cname_.empty() ? nullptr : cname_.c_str(), cname_.size());
                if (len == 0 || SocketSendToAddress(media_.rtcp, outgoing.get(), len,
                                                    serverAddress_, serverRtcpPort_) < 0) {
                    ++misses;
                } else {
                    observer_->OnReceiverReport(len, answering);
                }
            }
            rtcpDue = false;
            rtcpInputSeen = false;
        }

        if (abortEvent_ != nullptr && EventWait(abortEvent_, 0)) {
            end = StreamEnd::kAborted;
            break;
        }
    }

    if (abortEvent_ != nullptr)
        EventWait(abortEvent_, 0);  // clear a pending request
    observer_->OnEnded(end);
    if (!StreamEndIsError(end) && media_.rtcp != kInvalidSocket)
        Close();
    return end;
}

}  // namespace camvue
