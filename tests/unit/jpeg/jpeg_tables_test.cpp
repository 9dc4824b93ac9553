// Quantization table scaling (RFC 2435 4.2) and the standard Huffman tables.
// The tables themselves are checked against real encoders in
// jpeg_fixture_test.cpp.
#include "npcamvue/rtp/jpeg_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace camvue {
namespace {

struct ScaleCase {
    int q;
    // Entries 0, 2 and 63 of the luminance table, 0 and 63 of the chrominance
    // table, worked out by hand from the base tables (16, 10, 99; 17, 99).
    int luma0, luma2, luma63, chroma0, chroma63;
};

TEST(ScaleQuantTables, HandComputedEntries) {
    const ScaleCase cases[] = {
        {50, 16, 10, 99, 17, 99},      // factor 100: the base tables
        {80, 6, 4, 40, 7, 40},         // factor 40
        {25, 32, 20, 198, 34, 198},    // factor 200
        {10, 80, 50, 255, 85, 255},    // factor 500, 495 limited to 255
        {49, 16, 10, 101, 17, 101},    // factor 5000 / 49 = 102
        {51, 16, 10, 97, 17, 97},      // factor 98
        {99, 1, 1, 2, 1, 2},           // factor 2: (32 + 50) / 100 = 0, limited to 1
        {100, 1, 1, 2, 1, 2},          // limited to 99
        {127, 1, 1, 2, 1, 2},          // limited to 99
        {255, 1, 1, 2, 1, 2},          // in-band Q without tables: as Q 99
        {1, 255, 255, 255, 255, 255},  // factor 5000
        {0, 255, 255, 255, 255, 255},  // limited to 1
        {-7, 255, 255, 255, 255, 255},
    };
    for (const ScaleCase& c : cases) {
        SCOPED_TRACE(c.q);
        uint8_t luma[64];
        uint8_t chroma[64];
        ScaleQuantTables(c.q, luma, chroma);
        EXPECT_EQ(luma[0], c.luma0);
        EXPECT_EQ(luma[2], c.luma2);
        EXPECT_EQ(luma[63], c.luma63);
        EXPECT_EQ(chroma[0], c.chroma0);
        EXPECT_EQ(chroma[63], c.chroma63);
    }
}

TEST(ScaleQuantTables, Q50GivesTheBaseTables) {
    uint8_t luma[64];
    uint8_t chroma[64];
    ScaleQuantTables(50, luma, chroma);
    for (size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(luma[i], kJpegLumaQuantBase[i]) << i;
        EXPECT_EQ(chroma[i], kJpegChromaQuantBase[i]) << i;
    }
}

// Over every Q byte: entries stay within 1..255 and never grow with Q.
TEST(ScaleQuantTables, EntriesInRangeAndFallingWithQ) {
    uint8_t previousLuma[64];
    uint8_t previousChroma[64];
    ScaleQuantTables(0, previousLuma, previousChroma);
    for (int q = 0; q <= 255; ++q) {
        uint8_t luma[64];
        uint8_t chroma[64];
        ScaleQuantTables(q, luma, chroma);
        for (size_t i = 0; i < 64; ++i) {
            ASSERT_GE(luma[i], 1) << q << " " << i;
            ASSERT_GE(chroma[i], 1) << q << " " << i;
            ASSERT_LE(luma[i], previousLuma[i]) << q << " " << i;
            ASSERT_LE(chroma[i], previousChroma[i]) << q << " " << i;
            previousLuma[i] = luma[i];
            previousChroma[i] = chroma[i];
        }
    }
}

TEST(ScaleQuantTables, FillsTheStreamTablesAndMarksThemPresent) {
    StreamState stream;
    ASSERT_FALSE(stream.jpegLumaSet);
    ScaleQuantTables(80, stream);
    EXPECT_TRUE(stream.jpegLumaSet);
    EXPECT_TRUE(stream.jpegChromaSet);
    EXPECT_EQ(stream.jpegLuma[0], 6);
    EXPECT_EQ(stream.jpegChroma[0], 7);
}

// T.81 Annex C: the code lengths must describe a prefix code that never runs
// out of codes of a length and never uses the all-ones code (T.81 C, note);
// DC tables carry each category 0..11 once, AC tables each run/size once.
TEST(ScaleQuantTables, ComputedOncePerQAndRecomputedAfterInBandTables) {
    StreamState stream;
    ScaleQuantTables(80, stream);
    uint8_t q80[64];
    std::copy(stream.jpegLuma, stream.jpegLuma + 64, q80);
    EXPECT_EQ(stream.jpegScaledQ, 80);

    // In-band tables replaced the computed ones: the same Q must compute
    // them again rather than keep the in-band ones.
    std::fill(stream.jpegLuma, stream.jpegLuma + 64, uint8_t{7});
    stream.jpegScaledQ = -1;
    ScaleQuantTables(80, stream);
    EXPECT_TRUE(std::equal(q80, q80 + 64, stream.jpegLuma));

    // A different Q recomputes.
    ScaleQuantTables(20, stream);
    EXPECT_EQ(stream.jpegScaledQ, 20);
    EXPECT_FALSE(std::equal(q80, q80 + 64, stream.jpegLuma));
}

TEST(HuffmanTables, AreValidCanonicalCodes) {
    const char* names[4] = {"luma DC", "luma AC", "chroma DC", "chroma AC"};
    const size_t sizes[4] = {12, 162, 12, 162};
    for (size_t t = 0; t < 4; ++t) {
        SCOPED_TRACE(names[t]);
        const JpegHuffmanTable& table = kJpegHuffmanTables[t];
        EXPECT_EQ(table.valueCount, sizes[t]);
        EXPECT_EQ(HuffmanValueCount(table.counts), table.valueCount);
        uint32_t code = 0;
        for (int length = 1; length <= 16; ++length) {
            code += table.counts[length - 1];
            ASSERT_LE(code, (1u << length) - 1) << "codes of length " << length;
            code <<= 1;
        }
        std::set<uint8_t> seen(table.values, table.values + table.valueCount);
        EXPECT_EQ(seen.size(), table.valueCount) << "a value appears twice";
        const bool dc = (table.classAndId >> 4) == 0;
        for (uint8_t v : seen) {
            if (dc) {
                EXPECT_LE(v, 11);
            } else {
                // Run 0..15, size 1..10; 0x00 (EOB) and 0xF0 (ZRL) besides.
                EXPECT_TRUE(v == 0x00 || v == 0xF0 || ((v & 0x0F) >= 1 && (v & 0x0F) <= 10))
                    << static_cast<int>(v);
            }
        }
    }
    EXPECT_EQ(kJpegHuffmanTables[0].classAndId, 0x00);
    EXPECT_EQ(kJpegHuffmanTables[1].classAndId, 0x10);
    EXPECT_EQ(kJpegHuffmanTables[2].classAndId, 0x01);
    EXPECT_EQ(kJpegHuffmanTables[3].classAndId, 0x11);
}

}  // namespace
}  // namespace camvue
