#include "setup/install_flow.h"

#include <cstdlib>
#include <cstring>

#include "kiv.basis/lib/binding.h"
#include "setup/install_steps.h"
#include "setup/payloads.h"

namespace {

constexpr DWORD kModuleFileSize = 512;

// The folder of the program's file: cut before the last "\" (else "/").
char* SetupFolderOf(const char* module_file) {
    const char* cut = std::strrchr(module_file, '\\');
    if (cut == nullptr) {
        cut = std::strrchr(module_file, '/');
    }
    const size_t length =
        cut != nullptr ? static_cast<size_t>(cut - module_file) : std::strlen(module_file);
    char* folder = static_cast<char*>(std::malloc(length + 1));
    if (folder != nullptr) {
        std::memcpy(folder, module_file, length);
        folder[length] = 0;
    }
    return folder;
}

// The name of the setup program's own file into buffer; false when it cannot
// be read whole (a cut name would give a wrong folder).
bool ReadModuleFile(HMODULE module, const SetupPlaces& places, char* buffer) {
    if (places.module_file != nullptr) {
        const size_t length = std::strlen(places.module_file);
        if (length >= kModuleFileSize) {
            return false;
        }
        std::memcpy(buffer, places.module_file, length + 1);
        return true;
    }
    const DWORD length = GetModuleFileNameA(module, buffer, kModuleFileSize);
    return length > 0 && length < kModuleFileSize;
}

}  // namespace

int RunSetup(SetupMessages& messages, const SetupPlaces& places) {
    if (places.hide_console) {
        HWND console = GetConsoleWindow();
        if (console != nullptr) {
            ShowWindow(console, SW_HIDE);
        }
    }
    HMODULE module = GetModuleHandleA(nullptr);
    if (module == nullptr) {
        messages.Show("Cannot get module handle");
        return 0;
    }
    char module_file[kModuleFileSize] = {};
    if (!ReadModuleFile(module, places, module_file)) {
        messages.Show("Cannot get module file name");
        return 0;
    }
    char* setup_folder = SetupFolderOf(module_file);
    if (setup_folder == nullptr) {
        return 0;
    }
    static PayloadFolder payloads;  // 1.8 KB of paths: off the stack
    if (!PayloadFolderInit(&payloads, setup_folder)) {
        // Too deep for the 260-character payload paths: refuse before
        // anything is created or written.
        const char* head = "Cannot install from '";
        const char* tail =
            "': the folder path is too long. Move the setup program to a shorter path.";
        char* text = static_cast<char*>(
            std::malloc(std::strlen(head) + std::strlen(setup_folder) + std::strlen(tail) + 1));
        if (text != nullptr) {
            std::strcat(std::strcat(std::strcpy(text, head), setup_folder), tail);
            messages.Show(text);
            std::free(text);
        }
        std::free(setup_folder);
        return 0;
    }
    PayloadFolderCreate(&payloads);
    if (!PayloadFolderWrite(&payloads)) {
        messages.Show(payloads.message != nullptr ? payloads.message : "");
    } else {
        InstallPluginFiles(messages, places, payloads);
    }
    PayloadFolderReleaseInstallFiles(&payloads);
    FreeRuntimeLibraries();
    PayloadFolderRemove(&payloads);
    std::free(setup_folder);
    return 0;
}
