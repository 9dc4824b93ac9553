// The browser window: a top-level window holding one child window per
// plug-in element (windowed plug-ins), laid out left to right in page order.
// Each element with the plug-in's MIME type gets an instance (NPP_New with
// its attributes, then NPP_SetWindow once its window exists and whenever it
// moves or changes size); removing an element destroys its instance first.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "npcamvue/shell/npapi.h"
#include "tools/page-host/page.h"
#include "tools/page-host/plugin_module.h"
#include "tools/page-host/runtime.h"

namespace pagehost {

struct HostedElement {
    static constexpr uint32_t kMagic = 0x50414745;  // set while the element lives
    uint32_t magic = kMagic;
    PageElement element;
    camvue::NPP_t npp{};
    camvue::NPWindow window{};  // the plug-in may keep a pointer to it
    HWND hwnd = nullptr;
    bool instantiated = false;  // NPP_New succeeded
    std::string status;         // why there is no instance
    NPObject* elementObject = nullptr;
    NPObject* scriptable = nullptr;  // asked for on first script use
    bool askedScriptable = false;
    std::atomic<long> invalidations{0};  // NPN_InvalidateRect, from any thread
};

class Host {
  public:
    Host(PluginModule* plugin, std::vector<std::string> mimeTypes);
    ~Host();
    bool Open(const Page& page, std::string* error);
    void Close();  // every instance destroyed, windows gone

    HostedElement* Add(const PageElement& element);
    void Remove(HostedElement* element);
    void Resize(HostedElement* element, int width, int height);
    // An element by id or "#N" (1-based, page order); null if none.
    HostedElement* Find(const std::string& target);
    NPObject* Scriptable(HostedElement* element);  // NPP_GetValue on first use
    const std::vector<std::unique_ptr<HostedElement>>& elements() const { return elements_; }

    NPObject* windowObject() const { return windowObject_; }
    HWND top() const { return top_; }
    // Runs the message loop for `ms` milliseconds.
    void Pump(int ms);

    static Host* Current();

  private:
    void Layout();
    void SetWindow(HostedElement* element);

    PluginModule* plugin_;
    std::vector<std::string> mimeTypes_;
    HWND top_ = nullptr;
    NPObject* windowObject_ = nullptr;
    std::vector<std::unique_ptr<HostedElement>> elements_;
};

// The element an instance belongs to (NPP.ndata), or null.
HostedElement* ElementOf(camvue::NPP npp);

// Plug-in threads hand work to the main thread (NPN_PluginThreadAsyncCall).
void PostToMainThread(void (*func)(void*), void* data);

}  // namespace pagehost
