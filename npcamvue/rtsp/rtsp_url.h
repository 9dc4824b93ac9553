// Splitting of the configured "rtsp://" address into the parts the session
// needs: credentials, server host and port, and the path for request URLs.
#pragma once

#include <cstdint>
#include <string>

namespace camvue {

struct RtspUrl {
    std::string user;
    std::string password;
    std::string host;  // dotted IPv4 text or a host name, at most kMaxHostLength characters
    std::string path;  // from the first "/" after the host on; empty when none
    uint16_t port = 554;
    bool hasUser = false;      // user information ("...@") was given
    bool hasPassword = false;  // ... and it held a ":"
};

// The session keeps the host in a 16-byte field: dotted IPv4 text never needs
// more, and host names are held to the same length.
constexpr size_t kMaxHostLength = 15;

enum class HostKind {
    kInvalid,  // neither; also empty or longer than kMaxHostLength
    kIpv4,     // dotted IPv4 text (ParseIpv4): used as it is
    kName,     // a host name, for the system resolver
};

// A host name is made of labels of letters, digits and "-" (1 to 63
// characters, no "-" first or last) joined by single dots. Text whose labels
// are all numbers (decimal, or "0x" and hex digits) but which is not dotted
// IPv4 is refused: a resolver would read "10.1" or "0x7f000001" as an
// address in a form the session never takes.
HostKind ClassifyHost(const std::string& host);

// rtsp://[user[:password]@]host[:port][/path]
//
// The user information ends at the first "@" of the address; the user name
// at its first ":" (the password may hold more). The host ends at the first
// ":" or "/" after it, the path starts at that "/" and keeps it. Returns false,
// and leaves *out alone, when the address is null, 8 characters or shorter,
// does not start with "rtsp://" (scheme case ignored), has a host that is
// neither dotted IPv4 text nor a host name (ClassifyHost), or a port that is not a decimal number
// from 1 to 65535 (empty, signed, trailing junk, out of range).
bool ParseRtspUrl(const char* address, RtspUrl* out);

}  // namespace camvue
