// A well-behaved camera script for FakeCamera: answers OPTIONS, DESCRIBE
// (H.264, control "trackID=1"), SETUP (unicast, the camera's UDP ports),
// PLAY (RTP-Info seq=1000) and TEARDOWN. Tests override single answers.
#pragma once

#include <string>

#include "tests/support/fake_camera.h"

namespace camvue::test {

extern const char kH264Sdp[];
constexpr char kSessionId[] = "12345678";

CameraReply StandardReply(FakeCamera& camera, const CameraRequest& request);
// The SETUP reply of the standard camera.
std::string StandardSetupReply(FakeCamera& camera, const CameraRequest& request);

}  // namespace camvue::test
