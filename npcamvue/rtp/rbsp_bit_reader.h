// Most-significant-bit-first reader over an H.264 RBSP (H.264 7.2, 9.1). Also
// used, without the stop-bit limit, over MPEG-4 Visual headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

struct RbspBitReader {
    const uint8_t* data = nullptr;  // first byte after the NAL header
    size_t bitPos = 0;              // 0 = most significant bit of data[0]
    size_t limit = 0;               // bytes up to and including the last nonzero byte
    // Set by any read that would pass the limit, and by an Exp-Golomb code
    // longer than 32 bits. Such a read yields 0 and leaves bitPos alone.
    bool failed = false;
};

// Over one NAL unit whose emulation-prevention bytes are already removed:
// skips the header byte and ends the data at the byte holding the stop bit
// (so trailing zero bytes are outside). A unit of length 0 or 1 gives an
// empty reader.
void InitRbspBitReader(RbspBitReader* reader, const uint8_t* nal, size_t nalLength);

// Over plain bytes: no header byte, the limit is the whole length.
void InitRawBitReader(RbspBitReader* reader, const uint8_t* bytes, size_t length);

// u(n), n from 0 to 32.
uint32_t RbspU(RbspBitReader* reader, int bits);
// ue(v): 0 to 2^32 - 2. More than 31 leading zero bits fails.
uint32_t RbspUe(RbspBitReader* reader);
// se(v): the ue(v) value k as (k + 1) / 2 when odd, -(k / 2) when even.
int32_t RbspSe(RbspBitReader* reader);

// Bits left before the limit.
size_t RbspBitsLeft(const RbspBitReader& reader);

}  // namespace camvue
