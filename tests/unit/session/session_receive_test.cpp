// RtspSession::Receive against the scripted camera: packets reach the sink,
// receiver reports answer the camera, and the loop's end conditions.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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

// Counts every datagram the loop hands over, whatever it is.
class RecordingSink : public PacketSink {
  public:
    void Reset(StreamState&) override { ++resets; }
    PushResult PushPacket(StreamState& stream, uint8_t* data, size_t length) override {
        sizes.push_back(length);
        if (length >= 4)
            sequences.push_back(static_cast<uint16_t>(data[2] << 8 | data[3]));
        return counter.PushPacket(stream, data, length);
    }
    uint16_t LastSequence() const override { return counter.LastSequence(); }
    RtpPacketCounter counter;
    std::vector<size_t> sizes;
    std::vector<uint16_t> sequences;
    int resets = 0;
};

class SessionReceive : public testing::Test {
  protected:
    void SetUp() override {
        RtspUrl url;
        std::string address = "rtsp://127.0.0.1:" + std::to_string(camera_.port()) + "/cam";
        ASSERT_TRUE(ParseRtspUrl(address.c_str(), &url));
        ASSERT_TRUE(session_.SetTarget(url));
        session_.SetResponseTimeout(3000);
        session_.SetSink(&sink_);
        ASSERT_TRUE(session_.Open(abort_.get()));
    }

    // Runs Receive on a thread while the test body talks to it.
    void StartReceive() {
        receiver_ = std::thread([this] {
            end_ = session_.Receive();
            done_ = true;
        });
    }
    StreamEnd Join() {
        receiver_.join();
        return end_;
    }
    size_t Teardowns() {
        size_t n = 0;
        for (auto& r : camera_.Requests())
            n += r.method == "TEARDOWN";
        return n;
    }

    FakeCamera camera_{StandardReply};
    EventPtr abort_{EventCreate(false, false)};
    RtspSession session_;
    RecordingSink sink_;
    std::thread receiver_;
    std::atomic<bool> done_{false};
    StreamEnd end_ = StreamEnd::kSelectError;
};

TEST_F(SessionReceive, PacketsReachTheSinkAndAbortSendsTeardown) {
    StartReceive();
    for (uint16_t i = 0; i < 10; ++i) {
        ASSERT_TRUE(camera_.SendRtp(MakeRtp(96, static_cast<uint16_t>(1000 + i), i * 3000u, 7,
                                            i % 2 == 1, {0x41, 0x9a, 0x00})));
    }
    // A datagram shorter than an RTP header never reaches the sink.
    ASSERT_TRUE(camera_.SendRtp({0x80, 0x60, 0x00}));
    const uint32_t t0 = TickCountMs();
    while (sink_.counter.taken() < 10 && TickCountMs() - t0 < 3000)
        SleepMs(5);
    EXPECT_EQ(sink_.counter.taken(), 10u);
    EXPECT_EQ(sink_.counter.frameEnds(), 5u);

    EventSet(abort_.get());
    // Wake the loop's select so it looks at the request.
    camera_.SendRtp(MakeRtp(96, 1010, 0, 7, false, {1}));
    EXPECT_EQ(Join(), StreamEnd::kAborted);
    EXPECT_EQ(sink_.resets, 1);
    for (size_t n : sink_.sizes)
        EXPECT_GE(n, 12u);
    EXPECT_EQ(Teardowns(), 1u);
    EXPECT_FALSE(session_.established());
}

