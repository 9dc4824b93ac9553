// RFC 3550 5.1 fixed RTP header, with the CSRC list, the header extension and
// padding, read without ever looking outside the datagram.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

struct RtpHeader {
    bool marker = false;
    uint8_t payloadType = 0;
    uint16_t sequence = 0;  // host byte order
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    // Fixed header, CSRC list and extension. When the CSRC count or the
    // extension runs past the datagram, `complete` is false and the payload
    // is empty.
    size_t headerLength = 0;
    bool complete = false;
    // The last byte of the datagram when the P bit is set.
    size_t padding = 0;
    // Between the header and the padding; 0 when the header and the padding
    // leave nothing (or overlap).
    size_t payloadOffset = 0;
    size_t payloadLength = 0;
};

enum class RtpHeaderStatus {
    kOk,
    kShort,        // fewer than the 12 bytes of the fixed header
    kNotVersion2,  // the top bits of byte 0 are not 10
};

// Extension rule of the cameras this client serves: a 16-bit length L at
// extension offset 2 adds 4 + 4L bytes; L = 0 adds a further 3 plus the value
// of the byte one position after the 4-byte extension header. A byte that
// would lie outside the datagram makes the header incomplete.
RtpHeaderStatus ParseRtpHeader(const uint8_t* data, size_t length, RtpHeader* out);

}  // namespace camvue
