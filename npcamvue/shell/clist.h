// CList: a growable list of pointers with its own SpinLock (holder tag
// "CList::CList"). It holds a stream's frame ring and the process-wide core
// registry. The list's owner reads `count` and `items` directly, under
// `lock`.
#pragma once

#include "npcamvue/shell/spin_lock.h"

namespace camvue {

class CList {
  public:
    static constexpr int kStep = 10;  // initial capacity and growth step

    CList();
    ~CList();
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;

    // Appends `item`. Returns the add counter's new value, or -1 for a null
    // item or when the item array cannot grow (the list is then unchanged).
    int Add(void* item);
    // Removes the first occurrence of `item`, moving the last item into its
    // place; shrinks the item array to the count when the capacity exceeds
    // the count by more than kStep. Returns the add counter's new value, or
    // -1 for a null or absent item and when the list is left without an
    // item array (emptied by a shrink; the counter is then not changed).
    int Remove(void* item);

    SpinLock lock;
    int capacity = kStep;
    int count = 0;
    void** items = nullptr;  // AlignedBlock pointer array of at least `capacity` entries
    volatile long adds = 0;  // the add counter, changed only atomically
};

}  // namespace camvue
