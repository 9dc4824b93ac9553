// UDP media transports of a session: the unicast even/odd port pair, the
// multicast group, the SETUP transport line and reply, and the datagrams that
// open the path through firewalls and NATs.
#pragma once

#include <cstdint>
#include <string>

#include "npcamvue/platform/platform.h"

namespace camvue {

// Kernel receive buffer of the RTP socket: room for the burst of a large key
// frame while the thread is busy.
constexpr int kRtpReceiveBuffer = 1000000;

struct MediaSockets {
    SocketHandle rtp = kInvalidSocket;
    SocketHandle rtcp = kInvalidSocket;
    uint16_t rtpPort = 0;   // local; even
    uint16_t rtcpPort = 0;  // local; rtpPort + 1
};

void CloseMediaSockets(MediaSockets* sockets);

// Binds the RTP socket to an even port the system chooses and the RTCP socket
// to the next port. Returns false when sockets cannot be had or the abort
// event is signalled during the search (the signal is then consumed and
// *aborted set).
bool OpenUnicastPortPair(Event* abortEvent, MediaSockets* sockets, bool* aborted);

// Re-creates both sockets on the server's multicast ports and joins the group.
bool OpenMulticastPair(uint32_t group, uint16_t rtpPort, uint16_t rtcpPort, MediaSockets* sockets);
void LeaveMulticastGroup(const MediaSockets& sockets, uint32_t group);

// "\r\nTransport: RTP/AVP;unicast;client_port=a-b" or the multicast form.
void AppendTransportLine(bool multicast, const MediaSockets& sockets, std::string* request);
// "\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1": RTP and RTCP on the
// RTSP connection, when UDP cannot pass.
void AppendInterleavedTransportLine(std::string* request);

// What a SETUP reply says.
struct SetupReply {
    std::string sessionId;        // empty when the reply had no Session header
    uint32_t sessionTimeout = 0;  // seconds; 0 when not announced
    bool multicast = false;
    bool ssrcKnown = false;
    uint32_t ssrc = 0;
    uint16_t serverRtpPort = 0;
    uint16_t serverRtcpPort = 0;
    uint32_t group = 0;        // multicast destination, network byte order
    bool interleaved = false;  // RTP/AVP/TCP on the RTSP connection
    uint8_t rtpChannel = 0;
    uint8_t rtcpChannel = 1;
};

// Reads the transport parameters out of a SETUP reply. `wantMulticast`: the
// session already asked for multicast (a reply then counts as multicast too).
// False, with a reason, when a parameter the transport needs is missing.
// `interleaved`: the SETUP asked for RTP/AVP/TCP; the reply must then name
// that transport, and its "interleaved=a-b" channels (0-1 when absent) are
// taken instead of server ports.
bool ParseSetupReply(const char* reply, SetupReply* out, const char** why,
                     bool interleaved = false);

// Four zero bytes from each socket to the server's (or the group's) ports.
void OpenPath(const MediaSockets& sockets, uint32_t address, uint16_t rtpPort, uint16_t rtcpPort);

}  // namespace camvue
