#include "kiv.basis/lib/files.h"

#include <direct.h>
#include <io.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kiv.basis/lib/diagnostic.h"

namespace {

// A path in the form the file functions take: 8-bit for 1251/1252, UTF-16
// otherwise (UTF-8 converted). Empty or too long paths are not usable.
class NativePath {
  public:
    explicit NativePath(const XString& path) {
        XString& source = const_cast<XString&>(path);
        const uint32_t cp = source.get_CodePage();
        if (cp == kCodePageCyrillic || cp == kCodePageLatin1) {
            narrow_ = source;
            too_long_ = narrow_.get_Size() > kKivMaxPath;
            usable_ = narrow_.get_Length() > 0 && !too_long_;
        } else if (cp == kCodePageUtf16 || cp == kCodePageUtf8) {
            wide_ = source.ToUtf16();
            too_long_ = wide_.get_Size() > kKivMaxPath * 2;
            usable_ = wide_.get_Length() > 0 && !too_long_;
            is_wide_ = true;
        }
    }
    bool usable() const { return usable_; }
    bool too_long() const { return too_long_; }

    int Access() { return is_wide_ ? _waccess(wide_.Wide(), 0) : _access(narrow_.Bytes(), 0); }
    // 1 folder, 0 something else, -1 unknown (status unreadable).
    int IsFolder() {
        if (is_wide_) {
            struct _stat64 status;
            if (_wstat64(wide_.Wide(), &status) != 0) {
                return -1;
            }
            return (status.st_mode & _S_IFDIR) != 0 ? 1 : 0;
        }
        struct _stat64 status;
        if (_stat64(narrow_.Bytes(), &status) != 0) {
            return -1;
        }
        return (status.st_mode & _S_IFDIR) != 0 ? 1 : 0;
    }
    bool IsRegularFile() {
        struct _stat64 status;
        const int rc =
            is_wide_ ? _wstat64(wide_.Wide(), &status) : _stat64(narrow_.Bytes(), &status);
        return rc != 0 || (status.st_mode & _S_IFREG) != 0;
    }
    int MakeFolder() { return is_wide_ ? _wmkdir(wide_.Wide()) : _mkdir(narrow_.Bytes()); }
    int Remove() { return is_wide_ ? _wremove(wide_.Wide()) : std::remove(narrow_.Bytes()); }
    FILE* Open(const char* mode) {
        if (!is_wide_) {
            return std::fopen(narrow_.Bytes(), mode);
        }
        wchar_t wide_mode[8] = {};
        for (size_t i = 0; i + 1 < 8 && mode[i] != 0; ++i) {
            wide_mode[i] = static_cast<wchar_t>(mode[i]);
        }
        return _wfopen(wide_.Wide(), wide_mode);
    }

  private:
    XString narrow_;
    XString wide_;
    bool is_wide_ = false;
    bool usable_ = false;
    bool too_long_ = false;
};

void SetError(XString& error, const char* operation, const char* what, const XString& path,
              int error_number) {
    XString message(what);
    message += " '";
    message += path;
    message += "'";
    if (error_number != 0) {
        message += " , reason:";
        message += std::strerror(error_number);
    }
    error = KivErrorLine(operation, message);
}

}  // namespace

_String* KivGetSpecialFolder(const char* name, XString& error) {
    error.Clear();
    const char* key = name != nullptr ? name : "";
    int csidl = CSIDL_PERSONAL;
    if (std::strcmp(key, "SYSTEM") == 0) {
        csidl = CSIDL_SYSTEM;
    } else if (std::strcmp(key, "WINDOWS") == 0) {
        csidl = CSIDL_WINDOWS;
    } else if (std::strcmp(key, "PROGRAM FILES") == 0) {
        csidl = CSIDL_PROGRAM_FILES;
    }
    char path[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) {
        XString message("folder '");
        message += key;
        message += "' does not exists";
        error = message;
        XString same(key);
        return same.Detach();
    }
    XString folder(path);
    return folder.ReplaceChar('\\', '/');
}

bool KivFolderExists(const XString& path) {
    NativePath native(path);
    if (!native.usable() || native.Access() != 0) {
        return false;
    }
    return native.IsFolder() != 0;
}

bool KivFolderExists(_String* path) {
    XString taken(path);
    return KivFolderExists(taken);
}

void KivCreateFolder(const XString& path) {
    NativePath native(path);
    if (!native.usable()) {
        return;
    }
    if (native.Access() != 0 || native.IsFolder() == 0) {
        native.MakeFolder();  // errno is not reported, as callers test the folder after
    }
}

void KivCreateFolder(_String* path) {
    XString taken(path);
    KivCreateFolder(taken);
}

bool KivFileExists(const XString& path) {
    NativePath native(path);
    return native.usable() && native.Access() == 0 && native.IsRegularFile();
}

bool KivDeleteFile(const XString& path, XString& error) {
    error.Clear();
    NativePath native(path);
    if (native.too_long()) {
        SetError(error, "KivDeleteFile", "path too long", path, 0);
        return false;
    }
    if (!native.usable()) {
        return false;
    }
    if (native.Remove() != 0) {
        SetError(error, "KivDeleteFile", "cannot delete file", path, errno);
        return false;
    }
    return true;
}

