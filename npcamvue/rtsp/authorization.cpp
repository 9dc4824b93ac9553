#include "npcamvue/rtsp/authorization.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <random>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtsp/base64.h"
#include "npcamvue/rtsp/md5.h"
#include "npcamvue/rtsp/reply_text.h"
#include "npcamvue/rtsp/sha256.h"

namespace camvue {
namespace {

constexpr size_t kMaxCredentialPart = 255;  // user name and password, each
constexpr size_t kBasicEncodedSize = 516;
constexpr int kMaxDigestChallenges = 8;          // looked at per reply
constexpr size_t kCnonceLength = 16;             // hex characters we make
constexpr size_t kHashHexSize = kSha256HexSize;  // the longer of the two
static_assert(kHashHexSize >= kMd5HexSize, "hash buffers hold either digest");
static_assert(kCnonceLength <= kMaxDigestCnonce, "our client nonce fits the context");

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

// Hex digest (MD5 or SHA-256) of the parts joined by ":".
void HashJoined(int algorithm, const char* const* parts, int count, char out[kHashHexSize]) {
    if (algorithm == kDigestSha256) {
        Sha256Context sha;
        Sha256Init(&sha);
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                Sha256Update(&sha, ":", 1);
            Sha256Update(&sha, parts[i], std::strlen(parts[i]));
        }
        uint8_t digest[32];
        Sha256Final(&sha, digest);
        Sha256ToHex(digest, out);
        return;
    }
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

// A fresh client nonce: kCnonceLength hex characters of a SHA-256 over the
// system's random source (when it has one), the clock and a process-wide
// counter, so two nonces differ even where the random source is weak.
void MakeCnonce(char out[kMaxDigestCnonce + 1]) {
    static std::atomic<uint32_t> counter{0};
    uint32_t seed[8] = {};
    try {
        std::random_device random;
        for (int i = 0; i < 4; ++i)
            seed[i] = random();
    } catch (const std::exception&) {
        // No random source: the clock and the counter still make it unique.
    }
    const uint64_t now = SystemFileTime();
    seed[4] = static_cast<uint32_t>(now);
    seed[5] = static_cast<uint32_t>(now >> 32);
    seed[6] = TickCountMs();
    seed[7] = counter.fetch_add(1);
    char hex[kSha256HexSize];
    Sha256Hex(seed, sizeof(seed), hex);
    std::memcpy(out, hex, kCnonceLength);
    out[kCnonceLength] = '\0';
}

bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

// text[0, length) equals word, ignoring ASCII case.
bool SameWord(const char* text, size_t length, const char* word) {
    if (std::strlen(word) != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        char w = word[i];
        if (w >= 'A' && w <= 'Z')
            w = static_cast<char>(w - 'A' + 'a');
        if (c != w)
            return false;
    }
    return true;
}

// True when the comma- or blank-separated list in text[0, length) holds
// "auth" as a whole item ("auth-int" is another item).
bool ListHasAuth(const char* text, size_t length) {
    size_t at = 0;
    while (at < length) {
        while (at < length && (text[at] == ',' || IsSpaceOrTab(text[at])))
            ++at;
        const size_t start = at;
        while (at < length && text[at] != ',' && !IsSpaceOrTab(text[at]))
            ++at;
        if (at > start && SameWord(text + start, at - start, "auth"))
            return true;
    }
    return false;
}

// Steps over blanks, commas and folded line breaks (a line break followed by
// a blank continues the header). Null at the end of the header or text.
const char* SkipSeparators(const char* p) {
    for (;;) {
        if (IsSpaceOrTab(*p) || *p == ',') {
            ++p;
        } else if (IsLineBreak(*p)) {
            const char* next = p;
            if (*next == '\r')
                ++next;
            if (*next == '\n')
                ++next;
            if (!IsSpaceOrTab(*next))
                return nullptr;
            p = next;
        } else {
            return *p == '\0' ? nullptr : p;
        }
    }
}

// The parameters of one Digest challenge that decide the form of the answer.
struct ChallengeParameters {
    int algorithm = kDigestMd5;
    bool algorithmNamed = false;
    bool supported = true;  // false: an algorithm we do not compute
    bool qopAuth = false;
    bool stale = false;
    const char* opaque = nullptr;  // points into the reply
    size_t opaqueLength = 0;
};

// Reads the parameters of the challenge whose "Digest" scheme token starts at
// `scheme`, up to the end of its header, the next scheme token or the first
// malformed parameter (an unclosed quoted string, a missing name). Quoted
// values are taken between their quotes with escapes left as they are, so a
// value holding an escaped quote is later refused, not unescaped.
ChallengeParameters ReadChallenge(const char* scheme) {
    ChallengeParameters params;
    bool opaqueSeen = false;
    const char* p = scheme + 6;  // past "Digest"
    for (;;) {
        p = SkipSeparators(p);
        if (p == nullptr)
            break;
        const char* name = p;
        while (*p != '\0' && !IsSpaceOrTab(*p) && !IsLineBreak(*p) && *p != ',' && *p != '=' &&
               *p != '"') {
            ++p;
        }
        const size_t nameLength = static_cast<size_t>(p - name);
        while (IsSpaceOrTab(*p))
            ++p;
        if (nameLength == 0 || *p != '=')
            break;  // the next challenge's scheme, or nothing we can read
        ++p;
        while (IsSpaceOrTab(*p))
            ++p;
        const char* value = p;
        size_t valueLength = 0;
        if (*p == '"') {
            value = ++p;
            while (*p != '"') {
                if (*p == '\0' || IsLineBreak(*p))
                    return params;  // unclosed: nothing after it is trusted
                if (*p == '\\' && p[1] != '\0' && !IsLineBreak(p[1]))
                    ++p;
                ++p;
            }
            valueLength = static_cast<size_t>(p - value);
            ++p;  // the closing quote
        } else {
            while (*p != '\0' && !IsSpaceOrTab(*p) && !IsLineBreak(*p) && *p != ',')
                ++p;
            valueLength = static_cast<size_t>(p - value);
        }

        if (SameWord(name, nameLength, "algorithm")) {
            params.algorithmNamed = true;
            if (SameWord(value, valueLength, "MD5")) {
                params.algorithm = kDigestMd5;
            } else if (SameWord(value, valueLength, "SHA-256")) {
                params.algorithm = kDigestSha256;
            } else {
                params.supported = false;
            }
        } else if (SameWord(name, nameLength, "qop")) {
            params.qopAuth = ListHasAuth(value, valueLength);
        } else if (SameWord(name, nameLength, "stale")) {
            params.stale = SameWord(value, valueLength, "true");
        } else if (SameWord(name, nameLength, "opaque") && !opaqueSeen) {
            opaqueSeen = true;
            params.opaque = value;
            params.opaqueLength = valueLength;
        }
    }
    return params;
}

// A heap copy of text[0, length) with two trailing NULs, or null.
char* CopyText(const char* text, size_t length) {
    if (length > kMaxDigestLine)
        return nullptr;  // could never be sent anyway
    char* copy = static_cast<char*>(std::malloc(length + 2));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    copy[length + 1] = '\0';
    return copy;
}

// nc: eight lower-case hex digits.
void NonceCountHex(uint32_t count, char out[9]) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i)
        out[i] = kHex[(count >> (28 - 4 * i)) & 15];
    out[8] = '\0';
}

}  // namespace

