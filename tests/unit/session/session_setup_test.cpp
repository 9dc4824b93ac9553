// RtspSession::Open and Close against the scripted camera: request texts,
// CSeq, authentication, reply edge cases.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "npcamvue/rtsp/md5.h"
#include "npcamvue/rtsp/rtsp_url.h"
#include "npcamvue/rtsp/session.h"
#include "npcamvue/rtsp/sha256.h"
#include "tests/unit/session/standard_camera.h"

namespace camvue::test {
namespace {

struct EventDeleter {
    void operator()(Event* e) const { EventDestroy(e); }
};
using EventPtr = std::unique_ptr<Event, EventDeleter>;

class SessionSetup : public testing::Test {
  protected:
    void Target(RtspSession& s, FakeCamera& camera, const std::string& path,
                const std::string& userinfo = "") {
        RtspUrl url;
        std::string address =
            "rtsp://" + userinfo + "127.0.0.1:" + std::to_string(camera.port()) + path;
        ASSERT_TRUE(ParseRtspUrl(address.c_str(), &url));
        ASSERT_TRUE(s.SetTarget(url));
        s.SetResponseTimeout(3000);
    }
    EventPtr abort_{EventCreate(false, false)};
};

std::string Md5(const std::string& s) {
    char hex[kMd5HexSize];
    Md5Hex(s.data(), s.size(), hex);
    return hex;
}

TEST_F(SessionSetup, RequestTextsCSeqAndUrls) {
    FakeCamera camera(StandardReply);
    RtspSession s;
    Target(s, camera, "/live/ch1");
    ASSERT_TRUE(s.Open(abort_.get()));
    ASSERT_TRUE(camera.WaitForRequests(4, 2000));
    auto r = camera.Requests();
    // The port is never part of the Request-URI.
    EXPECT_EQ(r[0].text,
              "OPTIONS rtsp://127.0.0.1/live/ch1 RTSP/1.0\r\nCSeq: 1\r\n"
              "User-Agent: CorvinaVideo\r\nAccept: application/sdp\r\n\r\n");
    EXPECT_EQ(r[1].text,
              "DESCRIBE rtsp://127.0.0.1/live/ch1 RTSP/1.0\r\nCSeq: 2\r\n"
              "User-Agent: CorvinaVideo\r\nAccept: application/sdp\r\n\r\n");
    const MediaSockets& m = s.sockets();
    EXPECT_EQ(m.rtpPort % 2, 0);
    EXPECT_EQ(r[2].text,
              "SETUP rtsp://127.0.0.1/live/ch1/trackID=1 RTSP/1.0\r\nCSeq: 3\r\n"
              "User-Agent: LibVLC/1.1.11 (LIVE555 Streaming Media v2011.05.25)\r\n"
              "Transport: RTP/AVP;unicast;client_port=" +
                  std::to_string(m.rtpPort) + "-" + std::to_string(m.rtcpPort) + "\r\n\r\n");
    EXPECT_EQ(r[3].text, std::string("PLAY rtsp://127.0.0.1/live/ch1 RTSP/1.0\r\nSession: ") +
                             kSessionId + "\r\nRange: npt=0.000-\r\nCSeq: 4\r\n\r\n");

    // What the replies said.
    EXPECT_EQ(s.sessionId(), kSessionId);
    EXPECT_EQ(s.sessionTimeout(), 60u);
    EXPECT_EQ(s.stream().codec, kCodecH264);
    EXPECT_EQ(s.stream().payloadType, 96u);
    EXPECT_EQ(s.stream().picture.width, 352);
    EXPECT_EQ(s.stream().picture.height, 288);
    EXPECT_TRUE(s.stream().ssrcKnown);
    EXPECT_EQ(s.stream().ssrc, 0x0A0B0C0Du);
    EXPECT_TRUE(s.stream().sequenceKnown);
    EXPECT_EQ(s.stream().expectedSequence, 1000);

    testing::internal::CaptureStdout();
    s.Close();
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(camera.WaitForRequests(5, 2000));
    EXPECT_EQ(camera.Requests()[4].text,
              std::string("TEARDOWN rtsp://127.0.0.1/live/ch1 RTSP/1.0\r\nSession: ") + kSessionId +
                  "\r\nCSeq: 5\r\n\r\n");
    EXPECT_NE(console.find("Stop ONVIF begin "), std::string::npos) << console;
    EXPECT_NE(console.find("Stop ONVIF end "), std::string::npos) << console;
    EXPECT_FALSE(s.established());
    EXPECT_EQ(s.sockets().rtp, kInvalidSocket);
}

TEST_F(SessionSetup, CSeqKeepsRisingAcrossSetups) {
    FakeCamera camera(StandardReply);
    RtspSession s;
    Target(s, camera, "/a");
    ASSERT_TRUE(s.Open(abort_.get()));
    ASSERT_TRUE(s.Open(abort_.get()));  // tears the first one down first
    ASSERT_TRUE(camera.WaitForRequests(9, 2000));
    auto r = camera.Requests();
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(r[i].cseq, i + 1) << r[i].text;
    EXPECT_EQ(r[4].method, "TEARDOWN");
    EXPECT_EQ(r[5].method, "OPTIONS");
    EXPECT_EQ(r[5].connection, 2);
}

TEST_F(SessionSetup, BasicChallengeIsAnsweredOnce) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "DESCRIBE" && q.text.find("Authorization:") == std::string::npos) {
            return CameraReply{FakeCamera::Reply(q, "401 Unauthorized",
                                                 "WWW-Authenticate: Basic realm=\"cam\"\r\n")};
        }
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/x", "user:pw@");
    ASSERT_TRUE(s.Open(abort_.get()));
    EXPECT_EQ(s.authKind(), kAuthBasic);
    auto r = camera.Requests();
    ASSERT_GE(r.size(), 5u);
    EXPECT_EQ(r[2].method, "DESCRIBE");
    EXPECT_NE(
        r[2].text.find("\r\nAccept: application/sdp\r\nAuthorization: Basic dXNlcjpwdw==\r\n\r\n"),
        std::string::npos)
        << r[2].text;
    // Later requests carry it too.
    EXPECT_NE(r[3].text.find("Authorization: Basic dXNlcjpwdw=="), std::string::npos);
    EXPECT_NE(r[4].text.find("Authorization: Basic dXNlcjpwdw=="), std::string::npos);
}

