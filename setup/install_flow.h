// The install sequence of setup-rtsp-plugin: payloads into a temporary folder
// beside the program, the plug-in and its codec libraries into the Program
// Files folder, the plug-in's registration for Mozilla-family browsers, one
// message box with the outcome, then clean-up. main gives it MessageBoxA and
// the real places; tests give it a recorder and places of their own.
#pragma once

#include <windows.h>

// Where the outcome goes: one text per message box.
class SetupMessages {
  public:
    virtual ~SetupMessages() = default;
    virtual void Show(const char* text) = 0;
};

// The places the sequence works on. Null members mean the real ones.
struct SetupPlaces {
    // The program's own file name (instead of GetModuleFileNameA).
    const char* module_file = nullptr;
    // The Program Files folder (instead of the special-folder lookup).
    const char* program_files = nullptr;
    int registry_root = 1;  // HKEY_LOCAL_MACHINE
    const char* plugins_key = "SOFTWARE\\MozillaPlugins";
    bool hide_console = true;
};

// The plug-in's identifier under the plugins key.
constexpr const char kPluginIdentifier[] = "@velmora.example/npcamvue";

// Runs the whole sequence; the process exit code, always 0.
int RunSetup(SetupMessages& messages, const SetupPlaces& places);
