#include "npcamvue/rtsp/reply_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace camvue {
namespace {

struct ValueCase {
    const char* name;
    const char* key;
    const char* text;
    int offset;         // where the value starts in text; -1: not found
    const char* value;  // the value up to its end rule
};

const ValueCase kValueCases[] = {
    {"key inside another word",
     "port=", "Transport: RTP/AVP;unicast;server_port=6970-6971;ssrc=1\r\n", 39, "6970-6971"},
    {"first match wins", "port=", "Transport: RTP/AVP;client_port=5000-5001;server_port=6970\r\n",
     31, "5000-5001"},
    {"case-insensitive key", "cseq:", "RTSP/1.0 200 OK\r\nCSEQ: 3\r\n", 23, "3"},
    {"quoted key ends at the quote, not at comma or semicolon", "realm=\"",
     "WWW-Authenticate: Digest realm=\"Cam; West, 2\", nonce=\"abc\"\r\n", 32, "Cam; West, 2"},
    {"quoted key keeps leading spaces", "nonce=\"", "Digest nonce=\"  n1\"\r\n", 14, "  n1"},
    {"quoted value without closing quote ends at the line", "nonce=\"",
     "Digest nonce=\"abc\r\nCSeq: 1\r\n", 14, "abc"},
    {"semicolon ends a value", "Session:", "Session: 12345678;timeout=60\r\n", 9, "12345678"},
    {"comma ends a value", "Public:", "Public: OPTIONS, DESCRIBE, SETUP\r\n", 8, "OPTIONS"},
    {"blanks after the key are skipped", "CSeq:", "CSeq: \t  4\r\n", 9, "4"},
    {"CR ends the line", "Content-Base:", "Content-Base: rtsp://cam/a/\r\nCSeq: 2\r\n", 14,
     "rtsp://cam/a/"},
    {"LF ends the line even when a CR follows later",
     "Content-Base:", "Content-Base: rtsp://cam/a/\nCSeq: 2\r\n", 14, "rtsp://cam/a/"},
    {"value runs to the end of the text", "CSeq:", "RTSP/1.0 200 OK\r\nCSeq: 7", 23, "7"},
    {"key at the very end", "CSeq:", "RTSP/1.0 200 OK\r\nCSeq:", 22, ""},
    {"key at the end followed by blanks only", "CSeq:", "CSeq:   ", 8, ""},
    {"missing key", "Session:", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", -1, nullptr},
    {"key longer than the text", "Content-Length:", "Content", -1, nullptr},
    {"empty key", "", "CSeq: 1\r\n", -1, nullptr},
    {"empty text", "CSeq:", "", -1, nullptr},
};

TEST(FindHeaderValue, FindsValuesByTheirEndRules) {
    for (const ValueCase& c : kValueCases) {
        SCOPED_TRACE(c.name);
        int length = -7;
        const char* value = FindHeaderValue(c.key, c.text, nullptr, &length);
        if (c.offset < 0) {
            EXPECT_EQ(value, nullptr);
            EXPECT_EQ(length, -7) << "length reported for a missing key";
            continue;
        }
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value - c.text, c.offset) << "the pointer must point into the text";
        EXPECT_EQ(std::string(value, static_cast<size_t>(length)), c.value);
    }
}

TEST(FindHeaderValue, NullArgumentsFindNothing) {
    EXPECT_EQ(FindHeaderValue(nullptr, "CSeq: 1", nullptr, nullptr), nullptr);
    EXPECT_EQ(FindHeaderValue("CSeq:", nullptr, nullptr, nullptr), nullptr);
    EXPECT_NE(FindHeaderValue("CSeq:", "CSeq: 1", nullptr, nullptr), nullptr);
}

// Copies carry two trailing NULs and replace (free) the previous copy; the
// native build runs under LeakSanitizer, so a lost copy fails the run.
TEST(FindHeaderValue, CopyReplacesTheOldCopy) {
    const char* reply = "RTSP/1.0 200 OK\r\nSession: 4711;timeout=60\r\nCSeq: 12\r\n";
    char* copy = nullptr;
    int length = 0;
    ASSERT_NE(FindHeaderValue("Session:", reply, &copy, &length), nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "4711");
    EXPECT_EQ(length, 4);
    EXPECT_EQ(copy[5], '\0') << "second trailing NUL";

    ASSERT_NE(FindHeaderValue("CSeq:", reply, &copy, nullptr), nullptr);
    EXPECT_STREQ(copy, "12");
    EXPECT_EQ(copy[3], '\0');

    // A missing key leaves the copy as it was.
    char* before = copy;
    EXPECT_EQ(FindHeaderValue("Transport:", reply, &copy, nullptr), nullptr);
    EXPECT_EQ(copy, before);

    // An empty value still gives a (two-NUL) copy.
    ASSERT_NE(FindHeaderValue("CSeq:", "CSeq:\r\n", &copy, &length), nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(copy[0], '\0');
    EXPECT_EQ(copy[1], '\0');

    FreeHeaderCopy(&copy);
    EXPECT_EQ(copy, nullptr);
    FreeHeaderCopy(&copy);  // accepts null
    FreeHeaderCopy(nullptr);
}

// Searching a previous copy for a value must not free the text being searched.
TEST(FindHeaderValue, NoCopyIntoTheSearchedTextItself) {
    char* text = nullptr;
    ASSERT_NE(FindHeaderValue("Content-Base:", "Content-Base: rtsp://cam/a/trackID=1\r\n", &text,
                              nullptr),
              nullptr);
    char* same = text;
    int length = 0;
    const char* value = FindHeaderValue("trackid=", text, &same, &length);
    EXPECT_EQ(same, text);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(std::string(value, static_cast<size_t>(length)), "1");
    EXPECT_STREQ(text, "rtsp://cam/a/trackID=1");
    FreeHeaderCopy(&text);
}

struct StatusCase {
    const char* text;
    int rtsp;
    int http;
};

TEST(StatusCode, ReadsRtspAndHttpStatusLines) {
    static const StatusCase kCases[] = {
        {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n", 200, 0},
        {"Secure-RTSP/1.0 401 Unauthorized\r\n", 401, 0},
        {"rtsp/1.0 454 Session Not Found\r\n", 454, 0},
        {"RTSP/2.0 200 OK\r\n", 200, 0},  // any version after the name
        {"RTSP/1.0 299 Odd\r\n", -1, 0},
        {"RTSP/1.0 462 Destination unreachable\r\n", 462, 0},
        {"RTSP/1.0 409 Conflict\r\n", -1, 0},
        {"RTSP/1.0\r\n", -1, 0},               // no space
        {"RTSP/1.0", -1, 0},                   // no space, end of text
        {"RTSP/1.0\r\nCSeq: 200\r\n", -1, 0},  // a space on a later line does not count
        {"RTSP/1.0 20", -1, 0},                // text ends inside the code
        {"RTSP/1.0 2x0 OK", -1, 0},
        {"RTSP/1.0 -20 OK", -1, 0},
        {"HTTP/1.1 401 Unauthorized\r\n", 0, 401},
        {"http/1.0 200 OK\r\n", 0, 200},
        {"HTTP/1.2 999 Whatever\r\n", 0, 999},  // HTTP codes are not checked
        {"HTTP/1.3 200 OK\r\n", 0, 0},
        {"HTTP/1.1\r\n", 0, -1},
        {"HTTP/1.1 2", 0, -1},
        {" RTSP/1.0 200 OK", 0, 0},
        {"", 0, 0},
    };
    for (const StatusCase& c : kCases) {
        EXPECT_EQ(RtspStatusCode(c.text), c.rtsp) << c.text;
        EXPECT_EQ(HttpStatusCode(c.text), c.http) << c.text;
    }
    EXPECT_EQ(RtspStatusCode(nullptr), 0);
    EXPECT_EQ(HttpStatusCode(nullptr), 0);
}

// The edges of every range of the RTSP/1.0 code list.
TEST(StatusCode, AcceptsExactlyTheRtspCodeList) {
    static const int kKnown[] = {100, 200, 201, 250, 300, 301, 302, 303, 305,
                                 400, 408, 410, 415, 451, 462, 500, 505, 551};
    static const int kUnknown[] = {0,   99,  101, 199, 202, 249, 251, 299, 304, 306,
                                   399, 409, 416, 450, 463, 499, 506, 550, 552, 999};
    char line[32];
    for (int code : kKnown) {
        std::snprintf(line, sizeof(line), "RTSP/1.0 %03d X\r\n", code);
        EXPECT_EQ(RtspStatusCode(line), code) << line;
    }
    for (int code : kUnknown) {
        std::snprintf(line, sizeof(line), "RTSP/1.0 %03d X\r\n", code);
        EXPECT_EQ(RtspStatusCode(line), -1) << line;
    }
}

struct ChallengeCase {
    const char* name;
    const char* reply;
    int kind;
};

TEST(ChallengeKind, ChoosesTheScheme) {
    static const ChallengeCase kCases[] = {
        {"RTSP success", "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n", 0},
        {"HTTP success", "HTTP/1.1 200 OK\r\n\r\n", 0},
        {"Basic only", "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n",
         1},
        {"Digest only",
         "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\", "
         "nonce=\"abc\"\r\n\r\n",
         2},
        {"Secure-RTSP 401",
         "Secure-RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest "
         "realm=\"c\", nonce=\"n\"\r\n\r\n",
         2},
        {"HTTP 401", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"c\"\r\n\r\n", 1},
        {"both offered, Basic first: Digest",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 3\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n"
         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n\r\n",
         2},
        {"both offered, Digest first: Digest",
         "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n"
         "WWW-Authenticate: Basic realm=\"cam\"\r\n\r\n",
         2},
        {"both in one header",
         "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"a\", Digest "
         "realm=\"b\", nonce=\"c\"\r\n\r\n",
         2},
        {"both, Digest on a folded line",
         "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"a\",\r\n Digest "
         "realm=\"b\", nonce=\"c\"\r\n\r\n",
         2},
        {"a realm naming the other scheme is no scheme",
         "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"Digest area\"\r\n\r\n", 1},
        {"a Digest realm called Basic",
         "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Basic\", "
         "nonce=\"n\"\r\n\r\n",
         2},
        {"header name in other case",
         "RTSP/1.0 401 Unauthorized\r\nwww-authenticate: digest "
         "realm=\"c\", nonce=\"n\"\r\n\r\n",
         2},
        {"no WWW-Authenticate", "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\n\r\n", -1},
        {"unknown scheme", "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: NTLM\r\n\r\n", -1},
        {"scheme word only as a parameter",
         "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Foo Digest=1, Basic=2\r\n\r\n", -1},
        {"challenge text in the body does not count",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\n\r\nWWW-Authenticate: Digest nonce=\"n\"", -1},
        {"401 reply cut inside the header", "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Dig",
         -1},
        {"other status with a challenge",
         "RTSP/1.0 404 Not Found\r\nWWW-Authenticate: Basic realm=\"c\"\r\n\r\n", -1},
        {"unknown RTSP code", "RTSP/1.0 299 Odd\r\n\r\n", -1},
        {"no status line", "garbage\r\n\r\n", -1},
        {"empty", "", -1},
    };
    for (const ChallengeCase& c : kCases) {
        EXPECT_EQ(ChallengeKind(c.reply), c.kind) << c.name;
    }
    EXPECT_EQ(ChallengeKind(nullptr), -1);
}

TEST(ChallengeKind, FindDigestChallengePointsAtTheDigestScheme) {
    const char* reply =
        "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"one\"\r\n"
        "WWW-Authenticate: Digest realm=\"two\", nonce=\"n\"\r\n\r\n";
    const char* digest = FindDigestChallenge(reply);
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(std::strncmp(digest, "Digest realm=\"two\"", 18), 0);
    EXPECT_EQ(FindDigestChallenge("RTSP/1.0 401 X\r\nWWW-Authenticate: Basic\r\n\r\n"), nullptr);
    EXPECT_EQ(FindDigestChallenge(nullptr), nullptr);
}

}  // namespace
}  // namespace camvue
