#include "npcamvue/shell/aligned_block.h"

#include <malloc.h>

#include <algorithm>
#include <cstring>

namespace camvue {
namespace {

AlignedBlockHeader* HeaderOf(void* block) {
    return reinterpret_cast<AlignedBlockHeader*>(static_cast<uint8_t*>(block) -
                                                 AlignedBlock::kHeaderSize);
}

// A zero-filled block of `count` elements of `elementSize` bytes, or null.
void* Allocate(int count, int elementSize) {
    if (count <= 0 || elementSize <= 0 || count > AlignedBlock::kMaxBytes / elementSize)
        return nullptr;
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(elementSize);
    // The header takes exactly one alignment unit, so the data that follows
    // it is 32-byte aligned too.
    void* base = _aligned_malloc(AlignedBlock::kHeaderSize + bytes, AlignedBlock::kAlignment);
    if (base == nullptr)
        return nullptr;
    std::memset(base, 0, AlignedBlock::kHeaderSize + bytes);
    auto* header = static_cast<AlignedBlockHeader*>(base);
    header->byteSize = static_cast<int32_t>(bytes);
    header->count = count;
    header->elementSize = elementSize;
    return static_cast<uint8_t*>(base) + AlignedBlock::kHeaderSize;
}

// The steps of Reallocate for a non-null block and a positive count.
void* Resize(int count, void* block, bool always, bool freeOnFailure) {
    const AlignedBlockHeader* old = HeaderOf(block);
    if (!always && old->count >= count)
        return block;
    void* grown = Allocate(count, old->elementSize);
    if (grown == nullptr) {
        if (freeOnFailure)
            AlignedBlock::Free(block);
        return nullptr;
    }
    const int kept = std::min(old->count, count);
    std::memcpy(grown, block, static_cast<size_t>(kept) * static_cast<size_t>(old->elementSize));
    AlignedBlock::Free(block);
    return grown;
}

}  // namespace

uint8_t* AlignedBlock::New(int count) {
    return static_cast<uint8_t*>(Allocate(count, 1));
}

void** AlignedBlock::NewArray(int count) {
    return static_cast<void**>(Allocate(count, static_cast<int>(sizeof(void*))));
}

void* AlignedBlock::Reallocate(int count, void* block, bool always) {
    if (block == nullptr)
        return New(count);
    if (count <= 0) {
        Free(block);
        return nullptr;
    }
    return Resize(count, block, always, true);
}

void** AlignedBlock::ReallocateArray(int count, void** block, bool always) {
    if (block == nullptr)
        return NewArray(count);
    return static_cast<void**>(Reallocate(count, block, always));
}

void** AlignedBlock::ResizeArrayKeep(int count, void** block, bool always) {
    if (block == nullptr)
        return NewArray(count);
    if (count <= 0) {
        Free(block);
        return nullptr;
    }
    return static_cast<void**>(Resize(count, block, always, false));
}

void* AlignedBlock::GrowBy(int count, void* block) {
    if (block == nullptr)
        return New(count);
    if (count <= 0)  // nothing to add (a negative count never shrinks or frees)
        return block;
    const int32_t old = HeaderOf(block)->count;
    if (old > INT32_MAX - count)
        return Reallocate(INT32_MAX, block, false);  // too large: fails, as Reallocate does
    return Reallocate(old + count, block, false);
}

void AlignedBlock::Free(void* block) {
    if (block != nullptr)
        _aligned_free(HeaderOf(block));
}

const AlignedBlockHeader* AlignedBlock::Header(const void* block) {
    return block == nullptr ? nullptr : HeaderOf(const_cast<void*>(block));
}

int32_t AlignedBlock::Count(const void* block) {
    return block == nullptr ? 0 : Header(block)->count;
}

int32_t AlignedBlock::ByteSize(const void* block) {
    return block == nullptr ? 0 : Header(block)->byteSize;
}

int32_t AlignedBlock::ElementSize(const void* block) {
    return block == nullptr ? 0 : Header(block)->elementSize;
}

}  // namespace camvue
