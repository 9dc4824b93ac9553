// rtsp-dump's printer: one line per session event, one packets-per-second
// line, and the set-up and first-packet times.
#pragma once

#include <cstdint>
#include <string>

#include "npcamvue/rtsp/session_observer.h"
#include "tools/rtsp-dump/counting_sink.h"
#include "tools/rtsp-dump/frame_writer.h"

namespace camvue {

class DumpObserver : public SessionObserver {
  public:
    DumpObserver(const CountingSink* counter, const FrameWriter* frames, bool verbose)
        : counter_(counter), frames_(frames), verbose_(verbose) {}

    void OnConnected(const char* host, uint16_t port) override;
    void OnAuthenticated(int authKind) override;
    void OnDescribed(const StreamState& stream) override;
    void OnSetUp(const SetupReply& reply, const MediaSockets& sockets) override;
    void OnPlaying(uint32_t setupMs) override;
    void OnSetupFailed(const char* why) override;
    void OnTcpFallback(const char* why) override;
    void OnReceiverReport(size_t bytes, bool answeringServer) override;
    void OnKeepAlive() override;
    void OnDatagram(size_t bytes) override;
    void OnEnded(StreamEnd why) override;
    void OnReconnecting() override;

    // Prints the packets-per-second line when a second has passed.
    void Tick();
    uint64_t datagrams() const { return datagrams_; }
    // Why the last set-up failed ("" when none did); an abort at the end of
    // the budget does not count.
    const char* lastFailure() const { return lastFailure_.c_str(); }
    // How many set-ups in a row have failed so (0 once one played).
    uint32_t failureRun() const { return failureRun_; }

  private:
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 2, 3)))
#endif
    void
    Line(const char* format, ...);

    const CountingSink* counter_;
    const FrameWriter* frames_;
    bool verbose_;
    uint32_t start_ = TickCountMs();
    uint32_t connectStart_ = 0;
    uint32_t playSent_ = 0;
    bool firstPacketSeen_ = true;
    uint64_t datagrams_ = 0;
    std::string lastFailure_;
    uint32_t failureRun_ = 0;
    uint64_t lastRateCount_ = 0;
    uint32_t lastRateTick_ = TickCountMs();
};

}  // namespace camvue
