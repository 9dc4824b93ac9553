#include "npcamvue/rtsp/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "npcamvue/rtp/parameter_sets.h"
#include "npcamvue/rtsp/connect.h"
#include "npcamvue/rtsp/read_response.h"
#include "npcamvue/rtsp/reply_text.h"
#include "npcamvue/rtsp/requests.h"
#include "npcamvue/rtsp/rtsp_url.h"
#include "npcamvue/rtsp/sdp.h"
#include "npcamvue/rtsp/text_scan.h"

namespace camvue {
namespace {

constexpr int kSetupReplySize = 4096;
constexpr int kTeardownReplySize = 2048;
constexpr int kTeardownReplyTimeoutMs = 100;
constexpr int kPlayExtraWaitMs = 500;

SessionObserver g_silent;

// "Stop ONVIF begin 13:5:2,87": the console trace around TEARDOWN, UTC.
void PrintStopLine(const char* what) {
    const uint64_t ft = SystemFileTime();
    const uint64_t ms = (ft / 10000) % 1000;
    const uint64_t seconds = ft / 10000000;
    std::printf("%s %u:%u:%u,%u\n", what, static_cast<unsigned>((seconds / 3600) % 24),
                static_cast<unsigned>((seconds / 60) % 60), static_cast<unsigned>(seconds % 60),
                static_cast<unsigned>(ms));
    std::fflush(stdout);
}

}  // namespace

const char* StreamEndText(StreamEnd end) {
    switch (end) {
        case StreamEnd::kAborted:
            return "stopped";
        case StreamEnd::kMissed:
            return "five receive timeouts or failed reports";
        case StreamEnd::kNotRtp:
            return "a datagram that is not RTP version 2";
        case StreamEnd::kKeepAliveFailed:
            return "keep-alive could not be sent";
        case StreamEnd::kSocketClosed:
            return "media socket closed";
        case StreamEnd::kControlClosed:
            return "the server closed the RTSP connection";
        case StreamEnd::kInactive:
            return "no RTP packet for 15 s";
        case StreamEnd::kSelectError:
            return "select failed";
        case StreamEnd::kReceiveError:
            return "receive error";
        case StreamEnd::kNoBuffers:
            return "out of memory";
        case StreamEnd::kNoUdp:
            return "no RTP over UDP within 3 s";
    }
    return "unknown";
}

bool StreamEndIsError(StreamEnd end) {
    switch (end) {
        case StreamEnd::kAborted:
        case StreamEnd::kMissed:
        case StreamEnd::kNotRtp:
        case StreamEnd::kKeepAliveFailed:
        case StreamEnd::kNoUdp:
            return false;
        default:
            return true;
    }
}

RtspSession::RtspSession() : observer_(&g_silent) {}

void RtspSession::SetObserver(SessionObserver* observer) {
    observer_ = observer != nullptr ? observer : &g_silent;
}

RtspSession::~RtspSession() {
    Close();
    ClearDigestChallenge(&digest_);
}

bool RtspSession::SetTarget(uint16_t port, const char* host, const char* user, const char* password,
                            const char* path) {
    user_.clear();
    password_.clear();
    if (host == nullptr || ClassifyHost(host) == HostKind::kInvalid)
        return false;
    const uint16_t newPort = port != 0 ? port : port_;
    const char* newPath = path != nullptr ? path : "";
    if (host_ != host || port_ != newPort || path_ != newPath)
        tcp_ = false;  // a new address tries UDP again
    port_ = newPort;
    host_ = host;
    if (user != nullptr && *user != '\0')
        user_ = user;
    if (password != nullptr && *password != '\0')
        password_ = password;
    path_ = newPath;
    return true;
}

bool RtspSession::SetTarget(const RtspUrl& url) {
    return SetTarget(url.port, url.host.c_str(), url.user.c_str(), url.password.c_str(),
                     url.path.c_str());
}

void RtspSession::SetCname() {
    char host[1025];
    if (WildcardHostName(host, sizeof(host))) {
        cname_ = std::string("Corvina@") + host;
    } else {
        cname_.clear();  // reports fall back to kFallbackCname
    }
}

bool RtspSession::Fail(const std::string& why, SetupFailure kind) {
    lastError_ = why;
    failure_ = kind;
    observer_->OnSetupFailed(lastError_.c_str());
    ReleaseAll();
    return false;
}

bool RtspSession::Stopped() {
    lastError_ = "stopped";
    failure_ = SetupFailure::kStopped;
    ReleaseAll();
    return false;
}

bool RtspSession::Aborted() {
    if (abortEvent_ != nullptr && EventWait(abortEvent_, 0)) {
        Stopped();
        return true;
    }
    return false;
}

void RtspSession::DrainControl() {
    // Replies are not matched by CSeq: whatever arrives after a request is
    // taken as its reply. A reply that came late (PLAY's, when RTP arrived
    // first) would answer the next request, so drop what is waiting now.
    char scratch[1024];
    for (int i = 0; i < 64; ++i) {
        bool readable[1] = {false};
        if (WaitReadable(&control_, 1, 0, readable) <= 0)
            return;
        if (SocketRecv(control_, scratch, sizeof(scratch)) <= 0)
            return;
    }
}

bool RtspSession::SendRequest(const std::string& request) {
    DrainControl();
    size_t sent = 0;
    while (sent < request.size()) {
        int n = SocketSend(control_, request.data() + sent, request.size() - sent);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

int RtspSession::ReadReply(char* buffer, int size, int timeoutMs) {
    ReadEnd end = ReadEnd::kComplete;
    int n =
        ReadResponse(abortEvent_, buffer, control_, size, timeoutMs, kInvalidSocket, nullptr, &end);
    if (end == ReadEnd::kAborted && abortEvent_ != nullptr) {
        // The read consumed the request: put it back for the step that ends
        // the set-up.
        EventSet(abortEvent_);
        return 0;
    }
    return n;
}

void RtspSession::AppendAuthorization(const char* method, std::string* request) {
    char line[1200] = "";
    if (authKind_ == kAuthBasic) {
        AppendBasicAuthorization(user_.c_str(), password_.c_str(), line, sizeof(line));
    } else if (authKind_ == kAuthDigest) {
        digest_.user = user_.c_str();
        digest_.password = password_.c_str();
        digest_.uri = digestUri_.c_str();
        digest_.method = method;
        AppendNextDigestAuthorization(&digest_, line, sizeof(line));
    }
    request->append(line);
}

bool RtspSession::Open(Event* abortEvent) {
    abortEvent_ = abortEvent;
    lastError_.clear();
    failure_ = SetupFailure::kNone;
    Close();
    playSent_ = false;
    stream_.ClearConfig();
    if (Aborted())
        return false;

    const uint32_t started = TickCountMs();
    // Dotted IPv4 text is used as it is; only a name goes to the resolver,
    // again at every set-up (the camera's address may change).
    if (!ParseIpv4(host_.c_str(), &serverAddress_) &&
        !ResolveIpv4(host_.c_str(), &serverAddress_)) {
        return Fail("cannot resolve host " + host_, SetupFailure::kUnresolved);
    }

    control_ = TcpSocket();
    if (control_ == kInvalidSocket)
        return Fail("no TCP socket");
    int connected = ConnectWithStop(serverAddress_, port_, control_, abortEvent_);
    if (connected == 1)
        return Stopped();
    if (connected != 0)
        return Fail("connect failed", SetupFailure::kConnect);
    observer_->OnConnected(host_.c_str(), port_);

    bool aborted = false;
    if (!tcp_ && !OpenUnicastPortPair(abortEvent_, &media_, &aborted)) {
        if (aborted)
            return Stopped();
        return Fail("no UDP port pair");
    }

    mediaUrl_ = "rtsp://" + host_ + path_;
    digestUri_ = path_;

    char reply[kSetupReplySize];
    // OPTIONS: the reply only has to come.
    if (Aborted())
        return false;
    if (!SendRequest(BuildOptions(mediaUrl_, ++cseq_)))
        return Fail("OPTIONS not sent");
    if (ReadReply(reply, sizeof(reply), responseTimeoutMs_) == 0) {
        return Aborted() ? false : Fail("no reply to OPTIONS");
    }

    // DESCRIBE, once more with credentials when challenged.
    if (Aborted())
        return false;
    if (!SendRequest(BuildDescribe(mediaUrl_, ++cseq_, "")))
        return Fail("DESCRIBE not sent");
    if (ReadReply(reply, sizeof(reply), responseTimeoutMs_) == 0) {
        return Aborted() ? false : Fail("no reply to DESCRIBE");
    }
    int kind = ChallengeKind(reply);
    authKind_ = kind == kAuthBasic || kind == kAuthDigest ? kind : kAuthNone;
    if (authKind_ != kAuthNone) {
        if (authKind_ == kAuthDigest)
            ParseDigestChallenge(&digest_, reply);
        // A Digest answer refused only because its nonce went out of date
        // (stale=true) is made once more with the new nonce.
        bool staleRetried = false;
        for (;;) {
            std::string auth;
            AppendAuthorization("DESCRIBE", &auth);
            if (Aborted())
                return false;
            if (!SendRequest(BuildDescribe(mediaUrl_, ++cseq_, auth))) {
                return Fail("DESCRIBE not sent");
            }
            if (ReadReply(reply, sizeof(reply), responseTimeoutMs_) == 0) {
                return Aborted() ? false : Fail("no reply to DESCRIBE");
            }
            const int answer = ChallengeKind(reply);
            if (answer == 0)
                break;
            if (answer == kAuthDigest && authKind_ == kAuthDigest && !staleRetried &&
                ParseDigestChallenge(&digest_, reply) && digest_.stale) {
                staleRetried = true;
                continue;
            }
            return Fail("authentication refused");
        }
        observer_->OnAuthenticated(authKind_);
    }

    // The session description.
    SessionUrls urls;
    urls.media = mediaUrl_;
    if (!ApplySessionDescription(reply, &urls, &stream_))
        return Fail("out of memory");
    mediaUrl_ = urls.media;
    aggregateUrl_ = urls.aggregate;
    ReadConfigPictureSize(&stream_);
    observer_->OnDescribed(stream_);

    // SETUP.
    if (Aborted())
        return false;
    std::string transport;
    if (tcp_) {
        AppendInterleavedTransportLine(&transport);
    } else {
        AppendTransportLine(multicast_, media_, &transport);
    }
    std::string auth;
    AppendAuthorization("SETUP", &auth);
    if (!SendRequest(BuildSetup(mediaUrl_, ++cseq_, transport, auth))) {
        return Fail("SETUP not sent");
    }
    if (ReadReply(reply, sizeof(reply), responseTimeoutMs_) == 0) {
        return Aborted() ? false : Fail("no reply to SETUP");
    }
    SetupReply setup;
    const char* why = nullptr;
    bool parsed = ParseSetupReply(reply, &setup, &why, tcp_);
    if (!tcp_ && !multicast_) {
        // UDP refused ("461 Unsupported transport", or a success without a
        // transport we can use): ask again, on this connection, for RTP
        // interleaved on it.
        const int status = RtspStatusCode(reply);
        const bool refused = status == 461 ? true : status / 100 == 2 && !parsed;
        if (refused) {
            FallBackToTcp(status == 461 ? "the camera refused UDP (461)"
                                        : "no usable UDP transport in the SETUP reply");
            CloseMediaSockets(&media_);
            transport.clear();
            AppendInterleavedTransportLine(&transport);
            auth.clear();  // a Digest answer counts its requests
            AppendAuthorization("SETUP", &auth);
            if (Aborted())
                return false;
            if (!SendRequest(BuildSetup(mediaUrl_, ++cseq_, transport, auth)))
                return Fail("SETUP not sent");
            if (ReadReply(reply, sizeof(reply), responseTimeoutMs_) == 0)
                return Aborted() ? false : Fail("no reply to SETUP");
            const char* udpWhy = why;
            parsed = ParseSetupReply(reply, &setup, &why, true);
            if (!parsed && status != 461)
                why = udpWhy;  // the first reply's fault is the one to report
        }
    }
    if (!parsed)
        return Fail(why != nullptr ? why : "SETUP reply not usable");
    sessionId_ = setup.sessionId;
    sessionTimeout_ = setup.sessionTimeout;
    if (setup.ssrcKnown) {
        stream_.ssrcKnown = true;
        stream_.ssrc = setup.ssrc;
    }
    serverRtpPort_ = setup.serverRtpPort;
    serverRtcpPort_ = setup.serverRtcpPort;
    uint32_t pathAddress = serverAddress_;
    interleaved_ = setup.interleaved;
    if (interleaved_) {
        rtpChannel_ = setup.rtpChannel;
        rtcpChannel_ = setup.rtcpChannel;
        if (!reader_)
            reader_.reset(new (std::nothrow) InterleavedReader);
        if (!reader_ || !reader_->ok())
            return Fail("out of memory");
        reader_->Clear();
    } else if (setup.multicast) {
        multicast_ = true;
        group_ = setup.group;
        if (!OpenMulticastPair(group_, serverRtpPort_, serverRtcpPort_, &media_)) {
            return Fail("could not join the multicast group");
        }
        pathAddress = group_;
    }
    observer_->OnSetUp(setup, media_);

    if (!interleaved_)
        OpenPath(media_, pathAddress, serverRtpPort_, serverRtcpPort_);
    established_ = true;
    Play();
    if (playSent_)
        observer_->OnPlaying(TickCountMs() - started);

    // Local RTCP SSRC: seeded from the tick count, the first draw discarded.
    std::srand(TickCountMs());
    (void)std::rand();
    localSsrc_ = static_cast<uint32_t>(std::rand() & 0x7fff);
    return true;
}

void RtspSession::Play() {
    if (!established_ || playSent_)
        return;
    std::string auth;
    AppendAuthorization("PLAY", &auth);
    if (!SendRequest(BuildPlay(aggregateUrl_, sessionId_, ++cseq_, auth)))
        return;
    playSent_ = true;
    char reply[kSetupReplySize];
    if (interleaved_) {
        // The reply shares the connection with the packets that follow it.
        ReadInterleavedReply(reply, sizeof(reply), responseTimeoutMs_ + kPlayExtraWaitMs);
    } else {
        uint64_t firstDatagram = 0;
        ReadEnd end = ReadEnd::kComplete;
        ReadResponse(abortEvent_, reply, control_, sizeof(reply),
                     responseTimeoutMs_ + kPlayExtraWaitMs, media_.rtp, &firstDatagram, &end);
        if (end == ReadEnd::kAborted && abortEvent_ != nullptr)
            EventSet(abortEvent_);
        stream_.firstDatagramTime = firstDatagram;
    }
    uint32_t seq = 0;
    const char* value = FindHeaderValue("seq=", reply, nullptr, nullptr);
    if (value != nullptr && ScanDecimal(value, 0xffffffffu, &seq, nullptr)) {
        stream_.expectedSequence = static_cast<uint16_t>(seq);
        stream_.sequenceKnown = true;
    } else {
        stream_.sequenceKnown = false;
    }
}

void RtspSession::Close() {
    if (!established_ && control_ == kInvalidSocket && media_.rtp == kInvalidSocket &&
        media_.rtcp == kInvalidSocket) {
        return;  // nothing held, nothing owed
    }
    PrintStopLine("Stop ONVIF begin");
    stream_.firstDatagramTime = 0;
    if (multicast_ && group_ != 0)
        LeaveMulticastGroup(media_, group_);
    if (control_ == kInvalidSocket) {
        ReleaseAll();
        return;
    }
    if (established_) {
        std::string auth;
        AppendAuthorization("TEARDOWN", &auth);
        if (SendRequest(BuildTeardown(aggregateUrl_, sessionId_, ++cseq_, auth))) {
            char reply[kTeardownReplySize];
            // The reply is only waited for briefly and not examined; an abort
            // request must not cut it short.
            ReadResponse(nullptr, reply, control_, sizeof(reply), kTeardownReplyTimeoutMs);
        }
        ReleaseAll();
        PrintStopLine("Stop ONVIF end");
        return;
    }
    ReleaseAll();
}

void RtspSession::ReleaseAll() {
    digestUri_.clear();
    stream_.ClearConfig();
    mediaUrl_.clear();
    aggregateUrl_.clear();
    ClearDigestChallenge(&digest_);
    sessionId_.clear();
    CloseMediaSockets(&media_);
    CloseSocket(control_);
    control_ = kInvalidSocket;
    established_ = false;
    interleaved_ = false;
    if (reader_)
        reader_->Clear();
}

void RtspSession::FallBackToTcp(const char* why) {
    tcp_ = true;
    observer_->OnTcpFallback(why);
}

}  // namespace camvue
