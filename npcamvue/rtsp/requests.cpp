#include "npcamvue/rtsp/requests.h"

namespace camvue {
namespace {

const char kUserAgent[] = "\r\nUser-Agent: CorvinaVideo";
// SETUP carries a User-Agent of its own.
const char kSetupUserAgent[] =
    "\r\nUser-Agent: LibVLC/1.1.11 (LIVE555 Streaming Media v2011.05.25)";
const char kAcceptSdp[] = "\r\nAccept: application/sdp";

const std::string& SessionOrZero(const std::string& session) {
    static const std::string kZero = "0";
    return session.empty() ? kZero : session;
}

}  // namespace

std::string BuildOptions(const std::string& url, uint32_t cseq) {
    return "OPTIONS " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + kUserAgent +
           kAcceptSdp + "\r\n\r\n";
}

std::string BuildDescribe(const std::string& url, uint32_t cseq, const std::string& auth) {
    return "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + kUserAgent +
           kAcceptSdp + auth + "\r\n\r\n";
}

std::string BuildSetup(const std::string& url, uint32_t cseq, const std::string& transport,
                       const std::string& auth) {
    return "SETUP " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + kSetupUserAgent +
           transport + auth + "\r\n\r\n";
}

std::string BuildPlay(const std::string& url, const std::string& session, uint32_t cseq,
                      const std::string& auth) {
    return "PLAY " + url + " RTSP/1.0\r\nSession: " + SessionOrZero(session) +
           "\r\nRange: npt=0.000-\r\nCSeq: " + std::to_string(cseq) + auth + "\r\n\r\n";
}

std::string BuildTeardown(const std::string& url, const std::string& session, uint32_t cseq,
                          const std::string& auth) {
    return "TEARDOWN " + url + " RTSP/1.0\r\nSession: " + SessionOrZero(session) +
           "\r\nCSeq: " + std::to_string(cseq) + auth + "\r\n\r\n";
}

std::string BuildKeepAlive(const std::string& path, uint32_t cseq, const std::string& session) {
    return "OPTIONS " + path + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
           "\r\nSession: " + SessionOrZero(session) + kUserAgent + kAcceptSdp + "\r\n\r\n";
}

}  // namespace camvue
