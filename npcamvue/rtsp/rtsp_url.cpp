#include "npcamvue/rtsp/rtsp_url.h"

#include <utility>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtsp/decimal_text.h"

namespace camvue {
namespace {

constexpr char kScheme[] = "rtsp://";
constexpr size_t kSchemeLength = sizeof(kScheme) - 1;
constexpr size_t kMinAddressLength = 9;  // an address must be longer than 8 characters

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool HasScheme(const std::string& address) {
    if (address.size() < kSchemeLength)
        return false;
    for (size_t i = 0; i < kSchemeLength; ++i) {
        if (Lower(address[i]) != kScheme[i])
            return false;
    }
    return true;
}

constexpr size_t kMaxLabelLength = 63;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A number as inet_aton reads one part of an address: decimal, octal
// (leading 0) or hex ("0x" and hex digits).
bool IsNumberLabel(const std::string& label) {
    if (label.size() >= 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X')) {
        for (size_t i = 2; i < label.size(); ++i) {
            if (!IsHexDigit(label[i]))
                return false;
        }
        return true;
    }
    for (char c : label) {
        if (!IsDigit(c))
            return false;
    }
    return true;
}

bool IsNameLabel(const std::string& label) {
    if (label.empty() || label.size() > kMaxLabelLength || label.front() == '-' ||
        label.back() == '-') {
        return false;
    }
    for (char c : label) {
        if (!IsLetter(c) && !IsDigit(c) && c != '-')
            return false;
    }
    return true;
}

}  // namespace

HostKind ClassifyHost(const std::string& host) {
    if (host.empty() || host.size() > kMaxHostLength)
        return HostKind::kInvalid;
    uint32_t address = 0;
    if (ParseIpv4(host.c_str(), &address))
        return HostKind::kIpv4;
    bool allNumbers = true;
    size_t start = 0;
    for (;;) {
        const size_t dot = host.find('.', start);
        const std::string label =
            host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!IsNameLabel(label))
            return HostKind::kInvalid;
        allNumbers = allNumbers && IsNumberLabel(label);
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return allNumbers ? HostKind::kInvalid : HostKind::kName;
}

bool ParseRtspUrl(const char* address, RtspUrl* out) {
    if (address == nullptr || out == nullptr)
        return false;
    const std::string text(address);
    if (text.size() < kMinAddressLength || !HasScheme(text))
        return false;

    RtspUrl url;
    size_t hostStart = kSchemeLength;
    const size_t at = text.find('@', hostStart);
    if (at != std::string::npos) {
        const std::string info = text.substr(hostStart, at - hostStart);
        const size_t colon = info.find(':');
        url.hasUser = true;
        url.user = info.substr(0, colon);
        if (colon != std::string::npos) {
            url.hasPassword = true;
            url.password = info.substr(colon + 1);
        }
        hostStart = at + 1;
    }

    // Without a "/" the address ends with the host (and port): empty path.
    const size_t slash = text.find('/', hostStart);
    const size_t hostPartEnd = slash == std::string::npos ? text.size() : slash;
    const size_t colon = text.find(':', hostStart);
    size_t hostEnd = hostPartEnd;
    if (colon != std::string::npos && colon < hostPartEnd) {
        hostEnd = colon;
        const size_t portStart = colon + 1;
        const size_t portLength = hostPartEnd - portStart;
        uint32_t port = 0;
        size_t digits = 0;
        if (!ReadDecimal(text.c_str() + portStart, portLength, 65535, &port, &digits) ||
            digits != portLength || port == 0) {
            return false;
        }
        url.port = static_cast<uint16_t>(port);
    }
    url.host = text.substr(hostStart, hostEnd - hostStart);
    if (ClassifyHost(url.host) == HostKind::kInvalid)
        return false;
    if (slash != std::string::npos)
        url.path = text.substr(slash);

    *out = std::move(url);
    return true;
}

}  // namespace camvue
