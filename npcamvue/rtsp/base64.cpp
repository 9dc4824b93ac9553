#include "npcamvue/rtsp/base64.h"

#include <cstdint>

namespace camvue {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Alphabet index of c, or -1 for a character the decoder skips.
int DecodeChar(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

size_t Base64EncodeEstimate(size_t length) {
    const size_t groups = length / 3 + (length % 3 != 0 ? 1 : 0);
    // 4g + 2 * (4g / 76) + 2 stays below 5g + 2; refuse sizes that could wrap.
    if (groups > (SIZE_MAX - 2) / 5)
        return SIZE_MAX;
    const size_t encoded = groups * 4;
    return encoded + 2 * (encoded / 76) + 2;
}

bool Base64Encode(const void* data, size_t length, char* out, size_t outSize,
                  size_t* encodedLength) {
    if (out == nullptr || outSize == 0)
        return false;
    if (data == nullptr && length != 0)
        return false;
    // The estimate exceeds the encoded length by at least 2, so passing it
    // means the output and its NUL fit.
    if (Base64EncodeEstimate(length) > outSize - 1)
        return false;
    const uint8_t* in = static_cast<const uint8_t*>(data);
    size_t o = 0;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = kAlphabet[(v >> 6) & 63];
        out[o++] = kAlphabet[v & 63];
    }
    const size_t rest = length - i;
    if (rest != 0) {
        uint32_t v = uint32_t{in[i]} << 16;
        if (rest == 2)
            v |= uint32_t{in[i + 1]} << 8;
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out[o++] = '=';
    }
    out[o] = '\0';
    if (encodedLength != nullptr)
        *encodedLength = o;
    return true;
}

bool Base64Decode(const char* text, size_t length, uint8_t* out, size_t outSize,
                  size_t* decodedLength) {
    size_t count = 0;
    bool fits = true;
    auto put = [&](uint8_t byte) {
        if (out != nullptr) {
            if (count < outSize) {
                out[count] = byte;
            } else {
                fits = false;
            }
        }
        ++count;
    };
    uint32_t bits = 0;
    int have = 0;
    for (size_t i = 0; text != nullptr && i < length; ++i) {
        const int v = DecodeChar(static_cast<unsigned char>(text[i]));
        if (v < 0)
            continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++have == 4) {
            put(static_cast<uint8_t>(bits >> 16));
            put(static_cast<uint8_t>(bits >> 8));
            put(static_cast<uint8_t>(bits));
            bits = 0;
            have = 0;
        }
    }
    // A final short group: 2 characters carry 1 byte, 3 carry 2.
    if (have == 2) {
        put(static_cast<uint8_t>(bits >> 4));
    } else if (have == 3) {
        put(static_cast<uint8_t>(bits >> 10));
        put(static_cast<uint8_t>(bits >> 2));
    }
    if (decodedLength != nullptr)
        *decodedLength = count;
    return fits;
}

}  // namespace camvue
