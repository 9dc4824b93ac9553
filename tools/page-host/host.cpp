#include "tools/page-host/host.h"

#include <algorithm>
#include <cstdio>

#include "tools/page-host/page_objects.h"

namespace pagehost {
namespace {

constexpr UINT kAsyncCall = WM_APP + 1;
constexpr int kMargin = 8;
constexpr int kRowWidth = 1264;
constexpr const char* kTopClass = "page-host-page";
constexpr const char* kPluginClass = "page-host-plugin";

Host* g_current = nullptr;
DWORD g_mainThread = 0;

LRESULT CALLBACK TopProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE)
        return 0;  // the page closes with the "quit" step only
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void RegisterClasses() {
    static bool done = false;
    if (done)
        return;
    done = true;
    WNDCLASSA wc = {};
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpfnWndProc = TopProc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kTopClass;
    RegisterClassA(&wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kPluginClass;
    RegisterClassA(&wc);
}

}  // namespace

HostedElement* ElementOf(camvue::NPP npp) {
    if (npp == nullptr || npp->ndata == nullptr)
        return nullptr;
    auto* element = static_cast<HostedElement*>(npp->ndata);
    return element->magic == HostedElement::kMagic && &element->npp == npp ? element : nullptr;
}

void PostToMainThread(void (*func)(void*), void* data) {
    PostThreadMessageA(g_mainThread, kAsyncCall, reinterpret_cast<WPARAM>(func),
                       reinterpret_cast<LPARAM>(data));
}

Host* Host::Current() {
    return g_current;
}

Host::Host(PluginModule* plugin, std::vector<std::string> mimeTypes)
    : plugin_(plugin), mimeTypes_(std::move(mimeTypes)) {
    g_current = this;
    g_mainThread = GetCurrentThreadId();
}

Host::~Host() {
    Close();
    if (g_current == this)
        g_current = nullptr;
}

bool Host::Open(const Page& page, std::string* error) {
    RegisterClasses();
    top_ = CreateWindowExA(0, kTopClass, "page-host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                           640, 480, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (top_ == nullptr) {
        *error = "cannot create the page window";
        return false;
    }
    windowObject_ = CreateWindowObject(page.functions);
    for (const PageElement& element : page.elements)
        Add(element);
    Pump(0);
    return true;
}

void Host::Close() {
    while (!elements_.empty())
        Remove(elements_.back().get());
    ReleaseObject(windowObject_);
    windowObject_ = nullptr;
    if (top_ != nullptr)
        DestroyWindow(top_);
    top_ = nullptr;
}

HostedElement* Host::Add(const PageElement& element) {
    elements_.emplace_back(new HostedElement);
    HostedElement* e = elements_.back().get();
    e->element = element;
    e->elementObject = CreateElementObject(element);
    e->hwnd = CreateWindowExA(
        0, kPluginClass, "plugin", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
        element.width, element.height, top_, nullptr, GetModuleHandleA(nullptr), nullptr);
    const std::string type = element.Type();
    if (plugin_ == nullptr || !plugin_->loaded() || !HandlesType(mimeTypes_, type)) {
        e->status = "no plug-in for type \"" + type + "\"";
    } else {
        const PluginArguments args = ArgumentsFor(element);
        std::vector<char*> names, values;
        for (size_t i = 0; i < args.names.size(); ++i) {
            names.push_back(const_cast<char*>(args.names[i].c_str()));
            values.push_back(args.values[i] ? const_cast<char*>(args.values[i]->c_str()) : nullptr);
        }
        e->npp.ndata = e;
        const camvue::NPError result = plugin_->funcs().newp(
            const_cast<char*>(type.c_str()), &e->npp, camvue::NP_EMBED,
            static_cast<int16_t>(names.size()), names.data(), values.data(), nullptr);
        e->instantiated = result == camvue::NPERR_NO_ERROR;
        if (!e->instantiated)
            e->status = "NPP_New failed (" + std::to_string(result) + ")";
    }
    Layout();
    return e;
}

void Host::Remove(HostedElement* element) {
    auto found =
        std::find_if(elements_.begin(), elements_.end(),
                     [&](const std::unique_ptr<HostedElement>& e) { return e.get() == element; });
    if (found == elements_.end())
        return;
    ReleaseObject(element->scriptable);
    element->scriptable = nullptr;
    if (element->instantiated) {
        camvue::NPSavedData* saved = nullptr;
        plugin_->funcs().destroy(&element->npp, &saved);
        if (saved != nullptr) {
            MemFree(saved->buf);
            MemFree(saved);
        }
        element->instantiated = false;
    }
    if (element->hwnd != nullptr)
        DestroyWindow(element->hwnd);
    element->magic = 0;
    ReleaseObject(element->elementObject);
    elements_.erase(found);
    Layout();
}

void Host::Resize(HostedElement* element, int width, int height) {
    element->element.width = width;
    element->element.height = height;
    Layout();
}

HostedElement* Host::Find(const std::string& target) {
    if (target.size() > 1 && target[0] == '#') {
        const int index = std::atoi(target.c_str() + 1);
        if (index >= 1 && static_cast<size_t>(index) <= elements_.size())
            return elements_[static_cast<size_t>(index) - 1].get();
        return nullptr;
    }
    for (const auto& e : elements_) {
        if (e->element.Id() == target)
            return e.get();
    }
    return nullptr;
}

NPObject* Host::Scriptable(HostedElement* element) {
    if (!element->askedScriptable && element->instantiated && plugin_->funcs().getvalue) {
        element->askedScriptable = true;
        NPObject* object = nullptr;
        if (plugin_->funcs().getvalue(&element->npp, camvue::NPPVpluginScriptableNPObject,
                                      &object) == camvue::NPERR_NO_ERROR)
            element->scriptable = object;
    }
    return element->scriptable;
}

void Host::Layout() {
    int x = kMargin, y = kMargin, rowHeight = 0, right = 320, bottom = 240;
    for (const auto& e : elements_) {
        const int w = e->element.width, h = e->element.height;
        if (x > kMargin && x + w > kRowWidth) {
            x = kMargin;
            y += rowHeight + kMargin;
            rowHeight = 0;
        }
        const bool moved = e->window.window == nullptr || e->window.x != x || e->window.y != y ||
                           e->window.width != static_cast<uint32_t>(w) ||
                           e->window.height != static_cast<uint32_t>(h);
        if (moved) {
            MoveWindow(e->hwnd, x, y, w, h, TRUE);
            e->window.window = e->hwnd;
            e->window.x = x;
            e->window.y = y;
            e->window.width = static_cast<uint32_t>(w);
            e->window.height = static_cast<uint32_t>(h);
            e->window.clipRect = {static_cast<uint16_t>(y), static_cast<uint16_t>(x),
                                  static_cast<uint16_t>(y + h), static_cast<uint16_t>(x + w)};
            e->window.type = camvue::NPWindowTypeWindow;
            if (e->instantiated && plugin_->funcs().setwindow != nullptr)
                plugin_->funcs().setwindow(&e->npp, &e->window);
        }
        x += w + kMargin;
        rowHeight = std::max(rowHeight, h);
        right = std::max(right, x);
        bottom = std::max(bottom, y + rowHeight + kMargin);
    }
    SetWindowPos(top_, nullptr, 0, 0, right, bottom, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Host::Pump(int ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == nullptr && msg.message == kAsyncCall) {
                auto func = reinterpret_cast<void (*)(void*)>(msg.wParam);
                if (func != nullptr)
                    func(reinterpret_cast<void*>(msg.lParam));
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= static_cast<DWORD>(ms))
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms) - elapsed, QS_ALLINPUT);
    }
}

}  // namespace pagehost