TEST_F(SessionSetup, DigestIsChosenOverBasicAndSignsEveryMethod) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "DESCRIBE" && q.text.find("Authorization:") == std::string::npos) {
            return CameraReply{FakeCamera::Reply(
                q, "401 Unauthorized",
                "WWW-Authenticate: Basic realm=\"basic-realm\"\r\n"
                "WWW-Authenticate: Digest realm=\"cam\", nonce=\"4e6f6e6365\"\r\n")};
        }
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/live/ch1", "admin:secret@");
    ASSERT_TRUE(s.Open(abort_.get()));
    EXPECT_EQ(s.authKind(), kAuthDigest);
    s.Close();
    ASSERT_TRUE(camera.WaitForRequests(6, 2000));
    auto r = camera.Requests();
    const std::string ha1 = Md5("admin:cam:secret");
    for (size_t i = 2; i < 6; ++i) {
        SCOPED_TRACE(r[i].text);
        // The uri is the configured path, also for SETUP to the control URL.
        const std::string response = Md5(ha1 + ":4e6f6e6365:" + Md5(r[i].method + ":/live/ch1"));
        EXPECT_NE(r[i].text.find("\r\nAuthorization: Digest username=\"admin\",realm=\"cam\","
                                 "nonce=\"4e6f6e6365\",uri=\"/live/ch1\",response=\"" +
                                 response + "\""),
                  std::string::npos);
        EXPECT_EQ(r[i].text.find("Basic"), std::string::npos);
        EXPECT_EQ(r[i].text.find("qop"), std::string::npos);
    }
}

TEST_F(SessionSetup, ChallengeForEverFailsTheSetup) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "DESCRIBE") {
            return CameraReply{FakeCamera::Reply(
                q, "401 Unauthorized", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n")};
        }
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/x", "u:wrong@");
    EXPECT_FALSE(s.Open(abort_.get()));
    EXPECT_STREQ(s.lastError(), "authentication refused");
    EXPECT_EQ(camera.Requests().size(), 3u);  // OPTIONS, DESCRIBE, one retry
    EXPECT_FALSE(s.established());
}

TEST_F(SessionSetup, SecureRtspStatusLineCountsAsAChallenge) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "DESCRIBE" && q.text.find("Authorization:") == std::string::npos) {
            return CameraReply{
                "Secure-RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\n"
                "WWW-Authenticate: Basic realm=\"x\"\r\n\r\n"};
        }
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/x", "u:p@");
    ASSERT_TRUE(s.Open(abort_.get()));
    EXPECT_EQ(s.authKind(), kAuthBasic);
}

