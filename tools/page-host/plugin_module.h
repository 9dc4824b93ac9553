// Finding and loading the plug-in as the browser does: a DLL whose version
// block names the page's MIME type ("MIMEType", several separated by '|'),
// either given by path or registered under SOFTWARE\MozillaPlugins\<key>
// ("Path") in HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE. Loading calls
// NP_GetEntryPoints, then NP_Initialize with the browser's table.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "npcamvue/shell/npapi.h"

namespace pagehost {

// The MIME types in a DLL's version block (empty when it has none).
std::vector<std::string> VersionMimeTypes(const std::string& dll);
// The "Path" values of every registered plug-in, current user first.
std::vector<std::string> RegisteredPluginPaths();
// The first registered plug-in that handles `mimeType`, or "".
std::string FindRegisteredPlugin(const std::string& mimeType);
bool HandlesType(const std::vector<std::string>& types, const std::string& mimeType);

class PluginModule {
  public:
    ~PluginModule() { Unload(); }
    bool Load(const std::string& dll, std::string* error);
    void Unload();  // NP_Shutdown, then the library goes
    const camvue::NPPluginFuncs& funcs() const { return funcs_; }
    bool loaded() const { return module_ != nullptr; }

  private:
    HMODULE module_ = nullptr;
    camvue::NPPluginFuncs funcs_{};
    camvue::NPNetscapeFuncs browser_{};
};

}  // namespace pagehost
