// Instance release: the instance leaves its browser objects and its core.
#include "npcamvue/shell/browser.h"
#include "npcamvue/shell/codec_module.h"
#include "npcamvue/shell/core_control.h"
#include "npcamvue/shell/instance_lifecycle.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/scriptable_object.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue {
namespace {

// The core goes on without this instance: forgotten picture, and either
// destroyed with its last instance or restarted for the others. A core kept
// alive by "Resize" stays as it is, registered even at count 0.
void LeaveCore(StreamCore* core) {
    const LONG remaining = InterlockedDecrement(&core->refCount);
    if (core->keepAlive)
        return;
    {
        SpinLockGuard decoding(core->decodeLock, "InstanceRelease");
        CodecModule::ForgetLastPicture(core->codec);
    }
    if (remaining <= 0) {
        CoreDestroy(core);
        return;
    }
    const bool replay = core->autostart && CoreHasUrl(core);
    if (!replay)
        InterlockedExchange(&core->playRequested, 0);
    EventSet(core->abortEvent);
    CoreRequestRedraw(core);
    if (replay)
        InterlockedExchange(&core->playRequested, 1);
}

}  // namespace

void InstanceRelease(PluginInstance* instance) {
    SpinLockGuard guard(instance->lock, "InstanceRelease");
    NpnReleaseObject(instance->windowObject);
    instance->windowObject = nullptr;
    if (instance->scriptObject != nullptr) {
        // The browser may hold the object longer than the instance lives.
        ScriptableForgetInstance(instance->scriptObject);
        NpnReleaseObject(instance->scriptObject);
        instance->scriptObject = nullptr;
    }
    if (instance->core != nullptr)
        LeaveCore(instance->core);
    instance->renderer.Teardown();
    instance->core = nullptr;
}

}  // namespace camvue
