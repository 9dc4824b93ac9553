#include "npcamvue/rtsp/transport.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtsp/connect.h"

namespace camvue {
namespace {

struct EventDeleter {
    void operator()(Event* e) const { EventDestroy(e); }
};
using EventPtr = std::unique_ptr<Event, EventDeleter>;

TEST(PortPair, AlwaysEvenThenOdd) {
    // Hold a few pairs at once so the system has to hand out different ports.
    std::vector<MediaSockets> held(20);
    for (auto& m : held) {
        bool aborted = true;
        ASSERT_TRUE(OpenUnicastPortPair(nullptr, &m, &aborted));
        EXPECT_FALSE(aborted);
        EXPECT_EQ(m.rtpPort % 2, 0);
        EXPECT_EQ(m.rtcpPort, m.rtpPort + 1);
        EXPECT_EQ(SocketLocalPort(m.rtp), m.rtpPort);
        EXPECT_EQ(SocketLocalPort(m.rtcp), m.rtcpPort);
    }
    for (auto& m : held)
        CloseMediaSockets(&m);
}

TEST(PortPair, TransportLines) {
    MediaSockets m;
    m.rtpPort = 50000;
    m.rtcpPort = 50001;
    std::string line;
    AppendTransportLine(false, m, &line);
    EXPECT_EQ(line, "\r\nTransport: RTP/AVP;unicast;client_port=50000-50001");
    line.clear();
    AppendTransportLine(true, m, &line);
    EXPECT_EQ(line, "\r\nTransport: RTP/AVP;multicast");
}

TEST(ConnectWithStop, ConnectsAndRefuses) {
    SocketHandle listener = TcpSocket();
    ASSERT_TRUE(SocketBind(listener, "127.0.0.1", 0));
    ASSERT_TRUE(SocketListen(listener, 1));
    const uint16_t port = SocketLocalPort(listener);
    uint32_t loopback = 0;
    ASSERT_TRUE(ParseIpv4("127.0.0.1", &loopback));

    EventPtr abort(EventCreate(false, false));
    SocketHandle s = TcpSocket();
    EXPECT_EQ(ConnectWithStop(loopback, port, s, abort.get()), 0);
    // The socket is blocking again and usable.
    EXPECT_EQ(SocketSend(s, "x", 1), 1);
    CloseSocket(s);

    CloseSocket(listener);  // nothing listens there now
    s = TcpSocket();
    const uint32_t t0 = TickCountMs();
    EXPECT_EQ(ConnectWithStop(loopback, port, s, abort.get()), -1);
    EXPECT_LT(TickCountMs() - t0, 3000u);
    CloseSocket(s);
}

TEST(ConnectWithStop, AbortEndsAConnectThatNeverCompletes) {
    uint32_t loopback = 0;
    ASSERT_TRUE(ParseIpv4("127.0.0.1", &loopback));
    // A listener that never accepts and whose queue is full: further
    // connects stay pending.
    SocketHandle listener = TcpSocket();
    ASSERT_TRUE(SocketBind(listener, "127.0.0.1", 0));
    ASSERT_TRUE(SocketListen(listener, 0));
    const uint16_t port = SocketLocalPort(listener);
    std::vector<SocketHandle> fillers;
    EventPtr none(EventCreate(false, false));
    bool pending = false;
    for (int i = 0; i < 16 && !pending; ++i) {
        SocketHandle f = TcpSocket();
        SocketSetNonBlocking(f, true);
        int r = SocketConnectStart(f, loopback, port);
        if (r == 1 && WaitConnected(f, 200) == 0)
            pending = true;
        fillers.push_back(f);
    }
    if (!pending) {
        for (SocketHandle f : fillers)
            CloseSocket(f);
        CloseSocket(listener);
        GTEST_SKIP() << "this system completes every loopback connect";
    }

    EventPtr abort(EventCreate(false, false));
    uint32_t signalled = 0;
    std::thread stopper([&] {
        SleepMs(100);
        signalled = TickCountMs();
        EventSet(abort.get());
    });
    SocketHandle s = TcpSocket();
    EXPECT_EQ(ConnectWithStop(loopback, port, s, abort.get()), 1);
    const uint32_t returned = TickCountMs();
    stopper.join();
    EXPECT_LT(returned - signalled, 500u);
    // The request was taken.
    EXPECT_FALSE(EventWait(abort.get(), 0));
    CloseSocket(s);
    for (SocketHandle f : fillers)
        CloseSocket(f);
    CloseSocket(listener);
}

TEST(ConnectWithStop, AlreadySignalledReturnsAtOnce) {
    uint32_t loopback = 0;
    ASSERT_TRUE(ParseIpv4("127.0.0.1", &loopback));
    EventPtr abort(EventCreate(false, true));
    SocketHandle s = TcpSocket();
    EXPECT_EQ(ConnectWithStop(loopback, 9, s, abort.get()), 1);
    CloseSocket(s);
}

}  // namespace
}  // namespace camvue
