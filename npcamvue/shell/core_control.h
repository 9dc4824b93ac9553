// How the browser's thread steers a stream core: the flag words and events
// the network and render threads poll (script calls, instance start and
// release). Every function accepts a null core and then does nothing.
#pragma once

#include <cstdint>

namespace camvue {

struct StreamCore;

// Ends a session that may be running (when play was requested), then
// requests play.
void CoreRestartPlay(StreamCore* core);
// Ends a running session; play is no longer requested.
void CoreStopPlay(StreamCore* core);
// Asks the render threads for one redraw.
void CoreRequestRedraw(StreamCore* core);
// Whether the core holds a camera address (read under its URL lock).
bool CoreHasUrl(StreamCore* core);
// Size of the frame last taken from the ring (0 x 0 without a core).
void CorePictureSize(StreamCore* core, int32_t* width, int32_t* height);

}  // namespace camvue