TEST_F(SessionReceive, SenderReportIsAnsweredAtOnceWithItsSsrc) {
    StartReceive();
    ASSERT_TRUE(camera_.SendRtp(MakeRtp(96, 2000, 0, 7, true, {0x65})));
    ASSERT_TRUE(camera_.SendRtcp(MakeSenderReport(0xCAFEF00D)));
    std::vector<uint8_t> rr;
    bool found = false;
    const uint32_t t0 = TickCountMs();
    while (!found && TickCountMs() - t0 < 3000) {
        if (!camera_.ReceiveRtcp(&rr, 3000))
            break;
        found = rr.size() >= 12 && rr[1] == 201 && rr[8] == 0xCA && rr[9] == 0xFE &&
                rr[10] == 0xF0 && rr[11] == 0x0D;
    }
    ASSERT_TRUE(found) << "no receiver report naming the sender's SSRC";
    EXPECT_LT(TickCountMs() - t0, 1500u);  // at once, not at the 2 s tick
    EXPECT_EQ(rr[0], 0x81);
    EXPECT_EQ(rr[32], 0x81);
    EXPECT_EQ(rr[33], 202);
    EXPECT_EQ(rr.size() % 4, 0u);
    // Sender SSRC of both parts is the local one.
    const uint32_t local = session_.localSsrc();
    EXPECT_LE(local, 32767u);
    EXPECT_EQ(rr[6], (local >> 8) & 0xff);
    EXPECT_EQ(rr[38], (local >> 8) & 0xff);
    // Highest sequence received.
    EXPECT_EQ(rr[18], 2000 >> 8);
    EXPECT_EQ(rr[19], 2000 & 0xff);

    EventSet(abort_.get());
    camera_.SendRtp(MakeRtp(96, 2001, 0, 7, false, {1}));
    EXPECT_EQ(Join(), StreamEnd::kAborted);
}

TEST_F(SessionReceive, ReportGoesOutEveryTwoSecondsWhilePacketsFlow) {
    StartReceive();
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        for (uint16_t seq = 0; !stop; ++seq) {
            camera_.SendRtp(MakeRtp(96, seq, 0, 7, false, {1}));
            SleepMs(20);
        }
    });
    std::vector<uint8_t> rr;
    ASSERT_TRUE(camera_.ReceiveRtcp(&rr, 4000));
    const uint32_t first = TickCountMs();
    ASSERT_TRUE(camera_.ReceiveRtcp(&rr, 4000));
    const uint32_t gap = TickCountMs() - first;
    EXPECT_GE(gap, 1500u);
    EXPECT_LE(gap, 3500u);
    EXPECT_EQ(rr[1], 201);
    stop = true;
    feeder.join();
    EventSet(abort_.get());
    camera_.SendRtp(MakeRtp(96, 1, 0, 7, false, {1}));
    Join();
}

TEST_F(SessionReceive, DatagramThatIsNotRtpEndsTheLoopWithTeardown) {
    StartReceive();
    ASSERT_TRUE(camera_.SendRtp(MakeRtp(96, 1, 0, 7, false, {1})));
    std::vector<uint8_t> notRtp(20, 0x40);  // version 1
    ASSERT_TRUE(camera_.SendRtp(notRtp));
    EXPECT_EQ(Join(), StreamEnd::kNotRtp);
    EXPECT_FALSE(StreamEndIsError(StreamEnd::kNotRtp));
    ASSERT_TRUE(camera_.WaitForRequests(5, 2000));
    EXPECT_EQ(Teardowns(), 1u);
}

TEST_F(SessionReceive, OtherPayloadTypesDoNotKeepTheStreamAlive) {
    StartReceive();
    ASSERT_TRUE(camera_.SendRtp(MakeRtp(97, 1, 0, 7, false, {1})));
    ASSERT_TRUE(camera_.SendRtp(MakeRtp(96, 2, 0, 7, false, {1})));
    const uint32_t t0 = TickCountMs();
    while (sink_.sizes.size() < 2 && TickCountMs() - t0 < 3000)
        SleepMs(5);
    EXPECT_EQ(sink_.counter.dropped(), 1u);
    EXPECT_EQ(sink_.counter.taken(), 1u);
    EventSet(abort_.get());
    camera_.SendRtp(MakeRtp(96, 3, 0, 7, false, {1}));
    Join();
}

