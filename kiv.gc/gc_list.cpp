#include "kiv.gc/gc_list.h"

#include <cstring>

GcList::~GcList() {
    if (items != nullptr) {
        HeapFree(GetProcessHeap(), 0, items);
    }
    items = nullptr;
    capacity = length = holes = hint = 0;
}

bool GcList::Reallocate(uint32_t new_capacity) {
    if (new_capacity > 0x0FFFFFFFu) {
        return false;
    }
    auto* grown = static_cast<XGCRef**>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(XGCRef*) * (new_capacity + 1)));
    if (grown == nullptr) {
        return false;
    }
    if (items != nullptr) {
        std::memcpy(grown, items,
                    sizeof(XGCRef*) * (length < new_capacity ? length : new_capacity));
        HeapFree(GetProcessHeap(), 0, items);
    }
    items = grown;
    capacity = new_capacity;
    return true;
}

uint32_t GcList::Add(XGCRef* object) {
    if (holes > 0) {
        for (int pass = 0; pass < 2; ++pass) {
            for (uint32_t i = hint; i < length; ++i) {
                if (items[i] == nullptr) {
                    items[i] = object;
                    --holes;
                    hint = i;
                    return i;
                }
            }
            hint = 0;
        }
        holes = 0;  // the count disagreed with the slots; trust the slots
    }
    if (length == capacity && !Reallocate(capacity + kGrowth)) {
        return kNoIndex;
    }
    items[length] = object;
    return length++;
}

void GcList::Remove(uint32_t index) {
    if (index >= length || items[index] == nullptr) {
        return;  // an empty slot is not a second hole
    }
    items[index] = nullptr;
    if (hint == 0 || hint > index) {
        hint = index;
    }
    ++holes;
}

XGCRef* GcList::Item(uint32_t index) const {
    return items != nullptr && index < length ? items[index] : nullptr;
}

uint32_t GcList::Find(const XGCRef* object) const {
    for (uint32_t i = 0; i < length; ++i) {
        if (items[i] == object) {
            return i;
        }
    }
    return kNoIndex;
}

void GcList::Trim() {
    if (capacity > length && capacity - length > kGrowth) {
        Reallocate(length + kGrowth);
    }
}
