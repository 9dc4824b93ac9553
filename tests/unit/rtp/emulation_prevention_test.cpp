#include "npcamvue/rtp/emulation_prevention.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace camvue {
namespace {

struct EpCase {
    const char* name;
    std::vector<uint8_t> in;
    int expectedLength;  // -1: invalid
    std::vector<uint8_t> out;
};

void PrintTo(const EpCase& c, std::ostream* os) {
    *os << c.name;
}

class EmulationPreventionTest : public ::testing::TestWithParam<EpCase> {};

TEST_P(EmulationPreventionTest, RemovesOrRejects) {
    const EpCase& c = GetParam();
    std::vector<uint8_t> bytes = c.in;
    // Guard bytes after the unit catch any write or look-ahead past its end.
    bytes.push_back(0xEE);
    const int n = RemoveEmulationPrevention(static_cast<int>(c.in.size()), bytes.data());
    ASSERT_EQ(n, c.expectedLength);
    EXPECT_EQ(bytes.back(), 0xEE);
    if (n >= 0) {
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + n), c.out);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Units, EmulationPreventionTest,
    ::testing::Values(
        EpCase{"OneByteUnitIsKept", {0x67}, 1, {0x67}},
        EpCase{"NoEscapes", {0x67, 0x42, 0x00, 0x1E, 0xFF}, 5, {0x67, 0x42, 0x00, 0x1E, 0xFF}},
        EpCase{
            "EscapedZero", {0x67, 0x00, 0x00, 0x03, 0x00, 0x80}, 5, {0x67, 0x00, 0x00, 0x00, 0x80}},
        EpCase{
            "EscapedOne", {0x67, 0x00, 0x00, 0x03, 0x01, 0x80}, 5, {0x67, 0x00, 0x00, 0x01, 0x80}},
        EpCase{"EscapedTwo", {0x67, 0x00, 0x00, 0x03, 0x02}, 4, {0x67, 0x00, 0x00, 0x02}},
        EpCase{"EscapedThree", {0x67, 0x00, 0x00, 0x03, 0x03}, 4, {0x67, 0x00, 0x00, 0x03}},
        EpCase{"EscapeFollowedByFourIsInvalid", {0x67, 0x00, 0x00, 0x03, 0x04}, -1, {}},
        EpCase{"EscapeFollowedByFFIsInvalid", {0x67, 0x00, 0x00, 0x03, 0xFF}, -1, {}},
        EpCase{
            "TrailingEscapeIsDropped", {0x67, 0x80, 0x00, 0x00, 0x03}, 4, {0x67, 0x80, 0x00, 0x00}},
        EpCase{"TrailingZeroZeroStays", {0x67, 0x80, 0x00, 0x00}, 4, {0x67, 0x80, 0x00, 0x00}},
        EpCase{"ThreeZerosInsideIsInvalid", {0x67, 0x11, 0x00, 0x00, 0x00, 0x22}, -1, {}},
        EpCase{"StartCodeInsideIsInvalid", {0x67, 0x00, 0x00, 0x01, 0x22}, -1, {}},
        EpCase{"ZeroZeroTwoIsInvalid", {0x67, 0x00, 0x00, 0x02, 0x22}, -1, {}},
        EpCase{"BackToBackEscapes",
               {0x67, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x01},
               6,
               {0x67, 0x00, 0x00, 0x00, 0x00, 0x01}},
        // The zero count restarts after a removed 03: one zero then 03 is data.
        EpCase{"CountRestartsAfterEscape",
               {0x67, 0x00, 0x00, 0x03, 0x00, 0x03, 0x10},
               6,
               {0x67, 0x00, 0x00, 0x00, 0x03, 0x10}},
        EpCase{"SingleZeroThenThreeIsData", {0x67, 0x00, 0x03, 0x10}, 4, {0x67, 0x00, 0x03, 0x10}},
        // The header byte is not part of the zero count.
        EpCase{"HeaderZeroNotCounted", {0x00, 0x00, 0x03, 0x10}, 4, {0x00, 0x00, 0x03, 0x10}},
        EpCase{
            "EscapeRightAfterHeader", {0x06, 0x00, 0x00, 0x03, 0x00}, 4, {0x06, 0x00, 0x00, 0x00}},
        EpCase{"AllFF", {0xFF, 0xFF, 0xFF, 0xFF}, 4, {0xFF, 0xFF, 0xFF, 0xFF}}),
    [](const ::testing::TestParamInfo<EpCase>& param) { return std::string(param.param.name); });

TEST(EmulationPrevention, RejectsMissingOrEmptyUnit) {
    uint8_t byte = 0x67;
    EXPECT_EQ(RemoveEmulationPrevention(0, &byte), -1);
    EXPECT_EQ(RemoveEmulationPrevention(-4, &byte), -1);
    EXPECT_EQ(RemoveEmulationPrevention(5, nullptr), -1);
    EXPECT_EQ(byte, 0x67);
}

TEST(EmulationPrevention, LongEscapedRunShrinksByOneThird) {
    // 00 00 03 repeated, ending in 00 00 03 00: every 03 goes.
    std::vector<uint8_t> unit{0x65};
    for (int i = 0; i < 1000; ++i)
        unit.insert(unit.end(), {0x00, 0x00, 0x03});
    unit.push_back(0x00);
    const int n = RemoveEmulationPrevention(static_cast<int>(unit.size()), unit.data());
    ASSERT_EQ(n, 1 + 2000 + 1);
    for (int i = 1; i < n; ++i)
        ASSERT_EQ(unit[i], 0x00) << i;
}

}  // namespace
}  // namespace camvue
