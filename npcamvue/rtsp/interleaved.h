// RTSP interleaved binary data (RFC 2326 10.12): on the control connection,
// "$", a channel byte and a 16-bit big-endian length frame each RTP or RTCP
// packet; RTSP replies (and requests from the server) may come between
// frames. The reader splits the byte stream into those items, whatever the
// sizes of the reads that brought it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

class InterleavedReader {
  public:
    // The longest frame ("$", channel, 16-bit length, 65535 bytes) and room to
    // read behind it.
    static constexpr size_t kCapacity = 4 + 65535 + 4096;
    // A text message whose blank line has not come within this many bytes is
    // taken for garbage: its first byte is dropped and reading resynchronises.
    static constexpr size_t kMaxTextMessage = 8192;

    enum class Item {
        kNone,    // no complete item buffered: read more
        kPacket,  // a "$" frame; *channel, *data and *length describe it
        kText,    // an RTSP message (header and Content-Length body)
    };

    InterleavedReader();
    ~InterleavedReader();
    InterleavedReader(const InterleavedReader&) = delete;
    InterleavedReader& operator=(const InterleavedReader&) = delete;

    // False when the buffer could not be allocated.
    bool ok() const { return buffer_ != nullptr; }
    void Clear();

    // Where the next read may put its bytes, and how many fit (never 0 once
    // every buffered item has been taken).
    uint8_t* Space(size_t* room);
    // `n` bytes were written at Space(); n beyond the room is clipped.
    void Commit(size_t n);

    // The next complete item. Its bytes stay valid (and may be rewritten in
    // place) until the next call of Next, Space, Commit or Clear.
    Item Next(uint8_t* channel, uint8_t** data, size_t* length);

    // Bytes skipped while resynchronising after garbage.
    uint64_t skipped() const { return skipped_; }

  private:
    void Compact();
    // Skips the byte at begin_ and everything up to the next "$".
    void DropToFrameMark();

    uint8_t* buffer_ = nullptr;
    size_t begin_ = 0;    // first unread byte
    size_t end_ = 0;      // one past the last buffered byte
    size_t discard_ = 0;  // bytes still to drop of a message too long to keep
    uint64_t skipped_ = 0;
};

}  // namespace camvue
