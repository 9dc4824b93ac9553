// File and folder helpers: special folders, folder and file tests, folder
// creation, deletion, copying with parent creation, writing a raw-data
// resource to a file and the folder part of a path. Paths are XStrings in any
// supported encoding unless the signature says 8-bit.
#pragma once

#include <cstddef>

#include "kiv.basis/lib/string.h"

using KivAllocator = void* (*)(size_t bytes);

// The longest path the helpers take, in bytes of its own encoding with the
// terminator; longer paths are refused.
constexpr uint32_t kKivMaxPath = 260;

// "MYDOCUMENTS", "SYSTEM", "WINDOWS", "PROGRAM FILES" (others: documents),
// with "/" separators. On failure the name itself and an error text.
_String* KivGetSpecialFolder(const char* name, XString& error);

bool KivFolderExists(const XString& path);
bool KivFolderExists(_String* path);  // consumes path
void KivCreateFolder(const XString& path);
void KivCreateFolder(_String* path);  // consumes path
bool KivFileExists(const XString& path);
bool KivDeleteFile(const XString& path, XString& error);
// Copies source to target, creating the target's missing parent folders.
bool KivCopyFile(const XString& source, const XString& target, XString& error);
// Writes the RCDATA resource id of the program to path, which must not exist;
// message (allocated with allocate) says why when something is in the way.
bool KivWriteResourceToFile(const char* path, int id, KivAllocator allocate, char** message);
bool KivDeleteFileA(const char* path);
// The text before the last "\" (else the last "/"; else the whole path).
void KivFolderOfPath(const char* path, KivAllocator allocate, char** folder);
