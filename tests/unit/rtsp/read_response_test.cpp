#include "npcamvue/rtsp/read_response.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "npcamvue/platform/platform.h"

namespace camvue {
namespace {

// A connected loopback TCP pair: `client` is read by ReadResponse, `server`
// plays the camera.
struct Loopback {
    SocketHandle client = kInvalidSocket;
    SocketHandle server = kInvalidSocket;

    Loopback() {
        SocketHandle listener = TcpSocket();
        if (listener == kInvalidSocket)
            return;
        if (SocketBind(listener, "127.0.0.1", 0) && SocketListen(listener, 1)) {
            client = TcpSocket();
            if (!SocketConnect(client, "127.0.0.1", SocketLocalPort(listener))) {
                CloseSocket(client);
                client = kInvalidSocket;
            } else {
                server = SocketAccept(listener);
            }
        }
        CloseSocket(listener);
    }
    ~Loopback() {
        CloseSocket(client);
        CloseSocket(server);
    }
    bool ok() const { return client != kInvalidSocket && server != kInvalidSocket; }
    void CloseServer() {
        CloseSocket(server);
        server = kInvalidSocket;
    }
    void Send(const std::string& data) const {
        ASSERT_EQ(SocketSend(server, data.data(), data.size()), static_cast<int>(data.size()));
    }
};

// Sends each segment after the given delay, on its own thread.
class Peer {
  public:
    struct Segment {
        uint32_t delayMs;
        std::string data;
    };
    // With closeAfter the peer closes its end after the last segment.
    Peer(Loopback& link, std::vector<Segment> segments, bool closeAfter = false)
        : thread_([&link, segments, closeAfter] {
              for (const Segment& s : segments) {
                  SleepMs(s.delayMs);
                  SocketSend(link.server, s.data.data(), s.data.size());
              }
              if (closeAfter)
                  link.CloseServer();
          }) {}
    ~Peer() { thread_.join(); }

