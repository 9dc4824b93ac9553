#include "npcamvue/rtsp/reply_text.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace camvue {
namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// True when `text` starts with `prefix`, ignoring ASCII case. Stops at the
// text's NUL, so a short text is never read past its end.
bool StartsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text == '\0' || Lower(*text) != Lower(*prefix))
            return false;
    }
    return true;
}

const char* FindNoCase(const char* text, const char* key) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (StartsWithNoCase(p, key))
            return p;
    }
    return nullptr;
}

// Three digits right after the first space of the status line, or -1.
int StatusDigits(const char* text) {
    const char* p = text;
    while (*p != '\0' && *p != ' ' && !IsLineEnd(*p))
        ++p;
    if (*p != ' ')
        return -1;
    ++p;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        // Each test stops at a NUL before the next character is looked at.
        if (!IsDigit(p[i]))
            return -1;
        code = code * 10 + (p[i] - '0');
    }
    return code;
}

bool IsKnownRtspCode(int code) {
    switch (code) {
        case 100:
        case 200:
        case 201:
        case 250:
        case 300:
        case 301:
        case 302:
        case 303:
        case 305:
        case 551:
            return true;
        default:
            return (code >= 400 && code <= 408) || (code >= 410 && code <= 415) ||
                   (code >= 451 && code <= 462) || (code >= 500 && code <= 505);
    }
}

// Walks the challenges of one WWW-Authenticate header value (RFC 2617:
// comma-separated challenges, each a scheme token followed by parameters).
// A scheme is a token at the start of the value or after a comma that is not
// followed by "="; quoted strings are skipped so a realm="Basic" cannot look
// like a scheme.
struct ChallengeScan {
    bool atStart = true;
    bool inQuote = false;
    bool basic = false;
    const char* digest = nullptr;  // the first Digest challenge
    // Every Digest challenge, in order, as far as `digests` holds them.
    const char** digests = nullptr;
    int digestCapacity = 0;
    int digestCount = 0;

    void Feed(const char* p, const char* end) {
        while (p < end) {
            const char c = *p;
            if (inQuote) {
                if (c == '\\' && p + 1 < end) {
                    p += 2;
                    continue;
                }
                if (c == '"')
                    inQuote = false;
                ++p;
            } else if (c == '"') {
                inQuote = true;
                atStart = false;
                ++p;
            } else if (c == ',') {
                atStart = true;
                ++p;
            } else if (IsBlank(c) || !atStart) {
                ++p;
            } else {
                const char* token = p;
                while (p < end && !IsBlank(*p) && *p != ',' && *p != '=' && *p != '"')
                    ++p;
                if (p == token) {
                    ++p;  // a stray "=": no token here, but keep moving
                    atStart = false;
                    continue;
                }
                const char* after = p;
                while (after < end && IsBlank(*after))
                    ++after;
                const bool isParameter = after < end && *after == '=';
                const size_t length = static_cast<size_t>(p - token);
                if (!isParameter && length == 6 && StartsWithNoCase(token, "Digest")) {
                    if (digest == nullptr)
                        digest = token;
                    if (digestCount < digestCapacity)
                        digests[digestCount++] = token;
                } else if (!isParameter && length == 5 && StartsWithNoCase(token, "Basic")) {
                    basic = true;
                }
                atStart = false;
            }
        }
    }
};

// Scans every WWW-Authenticate header (with folded continuation lines) of the
// header section, which ends at the first empty line.
ChallengeScan ScanChallenges(const char* reply, const char** digests = nullptr, int capacity = 0) {
    static const char kHeader[] = "WWW-Authenticate:";
    ChallengeScan scan;
    scan.digests = digests;
    scan.digestCapacity = digests != nullptr && capacity > 0 ? capacity : 0;
    bool inHeader = false;  // the current line continues a WWW-Authenticate header
    bool first = true;
    const char* line = reply;
    while (*line != '\0') {
        const char* end = line;
        while (*end != '\0' && !IsLineEnd(*end))
            ++end;
        if (end == line && !first)
            break;
        if (inHeader && IsBlank(*line)) {
            scan.Feed(line, end);
        } else if (StartsWithNoCase(line, kHeader)) {
            // A new header starts a new list of challenges.
            scan.atStart = true;
            scan.inQuote = false;
            scan.Feed(line + sizeof(kHeader) - 1, end);
            inHeader = true;
        } else {
            inHeader = false;
        }
        first = false;
        // Step over one line break: CR LF, CR or LF.
        if (*end == '\r')
            ++end;
        if (*end == '\n')
            ++end;
        line = end;
    }
    return scan;
}

}  // namespace

const char* FindHeaderValue(const char* key, const char* text, char** outCopy, int* outLength) {
    if (key == nullptr || text == nullptr || *key == '\0')
        return nullptr;
    const char* match = FindNoCase(text, key);
    if (match == nullptr)
        return nullptr;
    const size_t keyLength = std::strlen(key);
    const bool quoted = key[keyLength - 1] == '"';
    const char* value = match + keyLength;
    if (!quoted) {
        while (IsBlank(*value))
            ++value;
    }
    const char* end = value;
    // A value never runs past its line (nor past the text's NUL).
    while (*end != '\0' && !IsLineEnd(*end)) {
        if (quoted ? *end == '"' : (*end == ';' || *end == ','))
            break;
        ++end;
    }
    const size_t length = static_cast<size_t>(end - value);
    if (length > static_cast<size_t>(INT_MAX) - 2)
        return nullptr;
    if (outCopy != nullptr && *outCopy != text) {
        // Two trailing NULs, as every copied protocol string carries.
        char* copy = static_cast<char*>(std::malloc(length + 2));
        if (copy != nullptr) {
            std::memcpy(copy, value, length);
            copy[length] = '\0';
            copy[length + 1] = '\0';
            std::free(*outCopy);
            *outCopy = copy;
        }
    }
    if (outLength != nullptr)
        *outLength = static_cast<int>(length);
    return value;
}

void FreeHeaderCopy(char** copy) {
    if (copy == nullptr)
        return;
    std::free(*copy);
    *copy = nullptr;
}

int RtspStatusCode(const char* text) {
    if (text == nullptr)
        return 0;
    if (!StartsWithNoCase(text, "RTSP") && !StartsWithNoCase(text, "Secure-RTSP"))
        return 0;
    const int code = StatusDigits(text);
    return IsKnownRtspCode(code) ? code : -1;
}

int HttpStatusCode(const char* text) {
    if (text == nullptr)
        return 0;
    if (!StartsWithNoCase(text, "HTTP/1.0") && !StartsWithNoCase(text, "HTTP/1.1") &&
        !StartsWithNoCase(text, "HTTP/1.2")) {
        return 0;
    }
    return StatusDigits(text);
}

int ChallengeKind(const char* reply) {
    if (reply == nullptr)
        return -1;
    int code = RtspStatusCode(reply);
    if (code == 0)
        code = HttpStatusCode(reply);
    if (code == 200)
        return 0;
    if (code != 401)
        return -1;
    const ChallengeScan scan = ScanChallenges(reply);
    if (scan.digest != nullptr)
        return 2;
    if (scan.basic)
        return 1;
    return -1;
}

const char* FindDigestChallenge(const char* reply) {
    if (reply == nullptr)
        return nullptr;
    return ScanChallenges(reply).digest;
}

int FindDigestChallenges(const char* reply, const char** out, int capacity) {
    if (reply == nullptr)
        return 0;
    return ScanChallenges(reply, out, capacity).digestCount;
}

}  // namespace camvue
