// The collector's list of registered objects. Unlike XMallocArray it keeps
// holes: Remove only nulls a slot, Add fills holes first (from a search hint),
// so registration never shifts entries. Memory from the process heap.
#pragma once

#include <windows.h>

#include <cstdint>

class XGCRef;

class GcList {
  public:
    static constexpr uint32_t kGrowth = 50;
    static constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

    GcList() = default;
    GcList(const GcList&) = delete;
    GcList& operator=(const GcList&) = delete;
    virtual ~GcList();

    // Stores object in the first hole, else at the end; kNoIndex without memory.
    uint32_t Add(XGCRef* object);
    void Remove(uint32_t index);
    XGCRef* Item(uint32_t index) const;
    // First slot holding object, or kNoIndex.
    uint32_t Find(const XGCRef* object) const;
    uint32_t LiveCount() const { return length - holes; }
    // Gives back spare capacity beyond length + 50.
    void Trim();

    XGCRef** items = nullptr;
    uint32_t capacity = 0;
    uint32_t length = 0;
    uint32_t holes = 0;
    uint32_t hint = 0;

  private:
    bool Reallocate(uint32_t new_capacity);
};