TEST_F(SessionSetup, RepliesDeliveredOneByteAtATime) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        CameraReply r = StandardReply(c, q);
        r.byteAtATime = q.method != "DESCRIBE";  // keep the test short
        return r;
    });
    RtspSession s;
    Target(s, camera, "/slow");
    ASSERT_TRUE(s.Open(abort_.get()));
    EXPECT_EQ(s.sessionId(), kSessionId);
}

TEST_F(SessionSetup, SetupReplyWithoutServerPortFails) {
    for (const char* transport : {"Transport: RTP/AVP;unicast;client_port=1-2\r\n",
                                  "Transport: RTP/AVP;unicast;server_port=7000\r\n"}) {
        FakeCamera camera([transport](FakeCamera& c, const CameraRequest& q) {
            if (q.method == "SETUP") {
                return CameraReply{
                    FakeCamera::Reply(q, "200 OK", std::string(transport) + "Session: 1\r\n")};
            }
            return StandardReply(c, q);
        });
        RtspSession s;
        Target(s, camera, "/x");
        EXPECT_FALSE(s.Open(abort_.get())) << transport;
        EXPECT_NE(std::string(s.lastError()).find("server_port"), std::string::npos);
        EXPECT_EQ(s.sockets().rtp, kInvalidSocket);
    }
}

TEST_F(SessionSetup, NoSessionHeaderSendsSessionZero) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "SETUP") {
            return CameraReply{FakeCamera::Reply(
                q, "200 OK",
                "Transport: RTP/AVP;unicast;server_port=" + std::to_string(c.rtpPort()) + "-" +
                    std::to_string(c.rtcpPort()) + "\r\n")};
        }
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/x");
    ASSERT_TRUE(s.Open(abort_.get()));
    s.Close();
    ASSERT_TRUE(camera.WaitForRequests(5, 2000));
    auto r = camera.Requests();
    EXPECT_NE(r[3].text.find("\r\nSession: 0\r\n"), std::string::npos) << r[3].text;
    EXPECT_NE(r[4].text.find("\r\nSession: 0\r\n"), std::string::npos) << r[4].text;
}

TEST_F(SessionSetup, ConnectionClosedByTheCameraFailsTheSetup) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "DESCRIBE")
            return CameraReply{"", true};
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/x");
    const uint32_t t0 = TickCountMs();
    EXPECT_FALSE(s.Open(abort_.get()));
    EXPECT_LT(TickCountMs() - t0, 2500u);  // the closed connection ends the wait
}

TEST_F(SessionSetup, HostNameIsRefusedWithoutLookup) {
    RtspSession s;
    EXPECT_TRUE(s.SetTarget(554, "localhost", "", "", "/x"));
    EXPECT_FALSE(s.Open(abort_.get()));
    EXPECT_FALSE(s.SetTarget(554, "a.very.long.hostname", "", "", "/x"));
}

TEST_F(SessionSetup, AbortBeforeSetupReturnsFalseAtOnce) {
    FakeCamera camera(StandardReply);
    RtspSession s;
    Target(s, camera, "/x");
    EventSet(abort_.get());
    EXPECT_FALSE(s.Open(abort_.get()));
    EXPECT_TRUE(camera.Requests().empty());
}

TEST_F(SessionSetup, AbortDuringAReplyWaitEndsTheSetup) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "DESCRIBE")
            return CameraReply{};  // never answers
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/x");
    s.SetResponseTimeout(60000);
    std::thread stopper([this] {
        SleepMs(200);
        EventSet(abort_.get());
    });
    const uint32_t t0 = TickCountMs();
    EXPECT_FALSE(s.Open(abort_.get()));
    EXPECT_LT(TickCountMs() - t0, 2000u);
    stopper.join();
}

