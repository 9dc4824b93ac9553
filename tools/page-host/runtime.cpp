#include "tools/page-host/runtime.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace pagehost {
namespace {

struct Identifier {
    bool isString;
    std::string name;
    int32_t value;
};

std::mutex g_identifierMutex;
std::map<std::string, std::unique_ptr<Identifier>> g_strings;
std::map<int32_t, std::unique_ptr<Identifier>> g_ints;
std::atomic<long> g_liveObjects{0};

const Identifier* Lookup(NPIdentifier id) {
    if (!IsIdentifier(id))
        return nullptr;
    return static_cast<const Identifier*>(id);
}

}  // namespace

NPIdentifier StringIdentifier(const std::string& name) {
    std::lock_guard<std::mutex> hold(g_identifierMutex);
    std::unique_ptr<Identifier>& slot = g_strings[name];
    if (!slot)
        slot.reset(new Identifier{true, name, 0});
    return slot.get();
}

NPIdentifier IntIdentifier(int32_t value) {
    std::lock_guard<std::mutex> hold(g_identifierMutex);
    std::unique_ptr<Identifier>& slot = g_ints[value];
    if (!slot)
        slot.reset(new Identifier{false, std::string(), value});
    return slot.get();
}

bool IsIdentifier(NPIdentifier id) {
    if (id == nullptr)
        return false;
    std::lock_guard<std::mutex> hold(g_identifierMutex);
    const auto* candidate = static_cast<const Identifier*>(id);
    for (const auto& entry : g_strings) {
        if (entry.second.get() == candidate)
            return true;
    }
    for (const auto& entry : g_ints) {
        if (entry.second.get() == candidate)
            return true;
    }
    return false;
}

bool IsStringIdentifier(NPIdentifier id) {
    const Identifier* i = Lookup(id);
    return i != nullptr && i->isString;
}

std::string IdentifierName(NPIdentifier id) {
    const Identifier* i = Lookup(id);
    return i != nullptr && i->isString ? i->name : std::string();
}

int32_t IdentifierInt(NPIdentifier id) {
    const Identifier* i = Lookup(id);
    return i != nullptr && !i->isString ? i->value : 0;
}

void* MemAlloc(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void MemFree(void* block) {
    std::free(block);
}

NPObject* CreateObject(NPP npp, NPClass* aClass) {
    if (aClass == nullptr)
        return nullptr;
    NPObject* object = aClass->allocate != nullptr
                           ? aClass->allocate(npp, aClass)
                           : static_cast<NPObject*>(MemAlloc(sizeof(NPObject)));
    if (object == nullptr)
        return nullptr;
    object->_class = aClass;
    object->referenceCount = 1;
    ++g_liveObjects;
    return object;
}

NPObject* RetainObject(NPObject* object) {
    if (object != nullptr)
        ++object->referenceCount;
    return object;
}

void ReleaseObject(NPObject* object) {
    if (object == nullptr || object->referenceCount == 0)
        return;
    if (--object->referenceCount != 0)
        return;
    --g_liveObjects;
    if (object->_class != nullptr && object->_class->deallocate != nullptr)
        object->_class->deallocate(object);
    else
        MemFree(object);
}

long LiveObjects() {
    return g_liveObjects.load();
}

void ReleaseVariant(NPVariant* variant) {
    if (variant == nullptr)
        return;
    if (variant->type == camvue::NPVariantType_String)
        MemFree(const_cast<char*>(variant->value.stringValue.UTF8Characters));
    else if (variant->type == camvue::NPVariantType_Object)
        ReleaseObject(variant->value.objectValue);
    std::memset(variant, 0, sizeof *variant);
    variant->type = camvue::NPVariantType_Void;
}

NPVariant StringVariant(const std::string& text) {
    NPVariant v;
    std::memset(&v, 0, sizeof v);
    char* copy = static_cast<char*>(MemAlloc(text.size() + 1));
    if (copy == nullptr) {
        v.type = camvue::NPVariantType_Void;
        return v;
    }
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    v.type = camvue::NPVariantType_String;
    v.value.stringValue.UTF8Characters = copy;
    v.value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
    return v;
}

NPVariant ObjectVariant(NPObject* object) {
    NPVariant v;
    std::memset(&v, 0, sizeof v);
    v.type = object != nullptr ? camvue::NPVariantType_Object : camvue::NPVariantType_Null;
    v.value.objectValue = object;
    return v;
}

NPVariant ToVariant(const ScriptValue& value) {
    NPVariant v;
    std::memset(&v, 0, sizeof v);
    switch (value.kind) {
        case ScriptValue::Void:
            v.type = camvue::NPVariantType_Void;
            break;
        case ScriptValue::Null:
            v.type = camvue::NPVariantType_Null;
            break;
        case ScriptValue::Bool:
            v.type = camvue::NPVariantType_Bool;
            v.value.boolValue = value.boolean;
            break;
        case ScriptValue::Int:
            v.type = camvue::NPVariantType_Int32;
            v.value.intValue = value.intValue;
            break;
        case ScriptValue::Double:
            v.type = camvue::NPVariantType_Double;
            v.value.doubleValue = value.number;
            break;
        case ScriptValue::String:
            return StringVariant(value.text);
    }
    return v;
}

ScriptValue FromVariant(const NPVariant& variant) {
    ScriptValue out;
    switch (variant.type) {
        case camvue::NPVariantType_Null:
            out.kind = ScriptValue::Null;
            break;
        case camvue::NPVariantType_Bool:
            out.kind = ScriptValue::Bool;
            out.boolean = variant.value.boolValue;
            break;
        case camvue::NPVariantType_Int32:
            out.kind = ScriptValue::Int;
            out.intValue = variant.value.intValue;
            break;
        case camvue::NPVariantType_Double:
            out.kind = ScriptValue::Double;
            out.number = variant.value.doubleValue;
            break;
        case camvue::NPVariantType_String: {
            const camvue::NPString& s = variant.value.stringValue;
            out.kind = ScriptValue::String;
            if (s.UTF8Characters != nullptr)
                out.text.assign(s.UTF8Characters, s.UTF8Length);
            break;
        }
        case camvue::NPVariantType_Object:
            out.kind = ScriptValue::String;
            out.text = "[object]";
            break;
        default:
            break;
    }
    return out;
}

NPVariant CopyVariant(const NPVariant& variant) {
    if (variant.type == camvue::NPVariantType_String) {
        const camvue::NPString& s = variant.value.stringValue;
        return StringVariant(s.UTF8Characters != nullptr
                                 ? std::string(s.UTF8Characters, s.UTF8Length)
                                 : std::string());
    }
    NPVariant copy = variant;
    if (copy.type == camvue::NPVariantType_Object)
        RetainObject(copy.value.objectValue);
    return copy;
}

}  // namespace pagehost
