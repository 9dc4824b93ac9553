// The browser's function table handed to NP_Initialize. Every entry is
// present; the ones a scriptable windowed plug-in relies on work as in the
// browsers, the network and stream entries refuse. Every entry but the
// memory ones and NPN_PluginThreadAsyncCall only works on the main thread
// (thread_gate.h).
#pragma once

#include "npcamvue/shell/npapi.h"

namespace pagehost {

void FillBrowserFuncs(camvue::NPNetscapeFuncs* funcs);

// Per-entry groups, in npn_*.cpp.
void FillMemoryFuncs(camvue::NPNetscapeFuncs* funcs);      // npn_memory.cpp
void FillIdentifierFuncs(camvue::NPNetscapeFuncs* funcs);  // npn_identifiers.cpp
void FillObjectFuncs(camvue::NPNetscapeFuncs* funcs);      // npn_objects.cpp
void FillInstanceFuncs(camvue::NPNetscapeFuncs* funcs);    // npn_instance.cpp
void FillNetworkFuncs(camvue::NPNetscapeFuncs* funcs);     // npn_network.cpp

}  // namespace pagehost
