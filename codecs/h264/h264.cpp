// h264.dll: the H.264 codec library the plug-in loads at run time, on
// libavcodec's H.264 decoder.
//
// Exports (by undecorated name, h264.def; cdecl on 32-bit, the caller removes
// the arguments):
//   int dll_init(int)                   process set-up; returns 0
//   int dec_open(void** handle, int)    new decoder into *handle; 0, or -1 with *handle null
//   int dec_decode(void* handle, DecodeBlock* block)
//   int dec_close(void* handle)         destroys the decoder; returns 0
//
// dec_decode takes one Annex B access unit and returns the number of bytes
// consumed: the whole input when the decoder took it, -1 when it rejected its
// slices (or the handle, block or input is missing, or the picture has a
// format that has no YV12 form, such as 10-bit samples). A unit without
// slices (parameter sets alone) is always taken, and the parameter sets are
// kept for the slices that follow. When the access unit completed a
// picture, the block's output points to it in the YV12 layout of
// codecs/common/yv12.h (always video range, see there), owned by the decoder
// and valid until the next call on the same handle; otherwise output stays
// null. Pictures come out in display order: a stream with B-pictures holds
// its first pictures back by its reordering depth.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "codecs/common/av_decoder.h"
#include "codecs/common/yv12.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

// The block the caller passes to dec_decode, zero-filled. The 32-bit layout
// is the plug-in's 48-byte block; the 64-bit build widens the two pointers
// to 8 bytes with natural alignment (56 bytes).
struct DecodeBlock {
    const uint8_t* input;  // set by the caller
    int32_t inputLength;   // set by the caller
    int32_t reserved0;
    uint8_t* output;       // the YV12 picture, or null
    int32_t outputLength;  // its size in bytes
    int32_t reserved1;
    int32_t width;
    int32_t height;
    int32_t extra;  // 1 when the picture is a key picture, else 0
    int32_t reserved2[3];
};

#if defined(_WIN64)
static_assert(sizeof(DecodeBlock) == 56, "64-bit decode block");
static_assert(offsetof(DecodeBlock, inputLength) == 8 && offsetof(DecodeBlock, output) == 16 &&
                  offsetof(DecodeBlock, outputLength) == 24 && offsetof(DecodeBlock, width) == 32 &&
                  offsetof(DecodeBlock, height) == 36 && offsetof(DecodeBlock, extra) == 40,
              "64-bit decode block offsets");
#else
static_assert(sizeof(DecodeBlock) == 48, "32-bit decode block");
static_assert(offsetof(DecodeBlock, inputLength) == 4 && offsetof(DecodeBlock, output) == 12 &&
                  offsetof(DecodeBlock, outputLength) == 16 && offsetof(DecodeBlock, width) == 24 &&
                  offsetof(DecodeBlock, height) == 28 && offsetof(DecodeBlock, extra) == 32,
              "32-bit decode block offsets");
#endif

// A NAL unit inside an access unit: from its header byte to the next start code.
struct NalSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool empty() const { return data == nullptr; }
};

// What the decoder needs to know of an access unit before decoding it.
struct UnitScan {
    bool idr = false;     // holds an IDR slice
    bool slices = false;  // holds any slice
    NalSpan sps;          // the first sequence parameter set
    NalSpan pps;          // the first picture parameter set
};

// Walks the Annex B start codes of one access unit.
UnitScan ScanUnit(const uint8_t* data, size_t size) {
    UnitScan scan;
    const uint8_t* nal = nullptr;  // the NAL unit being walked
    auto finish = [&](const uint8_t* end) {
        if (nal == nullptr || nal >= end)
            return;
        while (end > nal + 1 && end[-1] == 0)  // zero bytes in front of the next start code
            --end;
        const NalSpan span{nal, static_cast<size_t>(end - nal)};
        const int type = nal[0] & 0x1f;
        scan.slices = scan.slices || (type >= 1 && type <= 5);
        scan.idr = scan.idr || type == 5;
        if (type == 7 && scan.sps.empty())
            scan.sps = span;
        if (type == 8 && scan.pps.empty())
            scan.pps = span;
    };
    for (size_t i = 0; i + 2 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            finish(data + i);
            nal = data + i + 3;
            i += 2;
        }
    }
    finish(data + size);
    return scan;
}

