// A test H.264-style codec library with the exports of h264.dll. The first
// byte of each input chooses what dec_decode does:
//   'P'  an 18x10 YV12 picture (270 bytes, not a multiple of 64) filled with
//        the second byte, all input taken,
//        extra = the input length
//   'N'  all input taken, no picture
//   'S'  a picture, but one byte less taken than offered
//   'F'  an access violation
//   'Z'  an integer division by zero
//   'C'  a C++ exception thrown and caught inside the library, then 'P'
// Anything else is rejected (-1). Every entry is logged (odd_log.h).
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "tests/unit/shell/odd_log.h"

namespace {

struct Block {  // the decode block, 48 or 56 bytes
    const uint8_t* input;
    int32_t inputLength;
    int32_t reserved0;
    const uint8_t* output;
    int32_t outputLength;
    int32_t reserved1;
    int32_t width;
    int32_t height;
    int32_t extra;
    int32_t reserved2[3];
};

constexpr int kWidth = 18;
constexpr int kHeight = 10;
constexpr int kPictureBytes = kWidth * kHeight * 3 / 2;

struct Decoder {
    uint8_t picture[kPictureBytes];
};

int Picture(Decoder* decoder, Block* block, int consumed) {
    const uint8_t value = block->inputLength > 1 ? block->input[1] : 0;
    std::memset(decoder->picture, value, sizeof decoder->picture);
    block->output = decoder->picture;
    block->outputLength = kPictureBytes;
    block->width = kWidth;
    block->height = kHeight;
    block->extra = block->inputLength;
    return consumed;
}

int ThrowAndCatch(int value) {
    try {
        if (value != 0)
            throw std::runtime_error("inside the library");
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}

}  // namespace

extern "C" {

int __cdecl dll_init(int) {
    camvue::odd::Log("h264.dll_init");
    return 0;
}

int __cdecl dec_open(void** handle, int) {
    camvue::odd::Log("h264.dec_open");
    *handle = new Decoder();
    return 0;
}

int __cdecl dec_close(void* handle) {
    camvue::odd::Log("h264.dec_close");
    delete static_cast<Decoder*>(handle);
    return 0;
}

int __cdecl dec_decode(void* handle, Block* block) {
    camvue::odd::Log("h264.dec_decode");
    auto* decoder = static_cast<Decoder*>(handle);
    if (decoder == nullptr || block == nullptr || block->input == nullptr ||
        block->inputLength <= 0)
        return -1;
    switch (block->input[0]) {
        case 'P':
            return Picture(decoder, block, block->inputLength);
        case 'N':
            return block->inputLength;
        case 'S':
            return Picture(decoder, block, block->inputLength - 1);
        case 'F':
            camvue::odd::AccessViolation();
            return block->inputLength;
        case 'Z':
            return camvue::odd::DivideByZero(block->inputLength);
        case 'C':
            if (ThrowAndCatch(block->inputLength) != 1)
                return -1;
            return Picture(decoder, block, block->inputLength);
        default:
            return -1;
    }
}

}  // extern "C"
