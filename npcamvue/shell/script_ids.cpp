#include "npcamvue/shell/script_ids.h"

#include "npcamvue/shell/browser.h"

namespace camvue {

ScriptIds g_scriptIds = {};

void FetchScriptIds() {
    g_scriptIds.start = NpnGetStringIdentifier("Start");
    g_scriptIds.stop = NpnGetStringIdentifier("Stop");
    g_scriptIds.resize = NpnGetStringIdentifier("Resize");
    g_scriptIds.url = NpnGetStringIdentifier("url");
    g_scriptIds.debug = NpnGetStringIdentifier("debug");
    g_scriptIds.picwidth = NpnGetStringIdentifier("picwidth");
    g_scriptIds.picheight = NpnGetStringIdentifier("picheight");
}

}  // namespace camvue