TEST_F(SessionSetup, RtpBeforeThePlayReplyStampsTheFirstDatagramTime) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "PLAY") {
            c.SendRtp(MakeRtp(96, 1, 0, 1, true, {0x65, 0x88}));
            SleepMs(50);
        }
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/x");
    const uint64_t before = SystemFileTime();
    ASSERT_TRUE(s.Open(abort_.get()));
    EXPECT_GE(s.stream().firstDatagramTime, before);
    EXPECT_LE(s.stream().firstDatagramTime, SystemFileTime());
}

TEST_F(SessionSetup, LatePlayReplyIsNotTakenForTheTeardownReply) {
    FakeCamera camera([](FakeCamera& c, const CameraRequest& q) {
        if (q.method == "PLAY") {
            // RTP first: the client stops waiting for the PLAY reply.
            c.SendRtp(MakeRtp(96, 1, 0, 1, true, {0x65, 0x88}));
            SleepMs(300);
        } else if (q.method == "TEARDOWN") {
            SleepMs(60);
        }
        return StandardReply(c, q);
    });
    RtspSession s;
    Target(s, camera, "/x");
    ASSERT_TRUE(s.Open(abort_.get()));
    SleepMs(500);  // the PLAY reply is waiting on the control socket now
    testing::internal::CaptureStdout();
    const uint32_t t0 = TickCountMs();
    s.Close();
    const uint32_t took = TickCountMs() - t0;
    testing::internal::GetCapturedStdout();
    // The client waited for the TEARDOWN reply itself.
    EXPECT_GE(took, 50u);
    ASSERT_TRUE(camera.WaitForRequests(5, 2000));
    EXPECT_EQ(camera.Requests()[4].method, "TEARDOWN");
}

std::string Sha256(const std::string& s) {
    char hex[kSha256HexSize];
    Sha256Hex(s.data(), s.size(), hex);
    return hex;
}

// The parameters of a request's Digest Authorization line, quotes removed.
std::map<std::string, std::string> DigestFields(const std::string& request) {
    std::map<std::string, std::string> fields;
    const size_t at = request.find("\r\nAuthorization: Digest ");
    if (at == std::string::npos)
        return fields;
    // No value the client writes holds a comma, so the line splits at commas.
    std::string line = request.substr(at + 24, request.find("\r\n", at + 2) - at - 24) + ",";
    for (size_t p = 0, comma; (comma = line.find(',', p)) != std::string::npos; p = comma + 1) {
        const std::string item = line.substr(p, comma - p);
        const size_t eq = item.find('=');
        std::string value = item.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        fields[item.substr(0, eq)] = value;
    }
    return fields;
}

// What the camera expects for a qop=auth answer, worked out on its side from
// the hash primitives: H(H(user:realm:password):nonce:nc:cnonce:qop:H(method:uri)).
bool CameraAccepts(const CameraRequest& q, const std::string& password,
                   std::string (*hash)(const std::string&)) {
    auto f = DigestFields(q.text);
    if (f.count("response") == 0 || f["qop"] != "auth" || f["nc"].size() != 8 ||
        f["cnonce"].empty()) {
        return false;
    }
    const std::string ha1 = hash(f["username"] + ":" + f["realm"] + ":" + password);
    const std::string ha2 = hash(q.method + ":" + f["uri"]);
    return f["response"] ==
           hash(ha1 + ":" + f["nonce"] + ":" + f["nc"] + ":" + f["cnonce"] + ":auth:" + ha2);
}

