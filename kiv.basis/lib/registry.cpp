#include "kiv.basis/lib/registry.h"

#include <windows.h>

#include "kiv.basis/lib/diagnostic.h"

namespace {

HKEY RootKey(int root) {
    switch (root) {
        case kRootCurrentUser:
            return HKEY_CURRENT_USER;
        case kRootLocalMachine:
            return HKEY_LOCAL_MACHINE;
        case kRootUsers:
            return HKEY_USERS;
        default:
            return HKEY_CLASSES_ROOT;
    }
}

// The system's text for a Windows error code.
XString SystemText(LONG code) {
    char text[1024] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                   sizeof text - 1, nullptr);
    return XString(text);
}

void Fail(const char* operation, const XString& message, XString& error) {
    error = KivErrorLine(operation, message);
    KivPrint(stderr, kKivMessageError, error);
}

// A UTF-16 copy of any string.
XString Wide(const XString& text) {
    return XString(const_cast<XString&>(text).ToUtf16());
}

}  // namespace

void XRegistry::CreateRegKey(int root, const XString& key_path, XString& error) {
    error.Clear();
    XString key = Wide(key_path);
    HKEY handle = nullptr;
    if (RegOpenKeyExW(RootKey(root), key.Wide(), 0, KEY_READ, &handle) == ERROR_SUCCESS) {
        RegCloseKey(handle);
        XString message("registry key '");
        message += key_path;
        message += "' already exists";
        Fail("XRegistry::CreateRegKey", message, error);
        return;
    }
    const LONG status = RegCreateKeyW(RootKey(root), key.Wide(), &handle);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(handle);
        return;
    }
    XString message("cannot create registry key , reason:");
    message += SystemText(status);
    Fail("XRegistry::CreateRegKey", message, error);
}

void XRegistry::set_RegValueAsString(int root, const XString& key_path, const XString& value_name,
                                     const XString& value, XString& error) {
    error.Clear();
    XString key = Wide(key_path);
    XString name = Wide(value_name);
    XString data = Wide(value);
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(RootKey(root), key.Wide(), 0, KEY_WRITE, &handle);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(handle, name.Wide(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data.Wide()), data.get_Size());
        RegCloseKey(handle);
    }
    if (status != ERROR_SUCCESS) {
        XString message("cannot set registry key value , reason:");
        message += SystemText(status);
        Fail("XRegistry::set_RegValueAsString", message, error);
    }
}
