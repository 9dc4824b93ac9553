// The module's NP_ entry points: the plug-in function table and the copy of
// the browser's.
#include "npcamvue/shell/browser.h"
#include "npcamvue/shell/np_exports.h"
#include "npcamvue/shell/plugin_funcs.h"

using namespace camvue;

int32_t IsCMPXCHG8BSupport = -1;

NPError NP_EXPORT_CALL NP_GetEntryPoints(NPPluginFuncs* funcs) {
    if (funcs == nullptr || funcs->size < kPluginFuncsMinSize)
        return NPERR_INVALID_FUNCTABLE_ERROR;
    // Nothing beyond `setvalue`: the browser's table may end there.
    funcs->version = kNpVersionMinor;
    funcs->newp = NppNew;
    funcs->destroy = NppDestroy;
    funcs->setwindow = NppSetWindow;
    funcs->newstream = NppNewStream;
    funcs->destroystream = NppDestroyStream;
    funcs->asfile = NppStreamAsFile;
    funcs->writeready = NppWriteReady;
    funcs->write = NppWrite;
    funcs->print = NppPrint;
    funcs->event = NppHandleEvent;
    funcs->urlnotify = NppUrlNotify;
    funcs->javaClass = nullptr;
    funcs->getvalue = NppGetValue;
    funcs->setvalue = NppSetValue;
    return NPERR_NO_ERROR;
}

NPError NP_EXPORT_CALL NP_Initialize(NPNetscapeFuncs* funcs) {
    return BrowserTableCopy(funcs);
}

NPError NP_EXPORT_CALL NP_Shutdown() {
    return NPERR_NO_ERROR;
}
