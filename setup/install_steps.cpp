#include "setup/install_steps.h"

#include "kiv.basis/lib/files.h"
#include "kiv.basis/lib/registry.h"

namespace {

void Show(SetupMessages& messages, XString text) {
    messages.Show(text.Bytes());
}

// Creates folder unless it exists; false (after the message) when it still
// does not exist.
bool EnsureFolder(SetupMessages& messages, const XString& folder) {
    if (!KivFolderExists(folder)) {
        KivCreateFolder(folder);
        if (!KivFolderExists(folder)) {
            XString text("Cannot create path '");
            text += folder;
            text += "'";
            Show(messages, text);
            return false;
        }
    }
    return true;
}

// Replaces any earlier copy of the payload at folder\name; the presence of
// the target afterwards decides (a locked old file that stays is fine).
bool PlaceFile(SetupMessages& messages, const char* temporary, const XString& folder,
               const char* name) {
    XString target(folder + "\\");
    target += name;
    XString error;
    if (KivFileExists(target)) {
        KivDeleteFile(target, error);
    }
    KivCopyFile(XString(temporary), target, error);
    if (KivFileExists(target)) {
        return true;
    }
    // The quote opened before the file name is never closed.
    XString text("Cannot copy file '");
    text += name;
    text += " to path '";
    text += folder;
    text += "'";
    Show(messages, text);
    return false;
}

void Register(const SetupPlaces& places, const XString& plugin_path) {
    // Failures go to the diagnostic output only; the installation goes on.
    XRegistry registry;
    XString error;
    const XString plugins(places.plugins_key);
    XString key(plugins + "\\");
    key += kPluginIdentifier;
    registry.CreateRegKey(places.registry_root, plugins, error);
    registry.CreateRegKey(places.registry_root, key, error);
    const XString path(const_cast<XString&>(plugin_path).ReplaceChar('/', '\\'));
    const struct {
        const char* name;
        XString value;
    } values[] = {
        {"Description", XString("RTSP Plugin")}, {"Path", path},
        {"ProductName", XString("RTSP Plugin")}, {"Vendor", XString("Velmora")},
        {"Version", XString("1.0.0.1")},
    };
    for (const auto& value : values) {
        registry.set_RegValueAsString(places.registry_root, key, XString(value.name), value.value,
                                      error);
    }
}

}  // namespace

void InstallPluginFiles(SetupMessages& messages, const SetupPlaces& places,
                        const PayloadFolder& payloads) {
    XString error;
    XString program_files = places.program_files != nullptr
                                ? XString(places.program_files)
                                : XString(KivGetSpecialFolder("PROGRAM FILES", error));
    if (error.get_Length() > 0) {
        Show(messages, error);
        return;
    }
    XString vendor(program_files + "\\Corvina Browser Plugins");
    if (!EnsureFolder(messages, vendor)) {
        return;
    }
    XString install(vendor + "\\RTSP Plugin");
    if (!EnsureFolder(messages, install)) {
        return;
    }
    XString codec(install + "\\codec");
    if (!EnsureFolder(messages, codec)) {
        return;
    }
    if (!PlaceFile(messages, payloads.paths[kPluginPayload], install, "npcamvue.dll") ||
        !PlaceFile(messages, payloads.paths[kH264Payload], codec, "h264.dll") ||
        !PlaceFile(messages, payloads.paths[kPicdecPayload], codec, "picdec.dll")) {
        return;
    }
    XString plugin_path(install + "\\npcamvue.dll");
    Register(places, plugin_path);
    messages.Show("Browser RTSP plugin was installed successfully.");
}
