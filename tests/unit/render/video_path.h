// Plug-in instances for the video-path tests, as the browser side will make
// them: a window, the instance attached to the core of an element id, the
// renderer started at 720x576, an NPWindow of the window's size.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "npcamvue/shell/npapi.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/render_thread.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue_test {

class TestInstance {
  public:
    // A borderless window at (x, y) of w x h (a child of `parent` if given).
    // Without `directDraw` the renderer is left empty (it then draws
    // nothing), which spares the costly DirectDraw start-up where only the
    // threads matter.
    TestInstance(const char* elementId, int x, int y, int w, int h, HWND parent = nullptr,
                 bool directDraw = true);
    ~TestInstance();  // detach, release (the core goes with its last instance), free
    TestInstance(const TestInstance&) = delete;
    TestInstance& operator=(const TestInstance&) = delete;

    camvue::PluginInstance* get() const { return instance_; }
    camvue::StreamCore* core() const { return instance_->core; }
    HWND hwnd() const { return hwnd_; }
    RECT screenRect() const;
    bool StartRendering() { return camvue::StartRenderThread(instance_); }
    // One draw step with the window's DC, as the render thread runs it.
    bool Draw();

  private:
    camvue::PluginInstance* instance_ = nullptr;
    HWND hwnd_ = nullptr;
    HWND top_ = nullptr;
    camvue::NPWindow window_ = {};
};

// A frame through the session's entry point in its argument form.
void PushFrame(camvue::StreamCore* core, const std::vector<uint8_t>& frame, int key, int width,
               int height, uint64_t pts, int kind);

// "Z:\...\" folder of the built codec libraries, and an empty folder.
std::string CodecFolder();
std::string EmptyFolder();

// Records the statistics lines the draw step writes (any thread).
struct TextLog {
    static void Install();
    static std::vector<std::string> Take();
};

}  // namespace camvue_test