TEST_F(SessionReceive, CameraThatStopsSendingEndsTheLoopAfterFiveSelectTimeouts) {
    StartReceive();
    ASSERT_TRUE(camera_.SendRtp(MakeRtp(96, 1, 0, 7, false, {1})));
    const uint32_t t0 = TickCountMs();
    const StreamEnd end = Join();
    const uint32_t took = TickCountMs() - t0;
    // Five quiet 3 s waits; nothing else wakes the loop.
    EXPECT_EQ(end, StreamEnd::kMissed);
    EXPECT_GE(took, 14000u);
    EXPECT_LT(took, 20000u);
    // A normal end: TEARDOWN goes out at once.
    ASSERT_TRUE(camera_.WaitForRequests(5, 2000));
    EXPECT_EQ(Teardowns(), 1u);
}

TEST_F(SessionReceive, ReportsWithoutRtpEndTheLoopAfterFifteenSeconds) {
    StartReceive();
    ASSERT_TRUE(camera_.SendRtp(MakeRtp(96, 1, 0, 7, false, {1})));
    const uint32_t t0 = TickCountMs();
    // Sender reports keep the select waking, so only the inactivity limit
    // can end the loop.
    while (!done_ && TickCountMs() - t0 < 25000) {
        camera_.SendRtcp(MakeSenderReport(0x5555));
        SleepMs(500);
    }
    const StreamEnd end = Join();
    const uint32_t took = TickCountMs() - t0;
    EXPECT_EQ(end, StreamEnd::kInactive);
    EXPECT_TRUE(StreamEndIsError(end));
    EXPECT_GE(took, 14500u);
    EXPECT_LT(took, 19000u);
    // An error end leaves the TEARDOWN to the next set-up.
    EXPECT_EQ(Teardowns(), 0u);
    EXPECT_TRUE(session_.established());
    ASSERT_TRUE(session_.Open(abort_.get()));
    EXPECT_EQ(Teardowns(), 1u);
}

}  // namespace
}  // namespace camvue::test

namespace camvue::test {
namespace {

// The loop reads what is waiting in bounded batches: a burst several times
// the batch bound arrives whole and in order, and an abort request during a
// long burst ends the loop at once (within one batch, far inside the select
// interval), with TEARDOWN.
TEST_F(SessionReceive, BurstsArriveWholeInOrderAndAbortCutsALongBurst) {
    StartReceive();
    constexpr uint16_t kBurst = 300;
    for (uint16_t i = 0; i < kBurst; ++i)
        ASSERT_TRUE(camera_.SendRtp(
            MakeRtp(96, static_cast<uint16_t>(5000 + i), i * 90u, 7, true, {0x41, 0x9a, 0x00})));
    uint32_t t0 = TickCountMs();
    while (sink_.counter.taken() < kBurst && TickCountMs() - t0 < 3000)
        SleepMs(5);
    ASSERT_EQ(sink_.sequences.size(), static_cast<size_t>(kBurst));
    for (uint16_t i = 0; i < kBurst; ++i)
        ASSERT_EQ(sink_.sequences[i], 5000 + i) << "datagram " << i;

    std::atomic<bool> sending{true};
    std::thread flood([&] {
        for (uint16_t seq = 6000; sending.load(); ++seq)
            camera_.SendRtp(MakeRtp(96, seq, seq * 90u, 7, true, {0x41, 0x9a, 0x00}));
    });
    SleepMs(300);
    t0 = TickCountMs();
    EventSet(abort_.get());
    const StreamEnd end = Join();
    const uint32_t took = TickCountMs() - t0;
    sending = false;
    flood.join();
    EXPECT_EQ(end, StreamEnd::kAborted);
    EXPECT_LT(took, 500u);
    EXPECT_GT(sink_.sequences.size(), static_cast<size_t>(kBurst) + 64);
    EXPECT_EQ(Teardowns(), 1u);
}

}  // namespace
}  // namespace camvue::test
