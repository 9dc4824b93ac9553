// The plug-in's video path: a StreamCore owns one live stream (a network
// thread running an RtspSession, a ring of 100 frame slots that the session's
// FrameCallback fills, the codec binding of the stream) and is shared by all
// plug-in instances of one page element through the process-wide core
// registry. Each attached instance has a render thread that takes frames out
// of the ring, decodes them and draws them (draw_step.h, render_thread.h).
//
// Threads meet only through the core's flag words, its events and three
// locks, taken in this order: the instance lock, then the core's decode lock
// and the ring lock, or the registry lock (never the ring and the registry
// lock together). The URL has a lock of its own.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtp/frame_descriptor.h"
#include "npcamvue/shell/clist.h"
#include "npcamvue/shell/spin_lock.h"

namespace camvue {

struct CodecModule;
struct PluginInstance;

// One entry of a frame ring.
struct FrameSlot {
    uint8_t* data;   // AlignedBlock, grow-only, reused for every frame of this slot
    int32_t length;  // bytes; 0 = empty
    int32_t key;
    int32_t reserved;
    uint64_t pts;  // presentation time, 100 ns units of local time
    int32_t width;
    int32_t height;
    int32_t codecKind;  // 1 JPEG, 2 H.264, 3 other video
};

struct StreamCore {
    static constexpr int kSlots = 100;

    volatile LONG refCount;  // instances attached; atomic changes only
    char* elementId;         // AlignedBlock text + two NULs
    int32_t elementIdLength;
    volatile LONG keepAlive;  // set by "Resize"
    CodecModule* codec;
    // Serialises the draw steps of all instances of this core from taking a
    // frame to showing its picture: they share the decoder, its last picture
    // and the description of the frame last taken. Taken inside the
    // instance lock, before the ring lock.
    SpinLock decodeLock;
    CList frames;  // kSlots FrameSlot pointers, under frames.lock
    volatile LONG playRequested;
    volatile LONG redrawRequested;
    volatile LONG autostart;
    Event* abortEvent;    // auto reset (platform event): ends the current set-up or receive loop
    HANDLE wakeEvent;     // auto reset: wakes one render thread
    HANDLE quitEvent;     // manual reset: ends the network thread
    HANDLE startedEvent;  // auto reset: the network thread runs
    HANDLE networkThread;
    char* url;         // AlignedBlock text + two NULs, or null
    SpinLock urlLock;  // guards `url` between the main and the network thread
    // The frame last taken from the ring ("picwidth"/"picheight" are width
    // and height).
    int32_t key;
    uint64_t pts;
    int32_t width;
    int32_t height;
    int32_t codecKind;
    volatile LONG framesReceived;  // frames put into the ring, never reset
    int32_t readIndex;             // 0..kSlots-1
    int32_t writeIndex;
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(FrameSlot, length) == 4 && offsetof(FrameSlot, pts) == 16 &&
                  offsetof(FrameSlot, codecKind) == 32,
              "FrameSlot fields in order");
#endif

// The process-wide core registry: a CList of StreamCore pointers, built when
// the module loads; its item array is freed when it unloads.
CList& CoreRegistry();

// Core attach: the registered core whose element id is exactly these
// `length` bytes, made and registered when there is none; its refCount is
// incremented, and a kept core (keepAlive) is asked to redraw at once. The
// core is stored in the instance (if given). Null for a null id, a length
// below 1, or when a new core cannot be made.
StreamCore* CoreAttach(PluginInstance* instance, const char* id, int length);

// Core construction: a registered-nowhere core with its ring, WinSock
// start-up, events and running network thread (waited for). Null when
// memory is short.
StreamCore* CoreCreate();

// Core destruction: unregisters the core, stops its network thread (the
// session returns at once and tears down), frees the ring, the codec module,
// the texts and the events, and the core. Null is ignored.
void CoreDestroy(StreamCore* core);

// Replaces the core's camera address (copied; null or empty clears it).
// False when memory is short (the address is then cleared).
bool CoreSetUrl(StreamCore* core, const char* url);

// The session's frame entry point (network thread). Descriptor form: the
// second, third and twelfth arguments are 0 and `first` is the session's
// FrameDescriptor (user data: the core). Argument form: `first` is the core
// and the frame is data = a1, length = a2, key = a3, width = a7,
// height = a8, presentation time = a9 (low) / a10 (high), codec kind = a12.
// Copies the frame into the next ring slot and wakes a render thread.
int CAMVUE_CDECL CoreFrameCallback(FrameDescriptor* first, uintptr_t a1, uintptr_t a2, uintptr_t a3,
                                   uintptr_t a4, uintptr_t a5, uintptr_t a6, uintptr_t a7,
                                   uintptr_t a8, uintptr_t a9, uintptr_t a10, uintptr_t a11,
                                   uintptr_t a12);

// The network thread's body (one per core).
DWORD WINAPI NetworkThreadMain(void* core);

}  // namespace camvue
