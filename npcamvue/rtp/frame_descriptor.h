// The record that hands one complete coded frame to the plug-in, and the
// callback that receives it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

// Sixteen words; on 32-bit Windows every word is 32 bits. On 64-bit builds the
// user-data and frame-pointer words are pointer-sized, the others stay 32-bit.
struct FrameDescriptor {
    void* userData;        // 0: the session's user data (the plug-in's stream core)
    const uint8_t* data;   // 1: first byte of the frame; valid during the call only
    uint32_t length;       // 2: frame length in bytes
    uint32_t key;          // 3: 1 for a key frame
    uint32_t reserved4;    // 4: copied from the session (0)
    uint32_t zero5;        // 5
    uint32_t zero6;        // 6
    int32_t width;         // 7: pixels
    int32_t height;        // 8: pixels
    uint32_t unused9;      // 9: not written (0)
    uint32_t ptsLow;       // 10: presentation time, 100 ns units of local time
    uint32_t ptsHigh;      // 11
    uint32_t reserved12;   // 12: copied from the session (0)
    uint32_t codecKind;    // 13: CodecKind
    uint32_t packetsLow;   // 14: packet counter
    uint32_t packetsHigh;  // 15
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(void*) == 4, "32-bit layout");
static_assert(sizeof(FrameDescriptor) == 64, "sixteen 32-bit words");
static_assert(offsetof(FrameDescriptor, data) == 4, "word 1");
static_assert(offsetof(FrameDescriptor, width) == 28, "word 7");
static_assert(offsetof(FrameDescriptor, ptsLow) == 40, "word 10");
static_assert(offsetof(FrameDescriptor, codecKind) == 52, "word 13");
static_assert(offsetof(FrameDescriptor, packetsHigh) == 60, "word 15");
#endif

// Called synchronously on the network thread with the descriptor and twelve
// further arguments that are all 0 (cdecl on 32-bit Windows). The return value
// is ignored.
#if defined(_WIN32) && !defined(_WIN64)
#define CAMVUE_CDECL __cdecl
#else
#define CAMVUE_CDECL
#endif
using FrameCallback = int(CAMVUE_CDECL*)(FrameDescriptor* descriptor, uintptr_t a1, uintptr_t a2,
                                         uintptr_t a3, uintptr_t a4, uintptr_t a5, uintptr_t a6,
                                         uintptr_t a7, uintptr_t a8, uintptr_t a9, uintptr_t a10,
                                         uintptr_t a11, uintptr_t a12);

}  // namespace camvue
