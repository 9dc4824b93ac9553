#include "npcamvue/shell/plugin_instance.h"

#include <cstdlib>
#include <new>

#include "npcamvue/shell/aligned_block.h"

namespace camvue {

InvalidateRectFn g_invalidateRect = nullptr;

PluginInstance* InstanceCreate() {
    auto* instance = static_cast<PluginInstance*>(std::calloc(1, sizeof(PluginInstance)));
    if (instance != nullptr)
        new (&instance->lock) SpinLock("PluginInstance");
    return instance;
}

void InstanceFree(PluginInstance* instance) {
    if (instance == nullptr)
        return;
    AlignedBlock::Free(instance->frameBuffer);
    AlignedBlock::Free(instance->elementId);
    instance->lock.~SpinLock();
    std::free(instance);
}

}  // namespace camvue
