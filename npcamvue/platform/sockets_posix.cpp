// POSIX sockets behind the platform layer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "npcamvue/platform/platform.h"

namespace camvue {
namespace {

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

}  // namespace

bool NetStartup() {
    return true;
}
void NetCleanup() {}

SocketHandle TcpSocket() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return s < 0 ? kInvalidSocket : s;
}

SocketHandle UdpSocket() {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return s < 0 ? kInvalidSocket : s;
}

void CloseSocket(SocketHandle s) {
    if (s != kInvalidSocket)
        close(static_cast<int>(s));
}

bool SocketBind(SocketHandle s, const char* ipv4, uint16_t port) {
    sockaddr_in a;
    if (!MakeAddress(ipv4, port, &a))
        return false;
    return bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
}

bool SocketListen(SocketHandle s, int backlog) {
    return listen(static_cast<int>(s), backlog) == 0;
}

SocketHandle SocketAccept(SocketHandle s) {
    int c = accept4(static_cast<int>(s), nullptr, nullptr, SOCK_CLOEXEC);
    return c < 0 ? kInvalidSocket : c;
}

bool SocketConnect(SocketHandle s, const char* ipv4, uint16_t port) {
    sockaddr_in a;
    if (!MakeAddress(ipv4, port, &a))
        return false;
    int r;
    do {
        r = connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), sizeof(a));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

uint16_t SocketLocalPort(SocketHandle s) {
    sockaddr_in a;
    socklen_t len = sizeof(a);
    if (getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

int SocketSend(SocketHandle s, const void* data, size_t length) {
    ssize_t n = send(static_cast<int>(s), data, length, MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<int>(n);
}

int SocketRecv(SocketHandle s, void* buffer, size_t size) {
    ssize_t n = recv(static_cast<int>(s), buffer, size, 0);
    return n < 0 ? -1 : static_cast<int>(n);
}

int SocketSendTo(SocketHandle s, const void* data, size_t length, const char* ipv4, uint16_t port) {
    sockaddr_in a;
    if (!MakeAddress(ipv4, port, &a))
        return -1;
    ssize_t n = sendto(static_cast<int>(s), data, length, MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&a), sizeof(a));
    return n < 0 ? -1 : static_cast<int>(n);
}

int WaitReadable(const SocketHandle* sockets, int count, uint32_t timeoutMs, bool* readable) {
    if (count < 1 || count > kMaxWaitSockets)
        return -1;
    pollfd fds[kMaxWaitSockets];
    for (int i = 0; i < count; ++i) {
        fds[i].fd = static_cast<int>(sockets[i]);
        fds[i].events = POLLIN;
        fds[i].revents = 0;
        readable[i] = false;
    }
    int r = poll(fds, static_cast<nfds_t>(count), static_cast<int>(timeoutMs));
    if (r <= 0)
        return r < 0 && errno == EINTR ? 0 : r;
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        // A hang-up or error counts as readable: the next recv reports it.
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
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
    if (inet_ntop(AF_INET, &a, text, static_cast<socklen_t>(size)) == nullptr && size > 0) {
        text[0] = '\0';
    }
}

bool SocketSetNonBlocking(SocketHandle s, bool nonBlocking) {
    int fd = static_cast<int>(s);
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return false;
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}

int SocketConnectStart(SocketHandle s, uint32_t netOrder, uint16_t port) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = netOrder;
    if (connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0)
        return 0;
    return errno == EINPROGRESS || errno == EINTR ? 1 : -1;
}

int WaitConnected(SocketHandle s, uint32_t timeoutMs) {
    pollfd p;
    p.fd = static_cast<int>(s);
    p.events = POLLOUT;
    p.revents = 0;
    int r = poll(&p, 1, static_cast<int>(timeoutMs));
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    int err = 0;
    socklen_t len = sizeof(err);
    if ((p.revents & (POLLERR | POLLHUP)) != 0 ||
        getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        return -1;
    }
    return 1;
}

bool SocketSetReceiveBuffer(SocketHandle s, int bytes) {
    return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)) == 0;
}

bool SocketSetReuseAddress(SocketHandle s) {
    int on = 1;
    return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0;
}

static bool GroupMembership(SocketHandle s, uint32_t group, int option) {
    ip_mreq m;
    m.imr_multiaddr.s_addr = group;
    m.imr_interface.s_addr = htonl(INADDR_ANY);
    return setsockopt(static_cast<int>(s), IPPROTO_IP, option, &m, sizeof(m)) == 0;
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
    ssize_t n = sendto(static_cast<int>(s), data, length, MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&a), sizeof(a));
    return n < 0 ? -1 : static_cast<int>(n);
}

int SocketRecvFrom(SocketHandle s, void* buffer, size_t size) {
    ssize_t n = recvfrom(static_cast<int>(s), buffer, size, 0, nullptr, nullptr);
    return n < 0 ? -1 : static_cast<int>(n);
}

int SocketRecvFromNow(SocketHandle s, void* buffer, size_t size) {
    ssize_t n = recvfrom(static_cast<int>(s), buffer, size, MSG_DONTWAIT, nullptr, nullptr);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? kNothingWaiting : -1;
    return static_cast<int>(n);
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
            a->ai_addrlen < static_cast<socklen_t>(sizeof(sockaddr_in)))
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
    if (getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof(a), name, static_cast<socklen_t>(size),
                    service, sizeof(service), NI_NUMERICSERV) != 0) {
        name[0] = '\0';
        return false;
    }
    return name[0] != '\0';
}

}  // namespace camvue
