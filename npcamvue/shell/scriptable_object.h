// The objects page script sees: ScriptablePluginObject (methods "Start",
// "Stop", "Resize"; properties "url", "debug", "picwidth", "picheight"),
// and ConstructablePluginObject, defined but never handed to the page.
// The browser owns their lifetime; its NPClass entries (script_class.cpp)
// turn its NPObject pointers into these objects and call the virtual
// operation of the same name.
#pragma once

#include "npcamvue/shell/npapi.h"

namespace camvue {

struct PluginInstance;

class ScriptablePluginObjectBase : public NPObject {
  public:
    explicit ScriptablePluginObjectBase(NPP npp);
    virtual ~ScriptablePluginObjectBase() = default;
    ScriptablePluginObjectBase(const ScriptablePluginObjectBase&) = delete;
    ScriptablePluginObjectBase& operator=(const ScriptablePluginObjectBase&) = delete;

    virtual void Invalidate() {}
    virtual bool HasMethod(NPIdentifier name);
    virtual bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                        NPVariant* result);
    virtual bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result);
    virtual bool HasProperty(NPIdentifier name);
    virtual bool GetProperty(NPIdentifier name, NPVariant* result);
    virtual bool SetProperty(NPIdentifier name, const NPVariant* value);
    virtual bool RemoveProperty(NPIdentifier name);
    virtual bool Enumerate(NPIdentifier** identifiers, uint32_t* count);
    virtual bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result);

    NPP npp() const { return npp_; }

  protected:
    NPP npp_;
};

class ScriptablePluginObject : public ScriptablePluginObjectBase {
  public:
    // Takes the instance from npp->pdata (none for a null npp).
    explicit ScriptablePluginObject(NPP npp);

    bool HasMethod(NPIdentifier name) override;
    bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                NPVariant* result) override;
    bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
    bool HasProperty(NPIdentifier name) override;
    bool GetProperty(NPIdentifier name, NPVariant* result) override;
    bool SetProperty(NPIdentifier name, const NPVariant* value) override;

    PluginInstance* instance() const { return instance_; }
    // The instance is going away: script calls fail from now on.
    void ForgetInstance() { instance_ = nullptr; }

  private:
    PluginInstance* instance_;
};

class ConstructablePluginObject : public ScriptablePluginObjectBase {
  public:
    explicit ConstructablePluginObject(NPP npp) : ScriptablePluginObjectBase(npp) {}
    bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
};

// The two class tables (structVersion 3); they differ only in `allocate`.
NPClass* ScriptableClass();
NPClass* ConstructableClass();

// For an object of ScriptableClass(): forgets its instance.
void ScriptableForgetInstance(NPObject* object);

}  // namespace camvue
