#include "kiv.basis/lib/handle.h"

XObject::XObject(XGCRef* handle_owner) : holder(KivNew<_Object>()), owner(handle_owner) {
    if (holder != nullptr) {
        holder->SetTypeName("object");
    }
}

XObject::~XObject() {
    if (holder != nullptr) {
        if (holder->target != nullptr) {
            XGCRef* target = holder->target;
            holder->target = nullptr;
            target->Release();
        }
        holder->Release();
        holder = nullptr;
    }
}

XGCRef* XObject::get_Object() {
    return Target();
}

void XObject::TakeObject(XGCRef* object) {
    if (object == nullptr) {
        // Dropping the target: the handle is empty again.
        XGCRef* current = Target();
        if (current != nullptr) {
            if (owner != nullptr) {
                owner->RemoveChildRef(current);
            }
            holder->target = nullptr;
            current->Release();
        }
        return;
    }
    if (holder == nullptr) {
        // No holder to keep it in (out of memory): still take the object out
        // of transit so that it is not lost to the collector.
        object->RemoveGCRef(true);
        return;
    }
    object->AddRef();  // keeps an object assigned to its own handle alive
    XGCRef* current = holder->target;
    if (current != nullptr) {
        if (owner != nullptr) {
            owner->RemoveChildRef(current);
        }
        current->Release();
    }
    if (owner != nullptr) {
        owner->AddChildRef(object);
    }
    object->AddRef();
    holder->target = object;
    object->RemoveGCRef(true);
    object->Release();
}
