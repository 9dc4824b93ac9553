// Test helper: writes bit strings the way an encoder would (u(n), ue(v),
// se(v), RBSP trailing bits) and inserts emulation-prevention bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace camvue {
namespace testing_support {

class BitWriter {
  public:
    void U(int bits, uint64_t value) {
        for (int i = bits - 1; i >= 0; --i)
            Bit(static_cast<int>((value >> i) & 1));
    }
    void Ue(uint64_t value) {
        const uint64_t code = value + 1;
        int length = 0;
        while ((code >> length) > 1)
            ++length;
        U(length, 0);
        U(length + 1, code);
    }
    void Se(int64_t value) {
        Ue(value > 0 ? static_cast<uint64_t>(2 * value - 1) : static_cast<uint64_t>(-2 * value));
    }
    // rbsp_stop_one_bit and alignment zeros.
    void TrailingBits() {
        Bit(1);
        while (bitCount_ % 8 != 0)
            Bit(0);
    }
    // Pads the last byte with zeros without a stop bit.
    void Align() {
        while (bitCount_ % 8 != 0)
            Bit(0);
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    void Bit(int bit) {
        if (bitCount_ % 8 == 0)
            bytes_.push_back(0);
        if (bit)
            bytes_.back() |= static_cast<uint8_t>(0x80 >> (bitCount_ % 8));
        ++bitCount_;
    }
    std::vector<uint8_t> bytes_;
    size_t bitCount_ = 0;
};

// H.264 7.4.1: a 03 after every 00 00 that is followed by a byte of at most 3.
inline std::vector<uint8_t> AddEmulationPrevention(const std::vector<uint8_t>& rbsp) {
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = (b == 0) ? zeros + 1 : 0;
    }
    return out;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace testing_support
}  // namespace camvue
