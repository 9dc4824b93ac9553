// FIPS 180-4 SHA-256, written from the standard's description of the compression function.
#include "npcamvue/rtsp/sha256.h"

#include <cstring>

namespace camvue {
namespace {

// First 32 bits of the fractional parts of the cube roots of the first 64 primes.
constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t RotateRight(uint32_t x, uint32_t n) {
    return (x >> n) | (x << (32 - n));
}

void Transform(uint32_t state[8], const uint8_t block[64]) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        // Big-endian words, independent of the host byte order.
        w[i] = (uint32_t{block[i * 4]} << 24) | (uint32_t{block[i * 4 + 1]} << 16) |
               (uint32_t{block[i * 4 + 2]} << 8) | uint32_t{block[i * 4 + 3]};
    }
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 =
            RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 =
            RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        const uint32_t choose = (e & f) ^ (~e & g);
        const uint32_t t1 = h + sum1 + choose + kRound[i] + w[i];
        const uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const uint32_t t2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

void Sha256Init(Sha256Context* ctx) {
    // First 32 bits of the fractional parts of the square roots of the first 8 primes.
    static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(ctx->state, kInitial, sizeof(kInitial));
    ctx->bitCount = 0;
    std::memset(ctx->block, 0, sizeof(ctx->block));
}

void Sha256Update(Sha256Context* ctx, const void* data, size_t length) {
    const uint8_t* in = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>((ctx->bitCount >> 3) & 63);
    ctx->bitCount += static_cast<uint64_t>(length) << 3;
    while (length > 0) {
        size_t take = 64 - used;
        if (take > length)
            take = length;
        std::memcpy(ctx->block + used, in, take);
        used += take;
        in += take;
        length -= take;
        if (used == 64) {
            Transform(ctx->state, ctx->block);
            used = 0;
        }
    }
}

void Sha256Final(Sha256Context* ctx, uint8_t digest[32]) {
    // Pad with 0x80, zeros up to 56 mod 64, then the bit length big-endian.
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<uint8_t>(ctx->bitCount >> (56 - 8 * i));
    const size_t used = static_cast<size_t>((ctx->bitCount >> 3) & 63);
    const size_t pad = used < 56 ? 56 - used : 120 - used;
    static const uint8_t kPadding[64] = {0x80};
    Sha256Update(ctx, kPadding, pad);
    Sha256Update(ctx, length, 8);
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 4; ++j)
            digest[i * 4 + j] = static_cast<uint8_t>(ctx->state[i] >> (24 - 8 * j));
    }
}

void Sha256ToHex(const uint8_t digest[32], char out[kSha256HexSize]) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 15];
    }
    out[64] = '\0';
}

void Sha256Hex(const void* data, size_t length, char out[kSha256HexSize]) {
    Sha256Context ctx;
    Sha256Init(&ctx);
    Sha256Update(&ctx, data, length);
    uint8_t digest[32];
    Sha256Final(&ctx, digest);
    Sha256ToHex(digest, out);
}

}  // namespace camvue