bool Same(const std::vector<uint8_t>& kept, const NalSpan& nal) {
    return kept.size() == nal.size && std::equal(kept.begin(), kept.end(), nal.data);
}

struct H264Decoder {
    camvue::codecs::AvDecoder av;
    std::vector<uint8_t> picture;
    std::vector<uint8_t> sps;  // the last parameter sets seen, without start codes
    std::vector<uint8_t> pps;
    bool damaged = false;  // broken slices met since the last fresh start

    // An IDR starts a new coded video sequence: no earlier picture is needed
    // from there on. The decoder then starts afresh when the old sequence
    // left traces that would outlive it: libavcodec's H.264 decoder can carry
    // the concealment of a damaged picture into the next IDR (the whole next
    // group of pictures would show it), and it never lowers a reordering
    // delay once a sequence with B-pictures raised it, so a new sequence
    // (another SPS) without B-pictures would still be held back. The
    // parameter sets seen so far are handed to the new decoder when the IDR
    // does not bring its own.
    bool PrepareFor(const UnitScan& scan) {
        bool fresh = false;
        if (scan.idr)
            fresh = damaged || (!scan.sps.empty() && !sps.empty() && !Same(sps, scan.sps));
        if (!scan.sps.empty())
            sps.assign(scan.sps.data, scan.sps.data + scan.sps.size);
        if (!scan.pps.empty())
            pps.assign(scan.pps.data, scan.pps.data + scan.pps.size);
        if (!fresh)
            return true;
        damaged = false;
        if (!av.Reset())
            return false;
        if (scan.sps.empty() && !sps.empty() && !pps.empty()) {
            static const uint8_t kStartCode[] = {0, 0, 0, 1};
            std::vector<uint8_t> sets(kStartCode, kStartCode + 4);
            sets.insert(sets.end(), sps.begin(), sps.end());
            sets.insert(sets.end(), kStartCode, kStartCode + 4);
            sets.insert(sets.end(), pps.begin(), pps.end());
            av.Decode(sets.data(), sets.size());  // gives no picture
        }
        return true;
    }
};

}  // namespace

extern "C" {

int __cdecl dll_init(int) {
    camvue::codecs::InitCodecLibrary();
    return 0;
}

int __cdecl dec_open(void** handle, int) {
    if (handle == nullptr)
        return -1;
    *handle = nullptr;
    auto* decoder = new (std::nothrow) H264Decoder;
    if (decoder == nullptr)
        return -1;
    if (!decoder->av.Open(camvue::codecs::AvDecoder::Kind::kH264)) {
        delete decoder;
        return -1;
    }
    *handle = decoder;
    return 0;
}

int __cdecl dec_decode(void* handle, DecodeBlock* block) {
    if (block == nullptr)
        return -1;
    block->output = nullptr;
    block->outputLength = 0;
    block->width = 0;
    block->height = 0;
    block->extra = 0;
    auto* decoder = static_cast<H264Decoder*>(handle);
    if (decoder == nullptr || block->input == nullptr || block->inputLength <= 0)
        return -1;

    const size_t length = static_cast<size_t>(block->inputLength);
    const UnitScan scan = ScanUnit(block->input, length);
    if (!decoder->PrepareFor(scan))
        return -1;
    const int decoded = decoder->av.Decode(block->input, length);
    if (scan.slices)
        decoder->damaged = decoder->damaged || decoder->av.damaged();
    if (decoded < 0) {
        // Without slices (parameter sets sent alone) libavcodec keeps what it
        // can use and reports "no frame": the input is taken all the same.
        return scan.slices ? -1 : block->inputLength;
    }
    if (decoded == 0)
        return block->inputLength;
    const AVFrame& frame = *decoder->av.frame();
    if (!camvue::codecs::FrameToYv12(frame, camvue::codecs::UnmarkedRange::kVideo,
                                     &decoder->picture))
        return -1;
    block->output = decoder->picture.data();
    block->outputLength = static_cast<int32_t>(decoder->picture.size());
    block->width = frame.width;
    block->height = frame.height;
    block->extra = frame.key_frame ? 1 : 0;
    return block->inputLength;
}

int __cdecl dec_close(void* handle) {
    delete static_cast<H264Decoder*>(handle);
    return 0;
}

}  // extern "C"
