// The NPClass tables of the scriptable objects: each entry turns the
// browser's NPObject pointer back into the object and calls its virtual
// operation (a null object answers false).
#include <new>

#include "npcamvue/shell/scriptable_object.h"

namespace camvue {
namespace {

ScriptablePluginObjectBase* Self(NPObject* object) {
    return static_cast<ScriptablePluginObjectBase*>(object);
}

NPObject* AllocateScriptable(NPP npp, NPClass*) {
    return new (std::nothrow) ScriptablePluginObject(npp);
}

NPObject* AllocateConstructable(NPP npp, NPClass*) {
    return new (std::nothrow) ConstructablePluginObject(npp);
}

void Deallocate(NPObject* object) {
    if (object != nullptr)
        delete Self(object);
}

void Invalidate(NPObject* object) {
    if (ScriptablePluginObjectBase* self = Self(object))
        self->Invalidate();
}

bool HasMethod(NPObject* object, NPIdentifier name) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->HasMethod(name);
}

bool Invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t argCount,
            NPVariant* result) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->Invoke(name, args, argCount, result);
}

bool InvokeDefault(NPObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->InvokeDefault(args, argCount, result);
}

bool HasProperty(NPObject* object, NPIdentifier name) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->HasProperty(name);
}

bool GetProperty(NPObject* object, NPIdentifier name, NPVariant* result) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->GetProperty(name, result);
}

bool SetProperty(NPObject* object, NPIdentifier name, const NPVariant* value) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->SetProperty(name, value);
}

bool RemoveProperty(NPObject* object, NPIdentifier name) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->RemoveProperty(name);
}

bool Enumerate(NPObject* object, NPIdentifier** identifiers, uint32_t* count) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->Enumerate(identifiers, count);
}

bool Construct(NPObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) {
    ScriptablePluginObjectBase* self = Self(object);
    return self != nullptr && self->Construct(args, argCount, result);
}

NPClass g_scriptableClass = {
    kNpClassStructVersion,
    AllocateScriptable,
    Deallocate,
    Invalidate,
    HasMethod,
    Invoke,
    InvokeDefault,
    HasProperty,
    GetProperty,
    SetProperty,
    RemoveProperty,
    Enumerate,
    Construct,
};

NPClass g_constructableClass = {
    kNpClassStructVersion,
    AllocateConstructable,
    Deallocate,
    Invalidate,
    HasMethod,
    Invoke,
    InvokeDefault,
    HasProperty,
    GetProperty,
    SetProperty,
    RemoveProperty,
    Enumerate,
    Construct,
};

}  // namespace

NPClass* ScriptableClass() {
    return &g_scriptableClass;
}

NPClass* ConstructableClass() {
    return &g_constructableClass;
}

void ScriptableForgetInstance(NPObject* object) {
    if (object != nullptr && object->_class == &g_scriptableClass)
        static_cast<ScriptablePluginObject*>(Self(object))->ForgetInstance();
}

}  // namespace camvue
