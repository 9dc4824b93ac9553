#include "tests/unit/plugin/plugin_page.h"

#include <cstring>

#include "npcamvue/shell/np_exports.h"
#include "npcamvue/shell/plugin_funcs.h"

namespace camvue_test {

using namespace camvue;

NPPluginFuncs StartPlugin() {
    FakeBrowser::Get().Reset();
    NPNetscapeFuncs table = FakeBrowser::Get().Table();
    NP_Initialize(&table);
    NPPluginFuncs funcs = {};
    funcs.size = sizeof funcs;
    NP_GetEntryPoints(&funcs);
    return funcs;
}

Embed::Embed(const char* id, const Params& params) {
    FakeBrowser& b = FakeBrowser::Get();
    PageObject* element = nullptr;
    if (id != nullptr) {
        element = b.NewObject("element");
        b.SetString(element, "id", id);
    }
    PageObject* saved = b.element;
    b.element = element;
    std::vector<char*> names;
    std::vector<char*> values;
    for (const auto& p : params) {
        names.push_back(const_cast<char*>(p.first));
        values.push_back(const_cast<char*>(p.second));
    }
    char mime[] = "application/mozilla-npcamvue-scriptable-plugin";
    created_ = NppNew(mime, &npp_, NP_EMBED, static_cast<int16_t>(names.size()), names.data(),
                      values.data(), nullptr);
    b.element = saved;
}

Embed::~Embed() {
    Destroy();
}

NPError Embed::Destroy() {
    if (destroyed_)
        return NPERR_NO_ERROR;
    destroyed_ = true;
    return NppDestroy(&npp_, nullptr);
}

StreamCore* FindCore(const char* id) {
    CList& registry = CoreRegistry();
    SpinLockGuard guard(registry.lock, "test");
    for (int i = 0; i < registry.count; ++i) {
        auto* core = static_cast<StreamCore*>(registry.items[i]);
        if (core != nullptr && core->elementIdLength == static_cast<int>(std::strlen(id)) &&
            std::memcmp(core->elementId, id, std::strlen(id)) == 0)
            return core;
    }
    return nullptr;
}

}  // namespace camvue_test
