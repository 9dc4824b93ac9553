// Method information records: what a module attaches to a type descriptor
// through kiv_add_type_method_info. The record and its handle are complete
// here so that a client module can build the record it hands in; kiv.type
// keeps its own copy. The layout is shared by every module that does so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kiv.basis/includes/kiv_object.h"

class _Type;

class _TypeMethodInfo : public XGCRef {
  public:
    static constexpr const char* kTypeName = "_TypeMethodInfo";
    static constexpr int kDataCount = 5;

    _TypeMethodInfo() = default;
    // A record that owns its data returns every block to kiv.memory.
    ~_TypeMethodInfo() override {
        if (owns_data != 0) {
            FreeData();
        }
    }

    // Frees each data block that is set and clears its pointer.
    void FreeData() {
        for (void*& block : data) {
            if (block != nullptr) {
                KivMemFree(block);
                block = nullptr;
            }
        }
    }

    uint8_t owns_data = 1;
    uint32_t value = 0;
    _Type* owning_type = nullptr;
    // Blocks from kiv_alloc; what they hold is the registering module's.
    void* data[kDataCount] = {};
};

// The handle: creates its record with itself and releases it with itself.
// kiv_add_type_method_info copies the flag, the value and data[0] of the
// record into a record of its own; a caller whose record owns data[0] hands
// it over and must clear it in its record, or it is freed twice.
class XTypeMethodInfo {
  public:
    static constexpr const char* kTypeName = "XTypeMethodInfo";

    XTypeMethodInfo() : object(KivNew<_TypeMethodInfo>()) {
        if (object != nullptr) {
            object->SetTypeName(_TypeMethodInfo::kTypeName);
        }
    }
    XTypeMethodInfo(const XTypeMethodInfo&) = delete;
    XTypeMethodInfo& operator=(const XTypeMethodInfo&) = delete;
    virtual ~XTypeMethodInfo() {
        if (object != nullptr) {
            _TypeMethodInfo* record = object;
            object = nullptr;
            record->Release();
        }
    }

    _TypeMethodInfo* object;  // null when kiv.memory gave nothing
    XGCRef* owner = nullptr;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(_TypeMethodInfo, owns_data) == 48);
static_assert(offsetof(_TypeMethodInfo, value) == 52);
static_assert(offsetof(_TypeMethodInfo, owning_type) == 56);
static_assert(offsetof(_TypeMethodInfo, data) == 60);
static_assert(sizeof(_TypeMethodInfo) == 80);
static_assert(offsetof(XTypeMethodInfo, object) == 4);
static_assert(offsetof(XTypeMethodInfo, owner) == 8);
static_assert(sizeof(XTypeMethodInfo) == 12);
#elif defined(_WIN64)
static_assert(offsetof(_TypeMethodInfo, owns_data) == 80);
static_assert(offsetof(_TypeMethodInfo, value) == 84);
static_assert(offsetof(_TypeMethodInfo, owning_type) == 88);
static_assert(offsetof(_TypeMethodInfo, data) == 96);
static_assert(sizeof(_TypeMethodInfo) == 136);
static_assert(offsetof(XTypeMethodInfo, object) == 8);
static_assert(offsetof(XTypeMethodInfo, owner) == 16);
static_assert(sizeof(XTypeMethodInfo) == 24);
#endif
#pragma GCC diagnostic pop
