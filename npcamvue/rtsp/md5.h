// MD5 message digest (RFC 1321), used for Digest authentication.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

// Incremental digest: Md5Init, any number of Md5Update, then Md5Final.
struct Md5Context {
    uint32_t state[4];
    uint64_t bitCount;  // message length in bits, modulo 2^64
    uint8_t block[64];  // partial input block
};

void Md5Init(Md5Context* ctx);
void Md5Update(Md5Context* ctx, const void* data, size_t length);
void Md5Final(Md5Context* ctx, uint8_t digest[16]);

// Lower-case hex of 16 digest bytes in byte order: 32 characters and a NUL.
constexpr size_t kMd5HexSize = 33;
void Md5ToHex(const uint8_t digest[16], char out[kMd5HexSize]);

// One-shot digest of `length` bytes as 32 lower-case hex characters.
void Md5Hex(const void* data, size_t length, char out[kMd5HexSize]);

}  // namespace camvue
