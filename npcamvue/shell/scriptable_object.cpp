// The scriptable objects' operations.
#include "npcamvue/shell/scriptable_object.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "npcamvue/shell/browser.h"
#include "npcamvue/shell/core_control.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/script_ids.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue {
namespace {

constexpr uint32_t kNumberBytes = 65;
constexpr char kDefaultReturn[] = "default method return val";

// A browser-owned copy of `text` as the result; undefined when memory is
// short.
void ReturnText(NPVariant* result, const char* text, uint32_t bytes) {
    auto* copy = static_cast<char*>(NpnMemAlloc(bytes));
    if (copy == nullptr)
        return;
    std::memcpy(copy, text, bytes);
    VariantString(result, copy, static_cast<uint32_t>(std::strlen(copy)));
}

}  // namespace

ScriptablePluginObjectBase::ScriptablePluginObjectBase(NPP npp) : npp_(npp) {
    _class = nullptr;  // the browser sets both after allocation
    referenceCount = 0;
}

bool ScriptablePluginObjectBase::HasMethod(NPIdentifier) {
    return false;
}

bool ScriptablePluginObjectBase::Invoke(NPIdentifier, const NPVariant*, uint32_t, NPVariant*) {
    return false;
}

bool ScriptablePluginObjectBase::InvokeDefault(const NPVariant*, uint32_t, NPVariant*) {
    return false;
}

bool ScriptablePluginObjectBase::HasProperty(NPIdentifier) {
    return false;
}

bool ScriptablePluginObjectBase::GetProperty(NPIdentifier name, NPVariant*) {
    return IsName(name, g_scriptIds.picwidth) || IsName(name, g_scriptIds.picheight);
}

bool ScriptablePluginObjectBase::SetProperty(NPIdentifier name, const NPVariant*) {
    return IsName(name, g_scriptIds.url) || IsName(name, g_scriptIds.debug);
}

bool ScriptablePluginObjectBase::RemoveProperty(NPIdentifier) {
    return false;
}

bool ScriptablePluginObjectBase::Enumerate(NPIdentifier**, uint32_t*) {
    return false;
}

bool ScriptablePluginObjectBase::Construct(const NPVariant*, uint32_t, NPVariant*) {
    return false;
}

ScriptablePluginObject::ScriptablePluginObject(NPP npp)
    : ScriptablePluginObjectBase(npp),
      instance_(npp != nullptr ? static_cast<PluginInstance*>(npp->pdata) : nullptr) {}

bool ScriptablePluginObject::HasMethod(NPIdentifier name) {
    return IsName(name, g_scriptIds.start) || IsName(name, g_scriptIds.stop) ||
           IsName(name, g_scriptIds.resize);
}

bool ScriptablePluginObject::Invoke(NPIdentifier name, const NPVariant*, uint32_t, NPVariant*) {
    if (!HasMethod(name) || instance_ == nullptr)
        return false;
    StreamCore* core = instance_->core;
    if (core == nullptr)
        return true;
    if (IsName(name, g_scriptIds.start)) {
        const bool haveUrl = CoreHasUrl(core);
        if (core->playRequested && core->abortEvent != nullptr) {
            InterlockedExchange(&core->playRequested, 0);
            EventSet(core->abortEvent);
        }
        if (haveUrl)
            InterlockedExchange(&core->playRequested, 1);
    } else if (IsName(name, g_scriptIds.stop)) {
        CoreStopPlay(core);
    } else {
        InterlockedExchange(&core->keepAlive, 1);
        CoreRequestRedraw(core);
    }
    return true;
}

bool ScriptablePluginObject::InvokeDefault(const NPVariant*, uint32_t, NPVariant* result) {
    std::fputs("ScriptablePluginObject default method called!\n", stdout);
    std::fflush(stdout);
    if (result != nullptr)
        ReturnText(result, kDefaultReturn, sizeof kDefaultReturn);
    return true;
}

bool ScriptablePluginObject::HasProperty(NPIdentifier name) {
    return IsName(name, g_scriptIds.url) || IsName(name, g_scriptIds.debug) ||
           IsName(name, g_scriptIds.picwidth) || IsName(name, g_scriptIds.picheight);
}

bool ScriptablePluginObject::GetProperty(NPIdentifier name, NPVariant* result) {
    if (result == nullptr)
        return false;
    VariantVoid(result);
    const bool width = IsName(name, g_scriptIds.picwidth);
    if (!width && !IsName(name, g_scriptIds.picheight))
        return true;  // "url" is write-only; unknown names read as undefined
    if (instance_ == nullptr || instance_->core == nullptr)
        return false;
    int32_t w = 0;
    int32_t h = 0;
    CorePictureSize(instance_->core, &w, &h);
    char text[kNumberBytes];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(width ? w : h));
    ReturnText(result, text, kNumberBytes);
    return true;
}

bool ScriptablePluginObject::SetProperty(NPIdentifier name, const NPVariant* value) {
    if (IsName(name, g_scriptIds.debug))
        return true;
    if (!IsName(name, g_scriptIds.url))
        return false;
    if (value == nullptr || value->type != NPVariantType_String)
        return true;
    const NPString& text = value->value.stringValue;
    if (text.UTF8Length == 0 || text.UTF8Characters == nullptr || instance_ == nullptr ||
        instance_->core == nullptr)
        return true;
    StreamCore* core = instance_->core;
    if (core->playRequested && core->abortEvent != nullptr) {
        InterlockedExchange(&core->playRequested, 0);
        EventSet(core->abortEvent);
    }
    CoreSetUrl(core, std::string(text.UTF8Characters, text.UTF8Length).c_str());
    InterlockedExchange(&core->playRequested, 1);
    return true;
}

bool ConstructablePluginObject::Construct(const NPVariant*, uint32_t, NPVariant* result) {
    std::fputs("Creating new ConstructablePluginObject!\n", stdout);
    std::fflush(stdout);
    NPObject* created = NpnCreateObject(npp_, ConstructableClass());
    if (created == nullptr)
        return false;
    if (result != nullptr)
        VariantObject(result, created);
    else
        NpnReleaseObject(created);
    return true;
}

}  // namespace camvue
