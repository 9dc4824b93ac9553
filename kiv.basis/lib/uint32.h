// XUInt32: a boxed unsigned 32-bit value.
#pragma once

#include "kiv.basis/lib/handle.h"

class _UInt32 : public XGCRef {
  public:
    static constexpr const char* kTypeName = "_UInt32";
    ~_UInt32() override = default;
    uint32_t value = 0;
};

class XUInt32 : public XGCHandle<_UInt32> {
  public:
    static constexpr const char* kTypeName = "XUInt32";
    static constexpr const char* kArrayTypeName = "_InternalArray<XUInt32>";

    XUInt32() = default;
    explicit XUInt32(uint32_t initial) { set_Value(initial); }
    XUInt32(const XUInt32& other) : XGCHandle<_UInt32>() { set_Value(other.get_Value()); }
    XUInt32& operator=(const XUInt32& other) {
        set_Value(other.get_Value());
        return *this;
    }

    uint32_t get_Value() const {
        const _UInt32* target = Peek();
        return target != nullptr ? target->value : 0;
    }
    void set_Value(uint32_t value) {
        _UInt32* target = get_Object();
        if (target != nullptr) {
            target->value = value;
        }
    }
};
