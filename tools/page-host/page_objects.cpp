#include "tools/page-host/page_objects.h"

#include <memory>

namespace pagehost {
namespace {

using camvue::NPVariantType_Object;
using camvue::NPVariantType_Void;

struct WindowObject;

// A function defined by the page, as read from a window property.
struct FunctionObject : NPObject {
    WindowObject* window;  // retained
    std::string name;
};

struct WindowObject : NPObject {
    std::vector<std::string> functions;
    std::map<std::string, NPVariant> properties;
    std::map<std::string, int> calls;

    bool Defines(const std::string& name) const {
        for (const std::string& f : functions) {
            if (f == name)
                return true;
        }
        return false;
    }
};

struct ElementObject : NPObject {
    std::vector<Attribute> attributes;
    std::string id;
};

void SetVoid(NPVariant* result) {
    if (result != nullptr) {
        result->type = NPVariantType_Void;
        result->value.objectValue = nullptr;
    }
}

template <typename T>
NPObject* Allocate(NPP, NPClass*) {
    return new T();
}

template <typename T>
void Deallocate(NPObject* object) {
    delete static_cast<T*>(object);
}

bool No(NPObject*, NPIdentifier) {
    return false;
}
bool NoEnumerate(NPObject*, NPIdentifier**, uint32_t*) {
    return false;
}
bool NoCall(NPObject*, const NPVariant*, uint32_t, NPVariant*) {
    return false;
}
bool NoInvoke(NPObject*, NPIdentifier, const NPVariant*, uint32_t, NPVariant*) {
    return false;
}
bool NoSet(NPObject*, NPIdentifier, const NPVariant*) {
    return false;
}

// ---- window ----

WindowObject* Window(NPObject* o) {
    return static_cast<WindowObject*>(o);
}

void WindowDeallocate(NPObject* object) {
    WindowObject* w = Window(object);
    for (auto& p : w->properties)
        ReleaseVariant(&p.second);
    delete w;
}

bool WindowHasMethod(NPObject* o, NPIdentifier name) {
    return Window(o)->Defines(IdentifierName(name));
}

bool WindowInvoke(NPObject* o, NPIdentifier name, const NPVariant*, uint32_t, NPVariant* result) {
    WindowObject* w = Window(o);
    const std::string n = IdentifierName(name);
    SetVoid(result);
    if (!w->Defines(n))
        return false;
    ++w->calls[n];
    return true;
}

bool WindowHasProperty(NPObject* o, NPIdentifier name) {
    const std::string n = IdentifierName(name);
    return Window(o)->Defines(n) || Window(o)->properties.count(n) != 0;
}

NPClass* FunctionClass();

bool WindowGetProperty(NPObject* o, NPIdentifier name, NPVariant* result) {
    WindowObject* w = Window(o);
    const std::string n = IdentifierName(name);
    SetVoid(result);
    if (w->Defines(n)) {
        auto* f = static_cast<FunctionObject*>(CreateObject(nullptr, FunctionClass()));
        if (f == nullptr)
            return false;
        f->window = static_cast<WindowObject*>(RetainObject(w));
        f->name = n;
        *result = ObjectVariant(f);
        return true;
    }
    const auto found = w->properties.find(n);
    if (found != w->properties.end())
        *result = CopyVariant(found->second);
    return true;  // an unknown name reads as undefined, as in script
}

bool WindowSetProperty(NPObject* o, NPIdentifier name, const NPVariant* value) {
    WindowObject* w = Window(o);
    const std::string n = IdentifierName(name);
    if (n.empty() || value == nullptr)
        return false;
    NPVariant copy = CopyVariant(*value);
    auto found = w->properties.find(n);
    if (found != w->properties.end()) {
        ReleaseVariant(&found->second);
        found->second = copy;
    } else {
        w->properties.emplace(n, copy);
    }
    return true;
}

bool WindowRemoveProperty(NPObject* o, NPIdentifier name) {
    WindowObject* w = Window(o);
    auto found = w->properties.find(IdentifierName(name));
    if (found != w->properties.end()) {
        ReleaseVariant(&found->second);
        w->properties.erase(found);
    }
    return true;
}

NPClass g_windowClass = {camvue::kNpClassStructVersion,
                         Allocate<WindowObject>,
                         WindowDeallocate,
                         nullptr,
                         WindowHasMethod,
                         WindowInvoke,
                         NoCall,
                         WindowHasProperty,
                         WindowGetProperty,
                         WindowSetProperty,
                         WindowRemoveProperty,
                         NoEnumerate,
                         NoCall};

// ---- functions ----

void FunctionDeallocate(NPObject* object) {
    auto* f = static_cast<FunctionObject*>(object);
    ReleaseObject(f->window);
    delete f;
}

bool FunctionInvokeDefault(NPObject* o, const NPVariant*, uint32_t, NPVariant* result) {
    auto* f = static_cast<FunctionObject*>(o);
    SetVoid(result);
    ++f->window->calls[f->name];
    return true;
}

bool FunctionGetProperty(NPObject*, NPIdentifier, NPVariant* result) {
    SetVoid(result);
    return true;
}

NPClass g_functionClass = {camvue::kNpClassStructVersion,
                           Allocate<FunctionObject>,
                           FunctionDeallocate,
                           nullptr,
                           No,
                           NoInvoke,
                           FunctionInvokeDefault,
                           No,
                           FunctionGetProperty,
                           NoSet,
                           No,
                           NoEnumerate,
                           NoCall};

NPClass* FunctionClass() {
    return &g_functionClass;
}

// ---- elements ----

ElementObject* Element(NPObject* o) {
    return static_cast<ElementObject*>(o);
}

const std::string* ElementValue(NPObject* o, NPIdentifier name) {
    ElementObject* e = Element(o);
    const std::string n = IdentifierName(name);
    if (n == "id")
        return &e->id;
    for (const Attribute& a : e->attributes) {
        if (a.name == n)
            return &a.value;
    }
    return nullptr;
}

bool ElementHasProperty(NPObject* o, NPIdentifier name) {
    return ElementValue(o, name) != nullptr;
}

bool ElementGetProperty(NPObject* o, NPIdentifier name, NPVariant* result) {
    SetVoid(result);
    const std::string* value = ElementValue(o, name);
    if (value != nullptr)
        *result = StringVariant(*value);
    return true;
}

NPClass g_elementClass = {camvue::kNpClassStructVersion,
                          Allocate<ElementObject>,
                          Deallocate<ElementObject>,
                          nullptr,
                          No,
                          NoInvoke,
                          NoCall,
                          ElementHasProperty,
                          ElementGetProperty,
                          NoSet,
                          No,
                          NoEnumerate,
                          NoCall};

}  // namespace

NPObject* CreateWindowObject(const std::vector<std::string>& functions) {
    NPObject* object = CreateObject(nullptr, &g_windowClass);
    if (object != nullptr)
        Window(object)->functions = functions;
    return object;
}

std::map<std::string, int> WindowCalls(NPObject* window) {
    if (window == nullptr || window->_class != &g_windowClass)
        return {};
    return Window(window)->calls;
}

NPObject* CreateElementObject(const PageElement& element) {
    NPObject* object = CreateObject(nullptr, &g_elementClass);
    if (object != nullptr) {
        Element(object)->attributes = element.attributes;
        Element(object)->id = element.Id();
    }
    return object;
}

}  // namespace pagehost
