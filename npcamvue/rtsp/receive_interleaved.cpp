// RtspSession over RTP/AVP/TCP: the PLAY reply and the receive loop when RTP
// and RTCP come interleaved on the RTSP connection. Same rules as the UDP
// loop: packets go to the same sink, receiver reports every 2 s (on the RTCP
// channel), five quiet waits or 15 s without a packet end the stream.
#include <cstring>
#include <memory>
#include <new>

#include "npcamvue/rtsp/receive_limits.h"
#include "npcamvue/rtsp/rtcp.h"
#include "npcamvue/rtsp/session.h"

namespace camvue {
namespace {

constexpr uint32_t kPollMs = 50;

uint32_t ReadBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

bool RtspSession::SendInterleaved(uint8_t channel, const uint8_t* data, size_t length) {
    if (length > 0xFFFF || control_ == kInvalidSocket)
        return false;
    uint8_t frame[4 + kOutgoingSize];
    if (length > kOutgoingSize)
        return false;
    frame[0] = '$';
    frame[1] = channel;
    frame[2] = static_cast<uint8_t>(length >> 8);
    frame[3] = static_cast<uint8_t>(length);
    std::memcpy(frame + 4, data, length);
    size_t sent = 0;
    while (sent < length + 4) {
        const int n = SocketSend(control_, frame + sent, length + 4 - sent);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Reads until the reply to the request just sent is complete; packets that
// come first only mark the first datagram's arrival. False on timeout, abort
// (the request is put back), a closed connection or an error.
bool RtspSession::ReadInterleavedReply(char* reply, size_t size, int timeoutMs) {
    reply[0] = '\0';
    const uint32_t start = TickCountMs();
    for (;;) {
        uint8_t channel = 0;
        uint8_t* data = nullptr;
        size_t length = 0;
        InterleavedReader::Item item;
        while ((item = reader_->Next(&channel, &data, &length)) != InterleavedReader::Item::kNone) {
            if (item == InterleavedReader::Item::kPacket) {
                if (channel == rtpChannel_ && stream_.firstDatagramTime == 0)
                    stream_.firstDatagramTime = SystemFileTime();
                continue;
            }
            const size_t n = length < size - 1 ? length : size - 1;
            std::memcpy(reply, data, n);
            reply[n] = '\0';
            return true;
        }
        if (abortEvent_ != nullptr && EventWait(abortEvent_, 0)) {
            EventSet(abortEvent_);
            return false;
        }
        const uint32_t elapsed = TickCountMs() - start;
        if (timeoutMs >= 0 && elapsed >= static_cast<uint32_t>(timeoutMs))
            return false;
        bool readable[1] = {false};
        const int ready = WaitReadable(&control_, 1, kPollMs, readable);
        if (ready < 0)
            return false;
        if (ready == 0)
            continue;
        size_t room = 0;
        uint8_t* space = reader_->Space(&room);
        const int n = SocketRecv(control_, space, room);
        if (n <= 0)
            return false;
        reader_->Commit(static_cast<size_t>(n));
    }
}

StreamEnd RtspSession::ReceiveInterleaved() {
    std::unique_ptr<uint8_t[]> outgoing(new (std::nothrow) uint8_t[kOutgoingSize]);
    if (!outgoing || !reader_ || !reader_->ok()) {
        observer_->OnEnded(StreamEnd::kNoBuffers);
        return StreamEnd::kNoBuffers;
    }
    if (sink_ != nullptr)
        sink_->Reset(stream_);

    const uint32_t start = TickCountMs();
    uint32_t lastPacket = start;
    uint32_t lastReport = start;
    int misses = 0;
    bool rtcpDue = false;
    bool answering = false;
    uint32_t reportee = 0;

    StreamEnd end = StreamEnd::kAborted;
    for (;;) {
        // Everything complete in the buffer first: the PLAY reply may have
        // brought packets with it.
        bool stop = false;
        bool taken = false;
        uint8_t channel = 0;
        uint8_t* data = nullptr;
        size_t length = 0;
        InterleavedReader::Item item;
        while ((item = reader_->Next(&channel, &data, &length)) != InterleavedReader::Item::kNone) {
            if (item != InterleavedReader::Item::kPacket)
                continue;  // a late reply (or a server request): nothing to do
            if (channel == rtcpChannel_) {
                if (length >= 8) {
                    reportee = ReadBe32(data + 4);
                    answering = true;
                }
                continue;
            }
            if (channel != rtpChannel_ || length < kRtpHeaderSize)
                continue;  // another stream's channel, or nothing to assemble
            observer_->OnDatagram(length);
            const PushResult r =
                sink_ != nullptr ? sink_->PushPacket(stream_, data, length) : PushResult::kTaken;
            if (r == PushResult::kEnd) {
                end = StreamEnd::kNotRtp;
                stop = true;
                break;
            }
            if (r == PushResult::kTaken) {
                taken = true;
                mediaReceived_ = true;
            }
        }
        if (stop)
            break;
        uint32_t now = TickCountMs();
        if (taken)
            lastPacket = now;

        if (now - lastReport >= kReportIntervalMs) {
            rtcpDue = true;
            lastReport = now;
        }
        if (rtcpDue && (taken || answering)) {
            const uint16_t seq = sink_ != nullptr ? sink_->LastSequence() : 0;
            const size_t len =
                BuildReceiverReport(outgoing.get(), kOutgoingSize, localSsrc_, reportee, seq,
                                    cname_.empty() ? nullptr : cname_.c_str(), cname_.size());
            if (len == 0 || !SendInterleaved(rtcpChannel_, outgoing.get(), len)) {
                ++misses;
            } else {
                observer_->OnReceiverReport(len, answering);
            }
            rtcpDue = false;
            answering = false;
        }
        if (misses >= kMaxMisses) {
            end = StreamEnd::kMissed;
            break;
        }
        if (now - lastPacket > kInactivityLimitMs) {
            end = StreamEnd::kInactive;
            break;
        }
        if (abortEvent_ != nullptr && EventWait(abortEvent_, 0)) {
            end = StreamEnd::kAborted;
            break;
        }

        bool readable[1] = {false};
        const int ready = WaitReadable(&control_, 1, kSelectTimeoutMs, readable);
        if (ready < 0) {
            end = StreamEnd::kSelectError;
            break;
        }
        if (ready == 0) {
            if (abortEvent_ != nullptr && EventWait(abortEvent_, 0)) {
                end = StreamEnd::kAborted;
                break;
            }
            if (++misses >= kMaxMisses) {
                end = StreamEnd::kMissed;
                break;
            }
            continue;
        }
        size_t room = 0;
        uint8_t* space = reader_->Space(&room);
        const int n = room != 0 ? SocketRecv(control_, space, room) : -1;
        if (n == 0) {
            end = StreamEnd::kControlClosed;
            break;
        }
        if (n < 0) {
            end = StreamEnd::kReceiveError;
            break;
        }
        reader_->Commit(static_cast<size_t>(n));
    }

    if (abortEvent_ != nullptr)
        EventWait(abortEvent_, 0);  // clear a pending request
    observer_->OnEnded(end);
    if (!StreamEndIsError(end))
        Close();
    return end;
}

}  // namespace camvue