  private:
    std::thread thread_;
};

struct Result {
    int count;
    ReadEnd end;
    std::string text;  // up to the NUL ReadResponse wrote
    uint32_t elapsedMs;
};

Result Read(const Loopback& link, int bufferSize, int timeoutMs, Event* abort = nullptr) {
    std::vector<char> buffer(static_cast<size_t>(bufferSize), 'Z');
    Result r{};
    const uint32_t start = TickCountMs();
    r.count = ReadResponse(abort, buffer.data(), link.client, bufferSize, timeoutMs, kInvalidSocket,
                           nullptr, &r.end);
    r.elapsedMs = TickCountMs() - start;
    EXPECT_GE(r.count, 0);
    EXPECT_LT(r.count, bufferSize);
    if (r.count >= 0 && r.count < bufferSize) {
        EXPECT_EQ(buffer[static_cast<size_t>(r.count)], '\0') << "not NUL-terminated";
        r.text.assign(buffer.data(), static_cast<size_t>(r.count));
    }
    return r;
}

const char kHeader10[] = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 10\r\n\r\n";

// A Content-Length body arriving in a later segment, also with the header
// itself split, is read whole.
TEST(ReadResponse, WaitsForTheContentLengthBody) {
    const std::string header = kHeader10;
    const std::string reply = header + "v=0\r\no=-\r\n";
    struct Case {
        const char* name;
        std::vector<Peer::Segment> segments;
    };
    const Case cases[] = {
        {"body in a second segment", {{0, header}, {100, "v=0\r\no=-\r\n"}}},
        {"split inside Content-Length",
         {{0, header.substr(0, 30)}, {60, header.substr(30)}, {60, "v=0\r\no=-\r\n"}}},
        {"split inside the blank line",
         {{0, header.substr(0, header.size() - 2)}, {60, "\r\nv=0\r"}, {60, "\no=-\r\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loopback link;
        ASSERT_TRUE(link.ok());
        Result r{};
        {
            Peer peer(link, c.segments);
            r = Read(link, 4096, 5000);
        }
        EXPECT_EQ(r.end, ReadEnd::kComplete);
        EXPECT_EQ(r.text, reply);
    }
}

// Without Content-Length the reply ends at its blank line: a body sent later
// stays in the socket for the next read.
TEST(ReadResponse, WithoutContentLengthStopsAtTheBlankLine) {
    Loopback link;
    ASSERT_TRUE(link.ok());
    const std::string header = "RTSP/1.0 200 OK\r\nCSeq: 3\r\nPublic: DESCRIBE\r\n\r\n";
    Peer peer(link, {{0, header}, {300, "trailing body"}});
    Result r = Read(link, 4096, 5000);
    EXPECT_EQ(r.end, ReadEnd::kComplete);
    EXPECT_EQ(r.text, header);

    Result rest = Read(link, 4096, 600);
    EXPECT_EQ(rest.text, "trailing body");
    EXPECT_EQ(rest.end, ReadEnd::kTimeout);
}

TEST(ReadResponse, DeadlineReturnsWhatArrived) {
    Loopback link;
    ASSERT_TRUE(link.ok());
    link.Send("RTSP/1.0 200 OK\r\nCSeq: 4\r\nContent-Le");
    Result r = Read(link, 4096, 300);
    EXPECT_EQ(r.end, ReadEnd::kTimeout);
    EXPECT_EQ(r.text, "RTSP/1.0 200 OK\r\nCSeq: 4\r\nContent-Le");
    EXPECT_GE(r.elapsedMs, 290u);
    EXPECT_LT(r.elapsedMs, 2000u);

    Result nothing = Read(link, 4096, 100);
    EXPECT_EQ(nothing.count, 0);
    EXPECT_EQ(nothing.end, ReadEnd::kTimeout);

    Result zero = Read(link, 4096, 0);
    EXPECT_EQ(zero.count, 0);
    EXPECT_EQ(zero.end, ReadEnd::kTimeout);
}

// An abort request ends the wait within one poll and is told apart from a
// timeout; the auto-reset event is consumed.
TEST(ReadResponse, AbortEndsTheWaitPromptly) {
    Loopback link;
    ASSERT_TRUE(link.ok());
    link.Send("RTSP/1.0 200 OK\r\n");
    Event* abort = EventCreate(false, false);
    ASSERT_NE(abort, nullptr);
    std::atomic<uint32_t> setAt{0};
    std::thread setter([&] {
        SleepMs(150);
        setAt = TickCountMs();
        EventSet(abort);
    });
    Result r = Read(link, 4096, 10000, abort);
    const uint32_t returnedAt = TickCountMs();
    setter.join();
    EXPECT_EQ(r.end, ReadEnd::kAborted);
    EXPECT_EQ(r.text, "RTSP/1.0 200 OK\r\n");
    EXPECT_LT(returnedAt - setAt.load(), 500u);
    EXPECT_FALSE(EventWait(abort, 0)) << "the abort signal should have been taken";

    EventSet(abort);
    Result early = Read(link, 4096, 10000, abort);
    EXPECT_EQ(early.end, ReadEnd::kAborted);
    EXPECT_EQ(early.count, 0);
    EventDestroy(abort);
}

// A reply longer than the buffer: reads stop once less than one read size
// (buffer / 8) of room is left, and nothing is written past the buffer (the
// vector in Read is exactly bufferSize bytes; ASan checks).
TEST(ReadResponse, LongReplyStopsWithinTheBuffer) {
    for (int size : {4096, 256, 9, 2}) {
        SCOPED_TRACE(size);
        Loopback link;
        ASSERT_TRUE(link.ok());
        std::string flood(5000, 'a');
        for (size_t i = 0; i < flood.size(); ++i)
            flood[i] = static_cast<char>('a' + i % 26);
        link.Send(flood);
        SleepMs(50);
        Result r = Read(link, size, 3000);
        const int readSize = size / 8 > 0 ? size / 8 : 1;
        EXPECT_EQ(r.end, ReadEnd::kBufferFull);
        EXPECT_GE(r.count, size - readSize);
        EXPECT_EQ(r.text, flood.substr(0, static_cast<size_t>(r.count)));
    }
    // Size 1 only holds the NUL.
    Loopback link;
    ASSERT_TRUE(link.ok());
    link.Send("RTSP/1.0 200 OK\r\n\r\n");
    Result one = Read(link, 1, 500);
    EXPECT_EQ(one.count, 0);
    EXPECT_EQ(one.end, ReadEnd::kBufferFull);
}

// Content-Length values a peer may lie with. A body segment comes 200 ms
// after the header; a reply taken as complete does not wait for it.
TEST(ReadResponse, LyingContentLength) {
    struct Case {
        const char* name;
        std::string header;
        bool close;  // peer closes after the body: the claimed length never arrives
        ReadEnd end;
        bool withBody;  // the read takes the body segment too
    };
    const std::string base = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nContent-Length:";
    const std::string body = "body";
    const Case cases[] = {
        {"negative", base + " -5\r\n\r\n", false, ReadEnd::kComplete, false},
        {"not a number", base + " four\r\n\r\n", false, ReadEnd::kComplete, false},
        {"no space after the colon", base + "4\r\n\r\n", false, ReadEnd::kComplete, true},
        {"overflowing", base + " 99999999999999999999\r\n\r\n", true, ReadEnd::kClosed, true},
        {"larger than the buffer", base + " 100000\r\n\r\n", true, ReadEnd::kClosed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loopback link;
        ASSERT_TRUE(link.ok());
        Result r{};
        {
            Peer peer(link, {{0, c.header}, {200, body}}, c.close);
            r = Read(link, 4096, 3000);
        }
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.text, c.withBody ? c.header + body : c.header);
    }
}

TEST(ReplyExpectedLength, ParsesContentLengthRobustly) {
    struct Case {
        const char* name;
        std::string data;
        size_t expected;  // 0: incomplete header
    };
    const std::string s = "RTSP/1.0 200 OK\r\n";
    const Case cases[] = {
        {"no blank line yet", s + "Content-Length: 5\r\n", 0},
        {"blank line cut", s + "Content-Length: 5\r\n\r", 0},
        {"no Content-Length", s + "CSeq: 1\r\n\r\n", s.size() + 11},
        {"one space", s + "Content-Length: 10\r\n\r\n", s.size() + 22 + 10},
        {"no space", s + "Content-Length:10\r\n\r\n", s.size() + 21 + 10},
        {"several blanks", s + "Content-Length: \t 10\r\n\r\n", s.size() + 24 + 10},
        {"lower-case name", s + "content-length: 7\r\n\r\n", s.size() + 21 + 7},
        {"digits then junk", s + "Content-Length: 12ab\r\n\r\n", s.size() + 24 + 12},
        {"negative counts as none", s + "Content-Length: -5\r\n\r\n", s.size() + 22},
        {"overflow saturates", s + "Content-Length: 99999999999999999999999\r\n\r\n", SIZE_MAX},
        {"name only counts at a line start", s + "X-Content-Length: 10\r\n\r\n", s.size() + 24},
        {"a Content-Length in the body is ignored", s + "\r\nContent-Length: 10\r\n\r\n",
         s.size() + 2},
        {"value cut by the blank line", s + "Content-Length:\r\n\r\n10", s.size() + 19},
        {"NUL bytes do not hide the header end",
         std::string("RTSP/1.0 200 OK\r\nX: a\0b\r\nContent-Length: 3\r\n\r\n", 46), 46 + 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplyExpectedLength(c.data.data(), c.data.size()), c.expected) << c.name;
    }
    EXPECT_EQ(ReplyExpectedLength(nullptr, 10), 0u);
}

// PLAY: the RTP socket is watched too. A datagram before the reply records
// the first-datagram time and ends the wait; a reply alone leaves it zero.
TEST(ReadResponse, SecondSocketRecordsTheFirstDatagramTime) {
    Loopback link;
    ASSERT_TRUE(link.ok());
    SocketHandle rtp = UdpSocket();
    ASSERT_NE(rtp, kInvalidSocket);
    ASSERT_TRUE(SocketBind(rtp, "127.0.0.1", 0));
    SocketHandle sender = UdpSocket();
    ASSERT_NE(sender, kInvalidSocket);

    // Reply only.
    link.Send("RTSP/1.0 200 OK\r\nCSeq: 6\r\nRTP-Info: url=x\r\n\r\n");
    char buffer[4096];
    uint64_t firstTime = 12345;
    ReadEnd end = ReadEnd::kBadArgument;
    int n = ReadResponse(nullptr, buffer, link.client, sizeof(buffer), 2000, rtp, &firstTime, &end);
    EXPECT_EQ(end, ReadEnd::kComplete);
    EXPECT_GT(n, 0);
    EXPECT_EQ(firstTime, 0u) << "cleared on entry, and no datagram came";

    // A datagram first: the wait ends without the reply.
    const uint64_t before = SystemFileTime();
    ASSERT_EQ(SocketSendTo(sender, "rtp", 3, "127.0.0.1", SocketLocalPort(rtp)), 3);
    n = ReadResponse(nullptr, buffer, link.client, sizeof(buffer), 2000, rtp, &firstTime, &end);
    const uint64_t after = SystemFileTime();
    EXPECT_EQ(end, ReadEnd::kSecondSocket);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_GE(firstTime, before);
    EXPECT_LE(firstTime, after);

    // The reply then arrives with the datagram still pending: both are seen,
    // the time is taken and the reply is read.
    link.Send("RTSP/1.0 200 OK\r\nCSeq: 7\r\n\r\n");
    SleepMs(50);
    n = ReadResponse(nullptr, buffer, link.client, sizeof(buffer), 2000, rtp, &firstTime, &end);
    EXPECT_EQ(end, ReadEnd::kComplete);
    EXPECT_STREQ(buffer, "RTSP/1.0 200 OK\r\nCSeq: 7\r\n\r\n");
    EXPECT_NE(firstTime, 0u);

    CloseSocket(sender);
    CloseSocket(rtp);
}

TEST(ReadResponse, PeerCloseAndBadArguments) {
    {
        Loopback link;
        ASSERT_TRUE(link.ok());
        link.Send("RTSP/1.0 200 OK\r\nCSeq");
        link.CloseServer();
        Result r = Read(link, 4096, 2000);
        EXPECT_EQ(r.end, ReadEnd::kClosed);
        EXPECT_EQ(r.text, "RTSP/1.0 200 OK\r\nCSeq");
    }
    char buffer[16];
    std::memset(buffer, 'Q', sizeof(buffer));
    ReadEnd end = ReadEnd::kComplete;
    EXPECT_EQ(ReadResponse(nullptr, buffer, kInvalidSocket, sizeof(buffer), 100, kInvalidSocket,
                           nullptr, &end),
              0);
    EXPECT_EQ(end, ReadEnd::kBadArgument);
    EXPECT_EQ(buffer[0], 'Q') << "a refused call touched the buffer";

    Loopback link;
    ASSERT_TRUE(link.ok());
    end = ReadEnd::kComplete;
    EXPECT_EQ(ReadResponse(nullptr, nullptr, link.client, 16, 100, kInvalidSocket, nullptr, &end),
              0);
    EXPECT_EQ(end, ReadEnd::kBadArgument);
    end = ReadEnd::kComplete;
    EXPECT_EQ(ReadResponse(nullptr, buffer, link.client, 0, 100, kInvalidSocket, nullptr, &end), 0);
    EXPECT_EQ(end, ReadEnd::kBadArgument);
    EXPECT_EQ(ReadResponse(nullptr, buffer, link.client, -4, 100), 0);
}

}  // namespace
}  // namespace camvue