bool KivCopyFile(const XString& source, const XString& target, XString& error) {
    error.Clear();
    XString from(const_cast<XString&>(source).ReplaceChar('\\', '/'));
    XString to(const_cast<XString&>(target).ReplaceChar('\\', '/'));
    if (from.get_Length() == 0 || to.get_Length() == 0) {
        return true;
    }
    NativePath source_path(from), target_path(to);
    if (source_path.too_long() || target_path.too_long()) {
        SetError(error, "KivCopyFile", "path too long", source_path.too_long() ? from : to, 0);
        return false;
    }
    bool failed = false;
    // The target's parent folders, one level at a time.
    XArray<XString> parts(to.Split('/'));
    if (parts.Count() > 1) {
        XString folder(*parts.At(0));
        for (uint32_t i = 1; i + 1 < parts.Count(); ++i) {
            folder += "/";
            folder += *parts.At(i);
            NativePath level(folder);
            if (level.usable() && (level.Access() != 0 || level.IsFolder() == 0) &&
                level.MakeFolder() != 0) {
                failed = true;
                SetError(error, "KivCopyFile", "cannot create folder", folder, errno);
            }
        }
    }
    FILE* in = source_path.Open("rb");
    FILE* out = nullptr;
    if (in == nullptr) {
        failed = true;
        SetError(error, "KivCopyFile", "cannot open file", from, errno);
    } else {
        out = target_path.Open("w+b");
        if (out == nullptr) {
            failed = true;
            SetError(error, "KivCopyFile", "cannot create file", to, errno);
        }
    }
    constexpr uint32_t kBlock = 8192;
    char* buffer = nullptr;
    if (in != nullptr && out != nullptr) {
        buffer = KivAllocBuffer<char>(kBlock, "char");
        if (buffer == nullptr) {
            failed = true;
            SetError(error, "KivCopyFile", "out of memory copying", from, ENOMEM);
        }
    }
    if (buffer != nullptr) {
        for (;;) {
            const size_t got = std::fread(buffer, 1, kBlock, in);
            if (got > 0 && std::fwrite(buffer, 1, got, out) != got) {
                failed = true;
                SetError(error, "KivCopyFile", "cannot write file", to, errno);
                break;
            }
            if (got < kBlock) {
                if (std::ferror(in)) {
                    failed = true;
                    SetError(error, "KivCopyFile", "cannot read file", from, errno);
                }
                break;
            }
        }
        if (!failed && !std::feof(in)) {
            failed = true;
            SetError(error, "KivCopyFile", "cannot read file to its end", from, errno);
        }
        if (!failed && std::fflush(out) != 0) {
            failed = true;
            SetError(error, "KivCopyFile", "cannot write file", to, errno);
        }
    }
    KivMemFree(buffer);
    if (in != nullptr) {
        std::fclose(in);
    }
    if (out != nullptr && std::fclose(out) != 0 && !failed) {
        failed = true;
        SetError(error, "KivCopyFile", "cannot write file", to, errno);
    }
    return !failed;
}

namespace {

void Format(const char* format, const char* path, KivAllocator allocate, char** message) {
    if (allocate == nullptr || message == nullptr) {
        return;
    }
    // The path takes the place of "%s": path + format - 2 characters and a NUL.
    const size_t bytes = std::strlen(path) + std::strlen(format) - 1;
    char* text = static_cast<char*>(allocate(bytes));
    if (text != nullptr) {
        const char* slot = std::strstr(format, "%s");
        const size_t before = static_cast<size_t>(slot - format);
        std::memcpy(text, format, before);
        std::memcpy(text + before, path, std::strlen(path));
        std::strcpy(text + before + std::strlen(path), slot + 2);
    }
    *message = text;
}

}  // namespace

bool KivWriteResourceToFile(const char* path, int id, KivAllocator allocate, char** message) {
    if (path == nullptr || path[0] == 0) {
        return false;
    }
    if (std::strlen(path) >= kKivMaxPath) {
        Format("path '%s' is too long", path, allocate, message);
        return false;
    }
    if (_access(path, 0) == 0) {
        struct _stat64 status;
        const bool folder = _stat64(path, &status) == 0 && (status.st_mode & _S_IFDIR) != 0;
        Format(folder ? "directory '%s' already exists.Try to relocate this directory"
                      : "file '%s' already exists.Try to relocate this file",
               path, allocate, message);
        return false;
    }
    HMODULE own = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(own, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
    if (resource == nullptr) {
        return false;
    }
    HGLOBAL loaded = LoadResource(own, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(own, resource);
    if (bytes == nullptr) {
        return false;
    }
    FILE* file = std::fopen(path, "w+b");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::remove(path);  // never leave a cut payload behind
        return false;
    }
    return true;
}

bool KivDeleteFileA(const char* path) {
    return path != nullptr && path[0] != 0 && std::remove(path) == 0;
}

void KivFolderOfPath(const char* path, KivAllocator allocate, char** folder) {
    if (allocate == nullptr || folder == nullptr) {
        return;
    }
    const char* text = path != nullptr ? path : "";
    const char* separator = std::strrchr(text, '\\');
    if (separator == nullptr) {
        separator = std::strrchr(text, '/');
    }
    const size_t length =
        separator != nullptr ? static_cast<size_t>(separator - text) : std::strlen(text);
    char* result = static_cast<char*>(allocate(length + 1));
    if (result != nullptr) {
        std::memcpy(result, text, length);
        result[length] = 0;
    }
    *folder = result;
}
