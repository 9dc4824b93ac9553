#include "npcamvue/rtsp/read_response.h"

#include <cstring>

namespace camvue {
namespace {

constexpr uint32_t kPollMs = 50;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Offset of `needle` in data[from, length), or `length` when absent. The data
// may hold NUL bytes from the peer, so every search is length-bounded.
size_t Find(const char* data, size_t length, size_t from, const char* needle, bool ignoreCase) {
    const size_t n = std::strlen(needle);
    for (size_t i = from; i < length && length - i >= n; ++i) {
        size_t k = 0;
        while (k < n &&
               (ignoreCase ? Lower(data[i + k]) == Lower(needle[k]) : data[i + k] == needle[k])) {
            ++k;
        }
        if (k == n)
            return i;
    }
    return length;
}

size_t SaturatingAdd(size_t a, size_t b) {
    return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

}  // namespace

size_t ReplyExpectedLength(const char* data, size_t length) {
    if (data == nullptr)
        return 0;
    const size_t blank = Find(data, length, 0, "\r\n\r\n", false);
    if (blank == length)
        return 0;
    const size_t headerLength = blank + 4;

    // Header names are case-insensitive; the name must start a line so that
    // e.g. "X-Content-Length:" is not taken for it.
    static const char kName[] = "Content-Length:";
    size_t at = 0;
    for (;;) {
        at = Find(data, blank, at, kName, true);
        if (at == blank || at == 0 || data[at - 1] == '\n')
            break;
        ++at;
    }
    if (at == blank)
        return headerLength;

    // Any number of blanks after the colon; digits only; no overflow.
    size_t p = at + sizeof(kName) - 1;
    while (p < blank && (data[p] == ' ' || data[p] == '\t'))
        ++p;
    size_t body = 0;
    for (; p < blank && data[p] >= '0' && data[p] <= '9'; ++p) {
        const size_t digit = static_cast<size_t>(data[p] - '0');
        if (body > (SIZE_MAX - digit) / 10) {
            body = SIZE_MAX;
            break;
        }
        body = body * 10 + digit;
    }
    return SaturatingAdd(headerLength, body);
}

int ReadResponse(Event* abortEvent, char* buffer, SocketHandle socket, int bufferSize,
                 int timeoutMs, SocketHandle secondSocket, uint64_t* firstDatagramTime,
                 ReadEnd* end) {
    if (end != nullptr)
        *end = ReadEnd::kBadArgument;
    if (socket == kInvalidSocket || buffer == nullptr || bufferSize < 1)
        return 0;
    const size_t size = static_cast<size_t>(bufferSize);
    std::memset(buffer, 0, size);
    if (firstDatagramTime != nullptr)
        *firstDatagramTime = 0;
    const size_t readSize = size / 8 > 0 ? size / 8 : 1;
    const uint32_t timeout = timeoutMs > 0 ? static_cast<uint32_t>(timeoutMs) : 0;
    // A monotonic tick for the deadline: a wall-clock step must not end or
    // stretch the wait. Unsigned subtraction survives the 2^32 wrap.
    const uint32_t start = TickCountMs();

    const SocketHandle sockets[2] = {socket, secondSocket};
    const int count = secondSocket != kInvalidSocket ? 2 : 1;
    size_t total = 0;
    ReadEnd reason;
    for (;;) {
        // Keeps every recv, and the NUL after it, inside the buffer.
        if (total + readSize >= size) {
            reason = ReadEnd::kBufferFull;
            break;
        }
        if (abortEvent != nullptr && EventWait(abortEvent, 0)) {
            reason = ReadEnd::kAborted;
            break;
        }
        const uint32_t elapsed = TickCountMs() - start;
        if (elapsed >= timeout) {
            reason = ReadEnd::kTimeout;
            break;
        }
        const uint32_t left = timeout - elapsed;
        bool readable[2] = {false, false};
        const int ready = WaitReadable(sockets, count, left < kPollMs ? left : kPollMs, readable);
        if (ready < 0) {
            reason = ReadEnd::kError;
            break;
        }
        if (ready == 0)
            continue;
        if (count == 2 && readable[1] && firstDatagramTime != nullptr && *firstDatagramTime == 0) {
            *firstDatagramTime = SystemFileTime();
        }
        if (!readable[0]) {
            reason = ReadEnd::kSecondSocket;
            break;
        }
        const int n = SocketRecv(socket, buffer + total, readSize);
        if (n <= 0) {
            reason = n == 0 ? ReadEnd::kClosed : ReadEnd::kError;
            break;
        }
        total += static_cast<size_t>(n);
        const size_t expected = ReplyExpectedLength(buffer, total);
        if (expected != 0 && total >= expected) {
            reason = ReadEnd::kComplete;
            break;
        }
    }
    buffer[total] = '\0';
    if (end != nullptr)
        *end = reason;
    return static_cast<int>(total);
}

}  // namespace camvue
