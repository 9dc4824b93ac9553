// SHA-256 against the FIPS 180-2 example vectors, padding boundaries and split updates.
#include "npcamvue/rtsp/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace camvue {
namespace {

std::string Hex(const std::string& data) {
    char out[kSha256HexSize];
    Sha256Hex(data.data(), data.size(), out);
    return out;
}

// Lengths 55 to 64 sit on both sides of the padding boundary (56
// mod 64), where the length field either fits the last block or needs one
// more. Digests other than the FIPS examples from
// python3 -c "import hashlib; print(hashlib.sha256(b'a'*55).hexdigest())".
TEST(Sha256, FipsExamplesAndPaddingBoundaries) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case kCases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnop"
         "qrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(Hex(c.input), c.digest) << c.input.size() << " bytes: " << c.input.substr(0, 20);
    }
}

// The FIPS million 'a' example fed in 999-byte pieces that straddle block edges.
TEST(Sha256, MillionAInPiecesAndAllByteValues) {
    const std::string chunk(999, 'a');
    Sha256Context ctx;
    Sha256Init(&ctx);
    size_t fed = 0;
    while (fed < 1000000) {
        const size_t n = 1000000 - fed < chunk.size() ? 1000000 - fed : chunk.size();
        Sha256Update(&ctx, chunk.data(), n);
        fed += n;
    }
    uint8_t digest[32];
    Sha256Final(&ctx, digest);
    char hex[kSha256HexSize];
    Sha256ToHex(digest, hex);
    EXPECT_STREQ(hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    // All byte values: the signedness of char must not leak into the words.
    uint8_t bytes[256];
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    // python3 -c "import hashlib; print(hashlib.sha256(bytes(range(256))).hexdigest())"
    Sha256Hex(bytes, sizeof(bytes), hex);
    EXPECT_STREQ(hex, "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880");
}

}  // namespace
}  // namespace camvue
