#include "npcamvue/rtsp/rtcp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace camvue {
namespace {

TEST(ReceiverReport, FallbackCnameGivesTheSixtyFourByteCompound) {
    uint8_t out[128];
    size_t n = BuildReceiverReport(out, sizeof(out), 0x1234, 0xA1B2C3D4, 0xBEEF, nullptr, 0);
    ASSERT_EQ(n, 64u);
    const uint8_t rr[32] = {0x81, 201, 0, 7, 0, 0, 0x12, 0x34, 0xA1, 0xB2, 0xC3,
                            0xD4, 0,   0, 0, 0, 0, 0,    0xBE, 0xEF, 0,    0,
                            0,    0,   0, 0, 0, 0, 0,    0,    0,    0};
    EXPECT_EQ(std::memcmp(out, rr, 32), 0);
    EXPECT_EQ(out[32], 0x81);
    EXPECT_EQ(out[33], 202);
    EXPECT_EQ(out[34], 0);
    EXPECT_EQ(out[35], 7);  // 32 bytes of SDES
    EXPECT_EQ(out[39], 0x34);
    EXPECT_EQ(out[40], 1);   // CNAME
    EXPECT_EQ(out[41], 20);  // 19 characters and the zero after them
    EXPECT_EQ(std::memcmp(out + 42, "Corvina@UnknownHost", 19), 0);
    for (size_t i = 61; i < 64; ++i)
        EXPECT_EQ(out[i], 0) << i;
}

TEST(ReceiverReport, SdesIsPaddedToWordsWithATerminatingZero) {
    for (size_t len = 1; len <= 40; ++len) {
        std::string cname(len, 'c');
        uint8_t out[256];
        std::memset(out, 0xEE, sizeof(out));
        size_t n = BuildReceiverReport(out, sizeof(out), 1, 0, 0, cname.c_str(), len);
        ASSERT_GT(n, 32u);
        const size_t sdes = n - 32;
        EXPECT_EQ(sdes % 4, 0u) << len;
        EXPECT_EQ((size_t(out[34]) << 8 | out[35]) + 1, sdes / 4) << len;
        // text, its counted zero, then at least one more zero ending the list
        EXPECT_GE(sdes, 8 + 2 + len + 2) << len;
        for (size_t i = 32 + 10 + len; i < n; ++i)
            EXPECT_EQ(out[i], 0) << len << " at " << i;
    }
}

TEST(ReceiverReport, RefusesWhatDoesNotFit) {
    uint8_t out[63];
    EXPECT_EQ(BuildReceiverReport(out, sizeof(out), 1, 0, 0, nullptr, 0), 0u);
    std::string huge(255, 'x');
    uint8_t big[600];
    EXPECT_EQ(BuildReceiverReport(big, sizeof(big), 1, 0, 0, huge.c_str(), huge.size()), 0u);
}

}  // namespace
}  // namespace camvue