void ClearDigestChallenge(DigestContext* ctx) {
    if (ctx == nullptr)
        return;
    FreeHeaderCopy(&ctx->realm);
    FreeHeaderCopy(&ctx->nonce);
    FreeHeaderCopy(&ctx->opaque);
    ctx->algorithm = kDigestMd5;
    ctx->algorithmNamed = false;
    ctx->qopAuth = false;
    ctx->stale = false;
    ctx->nonceCount = 1;
    ctx->cnonce[0] = '\0';
}

bool ParseDigestChallenge(DigestContext* ctx, const char* reply) {
    if (ctx == nullptr)
        return false;
    // A new challenge replaces the old one entirely; no stale nonce survives.
    ClearDigestChallenge(ctx);
    if (reply == nullptr)
        return false;

    const char* challenges[kMaxDigestChallenges];
    const int count = FindDigestChallenges(reply, challenges, kMaxDigestChallenges);
    int chosen = -1;
    ChallengeParameters params;
    for (int i = 0; i < count; ++i) {
        const ChallengeParameters candidate = ReadChallenge(challenges[i]);
        if (!candidate.supported)
            continue;
        if (chosen < 0 ||
            (candidate.algorithm == kDigestSha256 && params.algorithm != kDigestSha256)) {
            chosen = i;
            params = candidate;
        }
    }
    // When Basic is offered first, its realm must not be taken for Digest's.
    // Only unsupported algorithms offered: the first challenge, answered as
    // RFC 2069 MD5 (params keep their defaults).
    const char* from = chosen >= 0 ? challenges[chosen] : (count > 0 ? challenges[0] : reply);
    const bool realm = FindHeaderValue("realm=\"", from, &ctx->realm, nullptr) != nullptr;
    const bool nonce = FindHeaderValue("nonce=\"", from, &ctx->nonce, nullptr) != nullptr;
    if (!realm || !nonce || ctx->realm == nullptr || ctx->nonce == nullptr) {
        ClearDigestChallenge(ctx);
        return false;
    }
    if (params.opaque != nullptr) {
        ctx->opaque = CopyText(params.opaque, params.opaqueLength);
        if (ctx->opaque == nullptr) {
            ClearDigestChallenge(ctx);
            return false;
        }
    }
    ctx->algorithm = params.algorithm;
    ctx->algorithmNamed = params.algorithmNamed;
    ctx->qopAuth = params.qopAuth;
    ctx->stale = params.stale;
    ctx->nonceCount = 1;
    MakeCnonce(ctx->cnonce);
    return true;
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
    const bool rfc2069 = !ctx->qopAuth && ctx->algorithm == kDigestMd5;
    const int algorithm = ctx->algorithm == kDigestSha256 ? kDigestSha256 : kDigestMd5;
    const bool qop = ctx->qopAuth;
    const bool opaque = !rfc2069 && ctx->opaque != nullptr;
    const size_t cnonceLength = BoundedLength(ctx->cnonce, kMaxDigestCnonce);
    if (qop && (ctx->nonceCount == 0 || cnonceLength == 0 || cnonceLength > kMaxDigestCnonce ||
                !Quotable(ctx->cnonce))) {
        return false;
    }
    if (opaque && !Quotable(ctx->opaque))
        return false;

    char ha1[kHashHexSize];
    char ha2[kHashHexSize];
    char response[kHashHexSize];
    char nc[9];
    NonceCountHex(ctx->nonceCount, nc);
    const char* a1[] = {ctx->user, ctx->realm, ctx->password};
    HashJoined(algorithm, a1, 3, ha1);
    const char* a2[] = {ctx->method, uri};
    HashJoined(algorithm, a2, 2, ha2);
    if (qop) {
        // RFC 2617/7616: response = H(HA1 ":" nonce ":" nc ":" cnonce ":" qop ":" HA2).
        const char* r[] = {ha1, ctx->nonce, nc, ctx->cnonce, "auth", ha2};
        HashJoined(algorithm, r, 6, response);
    } else {
        // RFC 2069 digest: response = H(H(A1) ":" nonce ":" H(A2)).
        const char* r[] = {ha1, ctx->nonce, ha2};
        HashJoined(algorithm, r, 3, response);
    }

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
    if (!rfc2069 && ctx->algorithmNamed) {
        const char* name = algorithm == kDigestSha256 ? ",algorithm=SHA-256" : ",algorithm=MD5";
        if (!Put(line, sizeof(line), &length, name))
            return false;
    }
    if (qop) {
        const char* more[] = {",qop=auth,nc=", nc, ",cnonce=\"", ctx->cnonce, "\""};
        for (const char* piece : more) {
            if (!Put(line, sizeof(line), &length, piece))
                return false;
        }
    }
    if (opaque) {
        const char* more[] = {",opaque=\"", ctx->opaque, "\""};
        for (const char* piece : more) {
            if (!Put(line, sizeof(line), &length, piece))
                return false;
        }
    }
    return AppendLine(request, requestSize, line, length);
}

bool AppendNextDigestAuthorization(DigestContext* ctx, char* request, size_t requestSize) {
    if (!AppendDigestAuthorization(ctx, request, requestSize))
        return false;
    if (ctx->qopAuth)
        ++ctx->nonceCount;  // after ffffffff it wraps to 0, which is never sent
    return true;
}

}  // namespace camvue
