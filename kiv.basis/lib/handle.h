// Handles: small values on the stack or inside objects, each holding one
// runtime object through its holder. XGCHandle<T> creates its target on first
// use; Detach and set_Object move objects through the collector.
#pragma once

#include "kiv.basis/includes/kiv_object.h"

class XObject {
  public:
    // owner: the object that carries this handle as a member, or null.
    explicit XObject(XGCRef* owner = nullptr);
    XObject(const XObject&) = delete;
    XObject& operator=(const XObject&) = delete;
    // Releases the target, then the holder; the owner's child list is left.
    virtual ~XObject();
    virtual XGCRef* get_Object();

    XGCRef* Target() const { return holder != nullptr ? holder->target : nullptr; }

    _Object* holder;
    XGCRef* owner;

  protected:
    // set_Object's steps for any object class.
    void TakeObject(XGCRef* object);
};

template <class T>
class XGCHandle : public XObject {
  public:
    explicit XGCHandle(XGCRef* handle_owner = nullptr) : XObject(handle_owner) {}
    ~XGCHandle() override = default;

    // The target, created (and named) on first use; null when memory is out.
    T* get_Object() override {
        if (holder == nullptr) {
            return nullptr;
        }
        if (holder->target == nullptr) {
            T* created = KivNew<T>();
            if (created == nullptr) {
                return nullptr;
            }
            holder->target = created;
            created->SetTypeName(name_override != nullptr ? name_override : T::kTypeName);
            if (owner != nullptr) {
                owner->AddChildRef(created);
            }
        }
        return static_cast<T*>(holder->target);
    }

    // The target without creating it.
    T* Peek() const { return static_cast<T*>(Target()); }

    // Makes a raw object (typically one returned through Detach) the target;
    // its registration with the collector moves to this handle.
    void set_Object(T* object) { TakeObject(object); }

    // Returns the target registered with the collector, for a function that
    // returns the object by value. Null when there is no memory for it.
    T* Detach() {
        T* object = get_Object();
        if (object != nullptr) {
            object->AddGCRef();
        }
        return object;
    }

    const char* name_override = nullptr;
};

// A raw object handed to a constructor that copies it: the constructor keeps
// it alive with AddRef for the copy, takes back its registration here (which
// drops the collector's reference) and then drops its own with Release.
inline void KivConsumeRaw(XGCRef* raw) {
    if (raw != nullptr) {
        raw->RemoveGCRef(true);
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(XObject, holder) == 4 && offsetof(XObject, owner) == 8 &&
              sizeof(XObject) == 12);
static_assert(offsetof(XGCHandle<XGCRef>, name_override) == 12 && sizeof(XGCHandle<XGCRef>) == 16);
#elif defined(_WIN64)
static_assert(offsetof(XObject, holder) == 8 && offsetof(XObject, owner) == 16 &&
              sizeof(XObject) == 24);
static_assert(offsetof(XGCHandle<XGCRef>, name_override) == 24 && sizeof(XGCHandle<XGCRef>) == 32);
#endif
#pragma GCC diagnostic pop
