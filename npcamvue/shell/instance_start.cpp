// NPP_New's parameter scan and instance start.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/browser.h"
#include "npcamvue/shell/core_control.h"
#include "npcamvue/shell/instance_lifecycle.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/script_ids.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue {
namespace {

// Reads the element's "id", attaches the instance to that id's core and
// hands the core the parameters.
void AttachToElement(PluginInstance* instance, NPP npp, const EmbedParams& params) {
    NPObject* element = nullptr;
    NpnGetValue(npp, NPNVPluginElementNPObject, &element);
    const NPIdentifier idName = NpnGetStringIdentifier("id");
    NPVariant id;
    VariantVoid(&id);
    if (element != nullptr) {
        if (NpnGetProperty(npp, element, idName, &id) && id.type == NPVariantType_String &&
            id.value.stringValue.UTF8Characters != nullptr && id.value.stringValue.UTF8Length > 0 &&
            id.value.stringValue.UTF8Length <= static_cast<uint32_t>(AlignedBlock::kMaxBytes - 2)) {
            const int length = static_cast<int>(id.value.stringValue.UTF8Length);
            auto* copy = reinterpret_cast<char*>(AlignedBlock::New(length + 2));
            if (copy != nullptr) {
                std::memcpy(copy, id.value.stringValue.UTF8Characters, static_cast<size_t>(length));
                instance->elementId = copy;
                instance->elementIdLength = length;
                CoreAttach(instance, copy, length);
            }
        }
        StreamCore* core = instance->core;
        if (core != nullptr && params.url != nullptr) {
            InterlockedExchange(&core->autostart, params.autostart ? 1 : 0);
            CoreSetUrl(core, params.url);
            if (params.autostart && !core->keepAlive)
                CoreRestartPlay(core);
            InterlockedExchange(&core->keepAlive, 0);
        }
        NpnReleaseObject(element);
    }
    NpnReleaseVariantValue(&id);
}

// Calls the window's function held in property `name` (if it holds an
// object) with the window as the argument.
void CallWindowFunction(NPP npp, NPObject* window, NPIdentifier name, const NPVariant* self) {
    NPVariant value;
    VariantVoid(&value);
    if (!NpnGetProperty(npp, window, name, &value))
        return;
    if (value.type == NPVariantType_Object && value.value.objectValue != nullptr) {
        NPVariant result;
        VariantVoid(&result);
        if (NpnInvokeDefault(npp, value.value.objectValue, self, 1, &result))
            NpnReleaseVariantValue(&result);
    }
    NpnReleaseVariantValue(&value);
}

void SetSizeProperty(NPP npp, NPObject* window, NPIdentifier name, int32_t size) {
    char text[65];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(size));
    NPVariant value;
    VariantString(&value, text, static_cast<uint32_t>(std::strlen(text)));
    NpnSetProperty(npp, window, name, &value);
}

void CallWindow(PluginInstance* instance, NPP npp) {
    NPObject* window = instance->windowObject;
    FetchScriptIds();
    NPVariant self;
    VariantObject(&self, window);

    NPVariant url;
    VariantVoid(&url);
    const bool haveUrl = NpnGetProperty(npp, window, g_scriptIds.url, &url);
    int32_t width = 0;
    int32_t height = 0;
    CorePictureSize(instance->core, &width, &height);
    SetSizeProperty(npp, window, g_scriptIds.picwidth, width);
    SetSizeProperty(npp, window, g_scriptIds.picheight, height);
    if (haveUrl) {
        if (url.type == NPVariantType_Object && url.value.objectValue != nullptr) {
            NPVariant result;
            VariantVoid(&result);
            if (NpnInvokeDefault(npp, url.value.objectValue, &self, 1, &result))
                NpnReleaseVariantValue(&result);
        }
        NpnReleaseVariantValue(&url);
    }
    CallWindowFunction(npp, window, g_scriptIds.debug, &self);

    for (NPIdentifier method : {g_scriptIds.start, g_scriptIds.stop, g_scriptIds.resize}) {
        NPVariant result;
        VariantVoid(&result);
        if (NpnInvoke(npp, window, method, &self, 1, &result))
            NpnReleaseVariantValue(&result);
    }
}

}  // namespace

EmbedParams ScanEmbedParams(int argc, char* const* argn, char* const* argv) {
    EmbedParams params = {false, nullptr};
    if (argn == nullptr || argv == nullptr)
        return params;
    for (int i = 0; i < argc; ++i) {
        const char* name = argn[i];
        const char* value = argv[i];
        if (name == nullptr || value == nullptr)
            continue;
        if (std::strcmp(name, "autostart") == 0) {
            if (std::strcmp(value, "true") == 0)
                params.autostart = true;
        } else if (std::strcmp(name, "url") == 0) {
            params.url = value;
        }
    }
    return params;
}

void InstanceStart(PluginInstance* instance, NPP npp, const EmbedParams& params) {
    instance->npp = npp;
    npp->pdata = instance;
    AttachToElement(instance, npp, params);
    NPObject* window = nullptr;
    if (NpnGetValue(npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR || window == nullptr)
        return;
    instance->windowObject = window;
    CallWindow(instance, npp);
}

}  // namespace camvue
