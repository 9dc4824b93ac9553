#include "npcamvue/rtsp/transport.h"

#include <cstdio>
#include <cstring>

#include "npcamvue/rtsp/reply_text.h"
#include "npcamvue/rtsp/text_scan.h"

namespace camvue {
namespace {

// The system never hands out odd ports forever; this bounds a broken one.
constexpr int kMaxPortAttempts = 1000;
// From this many odd ports on, each retry gives the abort event a look.
constexpr int kOddPortsBeforePolling = 10;

bool BindUdp(uint16_t port, SocketHandle* out) {
    SocketHandle s = UdpSocket();
    if (s == kInvalidSocket)
        return false;
    if (!SocketBind(s, nullptr, port)) {
        CloseSocket(s);
        return false;
    }
    *out = s;
    return true;
}

// Reads "a-b" (two ports) at p.
bool ReadPortRange(const char* p, uint16_t* first, uint16_t* second) {
    uint32_t a = 0, b = 0;
    const char* end = nullptr;
    if (!ScanDecimal(p, 65535, &a, &end) || *end != '-')
        return false;
    if (!ScanDecimal(end + 1, 65535, &b, &end))
        return false;
    *first = static_cast<uint16_t>(a);
    *second = static_cast<uint16_t>(b);
    return true;
}

// "port=" of a multicast transport, not the tail of "client_port=" or
// "server_port=".
const char* FindMulticastPort(const char* from) {
    const char* p = from;
    while ((p = FindNoCase(p, "port=")) != nullptr) {
        if (p == from || p[-1] != '_')
            return p + 5;
        p += 5;
    }
    return nullptr;
}

}  // namespace

void CloseMediaSockets(MediaSockets* sockets) {
    CloseSocket(sockets->rtp);
    CloseSocket(sockets->rtcp);
    sockets->rtp = kInvalidSocket;
    sockets->rtcp = kInvalidSocket;
    sockets->rtpPort = 0;
    sockets->rtcpPort = 0;
}

bool OpenUnicastPortPair(Event* abortEvent, MediaSockets* sockets, bool* aborted) {
    *aborted = false;
    CloseMediaSockets(sockets);
    int oddPorts = 0;
    for (int attempt = 0; attempt < kMaxPortAttempts; ++attempt) {
        SocketHandle rtp = kInvalidSocket;
        if (!BindUdp(0, &rtp))
            return false;
        const uint16_t port = SocketLocalPort(rtp);
        if (port == 0 || port == 65535 || (port & 1) != 0) {
            CloseSocket(rtp);
            if (++oddPorts >= kOddPortsBeforePolling && abortEvent != nullptr &&
                EventWait(abortEvent, 1)) {
                *aborted = true;
                return false;
            }
            continue;
        }
        SocketHandle rtcp = kInvalidSocket;
        if (!BindUdp(static_cast<uint16_t>(port + 1), &rtcp)) {
            // The odd neighbour is taken: start over with a new even port.
            CloseSocket(rtp);
            if (abortEvent != nullptr && EventWait(abortEvent, 0)) {
                *aborted = true;
                return false;
            }
            continue;
        }
        // Both non-blocking: the receive loop drains RTP until nothing waits.
        if (!SocketSetReceiveBuffer(rtp, kRtpReceiveBuffer) || !SocketSetNonBlocking(rtp, true) ||
            !SocketSetNonBlocking(rtcp, true)) {
            CloseSocket(rtp);
            CloseSocket(rtcp);
            return false;
        }
        sockets->rtp = rtp;
        sockets->rtcp = rtcp;
        sockets->rtpPort = port;
        sockets->rtcpPort = static_cast<uint16_t>(port + 1);
        return true;
    }
    return false;
}

bool OpenMulticastPair(uint32_t group, uint16_t rtpPort, uint16_t rtcpPort, MediaSockets* sockets) {
    CloseMediaSockets(sockets);
    SocketHandle rtp = UdpSocket();
    SocketHandle rtcp = UdpSocket();
    bool ok = rtp != kInvalidSocket && rtcp != kInvalidSocket &&
              SocketSetReceiveBuffer(rtp, kRtpReceiveBuffer) && SocketSetReuseAddress(rtp) &&
              SocketBind(rtp, nullptr, rtpPort) && SocketJoinGroup(rtp, group) &&
              SocketSetNonBlocking(rtp, true) && SocketSetReuseAddress(rtcp) &&
              SocketBind(rtcp, nullptr, rtcpPort) && SocketJoinGroup(rtcp, group);
    if (!ok) {
        CloseSocket(rtp);
        CloseSocket(rtcp);
        return false;
    }
    sockets->rtp = rtp;
    sockets->rtcp = rtcp;
    sockets->rtpPort = rtpPort;
    sockets->rtcpPort = rtcpPort;
    return true;
}

void LeaveMulticastGroup(const MediaSockets& sockets, uint32_t group) {
    if (sockets.rtp != kInvalidSocket)
        SocketLeaveGroup(sockets.rtp, group);
    if (sockets.rtcp != kInvalidSocket)
        SocketLeaveGroup(sockets.rtcp, group);
}

void AppendTransportLine(bool multicast, const MediaSockets& sockets, std::string* request) {
    if (multicast) {
        request->append("\r\nTransport: RTP/AVP;multicast");
        return;
    }
    char line[80];
    std::snprintf(line, sizeof(line), "\r\nTransport: RTP/AVP;unicast;client_port=%u-%u",
                  static_cast<unsigned>(sockets.rtpPort), static_cast<unsigned>(sockets.rtcpPort));
    request->append(line);
}

void AppendInterleavedTransportLine(std::string* request) {
    request->append("\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1");
}

bool ParseSetupReply(const char* reply, SetupReply* out, const char** why, bool interleaved) {
    *out = SetupReply();
    *why = nullptr;

    int length = 0;
    const char* session = FindHeaderValue("Session:", reply, nullptr, &length);
    if (session != nullptr) {
        out->sessionId.assign(session, static_cast<size_t>(length));
        // ";timeout=" belongs to the Session header: look on its line only.
        const char* lineEnd = session + std::strcspn(session, "\r\n");
        const char* timeout = FindNoCase(session, "timeout=");
        uint32_t seconds = 0;
        if (timeout != nullptr && timeout < lineEnd &&
            ScanDecimal(timeout + 8, 0x7fffffff, &seconds, nullptr)) {
            out->sessionTimeout = seconds;
        }
    }

    const char* transport = FindNoCase(reply, "Transport:");
    if (interleaved) {
        const char* lineEnd =
            transport != nullptr ? transport + std::strcspn(transport, "\r\n") : nullptr;
        const char* tcp = transport != nullptr ? FindNoCase(transport, "RTP/AVP/TCP") : nullptr;
        if (tcp == nullptr || tcp >= lineEnd) {
            *why = "no RTP/AVP/TCP transport in the SETUP reply";
            return false;
        }
        out->interleaved = true;
        const char* channels = FindNoCase(transport, "interleaved=");
        uint16_t rtp = 0;
        uint16_t rtcp = 1;
        if (channels != nullptr && channels < lineEnd) {
            uint32_t single = 0;
            const char* end = nullptr;
            if (ScanDecimal(channels + 12, 254, &single, &end) && *end != '-') {
                // One channel named: RTCP takes the next.
                rtp = static_cast<uint16_t>(single);
                rtcp = static_cast<uint16_t>(single + 1);
            } else if (!ReadPortRange(channels + 12, &rtp, &rtcp) || rtp > 255 || rtcp > 255) {
                *why = "interleaved channels are not a-b within 0-255";
                return false;
            }
        }
        out->rtpChannel = static_cast<uint8_t>(rtp);
        out->rtcpChannel = static_cast<uint8_t>(rtcp);
        const char* ssrc = FindHeaderValue("ssrc=", reply, nullptr, &length);
        if (ssrc != nullptr && ScanHex32(ssrc, &out->ssrc))
            out->ssrcKnown = true;
        return true;
    }
    out->multicast = transport != nullptr && FindNoCase(transport, "multicast") != nullptr;

    if (out->multicast) {
        const char* port = FindMulticastPort(transport);
        if (port == nullptr ||
            !ReadPortRange(SkipSpaces(port), &out->serverRtpPort, &out->serverRtcpPort)) {
            *why = "multicast transport without port=a-b";
            return false;
        }
        const char* dest = FindHeaderValue("destination=", transport, nullptr, &length);
        char text[16];
        if (dest == nullptr || length <= 0 || static_cast<size_t>(length) >= sizeof(text)) {
            *why = "multicast transport without destination=";
            return false;
        }
        std::memcpy(text, dest, static_cast<size_t>(length));
        text[length] = '\0';
        if (!ParseIpv4(text, &out->group)) {
            *why = "multicast destination is not an IPv4 address";
            return false;
        }
        return true;
    }

    const char* ssrc = FindHeaderValue("ssrc=", reply, nullptr, &length);
    if (ssrc != nullptr && ScanHex32(ssrc, &out->ssrc))
        out->ssrcKnown = true;

    const char* server = FindHeaderValue("server_port=", reply, nullptr, &length);
    if (server == nullptr || !ReadPortRange(server, &out->serverRtpPort, &out->serverRtcpPort)) {
        *why = "unicast transport without server_port=a-b";
        return false;
    }
    return true;
}

void OpenPath(const MediaSockets& sockets, uint32_t address, uint16_t rtpPort, uint16_t rtcpPort) {
    static const uint8_t kZeros[4] = {0, 0, 0, 0};
    SocketSendToAddress(sockets.rtp, kZeros, sizeof(kZeros), address, rtpPort);
    SocketSendToAddress(sockets.rtcp, kZeros, sizeof(kZeros), address, rtcpPort);
}

}  // namespace camvue
