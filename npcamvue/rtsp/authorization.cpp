#include "npcamvue/rtsp/authorization.h"

#include <cstring>

#include "npcamvue/rtsp/base64.h"
#include "npcamvue/rtsp/md5.h"
#include "npcamvue/rtsp/reply_text.h"

namespace camvue {
namespace {

constexpr size_t kMaxCredentialPart = 255;  // user name and password, each
constexpr size_t kBasicEncodedSize = 516;

// Length of a NUL-terminated string, or `limit` + 1 when it is longer than
// `limit`; never reads more than limit + 1 characters.
size_t BoundedLength(const char* s, size_t limit) {
    size_t n = 0;
    while (n <= limit && s[n] != '\0')
        ++n;
    return n;
}

// Fits a quoted-string value: no quote to close it early, no line break to
// start a new header.
bool Quotable(const char* s) {
    for (; *s != '\0'; ++s) {
        if (*s == '"' || *s == '\r' || *s == '\n')
            return false;
    }
    return true;
}

// Appends `line` (lineLength characters) to the request when the request is
// NUL-terminated within requestSize and line plus NUL fit behind it.
bool AppendLine(char* request, size_t requestSize, const char* line, size_t lineLength) {
    if (request == nullptr || requestSize == 0)
        return false;
    const size_t used = BoundedLength(request, requestSize - 1);
    if (used >= requestSize)
        return false;
    if (lineLength >= requestSize - used)
        return false;
    std::memcpy(request + used, line, lineLength);
    request[used + lineLength] = '\0';
    return true;
}

// Appends text to line[0, *length), keeping room for a NUL within capacity.
bool Put(char* line, size_t capacity, size_t* length, const char* text) {
    const size_t n = std::strlen(text);
    if (n >= capacity - *length)
        return false;
    std::memcpy(line + *length, text, n);
    *length += n;
    line[*length] = '\0';
    return true;
}

// MD5 hex of the parts joined by ":".
void HashJoined(const char* const* parts, int count, char out[kMd5HexSize]) {
    Md5Context md5;
    Md5Init(&md5);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            Md5Update(&md5, ":", 1);
        Md5Update(&md5, parts[i], std::strlen(parts[i]));
    }
    uint8_t digest[16];
    Md5Final(&md5, digest);
    Md5ToHex(digest, out);
}

}  // namespace

void ClearDigestChallenge(DigestContext* ctx) {
    if (ctx == nullptr)
        return;
    FreeHeaderCopy(&ctx->realm);
    FreeHeaderCopy(&ctx->nonce);
}

bool ParseDigestChallenge(DigestContext* ctx, const char* reply) {
    if (ctx == nullptr)
        return false;
    // A new challenge replaces the old one entirely; no stale nonce survives.
    ClearDigestChallenge(ctx);
    if (reply == nullptr)
        return false;
    // When Basic is offered first, its realm must not be taken for Digest's.
    const char* from = FindDigestChallenge(reply);
    if (from == nullptr)
        from = reply;
    const bool realm = FindHeaderValue("realm=\"", from, &ctx->realm, nullptr) != nullptr;
    const bool nonce = FindHeaderValue("nonce=\"", from, &ctx->nonce, nullptr) != nullptr;
    if (realm && nonce && ctx->realm != nullptr && ctx->nonce != nullptr)
        return true;
    ClearDigestChallenge(ctx);
    return false;
}

bool AppendBasicAuthorization(const char* user, const char* password, char* request,
                              size_t requestSize) {
    if (user == nullptr || password == nullptr || user[0] == '\0')
        return false;
    const size_t userLength = BoundedLength(user, kMaxCredentialPart);
    const size_t passwordLength = BoundedLength(password, kMaxCredentialPart);
    if (userLength > kMaxCredentialPart || passwordLength > kMaxCredentialPart)
        return false;

    char credentials[2 * kMaxCredentialPart + 2];
    std::memcpy(credentials, user, userLength);
    credentials[userLength] = ':';
    std::memcpy(credentials + userLength + 1, password, passwordLength);
    const size_t credentialsLength = userLength + 1 + passwordLength;

    static const char kPrefix[] = "\r\nAuthorization: Basic ";
    constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;
    char line[kPrefixLength + kBasicEncodedSize];
    std::memcpy(line, kPrefix, kPrefixLength);
    size_t encodedLength = 0;
    const bool encoded = Base64Encode(credentials, credentialsLength, line + kPrefixLength,
                                      kBasicEncodedSize, &encodedLength);
    if (!encoded)
        return false;
    return AppendLine(request, requestSize, line, kPrefixLength + encodedLength);
}

bool AppendDigestAuthorization(const DigestContext* ctx, char* request, size_t requestSize) {
    if (ctx == nullptr || ctx->user == nullptr || ctx->password == nullptr ||
        ctx->realm == nullptr || ctx->nonce == nullptr || ctx->method == nullptr) {
        return false;
    }
    const char* uri = ctx->uri != nullptr && ctx->uri[0] != '\0' ? ctx->uri : "/";
    if (!Quotable(ctx->user) || !Quotable(ctx->realm) || !Quotable(ctx->nonce) || !Quotable(uri)) {
        return false;
    }

    // RFC 2069 digest: response = H(H(A1) ":" nonce ":" H(A2)).
    char ha1[kMd5HexSize];
    char ha2[kMd5HexSize];
    char response[kMd5HexSize];
    const char* a1[] = {ctx->user, ctx->realm, ctx->password};
    HashJoined(a1, 3, ha1);
    const char* a2[] = {ctx->method, uri};
    HashJoined(a2, 2, ha2);
    const char* r[] = {ha1, ctx->nonce, ha2};
    HashJoined(r, 3, response);

    char line[kMaxDigestLine + 1];
    size_t length = 0;
    const char* pieces[] = {"\r\nAuthorization: Digest username=\"",
                            ctx->user,
                            "\",realm=\"",
                            ctx->realm,
                            "\",nonce=\"",
                            ctx->nonce,
                            "\",uri=\"",
                            uri,
                            "\",response=\"",
                            response,
                            "\""};
    for (const char* piece : pieces) {
        if (!Put(line, sizeof(line), &length, piece))
            return false;
    }
    return AppendLine(request, requestSize, line, length);
}

}  // namespace camvue
