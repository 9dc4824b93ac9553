// SETUP and PLAY replies from a hostile server: the transport parameters,
// session id and timeout, and the RTP-Info sequence number.
#include <cstdint>
#include <cstring>
#include <string>

#include "npcamvue/rtsp/reply_text.h"
#include "npcamvue/rtsp/text_scan.h"
#include "npcamvue/rtsp/transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* reply = text.c_str();

    camvue::SetupReply setup;
    const char* why = nullptr;
    if (camvue::ParseSetupReply(reply, &setup, &why)) {
        if (why != nullptr)
            __builtin_trap();
        // The id never runs past its line.
        if (setup.sessionId.find_first_of("\r\n") != std::string::npos)
            __builtin_trap();
    } else if (why == nullptr) {
        __builtin_trap();
    }

    // The same reply to a SETUP that asked for RTP/AVP/TCP.
    if (camvue::ParseSetupReply(reply, &setup, &why, true) != (why == nullptr))
        __builtin_trap();

    uint32_t seq = 0;
    const char* value = camvue::FindHeaderValue("seq=", reply, nullptr, nullptr);
    if (value != nullptr)
        camvue::ScanDecimal(value, 0xffffffffu, &seq, nullptr);
    return 0;
}
