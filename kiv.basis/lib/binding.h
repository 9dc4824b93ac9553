// Binding of the runtime libraries kiv.memory, kiv.gc and kiv.type by name:
// first by bare file name (the system's search order), then beside the file of
// the module that carries this copy of the runtime.
#pragma once

#include "kiv.basis/includes/kiv_exports.h"

// The module's own name ("setup-rtsp-plugin-x86.exe", "kiv.type", ...),
// defined once by every program or library that links the runtime.
extern const char kKivOwnModuleName[];

// Each returns true when the library is bound (binding it now if needed).
// A missing library or export is reported once on the diagnostic output and
// leaves the binding empty, so no caller ever calls through a null pointer.
bool KivBindMemory();
bool KivBindGc();
bool KivBindType();

// kiv.type's exports while bound, else null.
KivTypeofFn KivTypeofExport();
KivAddTypeMethodInfoFn KivAddTypeMethodInfoExport();

// Unbinds kiv.gc, then kiv.type (after freeing this module's types), then
// kiv.memory. A later allocation binds kiv.memory again.
void FreeRuntimeLibraries();
