#include "npcamvue/rtsp/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace camvue {
namespace {

struct Vector {
    const char* plain;
    const char* encoded;
};

// RFC 4648 section 10.
const Vector kRfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

std::string Decode(const std::string& text, bool* fits = nullptr) {
    uint8_t out[64];
    size_t n = 0;
    const bool ok = Base64Decode(text.data(), text.size(), out, sizeof(out), &n);
    if (fits != nullptr)
        *fits = ok;
    return std::string(reinterpret_cast<const char*>(out), n < sizeof(out) ? n : sizeof(out));
}

TEST(Base64, Rfc4648VectorsBothWays) {
    for (const Vector& v : kRfc4648) {
        char out[32];
        size_t length = 99;
        ASSERT_TRUE(Base64Encode(v.plain, std::strlen(v.plain), out, sizeof(out), &length))
            << v.plain;
        EXPECT_STREQ(out, v.encoded);
        EXPECT_EQ(length, std::strlen(v.encoded));
        bool fits = false;
        EXPECT_EQ(Decode(v.encoded, &fits), v.plain);
        EXPECT_TRUE(fits);
    }
}

// The refusal rule Basic relies on: estimate = encoded length + 2 per full 76
// encoded characters + 2 must not exceed the capacity minus one.
TEST(Base64, EncodeRefusesWhenEstimateExceedsCapacity) {
    struct Case {
        size_t inputLength;
        size_t outSize;
        bool accepted;
    };
    static const Case kCases[] = {
        {3, 7, true},                         // 4 + 0 + 2 = 6 <= 6
        {3, 6, false},                        // 6 > 5
        {0, 3, true},                         // empty input still needs the estimate's 2
        {0, 2, false},     {57, 81, true},    // 76 encoded: 76 + 2 + 2 = 80 <= 80
        {57, 80, false},   {375, 516, true},  // 500 + 12 + 2 = 514
        {376, 516, false},                    // 504 + 12 + 2 = 518
    };
    for (const Case& c : kCases) {
        const std::string input(c.inputLength, 'x');
        std::vector<char> out(c.outSize, '#');
        EXPECT_EQ(Base64Encode(input.data(), input.size(), out.data(), out.size()), c.accepted)
            << c.inputLength << " into " << c.outSize;
        if (!c.accepted) {
            EXPECT_EQ(out[0], '#') << "a refused encode wrote into the buffer";
        }
    }
    char out[8];
    EXPECT_FALSE(Base64Encode("abc", 3, nullptr, 8));
    EXPECT_FALSE(Base64Encode("abc", 3, out, 0));
    EXPECT_FALSE(Base64Encode(nullptr, 3, out, sizeof(out)));
    EXPECT_EQ(Base64EncodeEstimate(SIZE_MAX), SIZE_MAX);
}

TEST(Base64, DecodeSkipsCharactersOutsideTheAlphabet) {
    struct Case {
        const char* text;
        const char* plain;
    };
    static const Case kCases[] = {
        {"Zm9v\r\nYmFy", "foobar"},
        {"\"Zm 9v\tYm Fy\"", "foobar"},
        {"Zm9vYg", "foob"},  // missing padding: the short group still counts
        {"Zm9vYmE", "fooba"},
        {"Zm9vY", "foo"},  // a lone final character carries no whole byte
        {"Zg==Zm8=",
         "f\x06"
         "f"},  // "=" is skipped, not an end: "ZgZm" + lone "8"
        {"!!==**", ""},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Decode(c.text), c.plain) << c.text;
    }
}

TEST(Base64, DecodeCountsWithoutOutputAndReportsTooSmallOutput) {
    const char* text = "Zm9vYmFy";  // foobar
    size_t n = 0;
    EXPECT_TRUE(Base64Decode(text, std::strlen(text), nullptr, 0, &n));
    EXPECT_EQ(n, 6u);

    uint8_t out[6] = {0, 0, 0, 0, 0xEE, 0xEE};
    n = 0;
    EXPECT_FALSE(Base64Decode(text, std::strlen(text), out, 4, &n));
    EXPECT_EQ(n, 6u) << "counting goes on after the output is full";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "foob");
    EXPECT_EQ(out[4], 0xEE) << "wrote past the given size";

    EXPECT_TRUE(Base64Decode(nullptr, 0, out, sizeof(out), &n));
    EXPECT_EQ(n, 0u);
}

TEST(Base64, EveryByteValueRoundTrips) {
    uint8_t bytes[256];
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<uint8_t>(255 - i);
    char encoded[400];
    size_t length = 0;
    ASSERT_TRUE(Base64Encode(bytes, sizeof(bytes), encoded, sizeof(encoded), &length));
    uint8_t decoded[256];
    size_t n = 0;
    EXPECT_TRUE(Base64Decode(encoded, length, decoded, sizeof(decoded), &n));
    ASSERT_EQ(n, sizeof(bytes));
    EXPECT_EQ(std::memcmp(decoded, bytes, sizeof(bytes)), 0);
}

}  // namespace
}  // namespace camvue
