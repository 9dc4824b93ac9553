// The texts of the client's RTSP requests. `auth` is an Authorization line
// starting with CR LF (or empty); `transport` the SETUP transport line.
#pragma once

#include <cstdint>
#include <string>

namespace camvue {

std::string BuildOptions(const std::string& url, uint32_t cseq);
std::string BuildDescribe(const std::string& url, uint32_t cseq, const std::string& auth);
std::string BuildSetup(const std::string& url, uint32_t cseq, const std::string& transport,
                       const std::string& auth);
// An empty session id is sent as "0".
std::string BuildPlay(const std::string& url, const std::string& session, uint32_t cseq,
                      const std::string& auth);
std::string BuildTeardown(const std::string& url, const std::string& session, uint32_t cseq,
                          const std::string& auth);
// Multicast keep-alive: the path alone as Request-URI, no Authorization.
std::string BuildKeepAlive(const std::string& path, uint32_t cseq, const std::string& session);

}  // namespace camvue
