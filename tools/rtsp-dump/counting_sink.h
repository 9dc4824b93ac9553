// Counts what frame assembly makes of the datagrams, for rtsp-dump's lines.
#pragma once

#include <cstdint>

#include "npcamvue/rtp/packet_sink.h"

namespace camvue {

class CountingSink : public PacketSink {
  public:
    explicit CountingSink(PacketSink* inner) : inner_(inner) {}
    void Reset(StreamState& stream) override { inner_->Reset(stream); }
    PushResult PushPacket(StreamState& stream, uint8_t* data, size_t length) override {
        PushResult r = inner_->PushPacket(stream, data, length);
        if (r == PushResult::kTaken)
            ++taken_;
        if (r == PushResult::kDropped)
            ++dropped_;
        return r;
    }
    uint16_t LastSequence() const override { return inner_->LastSequence(); }

    uint64_t taken() const { return taken_; }
    uint64_t dropped() const { return dropped_; }

  private:
    PacketSink* inner_;
    uint64_t taken_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace camvue
