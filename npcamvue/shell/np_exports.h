// What npcamvue.dll exports (npcamvue32.def / npcamvue64.def name them):
// the three NP_ entry points the browser calls, undecorated; GetAppDirPath
// and SAFE_STRCAT under the names a caller built with the platform's usual
// C++ compiler links against; and the data word IsCMPXCHG8BSupport.
#pragma once

#include <cstdint>

#include "npcamvue/shell/npapi.h"

extern "C" {
camvue::NPError NP_EXPORT_CALL NP_GetEntryPoints(camvue::NPPluginFuncs* funcs);
camvue::NPError NP_EXPORT_CALL NP_Initialize(camvue::NPNetscapeFuncs* funcs);
camvue::NPError NP_EXPORT_CALL NP_Shutdown();

// -1 from the start; the plug-in itself never reads or writes it.
extern int32_t IsCMPXCHG8BSupport;
}

// The folder of the host program (GetModuleHandleA(NULL)), separator
// included, in the AlignedBlock `buffer` (made or grown as needed). Returns
// the folder text's length; the whole file name's length when it has no
// separator; 0 (and `buffer` null) when memory is short.
int GetAppDirPath(char*& buffer);

// Appends the readable 7-bit prefix of `text` (bytes below 0x80 before the
// first NUL or unreadable byte) to the text in the AlignedBlock `buffer`.
// Returns the new text length; 0 (and `buffer` null) when memory is short.
int SAFE_STRCAT(char*& buffer, const char* text);
