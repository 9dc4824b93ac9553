// NPP_New, NPP_Destroy, NPP_SetWindow and NPP_GetValue.
#include "npcamvue/shell/plugin_funcs.h"

#include <windows.h>

#include "npcamvue/shell/browser.h"
#include "npcamvue/shell/instance_lifecycle.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/scriptable_object.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue {

NPError NppNew(NPMIMEType, NPP instance, uint16_t, int16_t argc, char* argn[], char* argv[],
               NPSavedData*) {
    if (instance == nullptr)
        return NPERR_INVALID_INSTANCE_ERROR;
    const EmbedParams params = ScanEmbedParams(argc, argn, argv);
    PluginInstance* created = InstanceCreate();
    if (created == nullptr)
        return NPERR_OUT_OF_MEMORY_ERROR;
    InstanceStart(created, instance, params);
    return NPERR_NO_ERROR;
}

NPError NppDestroy(NPP instance, NPSavedData**) {
    if (instance == nullptr)
        return NPERR_INVALID_INSTANCE_ERROR;
    auto* plugin = static_cast<PluginInstance*>(instance->pdata);
    if (plugin != nullptr) {
        Detach(plugin);
        InstanceRelease(plugin);
        instance->pdata = nullptr;
        InstanceFree(plugin);
    }
    return NPERR_NO_ERROR;
}

NPError NppSetWindow(NPP instance, NPWindow* window) {
    if (instance == nullptr)
        return NPERR_INVALID_INSTANCE_ERROR;
    auto* plugin = static_cast<PluginInstance*>(instance->pdata);
    if (window == nullptr || plugin == nullptr)
        return NPERR_GENERIC_ERROR;
    if (!plugin->attached && window->window != nullptr)
        Attach(plugin, window);
    if (plugin->attached)
        plugin->windowCopy = *window;  // the size the render thread draws at
    StreamCore* core = plugin->core;
    if (core != nullptr) {
        if (window->window != nullptr)
            GetWindowRect(static_cast<HWND>(window->window), &plugin->windowRect);
        InterlockedExchange(&core->redrawRequested, 1);
        SetEvent(core->wakeEvent);
    }
    return NPERR_NO_ERROR;
}

NPError NppGetValue(NPP instance, NPPVariable variable, void* value) {
    if (instance == nullptr)
        return NPERR_INVALID_INSTANCE_ERROR;
    auto* plugin = static_cast<PluginInstance*>(instance->pdata);
    if (plugin == nullptr || value == nullptr)
        return NPERR_GENERIC_ERROR;
    switch (variable) {
        case NPPVpluginNameString:
            *static_cast<const char**>(value) = "NPCamVue";
            return NPERR_NO_ERROR;
        case NPPVpluginDescriptionString:
            *static_cast<const char**>(value) = "NPCamVue scriptability plugin";
            return NPERR_NO_ERROR;
        case NPPVpluginScriptableNPObject:
            if (plugin->scriptObject == nullptr)
                plugin->scriptObject = NpnCreateObject(instance, ScriptableClass());
            *static_cast<NPObject**>(value) = NpnRetainObject(plugin->scriptObject);
            return NPERR_NO_ERROR;
        default:
            return NPERR_GENERIC_ERROR;
    }
}

}  // namespace camvue
