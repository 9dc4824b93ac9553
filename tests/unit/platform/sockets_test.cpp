#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "npcamvue/platform/platform.h"

namespace camvue {
namespace {

TEST(Sockets, TcpLoopbackRoundTripAndPeerClose) {
    SocketHandle listener = TcpSocket();
    ASSERT_NE(listener, kInvalidSocket);
    ASSERT_TRUE(SocketBind(listener, "127.0.0.1", 0));
    ASSERT_TRUE(SocketListen(listener, 1));
    const uint16_t port = SocketLocalPort(listener);
    ASSERT_NE(port, 0);

    SocketHandle client = TcpSocket();
    ASSERT_TRUE(SocketConnect(client, "127.0.0.1", port));
    SocketHandle server = SocketAccept(listener);
    ASSERT_NE(server, kInvalidSocket);

    bool readable[1];
    EXPECT_EQ(WaitReadable(&client, 1, 20, readable), 0);
    EXPECT_FALSE(readable[0]);

    ASSERT_EQ(SocketSend(server, "hello", 5), 5);
    EXPECT_EQ(WaitReadable(&client, 1, 2000, readable), 1);
    EXPECT_TRUE(readable[0]);
    char buf[16] = {};
    EXPECT_EQ(SocketRecv(client, buf, sizeof(buf)), 5);
    EXPECT_STREQ(buf, "hello");

    CloseSocket(server);
    EXPECT_EQ(WaitReadable(&client, 1, 2000, readable), 1);
    EXPECT_EQ(SocketRecv(client, buf, sizeof(buf)), 0);
    CloseSocket(client);
    CloseSocket(listener);
}

TEST(Sockets, UdpWaitReportsWhichSocketIsReadable) {
    SocketHandle a = UdpSocket();
    SocketHandle b = UdpSocket();
    ASSERT_TRUE(SocketBind(a, "127.0.0.1", 0));
    ASSERT_TRUE(SocketBind(b, "127.0.0.1", 0));
    SocketHandle sender = UdpSocket();
    ASSERT_EQ(SocketSendTo(sender, "x", 1, "127.0.0.1", SocketLocalPort(b)), 1);

    SocketHandle both[2] = {a, b};
    bool readable[2];
    ASSERT_EQ(WaitReadable(both, 2, 2000, readable), 1);
    EXPECT_FALSE(readable[0]);
    EXPECT_TRUE(readable[1]);
    CloseSocket(a);
    CloseSocket(b);
    CloseSocket(sender);
}

TEST(Sockets, RejectsBadArguments) {
    SocketHandle u = UdpSocket();
    EXPECT_FALSE(SocketBind(u, "not-an-address", 0));
    CloseSocket(u);
    bool readable[1];
    SocketHandle s = kInvalidSocket;
    EXPECT_EQ(WaitReadable(&s, 0, 0, readable), -1);
    EXPECT_EQ(WaitReadable(&s, kMaxWaitSockets + 1, 0, readable), -1);
    CloseSocket(kInvalidSocket);  // accepted, does nothing
}

// Only names the hosts file answers: no query leaves the machine.
TEST(Sockets, ResolvesLocalhostAndRefusesEmptyNames) {
    NetStartup();
    uint32_t address = 0;
    ASSERT_TRUE(ResolveIpv4("localhost", &address));
    char text[16];
    FormatIpv4(address, text, sizeof(text));
    EXPECT_STREQ(text, "127.0.0.1");
    uint32_t untouched = 7;
    EXPECT_FALSE(ResolveIpv4("", &untouched));
    EXPECT_FALSE(ResolveIpv4(nullptr, &untouched));
    EXPECT_EQ(untouched, 7u);
    EXPECT_FALSE(ResolveIpv4("localhost", nullptr));
    NetCleanup();
}

}  // namespace
}  // namespace camvue
