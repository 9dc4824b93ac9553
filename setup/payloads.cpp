#include "setup/payloads.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "kiv.basis/lib/files.h"

namespace {

// The writer's messages are plain C heap blocks, freed by the sequence.
void* AllocateMessage(size_t bytes) {
    return std::malloc(bytes);
}

bool Join(char* out, const char* folder, const char* name) {
    const size_t folder_length = std::strlen(folder);
    const size_t name_length = std::strlen(name);
    if (folder_length + 1 + name_length + 1 > kPayloadPathSize) {
        return false;
    }
    std::memcpy(out, folder, folder_length);
    out[folder_length] = '\\';
    std::memcpy(out + folder_length + 1, name, name_length + 1);
    return true;
}

}  // namespace

bool PayloadFolderInit(PayloadFolder* payloads, const char* setup_folder) {
    std::memset(payloads, 0, sizeof *payloads);
    if (!Join(payloads->folder, setup_folder, kTempFolderName)) {
        return false;
    }
    for (int i = 0; i < kPayloadCount; ++i) {
        if (!Join(payloads->paths[i], payloads->folder, kPayloads[i].file_name)) {
            return false;
        }
    }
    return true;
}

void PayloadFolderCreate(const PayloadFolder* payloads) {
    const DWORD attributes = GetFileAttributesA(payloads->folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CreateDirectoryA(payloads->folder, nullptr);  // a failure shows in the writes
    }
}

bool PayloadFolderWrite(PayloadFolder* payloads) {
    for (int i = 0; i < kPayloadCount; ++i) {
        if (!KivWriteResourceToFile(payloads->paths[i], kPayloads[i].resource_id, AllocateMessage,
                                    &payloads->message)) {
            return false;
        }
        payloads->written[i] = true;
        if (kPayloads[i].load_after_writing) {
            // The runtime's binding by bare file name then finds this module;
            // a failed load does not stop the installation.
            payloads->loaded[i] = LoadLibraryA(payloads->paths[i]);
        }
    }
    return true;
}

void PayloadFolderReleaseInstallFiles(PayloadFolder* payloads) {
    for (const int i : {kPluginPayload, kH264Payload, kPicdecPayload}) {
        if (payloads->written[i]) {
            KivDeleteFileA(payloads->paths[i]);
        }
    }
    for (const int i : {2, 1, 0}) {  // kiv.gc, kiv.type, kiv.memory
        if (payloads->loaded[i] != nullptr) {
            FreeLibrary(payloads->loaded[i]);
            payloads->loaded[i] = nullptr;
        }
    }
}

void PayloadFolderRemove(PayloadFolder* payloads) {
    for (const int i : {1, 0, 2}) {  // kiv.type, kiv.memory, kiv.gc; failures are ignored
        KivDeleteFileA(payloads->paths[i]);
    }
    RemoveDirectoryA(payloads->folder);  // only when empty
    std::free(payloads->message);
    payloads->message = nullptr;
}
