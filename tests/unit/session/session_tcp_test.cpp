// RTSP over TCP when UDP cannot pass: the camera refuses UDP (461) or sends
// no RTP within 3 s, the session asks for RTP/AVP/TCP and receives the
// interleaved stream; a new address tries UDP again.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "npcamvue/rtp/packet_counter.h"
#include "npcamvue/rtsp/rtsp_url.h"
#include "npcamvue/rtsp/session.h"
#include "tests/unit/session/standard_camera.h"

namespace camvue::test {
namespace {

struct EventDeleter {
    void operator()(Event* e) const { EventDestroy(e); }
};
using EventPtr = std::unique_ptr<Event, EventDeleter>;

class SequenceSink : public PacketSink {
  public:
    void Reset(StreamState&) override {}
    PushResult PushPacket(StreamState& stream, uint8_t* data, size_t length) override {
        sequences.push_back(static_cast<uint16_t>(data[2] << 8 | data[3]));
        return counter.PushPacket(stream, data, length);
    }
    uint16_t LastSequence() const override { return counter.LastSequence(); }
    RtpPacketCounter counter;
    std::vector<uint16_t> sequences;
};

std::string Frame(uint8_t channel, const std::vector<uint8_t>& payload) {
    std::string f = "$";
    f += static_cast<char>(channel);
    f += static_cast<char>(payload.size() >> 8);
    f += static_cast<char>(payload.size() & 0xff);
    return f + std::string(payload.begin(), payload.end());
}

std::string Rtp(uint16_t seq, bool marker = false) {
    return Frame(0, MakeRtp(96, seq, seq * 3000u, 7, marker, {0x41, 0x9a, 0x00}));
}

// Refuses UDP with 461; over TCP the PLAY reply comes with the first
// packets behind it in the same send: one for another channel, one too
// short to be RTP, and a server report on channel 1.
CameraReply TcpOnlyCamera(FakeCamera& camera, const CameraRequest& q) {
    if (q.method == "SETUP" && q.text.find("RTP/AVP/TCP") == std::string::npos)
        return CameraReply{FakeCamera::Reply(q, "461 Unsupported Transport")};
    if (q.method == "SETUP") {
        return CameraReply{FakeCamera::Reply(
            q, "200 OK",
            std::string("Transport: RTP/AVP/TCP;unicast;interleaved=0-1;ssrc=00000007\r\n"
                        "Session: ") +
                kSessionId + "\r\n")};
    }
    if (q.method == "PLAY") {
        return CameraReply{FakeCamera::Reply(q, "200 OK", "RTP-Info: url=x;seq=1000\r\n") +
                           Rtp(1000) + Frame(5, {1, 2, 3}) + Frame(0, {0x80, 0x60}) +
                           Frame(1, MakeSenderReport(0xCAFEF00D)) + Rtp(1001, true)};
    }
    return StandardReply(camera, q);
}

class SessionTcp : public testing::Test {
  protected:
    void Target(FakeCamera& camera, const std::string& path) {
        RtspUrl url;
        const std::string address = camera.Url(path);
        ASSERT_TRUE(ParseRtspUrl(address.c_str(), &url));
        ASSERT_TRUE(session_.SetTarget(url));
        session_.SetResponseTimeout(3000);
        session_.SetSink(&sink_);
    }
    void WaitTaken(size_t n) {
        const uint32_t t0 = TickCountMs();
        while (sink_.counter.taken() < n && TickCountMs() - t0 < 3000)
            SleepMs(5);
    }
    // The transport each SETUP asked for, in order.
    static std::vector<std::string> Setups(const FakeCamera& camera) {
        std::vector<std::string> transports;
        for (const auto& r : camera.Requests()) {
            if (r.method != "SETUP")
                continue;
            const bool tcp = r.text.find("Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n") !=
                             std::string::npos;
            const bool udp =
                r.text.find("Transport: RTP/AVP;unicast;client_port=") != std::string::npos;
            transports.push_back(tcp ? "tcp" : udp ? "udp" : "?");
        }
        return transports;
    }

