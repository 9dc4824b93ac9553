// Text-level reading of RTSP (and HTTP) replies: values by key search, status
// codes and the authentication challenge. Replies are NUL-terminated byte
// strings; nothing here reads past the terminating NUL.
#pragma once

namespace camvue {

// Finds `key` case-insensitively anywhere in `text` (also inside a word:
// "port=" matches in "server_port=") and returns a pointer to the value right
// after the first match, or null (also for a null or empty key or text).
//
// The value ends at the end of its line (the first CR or LF, or the end of the
// text). Within the line, a key ending in a double quote (realm=", nonce=")
// has a value that ends at the next double quote; any other value ends at the
// first ";" or ",". Spaces and tabs after a key not ending in a quote are
// skipped. The returned pointer points into the whole text: callers that use
// it directly apply their own end rules.
//
// outLength, when given, receives the value length. outCopy, when given and
// *outCopy is not `text` itself, receives a fresh heap copy of the value with
// two trailing NUL bytes; the old *outCopy is freed. When the key is not
// found (or memory runs out) *outCopy is left as it was. Free copies with
// FreeHeaderCopy.
const char* FindHeaderValue(const char* key, const char* text, char** outCopy, int* outLength);

// Frees a copy made by FindHeaderValue and nulls the pointer; accepts null.
void FreeHeaderCopy(char** copy);

// 0 when `text` does not start (case-insensitively) with "RTSP" or
// "Secure-RTSP"; -1 when the three characters after the first space of the
// status line are not a known RTSP/1.0 status code (or there is no space);
// else the code.
int RtspStatusCode(const char* text);

// 0 when `text` does not start (case-insensitively) with "HTTP/1.0",
// "HTTP/1.1" or "HTTP/1.2"; -1 when the status line has no space followed by
// three digits; else those digits as a number (any value).
int HttpStatusCode(const char* text);

// What a reply asks of the client: 0 success (200), 1 a Basic challenge, 2 a
// Digest challenge (401), -1 anything else. When a 401 offers both schemes,
// Digest is chosen so the password never travels in clear text.
int ChallengeKind(const char* reply);

// Start of the Digest challenge in a reply (the "Digest" scheme token of a
// WWW-Authenticate header in the header section), or null.
const char* FindDigestChallenge(const char* reply);

// The Digest challenges of a reply, in order: their scheme tokens go to
// out[0, capacity); returns how many were stored (0 for a null reply, a null
// out or a capacity below 1).
int FindDigestChallenges(const char* reply, const char** out, int capacity);

}  // namespace camvue
