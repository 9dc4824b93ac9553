// The table entries for streams, printing, events and NPP_SetValue: the
// plug-in takes no streams, so data offered is accepted and dropped.
#include "npcamvue/shell/plugin_funcs.h"

namespace camvue {

NPError NppSetValue(NPP instance, NPNVariable, void*) {
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

NPError NppNewStream(NPP instance, NPMIMEType, NPStream*, NPBool, uint16_t*) {
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

NPError NppDestroyStream(NPP instance, NPStream*, NPReason) {
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

void NppStreamAsFile(NPP, NPStream*, const char*) {}

int32_t NppWriteReady(NPP instance, NPStream*) {
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : kWriteReadyBytes;
}

int32_t NppWrite(NPP instance, NPStream*, int32_t, int32_t len, void*) {
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : len;
}

void NppPrint(NPP, NPPrint*) {}

int16_t NppHandleEvent(NPP, void*) {
    return 0;
}

void NppUrlNotify(NPP, const char*, NPReason, void*) {}

}  // namespace camvue
