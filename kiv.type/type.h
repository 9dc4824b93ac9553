// Type descriptors: _Type, the object the type slot of an XGCRef points at,
// and XType, the registry's handle on one. A descriptor keeps the registering
// module's name strings as pointers and the method information records that
// modules attached to it.
#pragma once

#include <windows.h>

#include <cstddef>

#include "kiv.basis/includes/kiv_malloc_array.h"
#include "kiv.basis/includes/kiv_object.h"
#include "kiv.type/method_info.h"

class _Type : public XGCRef {
  public:
    static constexpr const char* kTypeName = "_Type";

    _Type();
    // Takes ownership of the records' data back (flag to 1) and releases them.
    ~_Type() override;

    // The registering module's constant strings; a null type name marks an
    // entry that kiv_type_free_types gave back for reuse.
    const char* type_name = nullptr;
    const char* module_name = nullptr;
    XMallocArray<_TypeMethodInfo*, 30> method_infos;
    CRITICAL_SECTION lock;
};

// The registry's handle: creates its descriptor with itself and releases it
// in its destructor.
class XType {
  public:
    static constexpr const char* kTypeName = "XType";

    XType();
    XType(const XType&) = delete;
    XType& operator=(const XType&) = delete;
    virtual ~XType();

    _Type* object;  // null when kiv.memory gave nothing
    XGCRef* owner = nullptr;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(XMallocArray<_TypeMethodInfo*, 30>) == 16);
static_assert(offsetof(_Type, type_name) == 48);
static_assert(offsetof(_Type, module_name) == 52);
static_assert(offsetof(_Type, method_infos) == 56);
static_assert(offsetof(_Type, lock) == 72);
static_assert(sizeof(_Type) == 96);
static_assert(offsetof(XType, object) == 4);
static_assert(offsetof(XType, owner) == 8);
static_assert(sizeof(XType) == 12);
#elif defined(_WIN64)
static_assert(sizeof(XMallocArray<_TypeMethodInfo*, 30>) == 24);
static_assert(offsetof(_Type, type_name) == 80);
static_assert(offsetof(_Type, module_name) == 88);
static_assert(offsetof(_Type, method_infos) == 96);
static_assert(offsetof(_Type, lock) == 120);
static_assert(sizeof(_Type) == 160);
static_assert(offsetof(XType, object) == 8);
static_assert(offsetof(XType, owner) == 16);
static_assert(sizeof(XType) == 24);
#endif
#pragma GCC diagnostic pop
