// The object layout every module that carries the runtime shares with kiv.gc:
// XGCRef (reference counted, allocated through kiv.memory, handed to the
// collector while in transit) and _Object, the holder inside every handle.
// kiv.gc reads the fresh flag, stores its lock and releases objects that other
// modules allocated, so field order and sizes must not change.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include "kiv_hooks.h"
#include "kiv_malloc_array.h"

class _Type;

class XGCRef {
  public:
    static constexpr const char* kTypeName = "XGCRef";

    XGCRef() = default;
    XGCRef(const XGCRef&) = delete;
    XGCRef& operator=(const XGCRef&) = delete;
    // Releases the children, last first, and frees their list.
    virtual ~XGCRef();

    void AddRef();
    // The caller whose decrement reaches 0 destroys the object in place and
    // returns its memory to kiv.memory. A count already at 0 is left alone.
    void Release();
    // AddRef, count the registration, hand the object to kiv.gc.
    void AddGCRef();
    // Takes one registration back (telling kiv.gc when notify is set) and
    // releases the collector's reference; false when none is outstanding.
    bool RemoveGCRef(bool notify);
    void AddChildRef(XGCRef* child);
    void RemoveChildRef(XGCRef* child);
    void SetTypeName(const char* name);

    _Type* type = nullptr;
    uint8_t fresh = 1;
    const char* name = nullptr;
    volatile LONG ref_count = 1;
    volatile LONG gc_ref_count = 0;
    int32_t reserved = 4;
    XMallocArray<XGCRef*, 5> children;
    CRITICAL_SECTION* gc_lock = nullptr;
};

// The holder every handle owns; target is the object the handle stands for.
class _Object : public XGCRef {
  public:
    static constexpr const char* kTypeName = "_Object";
    ~_Object() override = default;

    XGCRef* target = nullptr;
};

// Source path and line numbers the runtime reports to kiv_alloc.
constexpr int kKivObjectAllocLine = 272;
constexpr int kKivBufferAllocLine = 92;

// Object allocation: kiv_alloc with the class size and name, then the
// constructor in place. Null when kiv.memory gives nothing.
template <class T, class... Args>
T* KivNew(Args&&... args) {
    void* memory = KivMemAlloc(sizeof(T), T::kTypeName, __FILE__, kKivObjectAllocLine);
    if (memory == nullptr) {
        return nullptr;
    }
    return new (memory) T(static_cast<Args&&>(args)...);
}

// Destroys in place through the virtual destructor and frees the memory.
template <class T>
void KivDestroy(T* object) {
    if (object != nullptr) {
        object->~T();
        KivMemFree(object);
    }
}

// Buffer allocation: count elements of type T, zero-filled; null when the size
// does not fit or kiv.memory gives nothing.
template <class T>
T* KivAllocBuffer(uint64_t count, const char* element_name) {
    if (count > UINT64_MAX / sizeof(T) || count * sizeof(T) > SIZE_MAX) {
        return nullptr;
    }
    return static_cast<T*>(
        KivMemAlloc(count * sizeof(T), element_name, __FILE__, kKivBufferAllocLine));
}

// The 32-bit layout every module and kiv.gc rely on; the 64-bit build widens
// the pointers in the same order.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(XMallocArray<XGCRef*, 5>) == 16, "vtable, items, capacity, count");
static_assert(offsetof(XGCRef, type) == 4);
static_assert(offsetof(XGCRef, fresh) == 8);
static_assert(offsetof(XGCRef, name) == 12);
static_assert(offsetof(XGCRef, ref_count) == 16);
static_assert(offsetof(XGCRef, gc_ref_count) == 20);
static_assert(offsetof(XGCRef, reserved) == 24);
static_assert(offsetof(XGCRef, children) == 28);
static_assert(offsetof(XGCRef, gc_lock) == 44);
static_assert(sizeof(XGCRef) == 48);
static_assert(offsetof(_Object, target) == 48);
static_assert(sizeof(_Object) == 52);
#elif defined(_WIN64)
static_assert(sizeof(XMallocArray<XGCRef*, 5>) == 24);
static_assert(offsetof(XGCRef, type) == 8);
static_assert(offsetof(XGCRef, fresh) == 16);
static_assert(offsetof(XGCRef, name) == 24);
static_assert(offsetof(XGCRef, ref_count) == 32);
static_assert(offsetof(XGCRef, gc_ref_count) == 36);
static_assert(offsetof(XGCRef, reserved) == 40);
static_assert(offsetof(XGCRef, children) == 48);
static_assert(offsetof(XGCRef, gc_lock) == 72);
static_assert(sizeof(XGCRef) == 80);
static_assert(offsetof(_Object, target) == 80);
#endif
#pragma GCC diagnostic pop
