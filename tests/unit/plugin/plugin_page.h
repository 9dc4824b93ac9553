// Plug-in instances made the browser's way for the tests: the plug-in's
// tables exchanged with the fake browser, NPP_New with embed parameters,
// NPP_Destroy at scope end.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "npcamvue/shell/npapi.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/stream_core.h"
#include "tests/unit/plugin/fake_browser.h"

namespace camvue_test {

using Params = std::vector<std::pair<const char*, const char*>>;

// Resets the fake browser and hands its whole table to NP_Initialize;
// returns the plug-in's table from NP_GetEntryPoints.
camvue::NPPluginFuncs StartPlugin();

// A page element: the fake browser's element gets `id` (none for null)
// while NPP_New runs.
class Embed {
  public:
    Embed(const char* id, const Params& params);
    ~Embed();
    Embed(const Embed&) = delete;
    Embed& operator=(const Embed&) = delete;

    camvue::NPError created() const { return created_; }
    camvue::NPP npp() { return &npp_; }
    camvue::PluginInstance* instance() const {
        return static_cast<camvue::PluginInstance*>(npp_.pdata);
    }
    camvue::StreamCore* core() const { return instance() ? instance()->core : nullptr; }
    camvue::NPError Destroy();  // NPP_Destroy now (once)

  private:
    camvue::NPP_t npp_ = {};
    camvue::NPError created_ = -1;
    bool destroyed_ = false;
};

// The registered core of an element id, or null.
camvue::StreamCore* FindCore(const char* id);

// A closed loopback port: sessions to it fail at once.
constexpr const char* kDeadUrl = "rtsp://127.0.0.1:9/none";

}  // namespace camvue_test
