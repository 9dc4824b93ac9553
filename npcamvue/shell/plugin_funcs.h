// The plug-in function table's entries (NP_GetEntryPoints hands them out).
// Streams, printing and events are not used: those entries only answer.
#pragma once

#include "npcamvue/shell/npapi.h"

namespace camvue {

// Scans the embed parameters and starts an instance (instance_start.h).
NPError NppNew(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[],
               char* argv[], NPSavedData* saved);
// Detach, release and free (instance_lifecycle.h).
NPError NppDestroy(NPP instance, NPSavedData** save);
// Attaches once to the first window handle, then follows the rectangle.
NPError NppSetWindow(NPP instance, NPWindow* window);
// Name, description and the scriptable object.
NPError NppGetValue(NPP instance, NPPVariable variable, void* value);

NPError NppSetValue(NPP instance, NPNVariable variable, void* value);
NPError NppNewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable,
                     uint16_t* stype);
NPError NppDestroyStream(NPP instance, NPStream* stream, NPReason reason);
void NppStreamAsFile(NPP instance, NPStream* stream, const char* fname);
int32_t NppWriteReady(NPP instance, NPStream* stream);
int32_t NppWrite(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
void NppPrint(NPP instance, NPPrint* platformPrint);
int16_t NppHandleEvent(NPP instance, void* event);
void NppUrlNotify(NPP instance, const char* url, NPReason reason, void* notifyData);

constexpr int32_t kWriteReadyBytes = 0x0FFFFFFF;

}  // namespace camvue
