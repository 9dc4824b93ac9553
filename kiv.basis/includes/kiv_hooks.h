// What the shared object code needs from the module that carries it: memory
// from kiv.memory and the collector of kiv.gc. The object runtime library
// supplies these through its own bindings (kiv.basis/lib/binding.cpp); kiv.gc,
// which carries only the release operations, supplies its own.
#pragma once

#include <cstdint>

class XGCRef;

// kiv_alloc of the module's kiv.memory binding (binding it first if needed);
// null when the library or the memory is missing.
void* KivMemAlloc(uint64_t size, const char* type_name, const char* source, int line);
// kiv_free of the module's kiv.memory binding; a null block is ignored.
void KivMemFree(void* block);
// kiv_add_gc_ref / kiv_remove_gc_ref of the module's kiv.gc binding (binding it
// first if needed). They return false when kiv.gc cannot be bound.
bool KivGcAdd(XGCRef* object);
bool KivGcRemove(XGCRef* object);
