// Base64 with the RFC 4648 standard alphabet and "=" padding, no line breaks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

// Worst-case room the encoder asks for: the encoded length (a multiple of 4),
// plus 2 for every full 76 encoded characters (room for line breaks some
// encoders insert), plus 2. Saturates at SIZE_MAX.
size_t Base64EncodeEstimate(size_t length);

// Encodes `length` bytes into `out` and NUL-terminates it. Refuses (returns
// false, writes nothing) when out is null or the estimate exceeds outSize - 1:
// a 516-byte buffer therefore takes at most 375 input bytes. `encodedLength`,
// when given, receives the number of characters written without the NUL.
bool Base64Encode(const void* data, size_t length, char* out, size_t outSize,
                  size_t* encodedLength = nullptr);

// Decodes `length` characters of `text`, skipping every character outside the
// alphabet (including "=", white space and quotes). Each group of four
// accepted characters gives three bytes; a final group of two or three gives
// one or two (a lone final character gives none). `decodedLength`, when
// given, receives the full decoded length even when `out` is too small. With
// a null `out` only counts. Returns false when `out` was too small for all
// bytes (it then holds the first outSize of them).
bool Base64Decode(const char* text, size_t length, uint8_t* out, size_t outSize,
                  size_t* decodedLength);

}  // namespace camvue
