// SHA-256 message digest (FIPS 180-4), used for Digest authentication (RFC 7616).
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

// Incremental digest: Sha256Init, any number of Sha256Update, then Sha256Final.
struct Sha256Context {
    uint32_t state[8];
    uint64_t bitCount;  // message length in bits, modulo 2^64
    uint8_t block[64];  // partial input block
};

void Sha256Init(Sha256Context* ctx);
void Sha256Update(Sha256Context* ctx, const void* data, size_t length);
void Sha256Final(Sha256Context* ctx, uint8_t digest[32]);

// Lower-case hex of 32 digest bytes in byte order: 64 characters and a NUL.
constexpr size_t kSha256HexSize = 65;
void Sha256ToHex(const uint8_t digest[32], char out[kSha256HexSize]);

// One-shot digest of `length` bytes as 64 lower-case hex characters.
void Sha256Hex(const void* data, size_t length, char out[kSha256HexSize]);

}  // namespace camvue
