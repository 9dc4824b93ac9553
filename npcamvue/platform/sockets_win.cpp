// WinSock2 sockets behind the platform layer.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "npcamvue/platform/platform.h"

namespace camvue {
namespace {

SOCKET Raw(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

SocketHandle Wrap(SOCKET s) {
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool MakeAddress(const char* ipv4, uint16_t port, sockaddr_in* out) {
    std::memset(out, 0, sizeof(*out));
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    if (ipv4 == nullptr) {
        out->sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, ipv4, &out->sin_addr) == 1;
}

int ClampLength(size_t length) {
    return length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
}

}  // namespace

bool NetStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() {
    WSACleanup();
}

SocketHandle TcpSocket() {
    return Wrap(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}
SocketHandle UdpSocket() {
    return Wrap(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
}

void CloseSocket(SocketHandle s) {
    if (s != kInvalidSocket)
        closesocket(Raw(s));
}

bool SocketBind(SocketHandle s, const char* ipv4, uint16_t port) {
    sockaddr_in a;
    if (!MakeAddress(ipv4, port, &a))
        return false;
    return bind(Raw(s), reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
}

bool SocketListen(SocketHandle s, int backlog) {
    return listen(Raw(s), backlog) == 0;
}

SocketHandle SocketAccept(SocketHandle s) {
    return Wrap(accept(Raw(s), nullptr, nullptr));
}

bool SocketConnect(SocketHandle s, const char* ipv4, uint16_t port) {
    sockaddr_in a;
    if (!MakeAddress(ipv4, port, &a))
        return false;
    return connect(Raw(s), reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
}

uint16_t SocketLocalPort(SocketHandle s) {
    sockaddr_in a;
    int len = sizeof(a);
    if (getsockname(Raw(s), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

int SocketSend(SocketHandle s, const void* data, size_t length) {
    int n = send(Raw(s), static_cast<const char*>(data), ClampLength(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int SocketRecv(SocketHandle s, void* buffer, size_t size) {
    int n = recv(Raw(s), static_cast<char*>(buffer), ClampLength(size), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int SocketSendTo(SocketHandle s, const void* data, size_t length, const char* ipv4, uint16_t port) {
    sockaddr_in a;
    if (!MakeAddress(ipv4, port, &a))
        return -1;
    int n = sendto(Raw(s), static_cast<const char*>(data), ClampLength(length), 0,
                   reinterpret_cast<sockaddr*>(&a), sizeof(a));
    return n == SOCKET_ERROR ? -1 : n;
}

int WaitReadable(const SocketHandle* sockets, int count, uint32_t timeoutMs, bool* readable) {
    if (count < 1 || count > kMaxWaitSockets)
        return -1;
    fd_set set;
    FD_ZERO(&set);
    for (int i = 0; i < count; ++i) {
        FD_SET(Raw(sockets[i]), &set);
        readable[i] = false;
    }
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int r = select(0, &set, nullptr, nullptr, &tv);
    if (r <= 0)
        return r == SOCKET_ERROR ? -1 : 0;
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        if (FD_ISSET(Raw(sockets[i]), &set)) {
            readable[i] = true;
            ++ready;
        }
    }
    return ready;
}

}  // namespace camvue

namespace camvue {

bool ParseIpv4(const char* text, uint32_t* netOrder) {
    in_addr a;
    if (text == nullptr || inet_pton(AF_INET, text, &a) != 1)
        return false;
    *netOrder = a.s_addr;
    return true;
}

void FormatIpv4(uint32_t netOrder, char* text, size_t size) {
    in_addr a;
    a.s_addr = netOrder;
    if (inet_ntop(AF_INET, &a, text, size) == nullptr && size > 0)
        text[0] = '\0';
}

bool SocketSetNonBlocking(SocketHandle s, bool nonBlocking) {
    u_long on = nonBlocking ? 1 : 0;
    return ioctlsocket(Raw(s), FIONBIO, &on) == 0;
}

int SocketConnectStart(SocketHandle s, uint32_t netOrder, uint16_t port) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = netOrder;
    if (connect(Raw(s), reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0)
        return 0;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 1 : -1;
}

int WaitConnected(SocketHandle s, uint32_t timeoutMs) {
    // WinSock reports a refused connect in the exception set, not as writable.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Raw(s), &writable);
    FD_SET(Raw(s), &failed);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int r = select(0, nullptr, &writable, &failed, &tv);
    if (r == SOCKET_ERROR)
        return -1;
    if (r == 0)
        return 0;
    if (FD_ISSET(Raw(s), &failed))
        return -1;
    return FD_ISSET(Raw(s), &writable) ? 1 : 0;
}

bool SocketSetReceiveBuffer(SocketHandle s, int bytes) {
    return setsockopt(Raw(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof(bytes)) == 0;
}

bool SocketSetReuseAddress(SocketHandle s) {
    BOOL on = TRUE;
    return setsockopt(Raw(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                      sizeof(on)) == 0;
}

static bool GroupMembership(SocketHandle s, uint32_t group, int option) {
    ip_mreq m;
    m.imr_multiaddr.s_addr = group;
    m.imr_interface.s_addr = htonl(INADDR_ANY);
    return setsockopt(Raw(s), IPPROTO_IP, option, reinterpret_cast<const char*>(&m), sizeof(m)) ==
           0;
}

bool SocketJoinGroup(SocketHandle s, uint32_t group) {
    return GroupMembership(s, group, IP_ADD_MEMBERSHIP);
}

bool SocketLeaveGroup(SocketHandle s, uint32_t group) {
    return GroupMembership(s, group, IP_DROP_MEMBERSHIP);
}

int SocketSendToAddress(SocketHandle s, const void* data, size_t length, uint32_t netOrder,
                        uint16_t port) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = netOrder;
    int n = sendto(Raw(s), static_cast<const char*>(data), ClampLength(length), 0,
                   reinterpret_cast<sockaddr*>(&a), sizeof(a));
    return n == SOCKET_ERROR ? -1 : n;
}

int SocketRecvFrom(SocketHandle s, void* buffer, size_t size) {
    int n = recvfrom(Raw(s), static_cast<char*>(buffer), ClampLength(size), 0, nullptr, nullptr);
    return n == SOCKET_ERROR ? -1 : n;
}

int SocketRecvFromNow(SocketHandle s, void* buffer, size_t size) {
    int n = recvfrom(Raw(s), static_cast<char*>(buffer), ClampLength(size), 0, nullptr, nullptr);
    if (n == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? kNothingWaiting : -1;
    return n;
}

bool ResolveIpv4(const char* name, uint32_t* netOrder) {
    if (name == nullptr || *name == '\0' || netOrder == nullptr)
        return false;
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0)
        return false;
    bool found = false;
    for (const addrinfo* a = list; a != nullptr && !found; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_addr == nullptr ||
            a->ai_addrlen < static_cast<size_t>(sizeof(sockaddr_in)))
            continue;
        sockaddr_in in;
        std::memcpy(&in, a->ai_addr, sizeof(in));
        *netOrder = in.sin_addr.s_addr;
        found = true;
    }
    if (list != nullptr)
        freeaddrinfo(list);
    return found;
}

bool WildcardHostName(char* name, size_t size) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    char service[32];
    if (size == 0)
        return false;
    name[0] = '\0';
    if (getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof(a), name, static_cast<DWORD>(size),
                    service, sizeof(service), NI_NUMERICSERV) != 0) {
        name[0] = '\0';
        return false;
    }
    return name[0] != '\0';
}

}  // namespace camvue
