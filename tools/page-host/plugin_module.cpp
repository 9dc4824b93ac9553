#include "tools/page-host/plugin_module.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "tools/page-host/npn.h"

namespace pagehost {
namespace {

using GetEntryPointsFn = camvue::NPError(NP_EXPORT_CALL*)(camvue::NPPluginFuncs*);
using InitializeFn = camvue::NPError(NP_EXPORT_CALL*)(camvue::NPNetscapeFuncs*);
using ShutdownFn = camvue::NPError(NP_EXPORT_CALL*)();

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void PathsUnder(HKEY root, std::vector<std::string>* paths) {
    HKEY plugins = nullptr;
    if (RegOpenKeyExA(root, "SOFTWARE\\MozillaPlugins", 0, KEY_READ, &plugins) != ERROR_SUCCESS)
        return;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(plugins, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        char path[MAX_PATH * 2] = {};
        DWORD size = sizeof path - 1;
        DWORD type = 0;
        HKEY key = nullptr;
        if (RegOpenKeyExA(plugins, name, 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        if (RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ))
            paths->push_back(path);
        RegCloseKey(key);
    }
    RegCloseKey(plugins);
}

}  // namespace

std::vector<std::string> VersionMimeTypes(const std::string& dll) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(dll.c_str(), 0, size, block.data()))
        return {};
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT bytes = 0;
    std::vector<Translation> tried;
    if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translations), &bytes))
        tried.assign(translations, translations + bytes / sizeof(Translation));
    tried.push_back({0x0409, 0x04E4});
    for (const Translation& t : tried) {
        char query[64];
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\MIMEType", t.language,
                      t.codePage);
        char* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&value), &length) ||
            value == nullptr)
            continue;
        std::vector<std::string> types;
        std::string all(value);
        size_t start = 0;
        for (;;) {
            const size_t bar = all.find('|', start);
            const std::string one = all.substr(start, bar - start);
            if (!one.empty())
                types.push_back(one);
            if (bar == std::string::npos)
                break;
            start = bar + 1;
        }
        return types;
    }
    return {};
}

bool HandlesType(const std::vector<std::string>& types, const std::string& mimeType) {
    for (const std::string& t : types) {
        if (Lower(t) == Lower(mimeType))
            return true;
    }
    return false;
}

std::vector<std::string> RegisteredPluginPaths() {
    std::vector<std::string> paths;
    PathsUnder(HKEY_CURRENT_USER, &paths);
    PathsUnder(HKEY_LOCAL_MACHINE, &paths);
    return paths;
}

std::string FindRegisteredPlugin(const std::string& mimeType) {
    for (const std::string& path : RegisteredPluginPaths()) {
        if (HandlesType(VersionMimeTypes(path), mimeType))
            return path;
    }
    return std::string();
}

bool PluginModule::Load(const std::string& dll, std::string* error) {
    Unload();
    module_ = LoadLibraryA(dll.c_str());
    if (module_ == nullptr) {
        *error = "cannot load " + dll + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    auto getEntryPoints = Export<GetEntryPointsFn>(module_, "NP_GetEntryPoints");
    auto initialize = Export<InitializeFn>(module_, "NP_Initialize");
    if (getEntryPoints == nullptr || initialize == nullptr ||
        GetProcAddress(module_, "NP_Shutdown") == nullptr) {
        *error = dll + " lacks NP_GetEntryPoints, NP_Initialize or NP_Shutdown";
        FreeLibrary(module_);
        module_ = nullptr;
        return false;
    }
    std::memset(&funcs_, 0, sizeof funcs_);
    funcs_.size = sizeof funcs_;
    camvue::NPError result = getEntryPoints(&funcs_);
    if (result != camvue::NPERR_NO_ERROR || funcs_.newp == nullptr || funcs_.destroy == nullptr) {
        *error = "NP_GetEntryPoints: " + std::to_string(result);
        FreeLibrary(module_);
        module_ = nullptr;
        return false;
    }
    FillBrowserFuncs(&browser_);
    result = initialize(&browser_);
    if (result != camvue::NPERR_NO_ERROR) {
        *error = "NP_Initialize: " + std::to_string(result);
        FreeLibrary(module_);
        module_ = nullptr;
        return false;
    }
    return true;
}

void PluginModule::Unload() {
    if (module_ == nullptr)
        return;
    auto shutdown = Export<ShutdownFn>(module_, "NP_Shutdown");
    if (shutdown != nullptr)
        shutdown();
    FreeLibrary(module_);
    module_ = nullptr;
}

}  // namespace pagehost
