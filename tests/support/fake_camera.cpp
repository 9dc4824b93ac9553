#include "tests/support/fake_camera.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace camvue::test {
namespace {

uint32_t HeaderNumber(const std::string& text, const char* key) {
    size_t at = text.find(key);
    if (at == std::string::npos)
        return 0;
    return static_cast<uint32_t>(std::strtoul(text.c_str() + at + std::strlen(key), nullptr, 10));
}

CameraRequest ParseRequest(const std::string& text, int connection) {
    CameraRequest r;
    r.text = text;
    r.connection = connection;
    size_t sp1 = text.find(' ');
    size_t sp2 = sp1 == std::string::npos ? sp1 : text.find(' ', sp1 + 1);
    if (sp1 != std::string::npos)
        r.method = text.substr(0, sp1);
    if (sp2 != std::string::npos)
        r.uri = text.substr(sp1 + 1, sp2 - sp1 - 1);
    r.cseq = HeaderNumber(text, "CSeq: ");
    return r;
}

bool SendAll(SocketHandle s, const char* data, size_t length) {
    while (length > 0) {
        int n = SocketSend(s, data, length);
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

FakeCamera::FakeCamera(Handler handler) : handler_(std::move(handler)) {
    listener_ = TcpSocket();
    SocketBind(listener_, "127.0.0.1", 0);
    SocketListen(listener_, 4);
    port_ = SocketLocalPort(listener_);
    rtp_ = UdpSocket();
    SocketBind(rtp_, "127.0.0.1", 0);
    rtpPort_ = SocketLocalPort(rtp_);
    rtcp_ = UdpSocket();
    SocketBind(rtcp_, "127.0.0.1", 0);
    rtcpPort_ = SocketLocalPort(rtcp_);
    thread_ = std::thread([this] { Serve(); });
}

FakeCamera::~FakeCamera() {
    stop_ = true;
    thread_.join();
    CloseSocket(listener_);
    CloseSocket(rtp_);
    CloseSocket(rtcp_);
}

std::string FakeCamera::Url(const std::string& path) const {
    return "rtsp://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<CameraRequest> FakeCamera::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool FakeCamera::WaitForRequests(size_t n, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= n; });
}

bool FakeCamera::SendRtp(const std::vector<uint8_t>& d) {
    return SocketSendTo(rtp_, d.data(), d.size(), "127.0.0.1", clientRtp_.load()) ==
           static_cast<int>(d.size());
}

bool FakeCamera::SendRtcp(const std::vector<uint8_t>& d) {
    return SocketSendTo(rtcp_, d.data(), d.size(), "127.0.0.1", clientRtcp_.load()) ==
           static_cast<int>(d.size());
}

bool FakeCamera::ReceiveRtcp(std::vector<uint8_t>* datagram, uint32_t timeoutMs) {
    const uint32_t start = TickCountMs();
    for (;;) {
        bool readable[1];
        uint32_t spent = TickCountMs() - start;
        if (spent >= timeoutMs)
            return false;
        if (WaitReadable(&rtcp_, 1, timeoutMs - spent, readable) <= 0)
            return false;
        uint8_t buf[2048];
        int n = SocketRecvFrom(rtcp_, buf, sizeof(buf));
        // The client's path-opening datagram is four zero bytes: not RTCP.
        if (n == 4 && buf[0] == 0)
            continue;
        if (n <= 0)
            return false;
        datagram->assign(buf, buf + n);
        return true;
    }
}

std::string FakeCamera::Reply(const CameraRequest& request, const std::string& status,
                              const std::string& headers, const std::string& body) {
    std::string r =
        "RTSP/1.0 " + status + "\r\nCSeq: " + std::to_string(request.cseq) + "\r\n" + headers;
    if (!body.empty())
        r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return r + "\r\n" + body;
}

void FakeCamera::Serve() {
    int number = 0;
    while (!stop_) {
        bool readable[1];
        if (WaitReadable(&listener_, 1, 20, readable) <= 0)
            continue;
        SocketHandle c = SocketAccept(listener_);
        if (c == kInvalidSocket)
            continue;
        HandleConnection(c, ++number);
    }
}

std::vector<std::vector<uint8_t>> FakeCamera::ClientFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clientFrames_;
}

bool FakeCamera::SendControl(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(sendMutex_);
    const SocketHandle c = connection_.load();
    return c != kInvalidSocket && SendAll(c, bytes.data(), bytes.size());
}

void FakeCamera::HandleConnection(SocketHandle c, int number) {
    connection_ = c;
    std::string pending;
    while (!stop_) {
        // A new connection while this one idles: the client reconnected.
        bool readable[2];
        SocketHandle both[2] = {c, listener_};
        if (WaitReadable(both, 2, 20, readable) <= 0)
            continue;
        if (!readable[0])
            break;
        char buf[4096];
        int n = SocketRecv(c, buf, sizeof(buf));
        if (n <= 0)
            break;
        pending.append(buf, static_cast<size_t>(n));
        bool closed = false;
        for (;;) {
            // Interleaved frames from the client come between requests.
            while (pending.size() >= 4 && pending[0] == '$') {
                const size_t length = (size_t(uint8_t(pending[2])) << 8) | uint8_t(pending[3]);
                if (pending.size() < 4 + length)
                    break;
                std::vector<uint8_t> frame(pending.begin() + 1, pending.begin() + 2);
                frame.insert(frame.end(), pending.begin() + 4, pending.begin() + 4 + length);
                pending.erase(0, 4 + length);
                std::lock_guard<std::mutex> lock(mutex_);
                clientFrames_.push_back(std::move(frame));
            }
            const size_t end = pending.find("\r\n\r\n");
            if (closed || end == std::string::npos || (!pending.empty() && pending[0] == '$'))
                break;
            CameraRequest request = ParseRequest(pending.substr(0, end + 4), number);
            pending.erase(0, end + 4);
            if (request.method == "SETUP") {
                size_t at = request.text.find("client_port=");
                if (at != std::string::npos) {
                    const char* p = request.text.c_str() + at + 12;
                    char* dash = nullptr;
                    clientRtp_ = static_cast<uint16_t>(std::strtoul(p, &dash, 10));
                    if (dash != nullptr && *dash == '-') {
                        clientRtcp_ = static_cast<uint16_t>(std::strtoul(dash + 1, nullptr, 10));
                    }
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            changed_.notify_all();
            CameraReply reply = handler_(*this, request);
            std::lock_guard<std::mutex> lock(sendMutex_);
            if (reply.byteAtATime) {
                for (char ch : reply.text) {
                    if (!SendAll(c, &ch, 1))
                        break;
                    SleepMs(2);
                }
            } else if (!reply.text.empty()) {
                SendAll(c, reply.text.data(), reply.text.size());
            }
            closed = reply.close;
        }
        if (closed)
            break;
    }
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        connection_ = kInvalidSocket;
    }
    CloseSocket(c);
}

std::vector<uint8_t> MakeRtp(uint8_t payloadType, uint16_t sequence, uint32_t timestamp,
                             uint32_t ssrc, bool marker, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> p(12 + payload.size());
    p[0] = 0x80;
    p[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | (payloadType & 0x7f));
    for (int i = 0; i < 2; ++i)
        p[2 + i] = static_cast<uint8_t>(sequence >> (8 - 8 * i));
    for (int i = 0; i < 4; ++i) {
        p[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
        p[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
    }
    for (size_t i = 0; i < payload.size(); ++i)
        p[12 + i] = payload[i];
    return p;
}

std::vector<uint8_t> MakeSenderReport(uint32_t ssrc) {
    std::vector<uint8_t> p(28, 0);
    p[0] = 0x80;
    p[1] = 200;
    p[3] = 6;
    p[4] = static_cast<uint8_t>(ssrc >> 24);
    p[5] = static_cast<uint8_t>(ssrc >> 16);
    p[6] = static_cast<uint8_t>(ssrc >> 8);
    p[7] = static_cast<uint8_t>(ssrc);
    return p;
}

}  // namespace camvue::test
