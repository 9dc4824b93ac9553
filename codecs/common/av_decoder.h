// One libavcodec decoder, fed one whole coded picture per call.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVCodecContext;
struct AVFrame;

namespace camvue::codecs {

// Process-wide set-up of libavcodec for the codec libraries: its log output is
// silenced (a DLL inside a browser has nowhere to write it). Idempotent and
// thread-safe.
void InitCodecLibrary();

class AvDecoder {
  public:
    enum class Kind { kH264, kJpeg };

    AvDecoder() = default;
    ~AvDecoder();
    AvDecoder(const AvDecoder&) = delete;
    AvDecoder& operator=(const AvDecoder&) = delete;

    bool Open(Kind kind);

    // Replaces the decoder with a new one, as after Open: nothing of the
    // earlier input is left (held-back pictures, references, error state).
    bool Reset();

    // Decodes one coded picture (an H.264 access unit or a whole JPEG file).
    // For JPEG every call starts from a new decoder (see Decode).
    // Returns 1 with the newest picture it produced in frame(), 0 when the
    // input was taken but gave no picture (parameter sets only, pictures held
    // back for display order), -1 when the decoder rejected the input.
    int Decode(const uint8_t* data, size_t size);

    const AVFrame* frame() const { return frame_; }

    // Whether the last Decode met broken data: the decoder rejected the input
    // or the picture it gave was concealed or marked corrupt.
    bool damaged() const { return damaged_; }

  private:
    bool OpenContext();

    Kind kind_ = Kind::kH264;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;    // the picture handed out
    AVFrame* scratch_ = nullptr;  // receives pictures
    bool damaged_ = false;
};

}  // namespace camvue::codecs
