// Basic and Digest (RFC 2069, and RFC 7616 with qop=auth, MD5 or SHA-256)
// Authorization lines for RTSP requests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camvue {

// Authentication the session uses; the values match ChallengeKind's.
enum AuthKind : int {
    kAuthNone = 0,
    kAuthBasic = 1,
    kAuthDigest = 2,
};

// Hash function of a Digest answer (RFC 7616 "algorithm").
enum DigestAlgorithm : int {
    kDigestMd5 = 0,
    kDigestSha256 = 1,
};

// Longest client nonce a context holds (ParseDigestChallenge makes 16 hex
// characters).
constexpr size_t kMaxDigestCnonce = 64;

// What a Digest Authorization line is built from. user, password, uri and
// method are borrowed: the session owns them and keeps them alive while it
// builds requests (method is one of "DESCRIBE", "SETUP", "PLAY",
// "TEARDOWN"; uri is the path of the configured address, "/" when null or
// empty). realm, nonce and opaque are owned heap copies (two trailing NULs)
// set by ParseDigestChallenge and freed by ClearDigestChallenge. Null means
// absent.
//
// The rest describes the chosen challenge. A challenge with neither
// qop="auth" nor algorithm=SHA-256 (qopAuth false, algorithm MD5) is answered
// in the RFC 2069 form, exactly as cameras that know nothing newer expect it.
struct DigestContext {
    const char* user = nullptr;
    const char* password = nullptr;
    const char* uri = nullptr;
    const char* method = nullptr;
    char* realm = nullptr;
    char* nonce = nullptr;
    char* opaque = nullptr;
    int algorithm = kDigestMd5;
    bool algorithmNamed = false;  // the challenge named its algorithm: it is echoed
    bool qopAuth = false;         // the challenge's qop list holds "auth"
    bool stale = false;           // stale=true: the old nonce was merely out of date
    // nc of the next qop answer; starts at 1 for each nonce. 0 once it has
    // wrapped: no more qop answers are made with this nonce.
    uint32_t nonceCount = 1;
    // Client nonce of the qop answers; a test may put a fixed one here after
    // ParseDigestChallenge.
    char cnonce[kMaxDigestCnonce + 1] = {};
};

// Frees realm, nonce and opaque and nulls them, and resets the challenge
// fields; accepts null.
void ClearDigestChallenge(DigestContext* ctx);

// Takes the reply's Digest challenge into ctx, replacing the old one, with a
// fresh client nonce and nc 1. When the reply offers several Digest
// challenges, the first with algorithm=SHA-256 is chosen, else the first with
// MD5 (named or not). A challenge naming any other algorithm (MD5-sess,
// SHA-256-sess, ...) is never chosen; when only such challenges are offered,
// the first is answered in the RFC 2069 MD5 form as if it named none, which
// is what this client always sent (a camera that insists on -sess refuses it).
//
// realm and nonce are the quoted values of realm=" and nonce=", first
// occurrences from the chosen challenge's scheme token on (from the start of
// the reply when no Digest challenge header is found). qop, algorithm, opaque
// and stale are read only within the chosen challenge, so another
// challenge's parameters never leak in. True when realm and nonce were found;
// otherwise everything is left cleared.
bool ParseDigestChallenge(DigestContext* ctx, const char* reply);

// Appends "\r\nAuthorization: Basic " and base64(user ":" password) to the
// NUL-terminated request in `request` (capacity requestSize). Nothing is
// appended (false) unless user and password are given, the user name is not
// empty, both are shorter than 256 characters, the credentials are at most
// 375 bytes and the request buffer can take the line and its NUL.
bool AppendBasicAuthorization(const char* user, const char* password, char* request,
                              size_t requestSize);

// Longest Digest line built; longer ones are refused.
constexpr size_t kMaxDigestLine = 1023;

// Appends "\r\nAuthorization: Digest username=\"..\",realm=\"..\",nonce=\"..\",
// uri=\"..\",response=\"..\"" (no spaces) to the request. H is MD5, or SHA-256
// when the challenge asked for it, in lower-case hex; HA1 = H(user:realm:
// password), HA2 = H(method:uri).
// - RFC 2069 form (no qop="auth", MD5): response = H(HA1:nonce:HA2), and
//   nothing follows it: no qop, nc, cnonce, opaque or algorithm.
// - Otherwise the line goes on with ",algorithm=MD5" or ",algorithm=SHA-256"
//   when the challenge named one; with qop="auth" offered, response =
//   H(HA1:nonce:nc:cnonce:auth:HA2) followed by ",qop=auth,nc=" the 8 hex
//   digits of nonceCount and ",cnonce=\"..\"" (without qop, response is the
//   RFC 2069 one); then ",opaque=\"..\"" when the challenge had one.
// Nothing is appended (false) unless user, password, realm, nonce and method
// are given, no quoted value holds a double quote, CR or LF, a qop answer has
// a client nonce and a nonceCount above 0, the line fits kMaxDigestLine and the
// request buffer can take the line and its NUL. ctx is not changed.
bool AppendDigestAuthorization(const DigestContext* ctx, char* request, size_t requestSize);

// AppendDigestAuthorization for the next request with this nonce: after a qop
// answer, nonceCount goes up by one.
bool AppendNextDigestAuthorization(DigestContext* ctx, char* request, size_t requestSize);

}  // namespace camvue
