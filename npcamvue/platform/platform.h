// Thin platform layer under the protocol core: sockets, events and clocks.
// Implemented once over WinSock2/kernel32 and once over POSIX. This header
// stays free of system headers so the core never sees windows.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

// --- sockets -------------------------------------------------------------

// A socket handle wide enough for a WinSock SOCKET; -1 when not held.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// WinSock start-up and clean-up (reference counted by the system); no-ops on POSIX.
bool NetStartup();
void NetCleanup();

SocketHandle TcpSocket();
SocketHandle UdpSocket();
// Accepts kInvalidSocket.
void CloseSocket(SocketHandle s);

// Address arguments are dotted IPv4 text; null binds to any address.
bool SocketBind(SocketHandle s, const char* ipv4, uint16_t port);
bool SocketListen(SocketHandle s, int backlog);
SocketHandle SocketAccept(SocketHandle s);
bool SocketConnect(SocketHandle s, const char* ipv4, uint16_t port);
// Local port of a bound socket, 0 on failure.
uint16_t SocketLocalPort(SocketHandle s);

// Byte counts, or -1 on error (0 from SocketRecv: the peer closed).
int SocketSend(SocketHandle s, const void* data, size_t length);
int SocketRecv(SocketHandle s, void* buffer, size_t size);
int SocketSendTo(SocketHandle s, const void* data, size_t length, const char* ipv4, uint16_t port);

// IPv4 addresses in network byte order, as they travel in sockaddr_in.
// Dotted text to address; false for anything but four decimal parts.
bool ParseIpv4(const char* text, uint32_t* netOrder);
// Address to dotted text (at least 16 bytes of room).
void FormatIpv4(uint32_t netOrder, char* text, size_t size);
// The first IPv4 address that the system resolver (getaddrinfo, AF_INET)
// gives for a host name; false when it gives none. Blocks for as long as
// the resolver takes.
bool ResolveIpv4(const char* name, uint32_t* netOrder);

bool SocketSetNonBlocking(SocketHandle s, bool nonBlocking);
// Starts a connect on a non-blocking socket: 0 connected at once, 1 in
// progress, -1 failed.
int SocketConnectStart(SocketHandle s, uint32_t netOrder, uint16_t port);
// Waits up to timeoutMs for a connect in progress: 1 connected, -1 failed
// (the socket is in the error set, or select failed), 0 still in progress.
int WaitConnected(SocketHandle s, uint32_t timeoutMs);
bool SocketSetReceiveBuffer(SocketHandle s, int bytes);
bool SocketSetReuseAddress(SocketHandle s);
// IP_ADD_MEMBERSHIP / IP_DROP_MEMBERSHIP with interface 0.0.0.0.
bool SocketJoinGroup(SocketHandle s, uint32_t groupNetOrder);
bool SocketLeaveGroup(SocketHandle s, uint32_t groupNetOrder);
int SocketSendToAddress(SocketHandle s, const void* data, size_t length, uint32_t netOrder,
                        uint16_t port);
// One datagram (the sender is not reported); -1 on error.
int SocketRecvFrom(SocketHandle s, void* buffer, size_t size);
// One datagram if one is waiting, without blocking: its length,
// kNothingWaiting when none is, -1 on error. On Windows the socket must be
// non-blocking (SocketSetNonBlocking).
constexpr int kNothingWaiting = -2;
int SocketRecvFromNow(SocketHandle s, void* buffer, size_t size);
// getnameinfo() of the IPv4 wildcard address: this host's name. False when
// the system gives none.
bool WildcardHostName(char* name, size_t size);

// select() over up to kMaxWaitSockets sockets. Returns the number readable,
// 0 on timeout, -1 on error; readable[i] tells which.
constexpr int kMaxWaitSockets = 8;
int WaitReadable(const SocketHandle* sockets, int count, uint32_t timeoutMs, bool* readable);

// --- events --------------------------------------------------------------

// Win32-style event: auto-reset (one successful wait consumes the signal) or
// manual-reset (stays signalled until reset).
struct Event;
Event* EventCreate(bool manualReset, bool initiallySet);
void EventDestroy(Event* event);  // accepts null
void EventSet(Event* event);
void EventReset(Event* event);
// True when the event was signalled within timeoutMs (0 polls).
bool EventWait(Event* event, uint32_t timeoutMs);

// --- clocks ---------------------------------------------------------------

// Wall clock in 100 ns units since 1601-01-01 UTC (the FILETIME convention).
uint64_t SystemFileTime();
// Milliseconds from an arbitrary origin, wrapping at 2^32.
uint32_t TickCountMs();
void SleepMs(uint32_t ms);

}  // namespace camvue
