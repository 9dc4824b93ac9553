// Reply text tools on arbitrary bytes: value search (with copies), status
// codes, the challenge choice, Digest parsing and the Authorization lines,
// and the reply-length rule of ReadResponse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "npcamvue/rtsp/authorization.h"
#include "npcamvue/rtsp/read_response.h"
#include "npcamvue/rtsp/reply_text.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

const char* const kKeys[] = {
    "CSeq:",    "Session:",     "Content-Base:", "Content-Length:",   "Transport:",
    "port=",    "server_port=", "source=",       "destination=",      "ttl=",
    "timeout=", "realm=\"",     "nonce=\"",      "WWW-Authenticate:", "a=control:",
    "\""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace camvue;
    // The raw bytes, exactly sized, for the length-bounded reply rule.
    std::unique_ptr<char[]> raw(new char[size > 0 ? size : 1]);
    if (size > 0)
        std::memcpy(raw.get(), data, size);
    const size_t expected = ReplyExpectedLength(raw.get(), size);
    Check(expected == 0 || expected >= 4);

    // A NUL-terminated copy, exactly sized, for the text tools.
    std::unique_ptr<char[]> buffer(new char[size + 1]);
    if (size > 0)
        std::memcpy(buffer.get(), data, size);
    buffer[size] = '\0';
    const char* text = buffer.get();
    const size_t textLength = std::strlen(text);

    char* copy = nullptr;
    for (const char* key : kKeys) {
        int length = -1;
        const char* value = FindHeaderValue(key, text, &copy, &length);
        if (value == nullptr)
            continue;
        Check(value >= text && length >= 0);
        Check(static_cast<size_t>(value - text) + static_cast<size_t>(length) <= textLength);
        Check(copy != nullptr && std::memcmp(copy, value, static_cast<size_t>(length)) == 0);
        Check(copy[length] == '\0' && copy[length + 1] == '\0');
    }
    FreeHeaderCopy(&copy);

    const int rtsp = RtspStatusCode(text);
    Check(rtsp == 0 || rtsp == -1 || (rtsp >= 100 && rtsp <= 551));
    const int http = HttpStatusCode(text);
    Check(http >= -1 && http <= 999);
    const int kind = ChallengeKind(text);
    Check(kind >= -1 && kind <= 2);

    DigestContext ctx;
    ctx.user = "admin";
    ctx.password = "secret";
    ctx.uri = "/stream1";
    ctx.method = "DESCRIBE";
    if (ParseDigestChallenge(&ctx, text)) {
        Check(ctx.realm != nullptr && ctx.nonce != nullptr);
        char small[160] = "DESCRIBE rtsp://127.0.0.1/stream1 RTSP/1.0\r\nCSeq: 3";
        AppendDigestAuthorization(&ctx, small, sizeof(small));
        Check(std::strlen(small) < sizeof(small));
        char large[2048] = "SETUP rtsp://127.0.0.1/stream1/track1 RTSP/1.0";
        ctx.method = "SETUP";
        AppendDigestAuthorization(&ctx, large, sizeof(large));
        Check(std::strlen(large) < sizeof(large));
    } else {
        Check(ctx.realm == nullptr && ctx.nonce == nullptr);
    }
    ClearDigestChallenge(&ctx);

    // The input itself as a user name: any length, any bytes.
    char request[128] = "OPTIONS * RTSP/1.0";
    AppendBasicAuthorization(text, "pw", request, sizeof(request));
    Check(std::strlen(request) < sizeof(request));
    return 0;
}
