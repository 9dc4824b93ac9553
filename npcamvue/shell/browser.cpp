#include "npcamvue/shell/browser.h"

#include <cstddef>
#include <cstring>

#include "npcamvue/shell/plugin_instance.h"

namespace camvue {

NPNetscapeFuncs g_browser = {};

NPError BrowserTableCopy(const NPNetscapeFuncs* funcs) {
    if (funcs == nullptr)
        return NPERR_INVALID_FUNCTABLE_ERROR;
    if ((funcs->version >> kNpVersionMajorShift) != 0)
        return NPERR_INCOMPATIBLE_VERSION_ERROR;
    if (funcs->size < kBrowserFuncsMinSize)
        return NPERR_INVALID_FUNCTABLE_ERROR;
    // Entries a shorter table lacks stay null, also after a longer one.
    g_browser = NPNetscapeFuncs{};
    g_browser.size = funcs->size;
    g_browser.version = funcs->version;
    const size_t first = offsetof(NPNetscapeFuncs, geturl);
    std::memcpy(reinterpret_cast<char*>(&g_browser) + first,
                reinterpret_cast<const char*>(funcs) + first, kBrowserFuncsMinSize - first);
    if (funcs->size >= kBrowserFuncsFullSize)
        g_browser.enumerate = funcs->enumerate;
    g_invalidateRect = g_browser.invalidaterect;
    return NPERR_NO_ERROR;
}

void BrowserTableClear() {
    g_browser = NPNetscapeFuncs{};
    g_invalidateRect = nullptr;
}

NPError NpnGetValue(NPP npp, NPNVariable variable, void* value) {
    if (g_browser.getvalue == nullptr)
        return NPERR_GENERIC_ERROR;
    return g_browser.getvalue(npp, variable, value);
}

NPIdentifier NpnGetStringIdentifier(const char* name) {
    return g_browser.getstringidentifier != nullptr ? g_browser.getstringidentifier(name) : nullptr;
}

bool NpnGetProperty(NPP npp, NPObject* object, NPIdentifier name, NPVariant* result) {
    return g_browser.getproperty != nullptr && object != nullptr &&
           g_browser.getproperty(npp, object, name, result);
}

bool NpnSetProperty(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* value) {
    return g_browser.setproperty != nullptr && object != nullptr &&
           g_browser.setproperty(npp, object, name, value);
}

bool NpnInvoke(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* args,
               uint32_t argCount, NPVariant* result) {
    return g_browser.invoke != nullptr && object != nullptr &&
           g_browser.invoke(npp, object, name, args, argCount, result);
}

bool NpnInvokeDefault(NPP npp, NPObject* object, const NPVariant* args, uint32_t argCount,
                      NPVariant* result) {
    return g_browser.invokeDefault != nullptr && object != nullptr &&
           g_browser.invokeDefault(npp, object, args, argCount, result);
}

NPObject* NpnCreateObject(NPP npp, NPClass* npClass) {
    return g_browser.createobject != nullptr ? g_browser.createobject(npp, npClass) : nullptr;
}

NPObject* NpnRetainObject(NPObject* object) {
    if (object == nullptr || g_browser.retainobject == nullptr)
        return object;
    return g_browser.retainobject(object);
}

void NpnReleaseObject(NPObject* object) {
    if (object != nullptr && g_browser.releaseobject != nullptr)
        g_browser.releaseobject(object);
}

void NpnReleaseVariantValue(NPVariant* variant) {
    if (variant != nullptr && g_browser.releasevariantvalue != nullptr)
        g_browser.releasevariantvalue(variant);
}

void* NpnMemAlloc(uint32_t size) {
    return g_browser.memalloc != nullptr ? g_browser.memalloc(size) : nullptr;
}

}  // namespace camvue
