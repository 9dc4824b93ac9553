// The exports of the three runtime libraries, kiv.memory, kiv.gc and kiv.type:
// undecorated C names, arguments on the stack, the caller cleaning (cdecl).
// Clients bind them by name at run time through these pointer types; the
// libraries themselves declare their definitions with KIV_EXPORT.
#pragma once

#include <cstdint>

class XGCRef;
class _Type;
class XTypeMethodInfo;

#if defined(_WIN32) && !defined(_WIN64)
#define KIV_CDECL __cdecl
#else
#define KIV_CDECL
#endif

#define KIV_EXPORT extern "C" __declspec(dllexport)

// kiv.memory
using KivAllocFn = void*(KIV_CDECL*)(uint64_t size, const char* type_name, const char* source,
                                     int line);
using KivFreeFn = void(KIV_CDECL*)(void* block);
using KivModuleInitFn = void(KIV_CDECL*)(int unused);
using KivModuleFreeFn = void(KIV_CDECL*)(int unused);

// kiv.gc
using KivAddGcRefFn = void(KIV_CDECL*)(XGCRef* object);
using KivRemoveGcRefFn = void(KIV_CDECL*)(XGCRef* object);
using KivGcCollectFn = void(KIV_CDECL*)();

// kiv.type
using KivTypeofFn = _Type*(KIV_CDECL*)(const char* module_name, const char* type_name);
using KivAddTypeMethodInfoFn = void(KIV_CDECL*)(_Type* type, XTypeMethodInfo* info);
using KivTypeFreeTypesFn = void(KIV_CDECL*)(const char* module_name);
