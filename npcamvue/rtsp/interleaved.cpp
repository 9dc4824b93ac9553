#include "npcamvue/rtsp/interleaved.h"

#include <cstring>
#include <new>

#include "npcamvue/rtsp/read_response.h"

namespace camvue {
namespace {

constexpr uint8_t kFrameMark = '$';
constexpr size_t kFrameHeader = 4;

}  // namespace

InterleavedReader::InterleavedReader() : buffer_(new (std::nothrow) uint8_t[kCapacity]) {}

InterleavedReader::~InterleavedReader() {
    delete[] buffer_;
}

void InterleavedReader::Clear() {
    begin_ = 0;
    end_ = 0;
    discard_ = 0;
}

void InterleavedReader::DropToFrameMark() {
    const uint8_t* at = buffer_ + begin_;
    const size_t have = end_ - begin_;
    const void* mark = have > 1 ? std::memchr(at + 1, kFrameMark, have - 1) : nullptr;
    const size_t drop =
        mark != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(mark) - at) : have;
    begin_ += drop;
    skipped_ += drop;
}

void InterleavedReader::Compact() {
    if (begin_ == 0)
        return;
    std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
}

uint8_t* InterleavedReader::Space(size_t* room) {
    *room = 0;
    if (buffer_ == nullptr)
        return nullptr;
    if (end_ == kCapacity)
        Compact();
    *room = kCapacity - end_;
    return buffer_ + end_;
}

void InterleavedReader::Commit(size_t n) {
    if (buffer_ == nullptr)
        return;
    end_ += n < kCapacity - end_ ? n : kCapacity - end_;
    // The tail of a message too long to keep is dropped as it comes.
    const size_t drop = discard_ < end_ - begin_ ? discard_ : end_ - begin_;
    begin_ += drop;
    discard_ -= drop;
    skipped_ += drop;
}

InterleavedReader::Item InterleavedReader::Next(uint8_t* channel, uint8_t** data, size_t* length) {
    *channel = 0;
    *data = nullptr;
    *length = 0;
    if (buffer_ == nullptr)
        return Item::kNone;
    size_t need = 0;
    for (;;) {
        const size_t have = end_ - begin_;
        if (have == 0) {
            begin_ = end_ = 0;
            return Item::kNone;
        }
        uint8_t* at = buffer_ + begin_;
        if (at[0] == kFrameMark) {
            need = kFrameHeader;
            if (have < kFrameHeader)
                break;
            // A 16-bit length: the frame always fits the buffer.
            const size_t size = (size_t(at[2]) << 8) | at[3];
            need = kFrameHeader + size;
            if (have - kFrameHeader < size)
                break;
            *channel = at[1];
            *data = at + kFrameHeader;
            *length = size;
            begin_ += kFrameHeader + size;
            return Item::kPacket;
        }
        if (at[0] < 'A' || at[0] > 'Z') {
            // Neither a frame nor the start of a message ("RTSP/1.0 ...", a
            // method): drop up to the next frame mark.
            DropToFrameMark();
            continue;
        }
        // An RTSP message: up to its blank line plus its body.
        const size_t look = have < kMaxTextMessage ? have : kMaxTextMessage;
        const size_t expected = ReplyExpectedLength(reinterpret_cast<const char*>(at), look);
        if (expected == 0) {
            need = kMaxTextMessage;
            if (have < kMaxTextMessage)
                break;
            // No blank line where a message would have ended: garbage.
            DropToFrameMark();
            continue;
        }
        if (expected <= have) {
            *data = at;
            *length = expected;
            begin_ += expected;
            return Item::kText;
        }
        if (expected > kCapacity) {
            // A body that cannot be held (an announced length up to
            // SIZE_MAX): skip it as it arrives.
            discard_ = expected - have;
            skipped_ += have;
            begin_ = end_ = 0;
            return Item::kNone;
        }
        need = expected;
        break;
    }
    // Incomplete: make sure the rest of the item can be read in behind it.
    if (need > kCapacity - begin_)
        Compact();
    return Item::kNone;
}

}  // namespace camvue
