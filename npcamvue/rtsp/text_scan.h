// Small scanners over NUL-terminated protocol text. Each stops at the NUL.
#pragma once

#include <cstdint>

namespace camvue {

// Case-insensitive search for `needle` in `text`; null when absent.
const char* FindNoCase(const char* text, const char* needle);

// Skips spaces and tabs.
const char* SkipSpaces(const char* p);

// Reads decimal digits at p (at least one) as a value no larger than max.
// False on no digits or a value above max. *end, when given, gets the first
// byte after the digits.
bool ScanDecimal(const char* p, uint32_t max, uint32_t* value, const char** end);

// Value of one hexadecimal digit (either case), -1 for anything else.
int HexDigitValue(char c);

// Reads 1 to 8 hexadecimal digits at p.
bool ScanHex32(const char* p, uint32_t* value);

}  // namespace camvue
