// AlignedBlock: the plug-in's heap block. A block is handed around as a
// pointer to its data, which is aligned to 32 bytes and preceded directly by
// a 32-byte header (byte size, element count, element size, 20 reserved
// bytes, all zero). New blocks are zero-filled, header and data alike.
// Byte blocks have element size 1; pointer arrays have the size of a pointer.
//
// Blocks are reallocated by element count and only grown unless a shrink is
// asked for, so per-frame buffers are allocated once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

struct AlignedBlockHeader {
    int32_t byteSize;      // -32 from the data
    int32_t count;         // -28: element count
    int32_t elementSize;   // -24: bytes per element
    uint8_t reserved[20];  // -20: zero
};

static_assert(sizeof(AlignedBlockHeader) == 32, "the header is 32 bytes on every build");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(AlignedBlockHeader, byteSize) == 0, "byte size at -32");
static_assert(offsetof(AlignedBlockHeader, count) == 4, "element count at -28");
static_assert(offsetof(AlignedBlockHeader, elementSize) == 8, "element size at -24");
static_assert(offsetof(AlignedBlockHeader, reserved) == 12, "reserved bytes at -20");
#endif

class AlignedBlock {
  public:
    static constexpr size_t kAlignment = 32;
    static constexpr size_t kHeaderSize = sizeof(AlignedBlockHeader);
    // The largest byte size a block can have (its header holds it as int32).
    static constexpr int32_t kMaxBytes = INT32_MAX - 2 * static_cast<int32_t>(kAlignment);

    // A byte block of `count` bytes; null for a count of 0 or less, a count
    // beyond kMaxBytes, or when memory is short.
    static uint8_t* New(int count);
    // A pointer array of `count` entries (all null); null as for New.
    static void** NewArray(int count);

    // Reallocate(count, block, always):
    //  - a null block becomes New(count);
    //  - a count of 0 or less frees the block and yields null;
    //  - unless `always`, a block that already holds `count` elements is
    //    returned unchanged (grow-only use);
    //  - otherwise a new block of `count` elements of the same element size
    //    gets the smaller of the two element counts copied into it (the rest
    //    zero) and the old block is freed. When the new block cannot be made
    //    the old one is freed all the same and null returned: callers treat
    //    null as failure and have lost the old contents.
    static void* Reallocate(int count, void* block, bool always);
    // As Reallocate, for pointer arrays: a null array becomes NewArray(count).
    static void** ReallocateArray(int count, void** block, bool always);
    // As ReallocateArray, except that the old array is left untouched (and
    // still owned by the caller) when the new one cannot be made.
    static void** ResizeArrayKeep(int count, void** block, bool always);

    // Room for the old element count plus `count` (old bytes kept); a count
    // of 0 (or less) returns the block unchanged; a null block becomes
    // New(count).
    static void* GrowBy(int count, void* block);

    // Frees a block through its header; null is ignored.
    static void Free(void* block);

    // The header in front of a block's data (null for a null block).
    static const AlignedBlockHeader* Header(const void* block);
    static int32_t Count(const void* block);
    static int32_t ByteSize(const void* block);
    static int32_t ElementSize(const void* block);
};

}  // namespace camvue
