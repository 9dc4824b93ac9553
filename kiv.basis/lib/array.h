// Arrays of the runtime: _Array<T,N> (a pointer array whose buffer comes from
// kiv.memory), _InternalArray<T> (an object owning handles of type T) and its
// handle XArray<T>.
#pragma once

#include <cstring>

#include "kiv.basis/lib/handle.h"

// Pointer array with its buffer from kiv.memory, growing by N items.
// Fields: virtual table, items, capacity, count.
template <class T, uint32_t N>
class _Array {
  public:
    static constexpr const char* kTypeName = "_Array";
    static constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

    _Array() = default;
    _Array(const _Array&) = delete;
    _Array& operator=(const _Array&) = delete;
    virtual ~_Array() {
        KivMemFree(items);
        items = nullptr;
        capacity = count = 0;
    }

    uint32_t Insert(uint32_t index, T* item) {
        if (index > count) {
            index = count;
        }
        if (count == capacity) {
            if (capacity > kNoIndex - N - 1) {
                return kNoIndex;
            }
            T** grown = KivAllocBuffer<T*>(capacity + N, "pointer");
            if (grown == nullptr) {
                return kNoIndex;
            }
            if (index > 0) {
                std::memcpy(grown, items, index * sizeof(T*));
            }
            if (count > index) {
                std::memcpy(grown + index + 1, items + index, (count - index) * sizeof(T*));
            }
            KivMemFree(items);
            items = grown;
            capacity += N;
        } else if (count > index) {
            std::memmove(items + index + 1, items + index, (count - index) * sizeof(T*));
        }
        items[index] = item;
        ++count;
        return index;
    }
    uint32_t Add(T* item) { return Insert(count, item); }
    void RemoveAt(uint32_t index) {
        if (index >= count) {
            return;
        }
        if (index + 1 < count) {
            std::memmove(items + index, items + index + 1, (count - index - 1) * sizeof(T*));
        }
        --count;
        items[count] = nullptr;
    }
    T* At(uint32_t index) const {
        return items != nullptr && index < count ? items[index] : nullptr;
    }
    uint32_t Count() const { return count; }

    T** items = nullptr;
    uint32_t capacity = 0;
    uint32_t count = 0;
};

// An object owning element handles (XString or XUInt32), each allocated
// through kiv.memory.
template <class T>
class _InternalArray : public XGCRef {
  public:
    static constexpr const char* kTypeName = T::kArrayTypeName;

    _InternalArray() : array(KivNew<_Array<T, 5>>()) {}
    ~_InternalArray() override {
        if (array != nullptr) {
            while (array->Count() > 0) {
                const uint32_t last = array->Count() - 1;
                T* element = array->At(last);
                array->RemoveAt(last);
                KivDestroy(element);
            }
            KivDestroy(array);
            array = nullptr;
        }
    }

    // Appends a new element handle assigned from value; false without memory.
    bool Add(const T& value) {
        if (array == nullptr) {
            return false;
        }
        T* element = KivNew<T>();
        if (element == nullptr) {
            return false;
        }
        *element = value;
        if (array->Add(element) == array->kNoIndex) {
            KivDestroy(element);
            return false;
        }
        return true;
    }
    uint32_t Count() const { return array != nullptr ? array->Count() : 0; }
    T* At(uint32_t index) const { return array != nullptr ? array->At(index) : nullptr; }

    _Array<T, 5>* array;
};

template <class T>
class XArray : public XGCHandle<_InternalArray<T>> {
  public:
    XArray() = default;
    // Copies every element of a raw array, then consumes it.
    explicit XArray(_InternalArray<T>* raw) {
        if (raw == nullptr) {
            return;
        }
        raw->AddRef();
        CopyFrom(*raw);
        KivConsumeRaw(raw);
        raw->Release();
    }
    XArray(const XArray&) = delete;
    XArray& operator=(const XArray&) = delete;
    // Takes a raw array (from Detach) as this handle's target.
    XArray& operator=(_InternalArray<T>* raw) {
        this->set_Object(raw);
        return *this;
    }

    bool Add(const T& value) {
        _InternalArray<T>* target = this->get_Object();
        return target != nullptr && target->Add(value);
    }
    uint32_t Count() const {
        const _InternalArray<T>* target = this->Peek();
        return target != nullptr ? target->Count() : 0;
    }
    // The element at index, or null when the index is out of range.
    T* At(uint32_t index) const {
        const _InternalArray<T>* target = this->Peek();
        return target != nullptr ? target->At(index) : nullptr;
    }

  private:
    void CopyFrom(const _InternalArray<T>& raw) {
        for (uint32_t i = 0; i < raw.Count(); ++i) {
            Add(*raw.At(i));
        }
    }
};
