// Diagnostic output: one line to a console stream, coloured by kind, and the
// same text to the debugger.
#pragma once

#include <cstdio>

class XString;

enum : int { kKivMessagePlain = 0, kKivMessageSuccess = 1, kKivMessageError = 2 };

// Prints UTF-8 text as it is (no conversion, no allocation).
void KivPrintUtf8(FILE* stream, int kind, const char* utf8);
// Prints text of any encoding (converted to UTF-8 first).
void KivPrint(FILE* stream, int kind, const XString& text);

// Test seam: replaces SetConsoleTextAttribute (null restores it).
using KivConsoleAttributeFn = int (*)(void* console, unsigned short attribute);
void KivSetConsoleAttributeForTest(KivConsoleAttributeFn set_attribute);

// "<own module> module , <operation> , <message>\n" as a new string.
XString KivErrorLine(const char* operation, const XString& message);
