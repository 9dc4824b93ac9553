// Recorded RTP packet sequences for the reassembly benchmark, made at run time
// by a GStreamer pipeline (test pattern, encoder, payloader, appsink), so that
// no binary fixture is kept in the repository.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "npcamvue/rtp/stream_state.h"

namespace camvue::bench {

// One payload format to record: how to make it and how to play it back.
struct StreamRecipe {
    std::string name;         // table label, e.g. "H.264"
    std::string description;  // e.g. "1920x1080 30/s, 8 Mbit/s"
    CodecKind codec = kCodecNone;
    uint8_t payloadType = 0;
    // gst-launch text from the source to the payloader, named "pay" (without
    // the appsink).
    std::string pipeline;
    // The encoder's frames all carry the same time (avenc_mpeg4 of Debian 12
    // stamps each with 2^63 ns, so every RTP packet would get one timestamp):
    // restamp them at 30 per second on their way into the payloader.
    bool restamp = false;
    // GStreamer's depayloader for the same format, and the caps its appsink
    // asks for (empty: whatever it produces).
    std::string depayloader;
    std::string depayloadedCaps;
};

struct RecordedPacket {
    size_t offset = 0;  // in Recording::bytes
    size_t size = 0;    // whole datagram
    size_t payloadOffset = 0;
    size_t payloadLength = 0;  // after the RTP header, without padding
    bool marker = false;
    uint64_t pts = 0;  // nanoseconds since the first packet, from the RTP timestamp
};

struct Recording {
    StreamRecipe recipe;
    std::string caps;  // the payloader's source caps, for appsrc
    std::vector<uint8_t> bytes;
    std::vector<RecordedPacket> packets;
    uint64_t payloadBytes = 0;
    size_t markers = 0;  // packets with the marker bit: frames sent
    size_t largestPacket = 0;
    uint64_t durationNs = 0;  // first to last packet timestamp (plus one frame)

    const uint8_t* data(const RecordedPacket& p) const { return bytes.data() + p.offset; }
};

// The formats of the benchmark, `frames` frames each.
std::vector<StreamRecipe> DefaultFormats(int frames);

// Runs the recipe's pipeline into an appsink and keeps every RTP packet. False
// with a message when GStreamer cannot build or run it.
bool Record(const StreamRecipe& recipe, Recording* out, std::string* error);

}  // namespace camvue::bench
