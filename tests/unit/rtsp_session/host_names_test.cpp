// Host texts of an address: dotted IPv4 goes on as it is, a plausible host
// name goes to the resolver, anything else is refused before any set-up.
#include <gtest/gtest.h>

#include <string>

#include "npcamvue/rtsp/rtsp_url.h"
#include "npcamvue/rtsp/session.h"

namespace camvue {
namespace {

struct HostCase {
    const char* host;
    HostKind kind;
};

const HostCase kHosts[] = {
    {"10.0.0.5", HostKind::kIpv4},
    {"255.255.255.255", HostKind::kIpv4},
    {"0.0.0.0", HostKind::kIpv4},
    {"localhost", HostKind::kName},
    {"camera.example", HostKind::kName},
    {"CAM-1.Lan", HostKind::kName},
    {"a", HostKind::kName},
    {"4k-cam", HostKind::kName},      // a label may start with a digit
    {"10.0.0.cam", HostKind::kName},  // not all numbers: a name
    {"x.0x1f", HostKind::kName},      // one label is not a number
    {"nothere.invalid", HostKind::kName},
    // numbers that are not dotted IPv4: a resolver would take them as an
    // address in another form
    {"10.0.0", HostKind::kInvalid},
    {"10.1", HostKind::kInvalid},
    {"3232235777", HostKind::kInvalid},
    {"0x7f000001", HostKind::kInvalid},
    {"0x7f.1", HostKind::kInvalid},
    {"0X7F.0.0.1", HostKind::kInvalid},
    {"0x", HostKind::kInvalid},
    {"10.0.0.256", HostKind::kInvalid},
    {"1.2.3.4.5", HostKind::kInvalid},
    // not host name syntax
    {"", HostKind::kInvalid},
    {"camera.example.c", HostKind::kInvalid},  // 16 characters
    {"-cam", HostKind::kInvalid},
    {"cam-", HostKind::kInvalid},
    {"cam.-x", HostKind::kInvalid},
    {"cam..lan", HostKind::kInvalid},
    {".cam", HostKind::kInvalid},
    {"cam.", HostKind::kInvalid},
    {"cam_1", HostKind::kInvalid},
    {"cam 1", HostKind::kInvalid},
    {"cam%20", HostKind::kInvalid},
    {"[::1]", HostKind::kInvalid},
    {"cam\xc3\xa9", HostKind::kInvalid},
    {"cam\t", HostKind::kInvalid},
    {"10.0.0.5 ", HostKind::kInvalid},
};

TEST(HostNames, TextsAreClassifiedAndOnlyUsableOnesReachTheSession) {
    for (const HostCase& c : kHosts) {
        SCOPED_TRACE(std::string("host \"") + c.host + "\"");
        EXPECT_EQ(ClassifyHost(c.host), c.kind);
        const bool usable = c.kind != HostKind::kInvalid;

        // The address parser keeps the host as written, with port and path.
        const std::string address = std::string("rtsp://u:p@") + c.host + ":8554/live";
        RtspUrl url;
        ASSERT_EQ(ParseRtspUrl(address.c_str(), &url), usable);
        if (usable) {
            EXPECT_EQ(url.host, c.host);
            EXPECT_EQ(url.port, 8554);
            EXPECT_EQ(url.path, "/live");
            EXPECT_EQ(url.user, "u");
        }

        // The session takes the same hosts and no others.
        RtspSession s;
        EXPECT_EQ(s.SetTarget(8554, c.host, "", "", "/live"), usable);
    }
    RtspSession s;
    EXPECT_FALSE(s.SetTarget(554, nullptr, "", "", "/x"));
}

}  // namespace
}  // namespace camvue
