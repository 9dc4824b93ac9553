// XMallocArray<T,N>: a growable array of plain items on the C heap, growing by
// N items at a time (never doubling). Field order is part of the shared object
// layout: virtual table, items, capacity, count.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

template <class T, uint32_t N>
class XMallocArray {
    static_assert(std::is_trivially_copyable<T>::value, "items are moved bytewise");
    static_assert(N > 0, "growth step");

  public:
    static constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

    XMallocArray() = default;
    XMallocArray(const XMallocArray&) = delete;
    XMallocArray& operator=(const XMallocArray&) = delete;
    virtual ~XMallocArray() { Clear(); }

    // Inserts item at index (clamped to the count) and returns the index it
    // got, or kNoIndex when the heap cannot grow the array.
    uint32_t Insert(uint32_t index, T item) {
        if (index > count) {
            index = count;
        }
        if (count == capacity) {
            if (capacity > kNoIndex - N - 1 ||
                static_cast<uint64_t>(capacity + N) * sizeof(T) > SIZE_MAX) {
                return kNoIndex;
            }
            T* grown = static_cast<T*>(std::calloc(capacity + N, sizeof(T)));
            if (grown == nullptr) {
                return kNoIndex;
            }
            if (index > 0) {
                std::memcpy(grown, items, index * sizeof(T));
            }
            if (count > index) {
                std::memcpy(grown + index + 1, items + index, (count - index) * sizeof(T));
            }
            std::free(items);
            items = grown;
            capacity += N;
        } else if (count > index) {
            std::memmove(items + index + 1, items + index, (count - index) * sizeof(T));
        }
        items[index] = item;
        ++count;
        return index;
    }
    uint32_t Add(T item) { return Insert(count, item); }

    // Later items move down one place; the freed last slot is zeroed.
    void RemoveAt(uint32_t index) {
        if (index >= count) {
            return;
        }
        if (index + 1 < count) {
            std::memmove(items + index, items + index + 1, (count - index - 1) * sizeof(T));
        }
        --count;
        std::memset(static_cast<void*>(items + count), 0, sizeof(T));
    }

    // The item at index; a zero item when the index is out of range.
    T At(uint32_t index) const { return index < count ? items[index] : T(); }
    uint32_t Count() const { return count; }
    uint32_t Capacity() const { return capacity; }

    void Clear() {
        std::free(items);
        items = nullptr;
        capacity = 0;
        count = 0;
    }

    T* items = nullptr;
    uint32_t capacity = 0;
    uint32_t count = 0;
};
