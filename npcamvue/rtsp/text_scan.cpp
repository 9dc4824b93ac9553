#include "npcamvue/rtsp/text_scan.h"

#include <cstddef>

namespace camvue {
namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const char* FindNoCase(const char* text, const char* needle) {
    if (text == nullptr || needle == nullptr || *needle == '\0')
        return nullptr;
    for (const char* p = text; *p != '\0'; ++p) {
        size_t i = 0;
        while (needle[i] != '\0' && p[i] != '\0' && Lower(p[i]) == Lower(needle[i]))
            ++i;
        if (needle[i] == '\0')
            return p;
    }
    return nullptr;
}

const char* SkipSpaces(const char* p) {
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

bool ScanDecimal(const char* p, uint32_t max, uint32_t* value, const char** end) {
    uint64_t v = 0;
    const char* q = p;
    while (*q >= '0' && *q <= '9') {
        v = v * 10 + static_cast<uint64_t>(*q - '0');
        if (v > max)
            return false;
        ++q;
    }
    if (q == p)
        return false;
    *value = static_cast<uint32_t>(v);
    if (end != nullptr)
        *end = q;
    return true;
}

bool ScanHex32(const char* p, uint32_t* value) {
    uint32_t v = 0;
    int n = 0;
    for (; n < 8 && HexDigitValue(p[n]) >= 0; ++n)
        v = (v << 4) | static_cast<uint32_t>(HexDigitValue(p[n]));
    if (n == 0)
        return false;
    *value = v;
    return true;
}

}  // namespace camvue
