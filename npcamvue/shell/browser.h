// The plug-in's copy of the browser's function table (filled by
// NP_Initialize) and the calls into the browser made through it. A call
// whose entry the browser did not provide fails quietly: null, false or
// NPERR_GENERIC_ERROR.
#pragma once

#include <cstdint>

#include "npcamvue/shell/npapi.h"

namespace camvue {

extern NPNetscapeFuncs g_browser;

// NP_Initialize's rules: a null table or one shorter than through
// `setexception` is NPERR_INVALID_FUNCTABLE_ERROR, a major version other
// than 0 NPERR_INCOMPATIBLE_VERSION_ERROR. Otherwise size and version are
// kept, `geturl` through `setexception` copied, and `enumerate` too when the
// table is whole; the popup-state entries never. Points g_invalidateRect at
// the browser's InvalidateRect.
NPError BrowserTableCopy(const NPNetscapeFuncs* funcs);
// Forgets the copy (every entry null).
void BrowserTableClear();

NPError NpnGetValue(NPP npp, NPNVariable variable, void* value);
NPIdentifier NpnGetStringIdentifier(const char* name);
bool NpnGetProperty(NPP npp, NPObject* object, NPIdentifier name, NPVariant* result);
bool NpnSetProperty(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* value);
bool NpnInvoke(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* args,
               uint32_t argCount, NPVariant* result);
bool NpnInvokeDefault(NPP npp, NPObject* object, const NPVariant* args, uint32_t argCount,
                      NPVariant* result);
NPObject* NpnCreateObject(NPP npp, NPClass* npClass);
NPObject* NpnRetainObject(NPObject* object);
void NpnReleaseObject(NPObject* object);
void NpnReleaseVariantValue(NPVariant* variant);
void* NpnMemAlloc(uint32_t size);

// Variant values.
inline void VariantVoid(NPVariant* v) {
    v->type = NPVariantType_Void;
    v->value.objectValue = nullptr;
    v->value.stringValue.UTF8Length = 0;
}
inline void VariantString(NPVariant* v, const char* chars, uint32_t length) {
    v->type = NPVariantType_String;
    v->value.stringValue.UTF8Characters = chars;
    v->value.stringValue.UTF8Length = length;
}
inline void VariantObject(NPVariant* v, NPObject* object) {
    v->type = NPVariantType_Object;
    v->value.objectValue = object;
}

}  // namespace camvue
