// The session's frame entry point: one copy into the next ring slot.
#include <cstring>

#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue {

int CAMVUE_CDECL CoreFrameCallback(FrameDescriptor* first, uintptr_t a1, uintptr_t a2, uintptr_t a3,
                                   uintptr_t /*a4*/, uintptr_t /*a5*/, uintptr_t /*a6*/,
                                   uintptr_t a7, uintptr_t a8, uintptr_t a9, uintptr_t a10,
                                   uintptr_t a11, uintptr_t a12) {
    StreamCore* core;
    const uint8_t* data;
    int64_t length;
    int32_t key, width, height, kind;
    uint64_t pts;
    if (a1 == 0 && a2 == 0 && a11 == 0) {
        if (first == nullptr)
            return 0;
        core = static_cast<StreamCore*>(first->userData);
        data = first->data;
        length = first->length;
        key = static_cast<int32_t>(first->key);
        width = first->width;
        height = first->height;
        pts = (static_cast<uint64_t>(first->ptsHigh) << 32) | first->ptsLow;
        kind = static_cast<int32_t>(first->codecKind);
    } else {
        core = reinterpret_cast<StreamCore*>(first);
        data = reinterpret_cast<const uint8_t*>(a1);
        length = static_cast<int32_t>(static_cast<uint32_t>(a2));
        key = static_cast<int32_t>(a3);
        width = static_cast<int32_t>(a7);
        height = static_cast<int32_t>(a8);
        pts = (static_cast<uint64_t>(static_cast<uint32_t>(a10)) << 32) | static_cast<uint32_t>(a9);
        kind = static_cast<int32_t>(a12);
    }
    if (core == nullptr || length <= 0 || data == nullptr || length > AlignedBlock::kMaxBytes)
        return 0;
    CList& ring = core->frames;
    if (core->writeIndex >= ring.count)
        return 0;

    ring.lock.Enter("FrameCallback");
    auto* slot = static_cast<FrameSlot*>(ring.items[core->writeIndex]);
    uint8_t* grown = slot != nullptr ? static_cast<uint8_t*>(AlignedBlock::Reallocate(
                                           static_cast<int>(length), slot->data, false))
                                     : nullptr;
    if (grown == nullptr) {
        // Reallocate has freed the old block: the slot holds nothing now.
        if (slot != nullptr) {
            slot->data = nullptr;
            slot->length = 0;
        }
        ring.lock.Leave();
        return 0;
    }
    slot->data = grown;
    std::memcpy(grown, data, static_cast<size_t>(length));
    slot->length = static_cast<int32_t>(length);
    slot->key = key;
    slot->pts = pts;
    slot->width = width;
    slot->height = height;
    slot->codecKind = kind;
    core->writeIndex = (core->writeIndex + 1) % ring.count;
    InterlockedIncrement(&core->framesReceived);
    ring.lock.Leave();
    SetEvent(core->wakeEvent);
    return 0;
}

}  // namespace camvue
