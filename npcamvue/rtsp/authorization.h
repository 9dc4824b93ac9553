// Basic and Digest (RFC 2069, no qop) Authorization lines for RTSP requests.
#pragma once

#include <cstddef>

namespace camvue {

// Authentication the session uses; the values match ChallengeKind's.
enum AuthKind : int {
    kAuthNone = 0,
    kAuthBasic = 1,
    kAuthDigest = 2,
};

// What a Digest Authorization line is built from. user, password, uri and
// method are borrowed: the session owns them and keeps them alive while it
// builds requests (method is one of "DESCRIBE", "SETUP", "PLAY",
// "TEARDOWN"; uri is the path of the configured address, "/" when null or
// empty). realm and nonce are owned heap copies (two trailing NULs) set by
// ParseDigestChallenge and freed by ClearDigestChallenge. Null means absent.
struct DigestContext {
    const char* user = nullptr;
    const char* password = nullptr;
    const char* uri = nullptr;
    const char* method = nullptr;
    char* realm = nullptr;
    char* nonce = nullptr;
};

// Frees realm and nonce and nulls them; accepts null.
void ClearDigestChallenge(DigestContext* ctx);

// Takes the realm and nonce of the reply's Digest challenge (the quoted values
// of realm=" and nonce=", first occurrences from the Digest scheme token on,
// or in the whole reply when no Digest challenge header is found) into ctx,
// replacing the old ones. True when both were found; otherwise both are left
// null.
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
// uri=\"..\",response=\"..\"" (no spaces, no qop, nc, cnonce, opaque or
// algorithm) where response = H(H(user:realm:password) ":" nonce ":"
// H(method:uri)) and H is MD5 in lower-case hex. Nothing is appended (false)
// unless user, password, realm, nonce and method are given, no quoted value
// holds a double quote, CR or LF, the line fits kMaxDigestLine and the request
// buffer can take the line and its NUL.
bool AppendDigestAuthorization(const DigestContext* ctx, char* request, size_t requestSize);

}  // namespace camvue
