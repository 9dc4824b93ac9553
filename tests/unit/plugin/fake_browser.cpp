#include "tests/unit/plugin/fake_browser.h"

#include <cstdlib>
#include <cstring>

#include "npcamvue/shell/browser.h"

namespace camvue_test {

using namespace camvue;

namespace {

NPClass MakePageClass() {
    NPClass page = {};
    page.structVersion = kNpClassStructVersion;
    return page;
}

NPClass g_pageClass = MakePageClass();

PageObject* AsPage(NPObject* object) {
    return object != nullptr && object->_class == &g_pageClass ? static_cast<PageObject*>(object)
                                                               : nullptr;
}

std::string Args(const NPVariant* args, uint32_t count) {
    std::string out;
    for (uint32_t i = 0; i < count; ++i)
        out += (i ? "," : "") + VariantText(args[i]);
    return out;
}

NPObject* Retain(NPObject* object) {
    if (object != nullptr)
        ++object->referenceCount;
    return object;
}

void Release(NPObject* object) {
    if (object == nullptr || object->referenceCount == 0)
        return;
    if (--object->referenceCount == 0 && AsPage(object) == nullptr) {
        ++FakeBrowser::Get().deallocated;
        if (object->_class->deallocate != nullptr)
            object->_class->deallocate(object);
        else
            std::free(object);
    }
}

void* MemAlloc(uint32_t size) {
    return std::malloc(size);
}

void MemFree(void* p) {
    std::free(p);
}

void ReleaseValue(NPVariant* v) {
    FakeBrowser::Get().log.push_back("Release " + VariantText(*v));
    ReleaseVariant(v);
}

void CopyOut(const NPVariant& from, NPVariant* to) {
    *to = from;
    if (from.type == NPVariantType_String) {
        auto* chars = static_cast<char*>(std::malloc(from.value.stringValue.UTF8Length + 1));
        std::memcpy(chars, from.value.stringValue.UTF8Characters,
                    from.value.stringValue.UTF8Length);
        to->value.stringValue.UTF8Characters = chars;
    } else if (from.type == NPVariantType_Object) {
        Retain(from.value.objectValue);
    }
}

NPError GetValue(NPP, NPNVariable variable, void* value) {
    FakeBrowser& b = FakeBrowser::Get();
    b.log.push_back("GetValue " + std::to_string(variable));
    PageObject* object = variable == NPNVWindowNPObject          ? b.window
                         : variable == NPNVPluginElementNPObject ? b.element
                                                                 : nullptr;
    if (object == nullptr)
        return NPERR_GENERIC_ERROR;
    *static_cast<NPObject**>(value) = Retain(object);
    return NPERR_NO_ERROR;
}

NPIdentifier StringId(const NPUTF8* name) {
    FakeBrowser::Get().log.push_back(std::string("Id ") + name);
    return FakeBrowser::Get().Id(name);
}

bool GetProperty(NPP, NPObject* object, NPIdentifier id, NPVariant* result) {
    FakeBrowser& b = FakeBrowser::Get();
    PageObject* page = AsPage(object);
    if (page == nullptr)
        return object->_class->getProperty(object, id, result);
    b.log.push_back("Get " + page->name + "." + b.Name(id));
    auto it = page->properties.find(b.Name(id));
    if (it == page->properties.end())
        return false;
    CopyOut(it->second, result);
    return true;
}

bool SetProperty(NPP, NPObject* object, NPIdentifier id, const NPVariant* value) {
    FakeBrowser& b = FakeBrowser::Get();
    PageObject* page = AsPage(object);
    if (page == nullptr)
        return object->_class->setProperty(object, id, value);
    b.log.push_back("Set " + page->name + "." + b.Name(id) + "=" + VariantText(*value));
    if (value->type == NPVariantType_String)
        b.SetString(page, b.Name(id),
                    std::string(value->value.stringValue.UTF8Characters,
                                value->value.stringValue.UTF8Length));
    return true;
}

bool Invoke(NPP, NPObject* object, NPIdentifier id, const NPVariant* args, uint32_t count,
            NPVariant* result) {
    FakeBrowser& b = FakeBrowser::Get();
    PageObject* page = AsPage(object);
    if (page == nullptr)
        return object->_class->invoke(object, id, args, count, result);
    b.log.push_back("Invoke " + page->name + "." + b.Name(id) + "(" + Args(args, count) + ")");
    for (const std::string& m : page->methods)
        if (m == b.Name(id)) {
            VariantObject(result, Retain(b.result));
            return true;
        }
    return false;
}

bool InvokeDefault(NPP, NPObject* object, const NPVariant* args, uint32_t count,
                   NPVariant* result) {
    FakeBrowser& b = FakeBrowser::Get();
    PageObject* page = AsPage(object);
    if (page == nullptr)
        return object->_class->invokeDefault(object, args, count, result);
    b.log.push_back("Call " + page->name + "(" + Args(args, count) + ")");
    if (!page->callable)
        return false;
    VariantObject(result, Retain(b.result));
    return true;
}

NPObject* CreateObject(NPP npp, NPClass* cls) {
    FakeBrowser::Get().log.push_back("CreateObject");
    NPObject* object = cls->allocate != nullptr
                           ? cls->allocate(npp, cls)
                           : static_cast<NPObject*>(std::calloc(1, sizeof(NPObject)));
    if (object != nullptr) {
        object->_class = cls;
        object->referenceCount = 1;
    }
    return object;
}

NPObject* RetainObject(NPObject* object) {
    return Retain(object);
}

void ReleaseObject(NPObject* object) {
    if (PageObject* page = AsPage(object))
        FakeBrowser::Get().log.push_back("ReleaseObject " + page->name);
    Release(object);
}

void InvalidateRect(NPP, NPRect*) {
    ++FakeBrowser::Get().invalidates;
}

}  // namespace

NPClass* PageClass() {
    return &g_pageClass;
}

std::string VariantText(const NPVariant& v) {
    switch (v.type) {
        case NPVariantType_String:
            return "s:" +
                   std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length);
        case NPVariantType_Object: {
            PageObject* page = AsPage(v.value.objectValue);
            return "o:" + (page != nullptr ? page->name : std::string("plugin"));
        }
        case NPVariantType_Void:
            return "void";
        default:
            return "type" + std::to_string(v.type);
    }
}

