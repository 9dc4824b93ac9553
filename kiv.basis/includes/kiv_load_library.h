// Loading a runtime library the way every module does: by bare file name (the
// system's search order), else from the folder of the module that needs it.
#pragma once

#include <windows.h>

#include <cwchar>

// The module that carries the calling code. Its name alone may not find it:
// "kiv.type" reads as a file with the extension ".type", so the name with
// ".dll" and then the module holding own_code are tried as well.
inline HMODULE KivFindOwnModule(const wchar_t* own_name, const void* own_code) {
    HMODULE own = GetModuleHandleW(own_name);
    if (own == nullptr && std::wcslen(own_name) + 5 <= MAX_PATH) {
        wchar_t with_extension[MAX_PATH];
        std::wcscpy(with_extension, own_name);
        std::wcscat(with_extension, L".dll");
        own = GetModuleHandleW(with_extension);
    }
    if (own == nullptr) {
        GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(own_code), &own);
    }
    return own;
}

// file by bare name, else beside the own module's file (path buffer of 4096
// characters); null when neither loads.
inline HMODULE KivLoadRuntimeLibrary(const wchar_t* file, const wchar_t* own_name,
                                     const void* own_code) {
    HMODULE handle = LoadLibraryW(file);
    if (handle != nullptr) {
        return handle;
    }
    HMODULE own = KivFindOwnModule(own_name, own_code);
    if (own == nullptr) {
        return nullptr;
    }
    constexpr DWORD kPathChars = 4096;
    wchar_t path[kPathChars];
    const DWORD length = GetModuleFileNameW(own, path, kPathChars);
    if (length == 0 || length >= kPathChars) {
        return nullptr;
    }
    wchar_t* slash = std::wcsrchr(path, L'\\');
    if (slash == nullptr) {
        return nullptr;
    }
    const size_t room = kPathChars - static_cast<size_t>(slash + 1 - path);
    if (std::wcslen(file) + 1 > room) {
        return nullptr;
    }
    std::wcscpy(slash + 1, file);
    return LoadLibraryW(path);
}
