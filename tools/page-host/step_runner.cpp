#include "tools/page-host/step_runner.h"

#include <windows.h>

#include "tools/page-host/page_objects.h"
#include "tools/page-host/primary_surfaces.h"
#include "tools/page-host/process_probe.h"
#include "tools/page-host/thread_gate.h"

namespace pagehost {
namespace {

std::string ReadString(NPObject* object, const char* name) {
    NPIdentifier id = StringIdentifier(name);
    NPVariant value = ToVariant(ScriptValue());
    if (object == nullptr || object->_class->hasProperty == nullptr ||
        !object->_class->hasProperty(object, id) || object->_class->getProperty == nullptr ||
        !object->_class->getProperty(object, id, &value))
        return "?";
    const ScriptValue v = FromVariant(value);
    ReleaseVariant(&value);
    return v.kind == ScriptValue::String ? v.text : Describe(v);
}

std::string ElementName(const HostedElement& e, size_t index) {
    const std::string id = e.element.Id();
    return id.empty() ? "#" + std::to_string(index + 1) : id;
}

}  // namespace

std::string StepRunner::Fail(const std::string& why) {
    failed_ = true;
    return "\x01" + why;
}

NPObject* StepRunner::Target(const std::string& target, std::string* why) {
    if (target == "window")
        return host_->windowObject();
    HostedElement* element = host_->Find(target);
    if (element == nullptr) {
        *why = "no element " + target;
        return nullptr;
    }
    NPObject* object = host_->Scriptable(element);
    if (object == nullptr)
        *why = element->instantiated ? "the plug-in gave no scriptable object" : element->status;
    return object;
}

std::string StepRunner::Call(const Step& step) {
    std::string why;
    NPObject* object = Target(step.target, &why);
    if (object == nullptr)
        return Fail(why);
    std::vector<NPVariant> args;
    for (const ScriptValue& a : step.args)
        args.push_back(ToVariant(a));
    NPVariant result = ToVariant(ScriptValue());
    bool ok;
    if (step.name.empty()) {
        ok = object->_class->invokeDefault != nullptr &&
             object->_class->invokeDefault(object, args.data(), static_cast<uint32_t>(args.size()),
                                           &result);
    } else {
        NPIdentifier name = StringIdentifier(step.name);
        if (object->_class->hasMethod == nullptr || !object->_class->hasMethod(object, name)) {
            for (NPVariant& a : args)
                ReleaseVariant(&a);
            return Fail(step.name + " is not a method");
        }
        ok = object->_class->invoke != nullptr &&
             object->_class->invoke(object, name, args.data(), static_cast<uint32_t>(args.size()),
                                    &result);
    }
    for (NPVariant& a : args)
        ReleaseVariant(&a);
    if (!ok)
        return Fail("the call returned false");
    const std::string text = Describe(FromVariant(result));
    ReleaseVariant(&result);
    return text;
}

std::string StepRunner::Get(const Step& step) {
    std::string why;
    NPObject* object = Target(step.target, &why);
    if (object == nullptr)
        return Fail(why);
    NPIdentifier name = StringIdentifier(step.name);
    if (object->_class->hasProperty == nullptr || !object->_class->hasProperty(object, name))
        return "undefined";
    NPVariant result = ToVariant(ScriptValue());
    if (object->_class->getProperty == nullptr ||
        !object->_class->getProperty(object, name, &result))
        return Fail("getProperty returned false");
    const std::string text = Describe(FromVariant(result));
    ReleaseVariant(&result);
    return text;
}

std::string StepRunner::Set(const Step& step) {
    std::string why;
    NPObject* object = Target(step.target, &why);
    if (object == nullptr)
        return Fail(why);
    NPIdentifier name = StringIdentifier(step.name);
    if (object != host_->windowObject() &&
        (object->_class->hasProperty == nullptr || !object->_class->hasProperty(object, name)))
        return Fail("no property " + step.name);
    NPVariant value = ToVariant(step.args.front());
    const bool ok =
        object->_class->setProperty != nullptr && object->_class->setProperty(object, name, &value);
    ReleaseVariant(&value);
    return ok ? std::string() : Fail("setProperty returned false");
}

std::string StepRunner::Save(const Step& step) {
    CreateDirectoryA(step.dir.c_str(), nullptr);
    host_->Pump(0);
    Picture page;
    if (!CaptureWindow(host_->top(), &page))
        return Fail("cannot read the page window");
    std::string out;
    const auto& elements = host_->elements();
    for (size_t i = 0; i < elements.size(); ++i) {
        const HostedElement& e = *elements[i];
        RECT area;
        GetWindowRect(e.hwnd, &area);
        // DirectDraw pictures are in the primary; text the plug-in draws with
        // GDI reaches the window itself.
        Picture picture;
        bool drawn = CapturePrimary(e.hwnd, area, &picture);
        if (!drawn || Uniform(picture)) {
            Picture window;
            if (CaptureWindow(e.hwnd, &window) && (!drawn || !Uniform(window))) {
                picture = window;
                drawn = false;
            }
        }
        Paste(picture, e.window.x, e.window.y, &page);
        const std::string name =
            e.element.Id().empty() ? "element" + std::to_string(i + 1) : e.element.Id();
        const std::string file = name + ".png";
        if (!WritePng(step.dir + "/" + file, picture))
            return Fail("cannot write " + file);
        out += " " + file + " " + std::to_string(picture.width) + "x" +
               std::to_string(picture.height) + (drawn ? "" : " (window)") +
               (Uniform(picture) ? " blank" : "");
    }
    if (!WritePng(step.dir + "/page.png", page))
        return Fail("cannot write page.png");
    return "page.png" + out;
}

std::string StepRunner::Stats() {
    std::string out;
    const auto& elements = host_->elements();
    for (size_t i = 0; i < elements.size(); ++i) {
        HostedElement& e = *elements[i];
        out += (out.empty() ? "" : "; ") + ElementName(e, i);
        if (!e.instantiated) {
            out += " " + e.status;
            continue;
        }
        NPObject* object = host_->Scriptable(&e);
        out += " picture " + ReadString(object, "picwidth") + "x" +
               ReadString(object, "picheight") + " frames " +
               std::to_string(e.invalidations.load());
    }
    std::string calls;
    for (const auto& c : WindowCalls(host_->windowObject()))
        calls += " " + c.first + "=" + std::to_string(c.second);
    out += "; window calls" + (calls.empty() ? std::string(" none") : calls);
    out += "; off-thread NPN calls " + std::to_string(OffThreadTotal());
    return out;
}

std::string StepRunner::Run(const Step& step, const std::string& text) {
    std::string detail;
    switch (step.kind) {
        case Step::Call:
            detail = Call(step);
            break;
        case Step::Get:
            detail = Get(step);
            break;
        case Step::Set:
            detail = Set(step);
            break;
        case Step::Wait:
            host_->Pump(step.ms);
            break;
        case Step::Resize:
        case Step::Remove: {
            HostedElement* element = host_->Find(step.target);
            if (element == nullptr)
                detail = Fail("no element " + step.target);
            else if (step.kind == Step::Resize)
                host_->Resize(element, step.width, step.height);
            else
                host_->Remove(element);
            host_->Pump(0);
            break;
        }
        case Step::Add: {
            HostedElement* element = host_->Add(step.element);
            host_->Pump(0);
            detail = "#" + std::to_string(host_->elements().size()) +
                     (element->instantiated ? "" : " " + element->status);
            break;
        }
        case Step::Save:
            detail = Save(step);
            break;
        case Step::Stats:
            detail = Stats();
            break;
        case Step::Probe:
            detail = "handles " + std::to_string(OpenHandles()) + " private " +
                     std::to_string(PrivateBytes() / 1024) + " KiB";
            break;
        default:
            break;
    }
    if (!detail.empty() && detail[0] == '\x01')
        return "fail " + text + ": " + detail.substr(1);
    return "ok " + text + (detail.empty() ? "" : " -> " + detail);
}

}  // namespace pagehost
