// The codec binding: each stream core owns at most one CodecModule, bound at
// run time to the codec library for the codec type of its frames: h264.dll
// for H.264 (type 2) and picdec.dll for JPEG (type 1), looked for in the
// plug-in's folder and then in its "codec" subfolder. Whether a library is
// driven as a JPEG-style or an H.264-style library depends on its exports
// alone, never on its file name. The decoding calls run guarded
// (guarded_call.h): a processor exception inside the library is a failed
// decode, and the stream goes on.
//
// Plain structures with explicit steps: every free step accepts null; steps
// return 0 / -1 or a size (0 on failure).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// winbase.h still maps the 16-bit FreeModule onto FreeLibrary.
#ifdef FreeModule
#undef FreeModule
#endif

namespace camvue {

enum CodecType : int32_t {
    kCodecJpeg = 1,
    kCodecH264 = 2,
    kCodecOther = 3,  // MPEG-4 Visual: no codec binding
};

constexpr DWORD kFourccYv12 = 0x32315659;  // "YV12"

// The codec libraries' entry points: cdecl on 32-bit Windows (the caller
// removes the arguments), the x64 calling convention on 64-bit.
#if defined(_WIN64)
#define CAMVUE_CODEC_CALL
#else
#define CAMVUE_CODEC_CALL __cdecl
#endif
using CodecAddRefFn = int(CAMVUE_CODEC_CALL*)(void** handle, int, int);
using CodecDeCodeBmpFn = int(CAMVUE_CODEC_CALL*)(void* handle, const unsigned char* frame,
                                                 BITMAPINFOHEADER* format, unsigned char* out,
                                                 int* extra);
using CodecReleaseFn = int(CAMVUE_CODEC_CALL*)(void* handle);
using CodecDllInitFn = int(CAMVUE_CODEC_CALL*)(int);
using CodecDecOpenFn = int(CAMVUE_CODEC_CALL*)(void** handle, int);
using CodecDecCloseFn = int(CAMVUE_CODEC_CALL*)(void* handle);
struct H264DecodeBlock;
using CodecDecDecodeFn = int(CAMVUE_CODEC_CALL*)(void* handle, H264DecodeBlock* block);

// The block dec_decode fills, zero-filled by the caller: 48 bytes with
// 4-byte pointers, 56 with 8-byte ones (the same field order).
struct H264DecodeBlock {
    const uint8_t* input;  // set by the caller
    int32_t inputLength;   // set by the caller
    int32_t reserved0;
    const uint8_t* output;  // the library's YV12 picture, valid until its next call
    int32_t outputLength;   // in bytes
    int32_t reserved1;
    int32_t width;
    int32_t height;
    int32_t extra;
    int32_t reserved2[3];
};
#if defined(_WIN64)
static_assert(sizeof(H264DecodeBlock) == 56, "64-bit decode block");
static_assert(offsetof(H264DecodeBlock, inputLength) == 8 &&
                  offsetof(H264DecodeBlock, output) == 16 &&
                  offsetof(H264DecodeBlock, outputLength) == 24 &&
                  offsetof(H264DecodeBlock, width) == 32 &&
                  offsetof(H264DecodeBlock, height) == 36 && offsetof(H264DecodeBlock, extra) == 40,
              "64-bit decode block offsets");
#else
static_assert(sizeof(H264DecodeBlock) == 48, "32-bit decode block");
static_assert(offsetof(H264DecodeBlock, inputLength) == 4 &&
                  offsetof(H264DecodeBlock, output) == 12 &&
                  offsetof(H264DecodeBlock, outputLength) == 16 &&
                  offsetof(H264DecodeBlock, width) == 24 &&
                  offsetof(H264DecodeBlock, height) == 28 && offsetof(H264DecodeBlock, extra) == 32,
              "32-bit decode block offsets");
#endif
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the format exchanged with picdec.dll");

// An H.264-style library and its decoder.
struct H264Module {
    uint8_t* picture;  // AlignedBlock: copy of the last decoded picture
    int32_t pictureSize;
    HMODULE library;
    void* decoder;  // null when closed
    CodecDecOpenFn decOpen;
    CodecDecCloseFn decClose;
    CodecDecDecodeFn decDecode;
    FARPROC encOpen;  // resolved if present, never called
    FARPROC encClose;
    FARPROC encEncode;
};

struct CodecModule {
    H264Module* h264;         // set when the library is an H.264-style one
    BITMAPINFOHEADER format;  // exchanged with a JPEG-style library
    uint8_t* picture;         // AlignedBlock: last picture of a JPEG-style library
    int32_t pictureSize;      // 0: no picture
    HMODULE library;          // a JPEG-style library, or null
    void* decoder;            // its decoder handle
    CodecAddRefFn addRef;
    CodecDeCodeBmpFn deCodeBmp;
    CodecReleaseFn release;
    int32_t type;  // the codec type the module was made for

