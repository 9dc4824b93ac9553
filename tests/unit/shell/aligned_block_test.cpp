// AlignedBlock: header layout as outside callers read it, zero fill,
// alignment, and the grow-only / shrink-on-request reallocation rules.
#include "npcamvue/shell/aligned_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace camvue {
namespace {

// The header words at their byte offsets before the data, read the way a
// caller of the plug-in's exports reads them (not through the struct).
int32_t WordBefore(const void* data, int offset) {
    int32_t value;
    std::memcpy(&value, static_cast<const uint8_t*>(data) - offset, sizeof value);
    return value;
}

bool AllZero(const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

TEST(AlignedBlock, NewBlockHasHeaderZeroFillAndAlignment) {
    for (int count : {1, 7, 31, 32, 33, 100, 4096, 1 << 20}) {
        uint8_t* block = AlignedBlock::New(count);
        ASSERT_NE(block, nullptr) << count;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 32, 0u) << count;
        EXPECT_EQ(WordBefore(block, 32), count) << "byte size";
        EXPECT_EQ(WordBefore(block, 28), count) << "element count";
        EXPECT_EQ(WordBefore(block, 24), 1) << "element size";
        EXPECT_TRUE(AllZero(block - 20, 20)) << "reserved header bytes, count " << count;
        EXPECT_TRUE(AllZero(block, static_cast<size_t>(count))) << count;
        std::memset(block, 0xEE, static_cast<size_t>(count));  // the whole block is writable
        AlignedBlock::Free(block);
    }
}

TEST(AlignedBlock, PointerArrayHasPointerSizedElements) {
    void** array = AlignedBlock::NewArray(10);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(array) % 32, 0u);
    EXPECT_EQ(AlignedBlock::Count(array), 10);
    EXPECT_EQ(AlignedBlock::ElementSize(array), static_cast<int32_t>(sizeof(void*)));
    EXPECT_EQ(AlignedBlock::ByteSize(array), static_cast<int32_t>(10 * sizeof(void*)));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(array[i], nullptr) << i;
    AlignedBlock::Free(array);
}

TEST(AlignedBlock, RefusesEmptyNegativeAndOversizedCounts) {
    EXPECT_EQ(AlignedBlock::New(0), nullptr);
    EXPECT_EQ(AlignedBlock::New(-5), nullptr);
    EXPECT_EQ(AlignedBlock::NewArray(0), nullptr);
    EXPECT_EQ(AlignedBlock::NewArray(-1), nullptr);
    // The byte size must fit the header's signed 32-bit word.
    EXPECT_EQ(AlignedBlock::New(INT32_MAX), nullptr);
    EXPECT_EQ(AlignedBlock::NewArray(INT32_MAX / 4), nullptr);
    AlignedBlock::Free(nullptr);  // ignored
}

TEST(AlignedBlock, ReallocateGrowsKeepsBytesAndShrinksOnlyWhenAsked) {
    uint8_t* block = AlignedBlock::New(50);
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 50; ++i)
        block[i] = static_cast<uint8_t>(i + 1);

    auto* grown = static_cast<uint8_t*>(AlignedBlock::Reallocate(100, block, false));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(AlignedBlock::Count(grown), 100);
    EXPECT_EQ(AlignedBlock::ByteSize(grown), 100);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(grown[i], i + 1) << i;
    EXPECT_TRUE(AllZero(grown + 50, 50)) << "the new half is zero";
    EXPECT_TRUE(AllZero(grown - 20, 20)) << "reserved header bytes";

    // Grow-only: a smaller count returns the very same block.
    EXPECT_EQ(AlignedBlock::Reallocate(20, grown, false), grown);
    EXPECT_EQ(AlignedBlock::Count(grown), 100);
    EXPECT_EQ(AlignedBlock::Reallocate(100, grown, false), grown);

    // A shrink asked for: a new 20-element block with the first 20 bytes.
    auto* shrunk = static_cast<uint8_t*>(AlignedBlock::Reallocate(20, grown, true));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(AlignedBlock::Count(shrunk), 20);
    EXPECT_EQ(AlignedBlock::ByteSize(shrunk), 20);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(shrunk[i], i + 1) << i;
    AlignedBlock::Free(shrunk);
}

