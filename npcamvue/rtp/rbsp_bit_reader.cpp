#include "npcamvue/rtp/rbsp_bit_reader.h"

namespace camvue {
namespace {

// Keeps limit * 8 representable in size_t.
constexpr size_t kMaxLimit = static_cast<size_t>(-1) / 8;

uint32_t BitAt(const RbspBitReader& reader, size_t pos) {
    return (reader.data[pos / 8] >> (7 - pos % 8)) & 1u;
}

}  // namespace

void InitRbspBitReader(RbspBitReader* reader, const uint8_t* nal, size_t nalLength) {
    if (reader == nullptr)
        return;
    *reader = RbspBitReader{};
    if (nal == nullptr || nalLength < 2)
        return;
    reader->data = nal + 1;
    size_t limit = nalLength - 1;
    while (limit > 0 && reader->data[limit - 1] == 0)
        --limit;
    reader->limit = limit < kMaxLimit ? limit : kMaxLimit;
}

void InitRawBitReader(RbspBitReader* reader, const uint8_t* bytes, size_t length) {
    if (reader == nullptr)
        return;
    *reader = RbspBitReader{};
    if (bytes == nullptr)
        return;
    reader->data = bytes;
    reader->limit = length < kMaxLimit ? length : kMaxLimit;
}

size_t RbspBitsLeft(const RbspBitReader& reader) {
    const size_t total = reader.limit * 8;
    return reader.bitPos < total ? total - reader.bitPos : 0;
}

uint32_t RbspU(RbspBitReader* reader, int bits) {
    if (reader == nullptr)
        return 0;
    if (bits < 0 || bits > 32 || RbspBitsLeft(*reader) < static_cast<size_t>(bits)) {
        reader->failed = true;
        return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < bits; ++i) {
        value = (value << 1) | BitAt(*reader, reader->bitPos++);
    }
    return value;
}

uint32_t RbspUe(RbspBitReader* reader) {
    if (reader == nullptr)
        return 0;
    const size_t left = RbspBitsLeft(*reader);
    size_t zeros = 0;
    while (zeros < left && BitAt(*reader, reader->bitPos + zeros) == 0) {
        // 2^32 - 1 + x no longer fits 32 bits: no valid ue(v) is this long.
        if (++zeros > 31) {
            reader->failed = true;
            return 0;
        }
    }
    // The terminating 1 and the zeros-many suffix bits must both be there.
    if (zeros >= left || left - zeros - 1 < zeros) {
        reader->failed = true;
        return 0;
    }
    reader->bitPos += zeros + 1;
    uint64_t suffix = 0;
    for (size_t i = 0; i < zeros; ++i) {
        suffix = (suffix << 1) | BitAt(*reader, reader->bitPos++);
    }
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + suffix);
}

int32_t RbspSe(RbspBitReader* reader) {
    const uint32_t k = RbspUe(reader);
    // k is at most 2^32 - 2, so both results fit in 31 bits of magnitude.
    if (k & 1u)
        return static_cast<int32_t>((k >> 1) + 1);
    return -static_cast<int32_t>(k >> 1);
}

}  // namespace camvue