// A camera offering qop=auth: every request of the set-up and the TEARDOWN is
// signed with the same nonce and a count that rises by one each time.
TEST_F(SessionSetup, DigestQopCountsEveryRequestAndPrefersSha256) {
    struct Case {
        const char* name;
        const char* challenge;
        std::string (*hash)(const std::string&);
        const char* algorithm;  // echoed, or "" when not named
        const char* opaque;     // echoed, or ""
    };
    static const Case kCases[] = {
        {"MD5 with opaque",
         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n-1\", qop=\"auth\", opaque=\"op-1\"\r\n",
         Md5, "", "op-1"},
        {"SHA-256 offered second",
         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n-1\", qop=\"auth\"\r\n"
         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n-1\", qop=\"auth\", "
         "algorithm=SHA-256\r\n",
         Sha256, "SHA-256", ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        FakeCamera camera([&c](FakeCamera& cam, const CameraRequest& q) {
            if (q.method == "DESCRIBE" && !CameraAccepts(q, "secret", c.hash))
                return CameraReply{FakeCamera::Reply(q, "401 Unauthorized", c.challenge)};
            return StandardReply(cam, q);
        });
        RtspSession s;
        Target(s, camera, "/live/ch1", "admin:secret@");
        ASSERT_TRUE(s.Open(abort_.get()));
        EXPECT_EQ(s.authKind(), kAuthDigest);
        testing::internal::CaptureStdout();
        s.Close();
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(camera.WaitForRequests(6, 2000));
        auto r = camera.Requests();
        ASSERT_EQ(r.size(), 6u);
        const char* kMethods[] = {"DESCRIBE", "SETUP", "PLAY", "TEARDOWN"};
        for (size_t i = 0; i < 4; ++i) {
            const CameraRequest& q = r[i + 2];
            SCOPED_TRACE(q.text);
            EXPECT_EQ(q.method, kMethods[i]);
            EXPECT_TRUE(CameraAccepts(q, "secret", c.hash));
            auto f = DigestFields(q.text);
            EXPECT_EQ(f["nc"], "0000000" + std::to_string(i + 1));
            EXPECT_EQ(f["nonce"], "n-1");
            EXPECT_EQ(f["uri"], "/live/ch1");
            EXPECT_EQ(f["response"].size(), c.hash == Sha256 ? 64u : 32u);
            EXPECT_EQ(f["cnonce"], DigestFields(r[2].text)["cnonce"]);
            EXPECT_EQ(f["algorithm"], c.algorithm);
            EXPECT_EQ(f["opaque"], c.opaque);
        }
    }
}

// A refusal with stale=true after a correct answer: once more with the new
// nonce and nc 1; refused as stale again, the set-up ends.
TEST_F(SessionSetup, StaleNonceIsRetriedOnce) {
    for (const bool acceptSecond : {true, false}) {
        SCOPED_TRACE(acceptSecond ? "second nonce accepted" : "stale again");
        FakeCamera camera([acceptSecond](FakeCamera& cam, const CameraRequest& q) {
            if (q.method != "DESCRIBE")
                return StandardReply(cam, q);
            const std::string nonce = DigestFields(q.text)["nonce"];
            std::string next;
            if (nonce.empty()) {
                next = "n-1\"";
            } else if (!CameraAccepts(q, "pw", Md5)) {
                next = "wrong\"";
            } else if (nonce == "n-1") {
                next = "n-2\", stale=true";
            } else if (nonce == "n-2" && !acceptSecond) {
                next = "n-3\", stale=\"TRUE\"";
            } else {
                return StandardReply(cam, q);
            }
            return CameraReply{FakeCamera::Reply(
                q, "401 Unauthorized",
                "WWW-Authenticate: Digest realm=\"cam\", qop=\"auth\", nonce=\"" + next + "\r\n")};
        });
        RtspSession s;
        Target(s, camera, "/x", "u:pw@");
        EXPECT_EQ(s.Open(abort_.get()), acceptSecond);
        auto r = camera.Requests();
        if (acceptSecond) {
            ASSERT_EQ(r.size(), 6u);
            EXPECT_EQ(r[4].method, "SETUP");
            EXPECT_EQ(DigestFields(r[4].text)["nonce"], "n-2");
            EXPECT_EQ(DigestFields(r[4].text)["nc"], "00000002");
            EXPECT_EQ(DigestFields(r[5].text)["nc"], "00000003");
        } else {
            EXPECT_STREQ(s.lastError(), "authentication refused");
            EXPECT_FALSE(s.established());
            ASSERT_EQ(r.size(), 4u);  // OPTIONS, DESCRIBE, two answers, no third
        }
        EXPECT_EQ(DigestFields(r[2].text)["nonce"], "n-1");
        EXPECT_EQ(DigestFields(r[3].text)["nonce"], "n-2");
        EXPECT_EQ(DigestFields(r[3].text)["nc"], "00000001");
        for (size_t i = 2; i < 4; ++i)
            EXPECT_EQ(r[i].method, "DESCRIBE");
    }
}

}  // namespace
}  // namespace camvue::test