TEST(AlignedBlock, ReallocateToZeroFreesAndNullBecomesNew) {
    for (bool always : {false, true}) {
        void* block = AlignedBlock::New(64);
        EXPECT_EQ(AlignedBlock::Reallocate(0, block, always), nullptr);
        block = AlignedBlock::New(64);
        EXPECT_EQ(AlignedBlock::Reallocate(-3, block, always), nullptr);
    }
    void* fresh = AlignedBlock::Reallocate(12, nullptr, false);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(AlignedBlock::Count(fresh), 12);
    EXPECT_EQ(AlignedBlock::ElementSize(fresh), 1);
    AlignedBlock::Free(fresh);
    EXPECT_EQ(AlignedBlock::Reallocate(0, nullptr, true), nullptr);
}

TEST(AlignedBlock, ReallocateKeepsTheElementSizeOfPointerArrays) {
    void** array = AlignedBlock::NewArray(3);
    int values[3] = {1, 2, 3};
    for (int i = 0; i < 3; ++i)
        array[i] = &values[i];
    auto** grown = static_cast<void**>(AlignedBlock::Reallocate(40, array, false));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(AlignedBlock::ElementSize(grown), static_cast<int32_t>(sizeof(void*)));
    EXPECT_EQ(AlignedBlock::ByteSize(grown), static_cast<int32_t>(40 * sizeof(void*)));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(grown[i], &values[i]) << i;
    for (int i = 3; i < 40; ++i)
        EXPECT_EQ(grown[i], nullptr) << i;
    // A null array becomes a pointer array, not a byte block.
    void** fresh = AlignedBlock::ReallocateArray(4, nullptr, false);
    EXPECT_EQ(AlignedBlock::ByteSize(fresh), static_cast<int32_t>(4 * sizeof(void*)));
    AlignedBlock::Free(fresh);
    AlignedBlock::Free(grown);
}

TEST(AlignedBlock, FailedReallocationFreesTheOldBlockUnlessKept) {
    void** array = AlignedBlock::NewArray(4);
    int value = 7;
    array[0] = &value;
    // Beyond what a header can describe: fails, and the keeping variant
    // leaves the old array to its owner.
    EXPECT_EQ(AlignedBlock::ResizeArrayKeep(INT32_MAX / 2, array, false), nullptr);
    EXPECT_EQ(array[0], &value);
    EXPECT_EQ(AlignedBlock::Count(array), 4);
    // The plain variant fails the same way and takes the old array with it.
    EXPECT_EQ(AlignedBlock::Reallocate(INT32_MAX / 2, array, false), nullptr);
}

TEST(AlignedBlock, GrowByAddsToTheElementCount) {
    uint8_t* block = AlignedBlock::New(10);
    std::memset(block, 0x5A, 10);
    EXPECT_EQ(AlignedBlock::GrowBy(0, block), block);
    EXPECT_EQ(AlignedBlock::GrowBy(-4, block), block) << "never shrinks or frees";
    auto* grown = static_cast<uint8_t*>(AlignedBlock::GrowBy(6, block));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(AlignedBlock::Count(grown), 16);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(grown[i], 0x5A);
    EXPECT_TRUE(AllZero(grown + 10, 6));
    AlignedBlock::Free(grown);

    void* fresh = AlignedBlock::GrowBy(9, nullptr);
    EXPECT_EQ(AlignedBlock::Count(fresh), 9);
    AlignedBlock::Free(fresh);
}

TEST(AlignedBlock, ManyBlocksDoNotOverlap) {
    std::vector<uint8_t*> blocks;
    for (int i = 1; i <= 200; ++i) {
        blocks.push_back(AlignedBlock::New(i * 3));
        ASSERT_NE(blocks.back(), nullptr);
        std::memset(blocks.back(), i & 0xFF, static_cast<size_t>(i * 3));
    }
    for (int i = 1; i <= 200; ++i) {
        uint8_t* block = blocks[static_cast<size_t>(i - 1)];
        EXPECT_EQ(AlignedBlock::ByteSize(block), i * 3) << "header intact";
        for (int j = 0; j < i * 3; ++j)
            ASSERT_EQ(block[j], i & 0xFF) << i;
        AlignedBlock::Free(block);
    }
}

}  // namespace
}  // namespace camvue
