// NPObject entries: lifetimes, and calls into any object's class (the page's
// own objects and the plug-in's alike), main thread only.
#include <cstdio>

#include "tools/page-host/npn.h"
#include "tools/page-host/runtime.h"
#include "tools/page-host/thread_gate.h"

namespace pagehost {
namespace {

using camvue::NPString;
using camvue::NPUTF8;

constexpr uint32_t kEnumerateVersion = 2;
constexpr uint32_t kConstructVersion = 3;

void Clear(NPVariant* result) {
    if (result != nullptr) {
        result->type = camvue::NPVariantType_Void;
        result->value.objectValue = nullptr;
    }
}

bool Usable(const char* entry, NPObject* object) {
    return OnMainThread(entry) && object != nullptr && object->_class != nullptr;
}

NPObject* NpnCreateObject(NPP npp, NPClass* aClass) {
    if (!OnMainThread("createobject"))
        return nullptr;
    return CreateObject(npp, aClass);
}

NPObject* NpnRetainObject(NPObject* object) {
    if (!OnMainThread("retainobject"))
        return object;
    return RetainObject(object);
}

void NpnReleaseObject(NPObject* object) {
    if (OnMainThread("releaseobject"))
        ReleaseObject(object);
}

bool NpnInvoke(NPP, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
               NPVariant* result) {
    Clear(result);
    if (!Usable("invoke", object) || object->_class->invoke == nullptr)
        return false;
    return object->_class->invoke(object, name, args, count, result);
}

bool NpnInvokeDefault(NPP, NPObject* object, const NPVariant* args, uint32_t count,
                      NPVariant* result) {
    Clear(result);
    if (!Usable("invokeDefault", object) || object->_class->invokeDefault == nullptr)
        return false;
    return object->_class->invokeDefault(object, args, count, result);
}

bool NpnEvaluate(NPP, NPObject*, NPString*, NPVariant* result) {
    Clear(result);
    OnMainThread("evaluate");
    return false;  // the page runs no script
}

bool NpnGetProperty(NPP, NPObject* object, NPIdentifier name, NPVariant* result) {
    Clear(result);
    if (!Usable("getproperty", object) || object->_class->getProperty == nullptr)
        return false;
    return object->_class->getProperty(object, name, result);
}

bool NpnSetProperty(NPP, NPObject* object, NPIdentifier name, const NPVariant* value) {
    if (!Usable("setproperty", object) || object->_class->setProperty == nullptr)
        return false;
    return object->_class->setProperty(object, name, value);
}

bool NpnRemoveProperty(NPP, NPObject* object, NPIdentifier name) {
    if (!Usable("removeproperty", object) || object->_class->removeProperty == nullptr)
        return false;
    return object->_class->removeProperty(object, name);
}

bool NpnHasProperty(NPP, NPObject* object, NPIdentifier name) {
    if (!Usable("hasproperty", object) || object->_class->hasProperty == nullptr)
        return false;
    return object->_class->hasProperty(object, name);
}

bool NpnHasMethod(NPP, NPObject* object, NPIdentifier name) {
    if (!Usable("hasmethod", object) || object->_class->hasMethod == nullptr)
        return false;
    return object->_class->hasMethod(object, name);
}

void NpnReleaseVariantValue(NPVariant* variant) {
    if (OnMainThread("releasevariantvalue"))
        ReleaseVariant(variant);
}

void NpnSetException(NPObject*, const NPUTF8* message) {
    if (OnMainThread("setexception"))
        std::printf("script exception: %s\n", message != nullptr ? message : "");
}

bool NpnEnumerate(NPP, NPObject* object, NPIdentifier** identifiers, uint32_t* count) {
    if (!Usable("enumerate", object) || object->_class->structVersion < kEnumerateVersion ||
        object->_class->enumerate == nullptr)
        return false;
    return object->_class->enumerate(object, identifiers, count);
}

bool NpnConstruct(NPP, NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result) {
    Clear(result);
    if (!Usable("construct", object) || object->_class->structVersion < kConstructVersion ||
        object->_class->construct == nullptr)
        return false;
    return object->_class->construct(object, args, count, result);
}

}  // namespace

void FillObjectFuncs(camvue::NPNetscapeFuncs* funcs) {
    funcs->createobject = NpnCreateObject;
    funcs->retainobject = NpnRetainObject;
    funcs->releaseobject = NpnReleaseObject;
    funcs->invoke = NpnInvoke;
    funcs->invokeDefault = NpnInvokeDefault;
    funcs->evaluate = NpnEvaluate;
    funcs->getproperty = NpnGetProperty;
    funcs->setproperty = NpnSetProperty;
    funcs->removeproperty = NpnRemoveProperty;
    funcs->hasproperty = NpnHasProperty;
    funcs->hasmethod = NpnHasMethod;
    funcs->releasevariantvalue = NpnReleaseVariantValue;
    funcs->setexception = NpnSetException;
    funcs->enumerate = NpnEnumerate;
    funcs->construct = NpnConstruct;
}

}  // namespace pagehost
