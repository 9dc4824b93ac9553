#include "npcamvue/rtsp/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace camvue {
namespace {

std::string Hex(const std::string& data) {
    char out[kMd5HexSize];
    Md5Hex(data.data(), data.size(), out);
    return out;
}

TEST(Md5, Rfc1321TestSuite) {
    struct Case {
        const char* input;
        const char* digest;
    };
    static const Case kCases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456"
         "7890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Hex(c.input), c.digest) << '"' << c.input << '"';
    }
}

// Lengths around the padding boundary (56 mod 64) and the block size, where
// the length field either fits the last block or needs one more. Digests from
// python3 -c "import hashlib; print(hashlib.md5(b'a'*55).hexdigest())".
TEST(Md5, PaddingBoundariesMatchIndependentDigests) {
    struct Case {
        size_t length;
        const char* digest;
    };
    static const Case kCases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
        {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Hex(std::string(c.length, 'a')), c.digest) << c.length;
    }
}

// Feeding the input in uneven pieces must give the one-shot digest; all byte
// values, so signedness of char cannot leak into the words.
TEST(Md5, IncrementalUpdatesMatchOneShot) {
    uint8_t bytes[256];
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    char oneShot[kMd5HexSize];
    Md5Hex(bytes, sizeof(bytes), oneShot);
    // python3 -c "import hashlib; print(hashlib.md5(bytes(range(256))).hexdigest())"
    EXPECT_STREQ(oneShot, "e2c865db4162bed963bfaa9ef6ac18f0");

    for (size_t step : {size_t{1}, size_t{3}, size_t{63}, size_t{64}, size_t{65}, size_t{200}}) {
        Md5Context ctx;
        Md5Init(&ctx);
        for (size_t at = 0; at < sizeof(bytes); at += step) {
            const size_t n = sizeof(bytes) - at < step ? sizeof(bytes) - at : step;
            Md5Update(&ctx, bytes + at, n);
        }
        uint8_t digest[16];
        Md5Final(&ctx, digest);
        char hex[kMd5HexSize];
        Md5ToHex(digest, hex);
        EXPECT_STREQ(hex, oneShot) << "step " << step;
    }
}

}  // namespace
}  // namespace camvue
