#include "codecs/common/av_decoder.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace camvue::codecs {

// A plain store, repeated for every decoder: std::call_once would go through
// the statically linked winpthreads, whose once-control leaves two semaphore
// handles behind every time the library is unloaded.
void InitCodecLibrary() {
    av_log_set_level(AV_LOG_QUIET);
}

AvDecoder::~AvDecoder() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_frame_free(&scratch_);
}

bool AvDecoder::Open(Kind kind) {
    InitCodecLibrary();
    kind_ = kind;
    frame_ = av_frame_alloc();
    scratch_ = av_frame_alloc();
    return frame_ != nullptr && scratch_ != nullptr && OpenContext();
}

bool AvDecoder::Reset() {
    av_frame_unref(frame_);
    avcodec_free_context(&context_);
    return OpenContext();
}

bool AvDecoder::OpenContext() {
    const AVCodec* codec =
        avcodec_find_decoder(kind_ == Kind::kH264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MJPEG);
    if (codec == nullptr)
        return false;
    context_ = avcodec_alloc_context3(codec);
    if (context_ == nullptr)
        return false;
    if (kind_ == Kind::kH264) {
        // Live video: a picture leaves the decoder with the access unit that
        // completes it. Frame threads would hold pictures back by one per
        // thread, so only slice threads are used (they help with multi-slice
        // streams), and the low-delay flag keeps libavcodec from choosing
        // frame threads itself. Streams with B-pictures still come out in
        // display order, so their reordering delay remains.
        context_->thread_type = FF_THREAD_SLICE;
        context_->thread_count = 0;  // one per processor
        context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    } else {
        context_->thread_count = 1;
    }
    if (avcodec_open2(context_, codec, nullptr) != 0) {
        avcodec_free_context(&context_);
        return false;
    }
    return true;
}

int AvDecoder::Decode(const uint8_t* data, size_t size) {
    if (context_ == nullptr && !Reset())
        return -1;
    if (data == nullptr || size == 0 ||
        size > static_cast<size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
        return -1;
    av_frame_unref(frame_);
    damaged_ = false;
    if (kind_ == Kind::kJpeg) {
        // Every JPEG file stands alone, so each gets a new decoder: the mjpeg
        // decoder carries state from file to file. A file that lacks parts
        // (no end marker, no scan) can make it hand out the previous file's
        // picture again, and once a file was marked video range ("CS=ITU601")
        // it takes every later file as video range too. Opening the decoder
        // costs little next to decoding a picture.
        if (!Reset())
            return -1;
    }

    // The bitstream readers may read up to AV_INPUT_BUFFER_PADDING_SIZE bytes
    // past the end of the input: give them a zeroed tail. The packet owns its
    // buffer, so libavcodec keeps a reference instead of copying again.
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr)
        return -1;
    int result = -1;
    if (av_new_packet(packet, static_cast<int>(size)) == 0) {  // zeroes the padding
        std::memcpy(packet->data, data, size);
        if (avcodec_send_packet(context_, packet) == 0) {
            // Keep the newest picture the input completed. Decoders built on
            // libavcodec's receive interface (mjpeg) report a broken input
            // here rather than when it is sent.
            int received = 0;
            result = 0;
            while ((received = avcodec_receive_frame(context_, scratch_)) == 0) {
                av_frame_unref(frame_);
                av_frame_move_ref(frame_, scratch_);
                result = 1;
            }
            if (result == 0 && received != AVERROR(EAGAIN))
                result = -1;
        }
    }
    av_packet_free(&packet);
    damaged_ = result < 0 || (result == 1 && (frame_->decode_error_flags != 0 ||
                                              (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0));
    return result;
}

}  // namespace camvue::codecs
