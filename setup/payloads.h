// The payloads setup carries as raw-data resources (type 10, language 1049),
// in the order they are written to the temporary folder.
#pragma once

#include <windows.h>

struct Payload {
    int resource_id;
    const char* file_name;
    bool load_after_writing;  // the runtime libraries, by full path
};

constexpr Payload kPayloads[] = {
    {107, "kiv.memory.dll", true}, {108, "kiv.type.dll", true}, {105, "kiv.gc.dll", true},
    {109, "picdec.dll", false},    {110, "h264.dll", false},    {111, "npcamvue.dll", false},
};
constexpr int kPayloadCount = sizeof kPayloads / sizeof kPayloads[0];
constexpr int kPluginPayload = 5;
constexpr int kH264Payload = 4;
constexpr int kPicdecPayload = 3;

constexpr const char kTempFolderName[] = "setup_rtsp_plugin_temp";
// Each payload path: temporary folder + "\" + file name, terminator included.
constexpr size_t kPayloadPathSize = 260;

// The temporary folder and what was written to it and loaded from it.
struct PayloadFolder {
    char folder[kPayloadPathSize];
    char paths[kPayloadCount][kPayloadPathSize];
    bool written[kPayloadCount];
    HMODULE loaded[kPayloadCount];
    char* message;  // the writer's message of a refused write (malloc'd)
};

// Fills folder and paths for setup_folder; false when a payload path would
// not fit its buffer (nothing is touched then).
bool PayloadFolderInit(PayloadFolder* payloads, const char* setup_folder);
// Creates the temporary folder unless a folder is there already.
void PayloadFolderCreate(const PayloadFolder* payloads);
// Writes the payloads in order, loading the runtime libraries after writing;
// stops at the first refused write (false; message may say why).
bool PayloadFolderWrite(PayloadFolder* payloads);
// Deletes the written plug-in and codec files and frees the loaded modules.
void PayloadFolderReleaseInstallFiles(PayloadFolder* payloads);
// Deletes the runtime library files and the folder when it is empty.
void PayloadFolderRemove(PayloadFolder* payloads);
