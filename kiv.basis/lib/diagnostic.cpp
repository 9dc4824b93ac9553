#include "kiv.basis/lib/diagnostic.h"

#include <windows.h>

#include "kiv.basis/lib/binding.h"
#include "kiv.basis/lib/string.h"

namespace {

constexpr WORD kColourPlain = 15;
constexpr WORD kColours[] = {15, 10, 12};

int SystemSetAttribute(void* console, unsigned short attribute) {
    return SetConsoleTextAttribute(console, attribute);
}
KivConsoleAttributeFn g_set_attribute = SystemSetAttribute;

HANDLE ConsoleOf(FILE* stream) {
    if (stream == stderr) {
        return GetStdHandle(STD_ERROR_HANDLE);
    }
    if (stream == stdout) {
        return GetStdHandle(STD_OUTPUT_HANDLE);
    }
    if (stream == stdin) {
        return GetStdHandle(STD_INPUT_HANDLE);
    }
    return nullptr;
}

}  // namespace

void KivSetConsoleAttributeForTest(KivConsoleAttributeFn set_attribute) {
    g_set_attribute = set_attribute != nullptr ? set_attribute : SystemSetAttribute;
}

void KivPrintUtf8(FILE* stream, int kind, const char* utf8) {
    if (utf8 == nullptr) {
        utf8 = "";
    }
    HANDLE console = stream != nullptr ? ConsoleOf(stream) : nullptr;
    const bool coloured = console != nullptr && console != INVALID_HANDLE_VALUE;
    if (coloured && kind >= 0 && kind <= 2) {
        g_set_attribute(console, kColours[kind]);
    }
    if (stream != nullptr) {
        std::fprintf(stream, "%s", utf8);
        std::fflush(stream);
    }
    if (coloured) {
        g_set_attribute(console, kColourPlain);
    }
    OutputDebugStringA(utf8);
}

void KivPrint(FILE* stream, int kind, const XString& text) {
    XString& source = const_cast<XString&>(text);
    XString utf8(source.ToUtf8());
    KivPrintUtf8(stream, kind, utf8.Bytes());
}

XString KivErrorLine(const char* operation, const XString& message) {
    XString line(kKivOwnModuleName);
    line += " module , ";
    line += operation;
    line += " , ";
    line += message;
    line += "\n";
    return line;
}