    // Makes sure *slot (a stream core's module; null slot: no core) holds a
    // module for `type`: a module made for another type is freed; an
    // existing one is kept (never reloaded, even when its library failed to
    // load). Otherwise one is made from <folder>h264.dll (type 2) or
    // <folder>picdec.dll (type 1), else from the "codec\" subfolder, else it
    // is kept without a library; an H.264 decoder is then opened. 0 when
    // *slot holds a module for `type`, -1 for no slot, a type without
    // binding, or no memory. `folder` null: the plug-in's folder
    // (PluginFolder).
    static int Ensure(CodecModule** slot, int type, const char* folder = nullptr);

    // Decodes one coded frame. For a JPEG-style module, `format` carries the
    // announced picture size first (Announce). Returns the picture size in
    // bytes that the frame's dimensions imply (width x height x 3 / 2), 0 on
    // failure; *picture receives the picture (null when none was decoded),
    // *size its length, *extra (if given) the library's extra value. For an
    // H.264-style module `picture` and `size` are required; the picture is
    // the library's own, valid until the next Decode, and a copy is kept as
    // the last picture.
    static int Decode(CodecModule* module, const uint8_t* frame, int length,
                      const uint8_t** picture, int* size, int* extra);

    // Puts the announced picture size and the FOURCC "YV12" into `format`.
    static void Announce(CodecModule* module, int width, int height);

    // Whether a library is bound.
    static bool Loaded(const CodecModule* module);

    // The last decoded picture (the H.264 copy, or the JPEG picture): true
    // when there is one.
    static bool LastPicture(const CodecModule* module, const uint8_t** picture, int* size);
    // Forgets it (its size becomes 0), as instance release does.
    static void ForgetLastPicture(CodecModule* module);

    // Closes the decoder, unloads the library and frees the module.
    static void FreeModule(CodecModule* module);
};

#if defined(_WIN32) && !defined(_WIN64)
// The fields in their order, 32-bit words.
static_assert(offsetof(H264Module, library) == 8 && offsetof(H264Module, decOpen) == 16 &&
                  offsetof(H264Module, encEncode) == 36 && sizeof(H264Module) == 40,
              "H264Module fields in order");
static_assert(offsetof(CodecModule, format) == 4 && offsetof(CodecModule, picture) == 44 &&
                  offsetof(CodecModule, library) == 52 && offsetof(CodecModule, addRef) == 60 &&
                  offsetof(CodecModule, type) == 72 && sizeof(CodecModule) == 76,
              "CodecModule fields in order");
#endif

// The plug-in's folder with a trailing backslash: the folder of the loaded
// module "npcamvue.dll", or, when no module of that name is loaded (a test
// or benchmark linking the shell statically), of the module that holds this
// code. False (and an empty text) when it cannot be found or does not fit.
bool PluginFolder(char* out, size_t size);

}  // namespace camvue