    EventPtr abort_{EventCreate(false, false)};
    RtspSession session_;
    SequenceSink sink_;
};

TEST_F(SessionTcp, RefusedUdpFallsBackOnTheSameConnectionAndStaysOnTcp) {
    FakeCamera camera(TcpOnlyCamera);
    Target(camera, "/cam");
    ASSERT_TRUE(session_.Open(abort_.get()));
    EXPECT_TRUE(session_.interleaved());
    EXPECT_EQ(session_.sockets().rtp, kInvalidSocket);  // no UDP pair kept
    const auto first = camera.Requests();
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[3].text,
              "SETUP rtsp://127.0.0.1/cam/trackID=1 RTSP/1.0\r\nCSeq: 4\r\n"
              "User-Agent: LibVLC/1.1.11 (LIVE555 Streaming Media v2011.05.25)\r\n"
              "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
    EXPECT_EQ(first[3].connection, 1);
    EXPECT_EQ(first[4].method, "PLAY");
    EXPECT_TRUE(session_.stream().sequenceKnown);

    std::atomic<StreamEnd> end{StreamEnd::kSelectError};
    std::thread receiver([&] { end = session_.Receive(); });
    WaitTaken(2);
    // A reply between frames and a frame cut across two sends.
    const std::string next = Rtp(1002);
    ASSERT_TRUE(camera.SendControl("RTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n" + next.substr(0, 7)));
    SleepMs(20);
    ASSERT_TRUE(camera.SendControl(next.substr(7) + Rtp(1003, true)));
    WaitTaken(4);
    // The receiver report goes out on channel 1 within its 2 s interval,
    // answering the camera's report.
    std::vector<uint8_t> report;
    const uint32_t t0 = TickCountMs();
    while (report.empty() && TickCountMs() - t0 < 4000) {
        for (const auto& f : camera.ClientFrames()) {
            if (f[0] == 1)
                report = f;
        }
        ASSERT_TRUE(camera.SendControl(Rtp(static_cast<uint16_t>(1004))));
        SleepMs(100);
    }
    EventSet(abort_.get());
    ASSERT_TRUE(camera.SendControl(Rtp(1005)));
    receiver.join();
    EXPECT_EQ(end.load(), StreamEnd::kAborted);
    EXPECT_EQ(std::vector<uint16_t>(sink_.sequences.begin(), sink_.sequences.begin() + 4),
              (std::vector<uint16_t>{1000, 1001, 1002, 1003}));
    EXPECT_EQ(sink_.counter.frameEnds(), 2u);
    ASSERT_GE(report.size(), 1u + 8 + 24);
    EXPECT_EQ(report[2], 201);       // RR
    EXPECT_EQ(report[1 + 8], 0xCA);  // reportee: the camera's SSRC
    ASSERT_TRUE(camera.WaitForRequests(6, 2000));
    EXPECT_EQ(camera.Requests()[5].method, "TEARDOWN");

    // The next set-up of this address asks for TCP at once; a new address
    // tries UDP first again.
    ASSERT_TRUE(session_.Open(abort_.get()));
    session_.Close();
    Target(camera, "/other");
    EXPECT_FALSE(session_.tcpFallback());
    ASSERT_TRUE(session_.Open(abort_.get()));
    session_.Close();
    EXPECT_EQ(Setups(camera), (std::vector<std::string>{"udp", "tcp", "tcp", "udp", "tcp"}));
}

TEST_F(SessionTcp, NoRtpOverUdpWithinThreeSecondsEndsTheStreamForTcp) {
    FakeCamera camera(StandardReply);  // answers for UDP, sends nothing
    Target(camera, "/cam");
    ASSERT_TRUE(session_.Open(abort_.get()));
    const uint32_t t0 = TickCountMs();
    EXPECT_EQ(session_.Receive(), StreamEnd::kNoUdp);
    const uint32_t took = TickCountMs() - t0;
    EXPECT_GE(took, 2900u);
    EXPECT_LT(took, 4000u);
    EXPECT_TRUE(session_.tcpFallback());
    ASSERT_TRUE(camera.WaitForRequests(5, 2000));
    EXPECT_EQ(camera.Requests()[4].method, "TEARDOWN");  // a normal end
    // This camera cannot do TCP: the set-up fails on its reply.
    EXPECT_FALSE(session_.Open(abort_.get()));
    EXPECT_EQ(Setups(camera), (std::vector<std::string>{"udp", "tcp"}));
}

}  // namespace
}  // namespace camvue::test