void ReleaseVariant(NPVariant* v) {
    if (v->type == NPVariantType_String)
        std::free(const_cast<char*>(v->value.stringValue.UTF8Characters));
    else if (v->type == NPVariantType_Object)
        Release(v->value.objectValue);
    VariantVoid(v);
}

FakeBrowser& FakeBrowser::Get() {
    static FakeBrowser browser;
    return browser;
}

void FakeBrowser::Reset() {
    window = element = result = nullptr;
    log.clear();
    deallocated = 0;
    invalidates = 0;
    objects_.clear();
}

NPNetscapeFuncs FakeBrowser::Table(uint16_t size, uint16_t version) const {
    NPNetscapeFuncs full = {};
    full.size = size;
    full.version = version;
    full.memalloc = MemAlloc;
    full.memfree = MemFree;
    full.getvalue = GetValue;
    full.invalidaterect = InvalidateRect;
    full.getstringidentifier = StringId;
    full.createobject = CreateObject;
    full.retainobject = RetainObject;
    full.releaseobject = ReleaseObject;
    full.invoke = Invoke;
    full.invokeDefault = InvokeDefault;
    full.getproperty = GetProperty;
    full.setproperty = SetProperty;
    full.releasevariantvalue = ReleaseValue;
    NPNetscapeFuncs cut = {};
    std::memcpy(&cut, &full, size < sizeof full ? size : sizeof full);
    return cut;
}

PageObject* FakeBrowser::NewObject(const std::string& name) {
    objects_.push_back(std::make_unique<PageObject>());
    PageObject* object = objects_.back().get();
    object->_class = &g_pageClass;
    object->referenceCount = 1;
    object->name = name;
    return object;
}

void FakeBrowser::SetString(PageObject* object, const std::string& property,
                            const std::string& value) {
    object->texts.push_back(std::make_unique<std::string>(value));
    VariantString(&object->properties[property], object->texts.back()->c_str(),
                  static_cast<uint32_t>(value.size()));
}

void FakeBrowser::SetObject(PageObject* object, const std::string& property, PageObject* value) {
    VariantObject(&object->properties[property], value);
}

NPIdentifier FakeBrowser::Id(const std::string& name) {
    auto& slot = ids_[name];
    if (!slot)
        slot = std::make_unique<std::string>(name);
    return slot.get();
}

std::string FakeBrowser::Name(NPIdentifier id) const {
    return id != nullptr ? *static_cast<std::string*>(id) : std::string("(null)");
}

}  // namespace camvue_test
