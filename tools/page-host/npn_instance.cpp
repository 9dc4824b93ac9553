// Entries about an instance and its page: GetValue (the page window, the
// plug-in's element, the browser window), SetValue, repainting, status and
// user agent, popups, calls handed to the main thread, points and focus.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tools/page-host/host.h"
#include "tools/page-host/npn.h"
#include "tools/page-host/thread_gate.h"

namespace pagehost {
namespace {

using camvue::NPBool;
using camvue::NPError;
using camvue::NPNVariable;
using camvue::NPPVariable;
using camvue::NPRect;

constexpr const char* kUserAgent = "Mozilla/5.0 (Windows NT 6.1; rv:52.0) page-host/1.0";

NPError NpnGetValue(NPP npp, NPNVariable variable, void* value) {
    if (!OnMainThread("getvalue"))
        return camvue::NPERR_GENERIC_ERROR;
    if (value == nullptr)
        return camvue::NPERR_INVALID_PARAM;
    Host* host = Host::Current();
    HostedElement* element = ElementOf(npp);
    switch (variable) {
        case camvue::NPNVnetscapeWindow:
            if (host == nullptr)
                return camvue::NPERR_GENERIC_ERROR;
            *static_cast<HWND*>(value) = host->top();
            return camvue::NPERR_NO_ERROR;
        case camvue::NPNVjavascriptEnabledBool:
            *static_cast<NPBool*>(value) = 1;
            return camvue::NPERR_NO_ERROR;
        case camvue::NPNVasdEnabledBool:
        case camvue::NPNVisOfflineBool:
        case camvue::NPNVSupportsXEmbedBool:
        case camvue::NPNVSupportsWindowless:
        case camvue::NPNVprivateModeBool:
            *static_cast<NPBool*>(value) = 0;
            return camvue::NPERR_NO_ERROR;
        case camvue::NPNVWindowNPObject:
            if (host == nullptr || host->windowObject() == nullptr)
                return camvue::NPERR_GENERIC_ERROR;
            *static_cast<NPObject**>(value) = RetainObject(host->windowObject());
            return camvue::NPERR_NO_ERROR;
        case camvue::NPNVPluginElementNPObject:
            if (element == nullptr || element->elementObject == nullptr)
                return camvue::NPERR_GENERIC_ERROR;
            *static_cast<NPObject**>(value) = RetainObject(element->elementObject);
            return camvue::NPERR_NO_ERROR;
        case camvue::NPNVdocumentOrigin: {
            static const char kOrigin[] = "file://";
            auto* copy = static_cast<char*>(MemAlloc(sizeof kOrigin));
            if (copy == nullptr)
                return camvue::NPERR_OUT_OF_MEMORY_ERROR;
            std::memcpy(copy, kOrigin, sizeof kOrigin);
            *static_cast<char**>(value) = copy;
            return camvue::NPERR_NO_ERROR;
        }
        default:
            return camvue::NPERR_GENERIC_ERROR;
    }
}

NPError NpnSetValue(NPP npp, NPPVariable variable, void* value) {
    if (!OnMainThread("setvalue"))
        return camvue::NPERR_GENERIC_ERROR;
    if (ElementOf(npp) == nullptr)
        return camvue::NPERR_INVALID_INSTANCE_ERROR;
    switch (variable) {
        case camvue::NPPVpluginWindowBool:
            // Only windowed plug-ins are hosted here.
            return value != nullptr ? camvue::NPERR_NO_ERROR : camvue::NPERR_GENERIC_ERROR;
        case camvue::NPPVpluginTransparentBool:
        case camvue::NPPVpluginKeepLibraryInMemory:
        case camvue::NPPVjavascriptPushCallerBool:
        case camvue::NPPVpluginUsesDOMForCursorBool:
            return camvue::NPERR_NO_ERROR;
        default:
            return camvue::NPERR_GENERIC_ERROR;
    }
}

void NpnInvalidateRect(NPP npp, NPRect* rect) {
    HostedElement* element = ElementOf(npp);
    if (element != nullptr)
        ++element->invalidations;  // the plug-in's sign of a new picture, from any thread
    if (!OnMainThread("invalidaterect") || element == nullptr || element->hwnd == nullptr)
        return;
    if (rect == nullptr) {
        InvalidateRect(element->hwnd, nullptr, FALSE);
        return;
    }
    RECT r = {rect->left, rect->top, rect->right, rect->bottom};
    InvalidateRect(element->hwnd, &r, FALSE);
}

void NpnInvalidateRegion(NPP npp, camvue::NPRegion region) {
    HostedElement* element = ElementOf(npp);
    if (!OnMainThread("invalidateregion") || element == nullptr || element->hwnd == nullptr)
        return;
    InvalidateRgn(element->hwnd, static_cast<HRGN>(region), FALSE);
}

void NpnForceRedraw(NPP npp) {
    HostedElement* element = ElementOf(npp);
    if (!OnMainThread("forceredraw") || element == nullptr || element->hwnd == nullptr)
        return;
    UpdateWindow(element->hwnd);
}

void NpnStatus(NPP, const char* message) {
    if (OnMainThread("status"))
        std::printf("status: %s\n", message != nullptr ? message : "");
}

const char* NpnUserAgent(NPP) {
    OnMainThread("uagent");
    return kUserAgent;  // a constant: safe to hand out anywhere
}

void NpnPushPopupsEnabledState(NPP, NPBool) {
    OnMainThread("pushpopupsenabledstate");
}

void NpnPopPopupsEnabledState(NPP) {
    OnMainThread("poppopupsenabledstate");
}

// Meant for plug-in threads: runs `func` on the main thread's next pump.
void NpnPluginThreadAsyncCall(NPP npp, void (*func)(void*), void* data) {
    if (ElementOf(npp) != nullptr && func != nullptr)
        PostToMainThread(func, data);
}

uint32_t NpnScheduleTimer(NPP, uint32_t, NPBool, void (*)(NPP, uint32_t)) {
    OnMainThread("scheduletimer");
    return 0;  // no timers
}

void NpnUnscheduleTimer(NPP, uint32_t) {
    OnMainThread("unscheduletimer");
}

NPError NpnPopUpContextMenu(NPP, camvue::NPMenu*) {
    OnMainThread("popupcontextmenu");
    return camvue::NPERR_GENERIC_ERROR;
}

NPBool NpnConvertPoint(NPP npp, double x, double y, camvue::NPCoordinateSpace from, double* toX,
                       double* toY, camvue::NPCoordinateSpace to) {
    HostedElement* element = ElementOf(npp);
    if (!OnMainThread("convertpoint") || element == nullptr || element->hwnd == nullptr)
        return 0;
    POINT origin = {0, 0};
    ClientToScreen(element->hwnd, &origin);
    const auto toScreen = [&](camvue::NPCoordinateSpace s, double* px, double* py) {
        if (s == camvue::NPCoordinateSpacePlugin) {
            *px += origin.x;
            *py += origin.y;
        } else if (s != camvue::NPCoordinateSpaceScreen) {
            return false;
        }
        return true;
    };
    double sx = x, sy = y;
    if (!toScreen(from, &sx, &sy))
        return 0;
    if (to == camvue::NPCoordinateSpacePlugin) {
        sx -= origin.x;
        sy -= origin.y;
    } else if (to != camvue::NPCoordinateSpaceScreen) {
        return 0;
    }
    if (toX != nullptr)
        *toX = sx;
    if (toY != nullptr)
        *toY = sy;
    return 1;
}

NPBool NpnHandleEvent(NPP, void*, NPBool) {
    OnMainThread("handleevent");
    return 0;
}

NPBool NpnUnfocusInstance(NPP, camvue::NPFocusDirection) {
    OnMainThread("unfocusinstance");
    return 0;
}

}  // namespace

void FillInstanceFuncs(camvue::NPNetscapeFuncs* funcs) {
    funcs->getvalue = NpnGetValue;
    funcs->setvalue = NpnSetValue;
    funcs->invalidaterect = NpnInvalidateRect;
    funcs->invalidateregion = NpnInvalidateRegion;
    funcs->forceredraw = NpnForceRedraw;
    funcs->status = NpnStatus;
    funcs->uagent = NpnUserAgent;
    funcs->pushpopupsenabledstate = NpnPushPopupsEnabledState;
    funcs->poppopupsenabledstate = NpnPopPopupsEnabledState;
    funcs->pluginthreadasynccall = NpnPluginThreadAsyncCall;
    funcs->scheduletimer = NpnScheduleTimer;
    funcs->unscheduletimer = NpnUnscheduleTimer;
    funcs->popupcontextmenu = NpnPopUpContextMenu;
    funcs->convertpoint = NpnConvertPoint;
    funcs->handleevent = NpnHandleEvent;
    funcs->unfocusinstance = NpnUnfocusInstance;
}

}  // namespace pagehost
