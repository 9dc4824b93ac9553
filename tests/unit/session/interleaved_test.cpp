// InterleavedReader: "$" frames and RTSP messages split out of a TCP byte
// stream, whatever the read sizes, and hostile streams dropped cleanly.
#include "npcamvue/rtsp/interleaved.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace camvue::test {
namespace {

std::string Frame(uint8_t channel, const std::string& payload) {
    std::string f = "$";
    f += static_cast<char>(channel);
    f += static_cast<char>(payload.size() >> 8);
    f += static_cast<char>(payload.size() & 0xff);
    return f + payload;
}

// Feeds `stream` in reads of `chunk` bytes (0: one read) and describes every
// item: "0:abc" for a frame on channel 0, "T:<text>" for a message.
std::vector<std::string> Split(InterleavedReader& r, const std::string& stream, size_t chunk) {
    std::vector<std::string> items;
    size_t at = 0;
    for (;;) {
        uint8_t channel = 0;
        uint8_t* data = nullptr;
        size_t length = 0;
        InterleavedReader::Item item;
        while ((item = r.Next(&channel, &data, &length)) != InterleavedReader::Item::kNone) {
            const std::string bytes(reinterpret_cast<const char*>(data), length);
            items.push_back(item == InterleavedReader::Item::kPacket
                                ? std::to_string(channel) + ":" + bytes
                                : "T:" + bytes);
        }
        if (at == stream.size())
            return items;
        size_t room = 0;
        uint8_t* space = r.Space(&room);
        EXPECT_GT(room, 0u);
        size_t n = chunk == 0 ? stream.size() - at : std::min(chunk, stream.size() - at);
        n = std::min(n, room);
        std::memcpy(space, stream.data() + at, n);
        r.Commit(n);
        at += n;
    }
}

const std::string kReply = "RTSP/1.0 200 OK\r\nCSeq: 7\r\n\r\n";
const std::string kBodyReply =
    std::string("RTSP/1.0 200 OK\r\nContent-Length: 6\r\n\r\n$\x01\x00\x02$$", 44);

const std::string kHugeHeader = "RTSP/1.0 200 OK\r\nContent-Length: 70000\r\n\r\n";

struct SplitCase {
    const char* name;
    std::string stream;
    std::vector<std::string> items;
    uint64_t skipped;
};

TEST(InterleavedReader, SplitsFramesAndMessagesAtEveryReadSize) {
    const std::string big(65535, 'x');
    const std::string garbage(9000, 'g');
    const SplitCase cases[] = {
        {"frames back to back",
         Frame(0, "abc") + Frame(1, "rr") + Frame(0, ""),
         {"0:abc", "1:rr", "0:"},
         0},
        {"a reply between frames",
         Frame(0, "a") + kReply + Frame(0, "b"),
         {"0:a", "T:" + kReply, "0:b"},
         0},
        {"'$' inside a reply's body", kBodyReply + Frame(0, "c"), {"T:" + kBodyReply, "0:c"}, 0},
        {"channel 255", Frame(255, "z") + Frame(0, "d"), {"255:z", "0:d"}, 0},
        {"the longest frame", Frame(0, big) + Frame(0, "e"), {"0:" + big, "0:e"}, 0},
        // Not a message start: garbage up to the next frame mark.
        {"binary garbage before a frame", garbage + Frame(0, "f"), {"0:f"}, garbage.size()},
        // No blank line within 8 KiB: not a message after all.
        {"text without an end", std::string(8192, 'G') + Frame(0, "h"), {"0:h"}, 8192},
        // A body too long to hold is skipped as it comes.
        {"an oversized body",
         kHugeHeader + std::string(70000, 'b') + Frame(0, "g"),
         {"0:g"},
         kHugeHeader.size() + 70000},
    };
    for (const SplitCase& c : cases) {
        for (size_t chunk : {size_t(0), size_t(1), size_t(3), size_t(1000), size_t(65536)}) {
            InterleavedReader r;
            ASSERT_TRUE(r.ok());
            EXPECT_EQ(Split(r, c.stream, chunk), c.items) << c.name << ", reads of " << chunk;
            EXPECT_EQ(r.skipped(), c.skipped) << c.name << ", reads of " << chunk;
        }
    }
}

TEST(InterleavedReader, LyingLengthsNeverReadPastTheStream) {
    // A length that promises more than ever comes: nothing is returned, and
    // the next 65535 bytes (whatever they are) make up that frame.
    InterleavedReader r;
    EXPECT_EQ(Split(r, std::string("$\x00\xff\xff", 4) + Frame(0, "hidden"), 0),
              std::vector<std::string>{});
    const std::string rest(65535 - 10, 'r');
    const auto items = Split(r, rest + Frame(0, "next"), 7);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].size(), 2 + 65535u);
    EXPECT_EQ(items[1], "0:next");
    // A header cut short and then the end of the stream: still nothing.
    InterleavedReader cut;
    EXPECT_EQ(Split(cut, std::string("$\x00", 2), 1), std::vector<std::string>{});
    cut.Clear();
    EXPECT_EQ(Split(cut, Frame(0, "after clear"), 2), std::vector<std::string>{"0:after clear"});
}

}  // namespace
}  // namespace camvue::test
