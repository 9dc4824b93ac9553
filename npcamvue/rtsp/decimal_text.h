// Overflow-safe reading of unsigned decimal numbers in protocol text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

// Reads the run of decimal digits at the start of `text` (at most `length`
// characters; a NUL ends the run too). *digits receives the length of the
// whole run, so the caller can step over it even when the number is refused.
// Returns true and sets *value when the run has at least one digit and its
// value is at most `limit`; a value beyond the limit (however many digits)
// returns false and leaves *value alone.
inline bool ReadDecimal(const char* text, size_t length, uint32_t limit, uint32_t* value,
                        size_t* digits) {
    size_t count = 0;
    uint32_t number = 0;
    bool fits = true;
    while (count < length && text[count] >= '0' && text[count] <= '9') {
        const uint32_t digit = static_cast<uint32_t>(text[count] - '0');
        // number * 10 + digit <= limit, checked without overflowing.
        if (fits && digit <= limit && number <= (limit - digit) / 10) {
            number = number * 10 + digit;
        } else {
            fits = false;
        }
        ++count;
    }
    if (digits != nullptr)
        *digits = count;
    if (count == 0 || !fits)
        return false;
    *value = number;
    return true;
}

}  // namespace camvue
