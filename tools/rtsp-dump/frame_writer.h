// rtsp-dump's frame sink: one line per delivered frame, and with --out the
// frames as files plus an index (frames.tsv).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "npcamvue/rtp/frame_descriptor.h"

namespace camvue {

class FrameWriter {
  public:
    // outDir empty: print only.
    explicit FrameWriter(std::string outDir) : outDir_(std::move(outDir)) {}
    ~FrameWriter();

    // Creates the folder and the index; false with a message on stderr.
    bool Open();
    uint64_t frames() const { return frames_; }
    // Calls reached(arg) once, on the frame thread, when the count reaches
    // `limit`.
    void SetLimit(uint64_t limit, void (*reached)(void*), void* arg) {
        limit_ = limit;
        reached_ = reached;
        reachedArg_ = arg;
    }
    bool failed() const { return failed_; }

    // The FrameCallback: user data is the FrameWriter.
    static int CAMVUE_CDECL OnFrame(FrameDescriptor* d, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                    uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                    uintptr_t, uintptr_t, uintptr_t);

  private:
    void Write(const FrameDescriptor& d);

    std::string outDir_;
    std::FILE* index_ = nullptr;
    uint64_t frames_ = 0;
    bool failed_ = false;
    uint64_t limit_ = 0;
    void (*reached_)(void*) = nullptr;
    void* reachedArg_ = nullptr;
};

}  // namespace camvue
