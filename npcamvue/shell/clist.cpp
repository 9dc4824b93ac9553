#include "npcamvue/shell/clist.h"

#include <windows.h>

#include "npcamvue/shell/aligned_block.h"

namespace camvue {
namespace {
constexpr const char* kTag = "CList::CList";
}

CList::CList() : lock(kTag), items(AlignedBlock::NewArray(kStep)) {}

CList::~CList() {
    AlignedBlock::Free(items);
}

int CList::Add(void* item) {
    if (item == nullptr)
        return -1;
    SpinLockGuard guard(lock, kTag);
    const int oldCapacity = capacity;
    ++count;
    // ">=", not "==": after a shrink the capacity equals the count, and the
    // next item must make room too.
    if (count >= capacity)
        capacity = count + kStep;
    // Grow-only, and the old array survives a failed growth, so the list
    // stays as it was.
    void** grown = AlignedBlock::ResizeArrayKeep(capacity, items, false);
    if (grown == nullptr) {
        --count;
        capacity = oldCapacity;
        return -1;
    }
    items = grown;
    items[count - 1] = item;
    return static_cast<int>(InterlockedIncrement(&adds));
}

int CList::Remove(void* item) {
    if (item == nullptr)
        return -1;
    SpinLockGuard guard(lock, kTag);
    int found = -1;
    for (int i = 0; i < count && found < 0; ++i) {
        if (items[i] == item)
            found = i;
    }
    if (found < 0)
        return -1;
    items[found] = items[count - 1];
    items[count - 1] = nullptr;
    --count;
    if (capacity - count > kStep) {
        // Shrinking to 0 frees the array. A failed shrink keeps the old one
        // and its capacity.
        void** shrunk = AlignedBlock::ResizeArrayKeep(count, items, true);
        if (shrunk != nullptr || count == 0) {
            items = shrunk;
            capacity = count;
        }
    }
    if (items == nullptr)
        return -1;
    return static_cast<int>(InterlockedDecrement(&adds));
}

}  // namespace camvue
