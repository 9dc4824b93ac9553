// Splitting of the configured "rtsp://" address into the parts the session
// needs: credentials, server host and port, and the path for request URLs.
#pragma once

#include <cstdint>
#include <string>

namespace camvue {

struct RtspUrl {
    std::string user;
    std::string password;
    std::string host;  // dotted IPv4 text, at most kMaxHostLength characters
    std::string path;  // from the first "/" after the host on; empty when none
    uint16_t port = 554;
    bool hasUser = false;      // user information ("...@") was given
    bool hasPassword = false;  // ... and it held a ":"
};

// The session keeps the host in a 16-byte field: dotted IPv4 text never needs
// more (no host-name lookup is done).
constexpr size_t kMaxHostLength = 15;

// rtsp://[user[:password]@]host[:port][/path]
//
// The user information ends at the first "@" of the address; the user name
// at its first ":" (the password may hold more). The host ends at the first
// ":" or "/" after it, the path starts at that "/" and keeps it. Returns false,
// and leaves *out alone, when the address is null, 8 characters or shorter,
// does not start with "rtsp://" (scheme case ignored), has an empty host or
// one longer than kMaxHostLength, or a port that is not a decimal number from
// 1 to 65535 (empty, signed, trailing junk, out of range).
bool ParseRtspUrl(const char* address, RtspUrl* out);

}  // namespace camvue
