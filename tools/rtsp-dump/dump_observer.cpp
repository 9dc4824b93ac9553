#include "tools/rtsp-dump/dump_observer.h"

#include <cstdarg>
#include <cstdio>

namespace camvue {
namespace {

const char* CodecName(CodecKind kind) {
    switch (kind) {
        case kCodecJpeg:
            return "JPEG";
        case kCodecH264:
            return "H.264";
        case kCodecMpeg4:
            return "MPEG-4";
        default:
            return "unknown";
    }
}

const char* AuthName(int kind) {
    return kind == 1 ? "Basic" : kind == 2 ? "Digest" : "none";
}

}  // namespace

void DumpObserver::Line(const char* format, ...) {
    const uint32_t ms = TickCountMs() - start_;
    std::printf("[%6u.%03u] ", ms / 1000, ms % 1000);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

void DumpObserver::OnConnected(const char* host, uint16_t port) {
    connectStart_ = TickCountMs();
    Line("connected %s:%u", host, static_cast<unsigned>(port));
}

void DumpObserver::OnAuthenticated(int authKind) {
    Line("authenticated %s", AuthName(authKind));
}

void DumpObserver::OnDescribed(const StreamState& s) {
    Line("described codec=%s payload-type=%u clock-rate=%d size=%dx%d", CodecName(s.codec),
         static_cast<unsigned>(s.payloadType), static_cast<int>(s.clockRate),
         static_cast<int>(s.picture.width), static_cast<int>(s.picture.height));
}

void DumpObserver::OnSetUp(const SetupReply& r, const MediaSockets& m) {
    if (r.interleaved) {
        Line("set up tcp interleaved=%u-%u session=%s timeout=%u",
             static_cast<unsigned>(r.rtpChannel), static_cast<unsigned>(r.rtcpChannel),
             r.sessionId.empty() ? "-" : r.sessionId.c_str(),
             static_cast<unsigned>(r.sessionTimeout));
        return;
    }
    Line("set up %s local-ports=%u-%u server-ports=%u-%u session=%s timeout=%u",
         r.multicast ? "multicast" : "unicast", static_cast<unsigned>(m.rtpPort),
         static_cast<unsigned>(m.rtcpPort), static_cast<unsigned>(r.serverRtpPort),
         static_cast<unsigned>(r.serverRtcpPort), r.sessionId.empty() ? "-" : r.sessionId.c_str(),
         static_cast<unsigned>(r.sessionTimeout));
}

void DumpObserver::OnPlaying(uint32_t setupMs) {
    failureRun_ = 0;
    playSent_ = TickCountMs();
    firstPacketSeen_ = false;
    Line("playing setup-time=%ums", static_cast<unsigned>(setupMs));
}

// A set-up that fails again and again for the same reason is printed at
// its 1st, 2nd, 4th, 8th ... failure in a row: the doubling mirrors the
// back-off between the attempts, so a retry still shows at once while a
// long run costs a line per doubling, not one per attempt. The line itself
// stays the same each time; main puts the count into its final report. A
// different reason, or a set-up that played, starts a new run.
void DumpObserver::OnSetupFailed(const char* why) {
    if (failureRun_ != 0 && lastFailure_ == why) {
        ++failureRun_;
    } else {
        lastFailure_ = why;
        failureRun_ = 1;
    }
    if ((failureRun_ & (failureRun_ - 1)) == 0)
        Line("set-up failed: %s", why);
}

void DumpObserver::OnTcpFallback(const char* why) {
    Line("falling back to TCP: %s", why);
}

void DumpObserver::OnReceiverReport(size_t bytes, bool answeringServer) {
    Line("receiver report sent (%u bytes%s)", static_cast<unsigned>(bytes),
         answeringServer ? ", answering a server report" : "");
}

void DumpObserver::OnKeepAlive() {
    Line("keep-alive sent");
}

void DumpObserver::OnDatagram(size_t bytes) {
    ++datagrams_;
    if (!firstPacketSeen_) {
        firstPacketSeen_ = true;
        Line("first RTP packet %u ms after PLAY (%u ms after connect)",
             static_cast<unsigned>(TickCountMs() - playSent_),
             static_cast<unsigned>(TickCountMs() - connectStart_));
    }
    if (verbose_)
        Line("datagram %u bytes", static_cast<unsigned>(bytes));
    Tick();
}

void DumpObserver::OnEnded(StreamEnd why) {
    Line("session ended: %s", StreamEndText(why));
}

void DumpObserver::OnReconnecting() {
    Line("reconnecting");
}

void DumpObserver::Tick() {
    const uint32_t now = TickCountMs();
    if (now - lastRateTick_ < 1000)
        return;
    const double seconds = (now - lastRateTick_) / 1000.0;
    Line("packets/s %.1f (total %llu taken, %llu dropped, %llu frames)",
         static_cast<double>(datagrams_ - lastRateCount_) / seconds,
         static_cast<unsigned long long>(counter_->taken()),
         static_cast<unsigned long long>(counter_->dropped()),
         static_cast<unsigned long long>(frames_->frames()));
    lastRateTick_ = now;
    lastRateCount_ = datagrams_;
}

}  // namespace camvue
