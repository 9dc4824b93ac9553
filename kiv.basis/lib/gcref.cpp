// The release operations of XGCRef. Every module that carries objects compiles
// its own copy (kiv.gc too, to release what its clients registered); they meet
// only through the shared layout of kiv_object.h.
#include "kiv.basis/includes/kiv_object.h"

XGCRef::~XGCRef() {
    while (children.Count() > 0) {
        const uint32_t last = children.Count() - 1;
        XGCRef* child = children.At(last);
        children.RemoveAt(last);
        if (child != nullptr) {
            child->Release();
        }
    }
    children.Clear();
}

void XGCRef::AddRef() {
    InterlockedIncrement(&ref_count);
}

void XGCRef::Release() {
    for (;;) {
        const LONG count = ref_count;
        if (count <= 0) {
            return;  // a second release of a dead object is absorbed
        }
        if (InterlockedCompareExchange(&ref_count, count - 1, count) == count) {
            if (count == 1) {
                KivDestroy(this);
            }
            return;
        }
    }
}

void XGCRef::AddGCRef() {
    AddRef();
    InterlockedIncrement(&gc_ref_count);
    // Without kiv.gc the object stays counted as in transit until a handle
    // takes it back; the binding has reported the missing library.
    KivGcAdd(this);
}

bool XGCRef::RemoveGCRef(bool notify) {
    CRITICAL_SECTION* lock = gc_lock;
    if (lock != nullptr) {
        EnterCriticalSection(lock);
    }
    if (gc_ref_count < 1) {
        if (lock != nullptr) {
            LeaveCriticalSection(lock);
        }
        return false;
    }
    if (notify) {
        KivGcRemove(this);
    }
    if (InterlockedDecrement(&gc_ref_count) == 0) {
        // The lock belongs to the collector; an object no longer in transit
        // must not keep pointing at it once kiv.gc may be unloaded.
        gc_lock = nullptr;
    }
    if (lock != nullptr) {
        LeaveCriticalSection(lock);
    }
    Release();
    return true;
}

void XGCRef::AddChildRef(XGCRef* child) {
    if (child == nullptr || child == this) {
        return;
    }
    child->AddRef();
    if (children.Add(child) == children.kNoIndex) {
        child->Release();
    }
}

void XGCRef::RemoveChildRef(XGCRef* child) {
    for (uint32_t i = 0; i < children.Count(); ++i) {
        if (children.At(i) == child) {
            children.RemoveAt(i);
            child->Release();
            return;
        }
    }
}

void XGCRef::SetTypeName(const char* new_name) {
    type = nullptr;
    name = new_name;
}
