#include "npcamvue/rtp/rbsp_bit_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/rtp/bit_writer.h"

namespace camvue {
namespace {

using testing_support::BitWriter;

// A reader over a NAL unit made of a header byte and the given payload.
struct NalReader {
    explicit NalReader(std::vector<uint8_t> payload) : nal(std::move(payload)) {
        nal.insert(nal.begin(), 0x67);
        InitRbspBitReader(&reader, nal.data(), nal.size());
    }
    std::vector<uint8_t> nal;
    RbspBitReader reader;
};

TEST(RbspBitReader, LimitEndsAtLastNonzeroByte) {
    struct Case {
        std::vector<uint8_t> payload;
        size_t limit;
    };
    const Case cases[] = {
        {{}, 0},
        {{0x00, 0x00}, 0},
        {{0x80}, 1},
        {{0x12, 0x80, 0x00, 0x00}, 2},
        {{0x00, 0x01, 0x00}, 2},
        {{0xFF, 0xFF, 0xFF}, 3},
    };
    for (const Case& c : cases) {
        NalReader r(c.payload);
        EXPECT_EQ(r.reader.limit, c.limit) << ::testing::PrintToString(c.payload);
        EXPECT_EQ(r.reader.bitPos, 0u);
        EXPECT_FALSE(r.reader.failed);
    }
}

TEST(RbspBitReader, EmptyOrHeaderOnlyUnitGivesEmptyReader) {
    const uint8_t header = 0x67;
    RbspBitReader r;
    InitRbspBitReader(&r, &header, 1);
    EXPECT_EQ(r.limit, 0u);
    EXPECT_EQ(RbspU(&r, 1), 0u);
    EXPECT_TRUE(r.failed);
    InitRbspBitReader(&r, &header, 0);
    EXPECT_EQ(r.limit, 0u);
    EXPECT_EQ(RbspUe(&r), 0u);
    EXPECT_TRUE(r.failed);
    InitRbspBitReader(&r, nullptr, 10);
    EXPECT_EQ(r.limit, 0u);
}

TEST(RbspBitReader, ReadsMostSignificantBitFirstAcrossBytes) {
    NalReader r({0xA5, 0x3C, 0xFF, 0x01, 0x80});
    EXPECT_EQ(RbspU(&r.reader, 0), 0u);
    EXPECT_EQ(RbspU(&r.reader, 1), 1u);
    EXPECT_EQ(RbspU(&r.reader, 3), 0x2u);   // 010
    EXPECT_EQ(RbspU(&r.reader, 8), 0x53u);  // 0101 0011
    EXPECT_EQ(RbspU(&r.reader, 4), 0xCu);   // 1100
    EXPECT_EQ(RbspU(&r.reader, 24), 0xFF0180u);
    EXPECT_EQ(r.reader.bitPos, 40u);
    EXPECT_FALSE(r.reader.failed);
}

TEST(RbspBitReader, ThirtyTwoBitRead) {
    NalReader r({0xDE, 0xAD, 0xBE, 0xEF, 0x80});
    EXPECT_EQ(RbspU(&r.reader, 32), 0xDEADBEEFu);
    EXPECT_EQ(RbspU(&r.reader, 33), 0u);
    EXPECT_TRUE(r.reader.failed);
    EXPECT_EQ(r.reader.bitPos, 32u);
}

TEST(RbspBitReader, ReadPastLimitYieldsZeroAndDoesNotMove) {
    // Limit is 2 bytes: the trailing zero bytes are outside.
    NalReader r({0xFF, 0xC0, 0x00, 0x00});
    EXPECT_EQ(RbspU(&r.reader, 12), 0xFFCu);
    EXPECT_EQ(RbspU(&r.reader, 5), 0u);  // 4 bits left
    EXPECT_TRUE(r.reader.failed);
    EXPECT_EQ(r.reader.bitPos, 12u);
    EXPECT_EQ(RbspU(&r.reader, 4), 0u);  // the 4 bits that are there
    EXPECT_EQ(r.reader.bitPos, 16u);
    EXPECT_EQ(RbspU(&r.reader, 1), 0u);
    EXPECT_EQ(r.reader.bitPos, 16u);
}

class UeRoundTrip : public ::testing::TestWithParam<uint64_t> {};

TEST_P(UeRoundTrip, DecodesWhatWasEncoded) {
    BitWriter w;
    w.Ue(GetParam());
    w.U(1, 1);  // a following bit, and the stop bit of the data
    w.TrailingBits();
    NalReader r(w.bytes());
    EXPECT_EQ(RbspUe(&r.reader), GetParam());
    EXPECT_FALSE(r.reader.failed);
    EXPECT_EQ(RbspU(&r.reader, 1), 1u);
}

INSTANTIATE_TEST_SUITE_P(Values, UeRoundTrip,
                         ::testing::Values(0u, 1u, 2u, 3u, 6u, 7u, 254u, 255u, 256u, 65535u,
                                           0x7FFFFFFFu, 0xFFFFFFFEu));

class SeRoundTrip : public ::testing::TestWithParam<int64_t> {};

TEST_P(SeRoundTrip, DecodesWhatWasEncoded) {
    BitWriter w;
    w.Se(GetParam());
    w.TrailingBits();
    NalReader r(w.bytes());
    EXPECT_EQ(RbspSe(&r.reader), GetParam());
    EXPECT_FALSE(r.reader.failed);
}

INSTANTIATE_TEST_SUITE_P(Values, SeRoundTrip,
                         ::testing::Values(0, 1, -1, 2, -2, 127, -128, 0x7FFFFFFF, -0x7FFFFFFF));

TEST(RbspBitReader, SeMapsCodeNumbers) {
    // H.264 9.1.1: codeNum 1, 2, 3, 4 -> 1, -1, 2, -2.
    BitWriter w;
    for (uint64_t k : {1u, 2u, 3u, 4u})
        w.Ue(k);
    w.TrailingBits();
    NalReader r(w.bytes());
    EXPECT_EQ(RbspSe(&r.reader), 1);
    EXPECT_EQ(RbspSe(&r.reader), -1);
    EXPECT_EQ(RbspSe(&r.reader), 2);
    EXPECT_EQ(RbspSe(&r.reader), -2);
}

TEST(RbspBitReader, UeWithThirtyTwoLeadingZerosFails) {
    // 2^32 - 1 needs 32 leading zeros; no ue(v) value is that large.
    BitWriter w;
    w.Ue(0xFFFFFFFFull);
    w.TrailingBits();
    NalReader r(w.bytes());
    EXPECT_EQ(RbspUe(&r.reader), 0u);
    EXPECT_TRUE(r.reader.failed);
    EXPECT_EQ(r.reader.bitPos, 0u);
}

TEST(RbspBitReader, UeCutOffFails) {
    struct Case {
        const char* name;
        std::vector<uint8_t> payload;
    };
    const Case cases[] = {
        // 00000001 then the limit: the 1 is there, its 7 suffix bits are not.
        {"SuffixMissing", {0x01}},
        // Only zeros up to the limit: no terminating 1 at all.
        {"NoOne", {0x00, 0x00, 0x00}},
        {"Empty", {}},
    };
    for (const Case& c : cases) {
        NalReader r(c.payload);
        EXPECT_EQ(RbspUe(&r.reader), 0u) << c.name;
        EXPECT_TRUE(r.reader.failed) << c.name;
        EXPECT_EQ(r.reader.bitPos, 0u) << c.name;
    }
}

TEST(RbspBitReader, RawReaderUsesWholeLength) {
    const uint8_t bytes[] = {0x80, 0x00, 0x00};
    RbspBitReader r;
    InitRawBitReader(&r, bytes, sizeof bytes);
    EXPECT_EQ(r.limit, 3u);
    EXPECT_EQ(RbspU(&r, 24), 0x800000u);
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(RbspBitsLeft(r), 0u);
}

}  // namespace
}  // namespace camvue
