// The NPAPI types, codes and function tables this project uses on both sides
// of the browser boundary (the plug-in and the test page host), declared
// from the published NPAPI layouts as Mozilla-family browsers on Windows use
// them: NPWindow has no ws_info; the NP_ exports are stdcall on 32-bit x86
// (NP_EXPORT_CALL), every table entry is the compiler's default convention.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define NP_EXPORT_CALL __stdcall
#else
#define NP_EXPORT_CALL
#endif
#define NP_LOADDS

namespace camvue {

using NPError = int16_t;
using NPReason = int16_t;
using NPBool = unsigned char;
using NPMIMEType = char*;
using NPUTF8 = char;
using NPIdentifier = void*;
using NPRegion = void*;  // HRGN on Windows

// NPError values.
enum : NPError {
    NPERR_NO_ERROR = 0,
    NPERR_GENERIC_ERROR = 1,
    NPERR_INVALID_INSTANCE_ERROR = 2,
    NPERR_INVALID_FUNCTABLE_ERROR = 3,
    NPERR_MODULE_LOAD_FAILED_ERROR = 4,
    NPERR_OUT_OF_MEMORY_ERROR = 5,
    NPERR_INVALID_PLUGIN_ERROR = 6,
    NPERR_INVALID_PLUGIN_DIR_ERROR = 7,
    NPERR_INCOMPATIBLE_VERSION_ERROR = 8,
    NPERR_INVALID_PARAM = 9,
    NPERR_INVALID_URL = 10,
    NPERR_FILE_NOT_FOUND = 11,
    NPERR_NO_DATA = 12,
    NPERR_STREAM_NOT_SEEKABLE = 13,
};

// NPReason values.
enum : NPReason {
    NPRES_DONE = 0,
    NPRES_NETWORK_ERR = 1,
    NPRES_USER_BREAK = 2,
};

// Stream types and instance modes.
enum : uint16_t {
    NP_NORMAL = 1,
    NP_SEEK = 2,
    NP_ASFILE = 3,
    NP_ASFILEONLY = 4,
};
enum : uint16_t {
    NP_EMBED = 1,
    NP_FULL = 2,
};

// The version this plug-in reports (NPPluginFuncs.version) and the version
// word of the browser table: major in the high byte, minor in the low one.
constexpr uint16_t kNpVersionMinor = 27;
constexpr int kNpVersionMajorShift = 8;

// What the plug-in is asked for (NPP_GetValue) or told (NPP_SetValue).
enum NPPVariable : int32_t {
    NPPVpluginNameString = 1,
    NPPVpluginDescriptionString = 2,
    NPPVpluginWindowBool = 3,
    NPPVpluginTransparentBool = 4,
    NPPVjavaClass = 5,
    NPPVpluginWindowSize = 6,
    NPPVpluginTimerInterval = 7,
    NPPVpluginScriptableIID = 11,
    NPPVjavascriptPushCallerBool = 12,
    NPPVpluginKeepLibraryInMemory = 13,
    NPPVpluginNeedsXEmbed = 14,
    NPPVpluginScriptableNPObject = 15,
    NPPVformValue = 16,
    NPPVpluginUrlRequestsDisplayedBool = 17,
    NPPVpluginWantsAllNetworkStreams = 18,
    NPPVpluginNativeAccessibleAtkPlugId = 19,
    NPPVpluginCancelSrcStream = 20,
    NPPVsupportsAdvancedKeyHandling = 21,
    NPPVpluginUsesDOMForCursorBool = 22,
};

// What the plug-in asks the browser for (NPN_GetValue).
enum NPNVariable : int32_t {
    NPNVxDisplay = 1,
    NPNVxtAppContext = 2,
    NPNVnetscapeWindow = 3,
    NPNVjavascriptEnabledBool = 4,
    NPNVasdEnabledBool = 5,
    NPNVisOfflineBool = 6,
    NPNVSupportsXEmbedBool = 14,
    NPNVWindowNPObject = 15,
    NPNVPluginElementNPObject = 16,
    NPNVSupportsWindowless = 17,
    NPNVprivateModeBool = 18,
    NPNVsupportsAdvancedKeyHandling = 21,
    NPNVdocumentOrigin = 22,
};

enum NPNURLVariable : int32_t {
    NPNURLVCookie = 501,
    NPNURLVProxy = 502,
};

enum NPCoordinateSpace : int32_t {
    NPCoordinateSpacePlugin = 1,
    NPCoordinateSpaceWindow = 2,
    NPCoordinateSpaceFlippedWindow = 3,
    NPCoordinateSpaceScreen = 4,
    NPCoordinateSpaceFlippedScreen = 5,
};

enum NPFocusDirection : int32_t {
    NPFocusNext = 0,
    NPFocusPrevious = 1,
};

struct NPP_t {
    void* pdata;  // the plug-in's instance
    void* ndata;  // the browser's
};
using NPP = NPP_t*;

struct NPRect {
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
};

enum NPWindowType : int32_t {
    NPWindowTypeWindow = 1,
    NPWindowTypeDrawable = 2,
};

struct NPWindow {
    void* window;  // HWND on Windows
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    NPWindowType type;
};

struct NPSavedData {
    int32_t len;
    void* buf;
};

struct NPStream {
    void* pdata;
    void* ndata;
    const char* url;
    uint32_t end;
    uint32_t lastmodified;
    void* notifyData;
    const char* headers;
};

struct NPByteRange {
    int32_t offset;
    uint32_t length;
    NPByteRange* next;
};

struct NPFullPrint {
    NPBool pluginPrinted;
    NPBool printOne;
    void* platformPrint;
};

struct NPEmbedPrint {
    NPWindow window;
    void* platformPrint;
};

struct NPPrint {
    uint16_t mode;  // NP_FULL or NP_EMBED
    union {
        NPFullPrint fullPrint;
        NPEmbedPrint embedPrint;
    } print;
};

// A window message handed to a windowless plug-in (Windows form).
struct NPEvent {
    uint16_t event;
    uintptr_t wParam;
    uintptr_t lParam;
};

struct NPMenu;

// ---- Scripting ------------------------------------------------------------

struct NPString {
    const NPUTF8* UTF8Characters;
    uint32_t UTF8Length;  // bytes, no terminator
};

enum NPVariantType : int32_t {
    NPVariantType_Void = 0,
    NPVariantType_Null = 1,
    NPVariantType_Bool = 2,
    NPVariantType_Int32 = 3,
    NPVariantType_Double = 4,
    NPVariantType_String = 5,
    NPVariantType_Object = 6,
};

struct NPObject;

struct NPVariant {
    NPVariantType type;
    union {
        bool boolValue;
        int32_t intValue;
        double doubleValue;
        NPString stringValue;
        NPObject* objectValue;
    } value;
};

struct NPClass;

using NPAllocateFunctionPtr = NPObject* (*)(NPP npp, NPClass* aClass);
using NPDeallocateFunctionPtr = void (*)(NPObject* npobj);
using NPInvalidateFunctionPtr = void (*)(NPObject* npobj);
using NPHasMethodFunctionPtr = bool (*)(NPObject* npobj, NPIdentifier name);
using NPInvokeFunctionPtr = bool (*)(NPObject* npobj, NPIdentifier name, const NPVariant* args,
                                     uint32_t argCount, NPVariant* result);
using NPInvokeDefaultFunctionPtr = bool (*)(NPObject* npobj, const NPVariant* args,
                                            uint32_t argCount, NPVariant* result);
using NPHasPropertyFunctionPtr = bool (*)(NPObject* npobj, NPIdentifier name);
using NPGetPropertyFunctionPtr = bool (*)(NPObject* npobj, NPIdentifier name, NPVariant* result);
using NPSetPropertyFunctionPtr = bool (*)(NPObject* npobj, NPIdentifier name,
                                          const NPVariant* value);
using NPRemovePropertyFunctionPtr = bool (*)(NPObject* npobj, NPIdentifier name);
using NPEnumerationFunctionPtr = bool (*)(NPObject* npobj, NPIdentifier** value, uint32_t* count);
using NPConstructFunctionPtr = bool (*)(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                        NPVariant* result);

constexpr uint32_t kNpClassStructVersion = 3;  // through `construct`

struct NPClass {
    uint32_t structVersion;
    NPAllocateFunctionPtr allocate;
    NPDeallocateFunctionPtr deallocate;
    NPInvalidateFunctionPtr invalidate;
    NPHasMethodFunctionPtr hasMethod;
    NPInvokeFunctionPtr invoke;
    NPInvokeDefaultFunctionPtr invokeDefault;
    NPHasPropertyFunctionPtr hasProperty;
    NPGetPropertyFunctionPtr getProperty;
    NPSetPropertyFunctionPtr setProperty;
    NPRemovePropertyFunctionPtr removeProperty;
    NPEnumerationFunctionPtr enumerate;
    NPConstructFunctionPtr construct;
};

struct NPObject {
    NPClass* _class;
    uint32_t referenceCount;
};

// ---- The plug-in's function table (NP_GetEntryPoints) ---------------------

using NPP_NewProcPtr = NPError (*)(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc,
                                   char* argn[], char* argv[], NPSavedData* saved);
using NPP_DestroyProcPtr = NPError (*)(NPP instance, NPSavedData** save);
using NPP_SetWindowProcPtr = NPError (*)(NPP instance, NPWindow* window);
using NPP_NewStreamProcPtr = NPError (*)(NPP instance, NPMIMEType type, NPStream* stream,
                                         NPBool seekable, uint16_t* stype);
using NPP_DestroyStreamProcPtr = NPError (*)(NPP instance, NPStream* stream, NPReason reason);
using NPP_StreamAsFileProcPtr = void (*)(NPP instance, NPStream* stream, const char* fname);
using NPP_WriteReadyProcPtr = int32_t (*)(NPP instance, NPStream* stream);
using NPP_WriteProcPtr = int32_t (*)(NPP instance, NPStream* stream, int32_t offset, int32_t len,
                                     void* buffer);
using NPP_PrintProcPtr = void (*)(NPP instance, NPPrint* platformPrint);
using NPP_HandleEventProcPtr = int16_t (*)(NPP instance, void* event);
using NPP_URLNotifyProcPtr = void (*)(NPP instance, const char* url, NPReason reason,
                                      void* notifyData);
using NPP_GetValueProcPtr = NPError (*)(NPP instance, NPPVariable variable, void* value);
using NPP_SetValueProcPtr = NPError (*)(NPP instance, NPNVariable variable, void* value);
using NPP_GotFocusPtr = NPBool (*)(NPP instance, NPFocusDirection direction);
using NPP_LostFocusPtr = void (*)(NPP instance);
using NPP_URLRedirectNotifyPtr = void (*)(NPP instance, const char* url, int32_t status,
                                          void* notifyData);
using NPP_ClearSiteDataPtr = NPError (*)(const char* site, uint64_t flags, uint64_t maxAge);
using NPP_GetSitesWithDataPtr = char** (*)();
using NPP_DidCompositePtr = void (*)(NPP instance);

struct NPPluginFuncs {
    uint16_t size;
    uint16_t version;
    NPP_NewProcPtr newp;
    NPP_DestroyProcPtr destroy;
    NPP_SetWindowProcPtr setwindow;
    NPP_NewStreamProcPtr newstream;
    NPP_DestroyStreamProcPtr destroystream;
    NPP_StreamAsFileProcPtr asfile;
    NPP_WriteReadyProcPtr writeready;
    NPP_WriteProcPtr write;
    NPP_PrintProcPtr print;
    NPP_HandleEventProcPtr event;
    NPP_URLNotifyProcPtr urlnotify;
    void* javaClass;
    NPP_GetValueProcPtr getvalue;
    NPP_SetValueProcPtr setvalue;
    NPP_GotFocusPtr gotfocus;
    NPP_LostFocusPtr lostfocus;
    NPP_URLRedirectNotifyPtr urlredirectnotify;
    NPP_ClearSiteDataPtr clearsitedata;
    NPP_GetSitesWithDataPtr getsiteswithdata;
    NPP_DidCompositePtr didComposite;
};

// ---- The browser's function table (NP_Initialize) -------------------------

using NPN_GetURLProcPtr = NPError (*)(NPP instance, const char* url, const char* window);
using NPN_PostURLProcPtr = NPError (*)(NPP instance, const char* url, const char* window,
                                       uint32_t len, const char* buf, NPBool file);
using NPN_RequestReadProcPtr = NPError (*)(NPStream* stream, NPByteRange* rangeList);
using NPN_NewStreamProcPtr = NPError (*)(NPP instance, NPMIMEType type, const char* window,
                                         NPStream** stream);
using NPN_WriteProcPtr = int32_t (*)(NPP instance, NPStream* stream, int32_t len, void* buffer);
using NPN_DestroyStreamProcPtr = NPError (*)(NPP instance, NPStream* stream, NPReason reason);
using NPN_StatusProcPtr = void (*)(NPP instance, const char* message);
using NPN_UserAgentProcPtr = const char* (*)(NPP instance);
using NPN_MemAllocProcPtr = void* (*)(uint32_t size);
using NPN_MemFreeProcPtr = void (*)(void* ptr);
using NPN_MemFlushProcPtr = uint32_t (*)(uint32_t size);
using NPN_ReloadPluginsProcPtr = void (*)(NPBool reloadPages);
using NPN_GetJavaEnvProcPtr = void* (*)();
using NPN_GetJavaPeerProcPtr = void* (*)(NPP instance);
using NPN_GetURLNotifyProcPtr = NPError (*)(NPP instance, const char* url, const char* window,
                                            void* notifyData);
using NPN_PostURLNotifyProcPtr = NPError (*)(NPP instance, const char* url, const char* window,
                                             uint32_t len, const char* buf, NPBool file,
                                             void* notifyData);
using NPN_GetValueProcPtr = NPError (*)(NPP instance, NPNVariable variable, void* ret_value);
using NPN_SetValueProcPtr = NPError (*)(NPP instance, NPPVariable variable, void* value);
using NPN_InvalidateRectProcPtr = void (*)(NPP instance, NPRect* rect);
using NPN_InvalidateRegionProcPtr = void (*)(NPP instance, NPRegion region);
using NPN_ForceRedrawProcPtr = void (*)(NPP instance);
using NPN_GetStringIdentifierProcPtr = NPIdentifier (*)(const NPUTF8* name);
using NPN_GetStringIdentifiersProcPtr = void (*)(const NPUTF8** names, int32_t nameCount,
                                                 NPIdentifier* identifiers);
using NPN_GetIntIdentifierProcPtr = NPIdentifier (*)(int32_t intid);
using NPN_IdentifierIsStringProcPtr = bool (*)(NPIdentifier identifier);
using NPN_UTF8FromIdentifierProcPtr = NPUTF8* (*)(NPIdentifier identifier);
using NPN_IntFromIdentifierProcPtr = int32_t (*)(NPIdentifier identifier);
using NPN_CreateObjectProcPtr = NPObject* (*)(NPP npp, NPClass* aClass);
using NPN_RetainObjectProcPtr = NPObject* (*)(NPObject* obj);
using NPN_ReleaseObjectProcPtr = void (*)(NPObject* obj);
using NPN_InvokeProcPtr = bool (*)(NPP npp, NPObject* obj, NPIdentifier methodName,
                                   const NPVariant* args, uint32_t argCount, NPVariant* result);
using NPN_InvokeDefaultProcPtr = bool (*)(NPP npp, NPObject* obj, const NPVariant* args,
                                          uint32_t argCount, NPVariant* result);
using NPN_EvaluateProcPtr = bool (*)(NPP npp, NPObject* obj, NPString* script, NPVariant* result);
using NPN_GetPropertyProcPtr = bool (*)(NPP npp, NPObject* obj, NPIdentifier propertyName,
                                        NPVariant* result);
using NPN_SetPropertyProcPtr = bool (*)(NPP npp, NPObject* obj, NPIdentifier propertyName,
                                        const NPVariant* value);
using NPN_RemovePropertyProcPtr = bool (*)(NPP npp, NPObject* obj, NPIdentifier propertyName);
using NPN_HasPropertyProcPtr = bool (*)(NPP npp, NPObject* obj, NPIdentifier propertyName);
using NPN_HasMethodProcPtr = bool (*)(NPP npp, NPObject* obj, NPIdentifier propertyName);
using NPN_ReleaseVariantValueProcPtr = void (*)(NPVariant* variant);
using NPN_SetExceptionProcPtr = void (*)(NPObject* obj, const NPUTF8* message);
using NPN_PushPopupsEnabledStateProcPtr = void (*)(NPP npp, NPBool enabled);
using NPN_PopPopupsEnabledStateProcPtr = void (*)(NPP npp);
using NPN_EnumerateProcPtr = bool (*)(NPP npp, NPObject* obj, NPIdentifier** identifier,
                                      uint32_t* count);
using NPN_PluginThreadAsyncCallProcPtr = void (*)(NPP instance, void (*func)(void*),
                                                  void* userData);
using NPN_ConstructProcPtr = bool (*)(NPP npp, NPObject* obj, const NPVariant* args,
                                      uint32_t argCount, NPVariant* result);
using NPN_GetValueForURLPtr = NPError (*)(NPP npp, NPNURLVariable variable, const char* url,
                                          char** value, uint32_t* len);
using NPN_SetValueForURLPtr = NPError (*)(NPP npp, NPNURLVariable variable, const char* url,
                                          const char* value, uint32_t len);
using NPN_GetAuthenticationInfoPtr = NPError (*)(NPP npp, const char* protocol, const char* host,
                                                 int32_t port, const char* scheme,
                                                 const char* realm, char** username, uint32_t* ulen,
                                                 char** password, uint32_t* plen);
using NPN_ScheduleTimerPtr = uint32_t (*)(NPP instance, uint32_t interval, NPBool repeat,
                                          void (*timerFunc)(NPP npp, uint32_t timerID));
using NPN_UnscheduleTimerPtr = void (*)(NPP instance, uint32_t timerID);
using NPN_PopUpContextMenuPtr = NPError (*)(NPP instance, NPMenu* menu);
using NPN_ConvertPointPtr = NPBool (*)(NPP instance, double sourceX, double sourceY,
                                       NPCoordinateSpace sourceSpace, double* destX, double* destY,
                                       NPCoordinateSpace destSpace);
using NPN_HandleEventPtr = NPBool (*)(NPP instance, void* event, NPBool handled);
using NPN_UnfocusInstancePtr = NPBool (*)(NPP instance, NPFocusDirection direction);
using NPN_URLRedirectResponsePtr = void (*)(NPP instance, void* notifyData, NPBool allow);

struct NPNetscapeFuncs {
    uint16_t size;
    uint16_t version;
    NPN_GetURLProcPtr geturl;
    NPN_PostURLProcPtr posturl;
    NPN_RequestReadProcPtr requestread;
    NPN_NewStreamProcPtr newstream;
    NPN_WriteProcPtr write;
    NPN_DestroyStreamProcPtr destroystream;
    NPN_StatusProcPtr status;
    NPN_UserAgentProcPtr uagent;
    NPN_MemAllocProcPtr memalloc;
    NPN_MemFreeProcPtr memfree;
    NPN_MemFlushProcPtr memflush;
    NPN_ReloadPluginsProcPtr reloadplugins;
    NPN_GetJavaEnvProcPtr getJavaEnv;
    NPN_GetJavaPeerProcPtr getJavaPeer;
    NPN_GetURLNotifyProcPtr geturlnotify;
    NPN_PostURLNotifyProcPtr posturlnotify;
    NPN_GetValueProcPtr getvalue;
    NPN_SetValueProcPtr setvalue;
    NPN_InvalidateRectProcPtr invalidaterect;
    NPN_InvalidateRegionProcPtr invalidateregion;
    NPN_ForceRedrawProcPtr forceredraw;
    NPN_GetStringIdentifierProcPtr getstringidentifier;
    NPN_GetStringIdentifiersProcPtr getstringidentifiers;
    NPN_GetIntIdentifierProcPtr getintidentifier;
    NPN_IdentifierIsStringProcPtr identifierisstring;
    NPN_UTF8FromIdentifierProcPtr utf8fromidentifier;
    NPN_IntFromIdentifierProcPtr intfromidentifier;
    NPN_CreateObjectProcPtr createobject;
    NPN_RetainObjectProcPtr retainobject;
    NPN_ReleaseObjectProcPtr releaseobject;
    NPN_InvokeProcPtr invoke;
    NPN_InvokeDefaultProcPtr invokeDefault;
    NPN_EvaluateProcPtr evaluate;
    NPN_GetPropertyProcPtr getproperty;
    NPN_SetPropertyProcPtr setproperty;
    NPN_RemovePropertyProcPtr removeproperty;
    NPN_HasPropertyProcPtr hasproperty;
    NPN_HasMethodProcPtr hasmethod;
    NPN_ReleaseVariantValueProcPtr releasevariantvalue;
    NPN_SetExceptionProcPtr setexception;
    NPN_PushPopupsEnabledStateProcPtr pushpopupsenabledstate;
    NPN_PopPopupsEnabledStateProcPtr poppopupsenabledstate;
    NPN_EnumerateProcPtr enumerate;
    NPN_PluginThreadAsyncCallProcPtr pluginthreadasynccall;
    NPN_ConstructProcPtr construct;
    NPN_GetValueForURLPtr getvalueforurl;
    NPN_SetValueForURLPtr setvalueforurl;
    NPN_GetAuthenticationInfoPtr getauthenticationinfo;
    NPN_ScheduleTimerPtr scheduletimer;
    NPN_UnscheduleTimerPtr unscheduletimer;
    NPN_PopUpContextMenuPtr popupcontextmenu;
    NPN_ConvertPointPtr convertpoint;
    NPN_HandleEventPtr handleevent;
    NPN_UnfocusInstancePtr unfocusinstance;
    NPN_URLRedirectResponsePtr urlredirectresponse;
};

// The sizes the plug-in checks its tables against: the plug-in table
// through `setvalue`, the browser table through `setexception` and through
// `urlredirectresponse` (the whole table the plug-in knows).
constexpr size_t kPluginFuncsMinSize = offsetof(NPPluginFuncs, setvalue) + sizeof(void*);
constexpr size_t kBrowserFuncsMinSize = offsetof(NPNetscapeFuncs, setexception) + sizeof(void*);
constexpr size_t kBrowserFuncsFullSize =
    offsetof(NPNetscapeFuncs, urlredirectresponse) + sizeof(void*);

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(NPWindow) == 32 && offsetof(NPWindow, width) == 12 &&
                  offsetof(NPWindow, clipRect) == 20,
              "NPWindow on 32-bit Windows");
static_assert(sizeof(NPObject) == 8 && sizeof(NPVariant) == 16 && offsetof(NPVariant, value) == 8 &&
                  sizeof(NPClass) == 52,
              "scripting records on 32-bit Windows");
static_assert(kPluginFuncsMinSize == 60 && offsetof(NPPluginFuncs, javaClass) == 48 &&
                  offsetof(NPPluginFuncs, getvalue) == 52,
              "NPPluginFuncs on 32-bit Windows");
static_assert(kBrowserFuncsMinSize == 164 && kBrowserFuncsFullSize == 224 &&
                  sizeof(NPNetscapeFuncs) == 224 && offsetof(NPNetscapeFuncs, geturl) == 4 &&
                  offsetof(NPNetscapeFuncs, invalidaterect) == 76 &&
                  offsetof(NPNetscapeFuncs, getstringidentifier) == 88 &&
                  offsetof(NPNetscapeFuncs, createobject) == 112 &&
                  offsetof(NPNetscapeFuncs, releasevariantvalue) == 156 &&
                  offsetof(NPNetscapeFuncs, enumerate) == 172,
              "NPNetscapeFuncs on 32-bit Windows");
#elif defined(_WIN64)
// x86_64: the same fields, pointers widened to 8 bytes.
static_assert(sizeof(NPWindow) == 40 && offsetof(NPWindow, clipRect) == 24,
              "NPWindow on 64-bit Windows");
static_assert(sizeof(NPObject) == 16 && sizeof(NPVariant) == 24 && sizeof(NPClass) == 104,
              "scripting records on 64-bit Windows");
static_assert(kPluginFuncsMinSize == 120 && offsetof(NPPluginFuncs, newp) == 8 &&
                  offsetof(NPPluginFuncs, javaClass) == 96,
              "NPPluginFuncs on 64-bit Windows");
static_assert(kBrowserFuncsMinSize == 328 && kBrowserFuncsFullSize == 448 &&
                  sizeof(NPNetscapeFuncs) == 448 && offsetof(NPNetscapeFuncs, geturl) == 8 &&
                  offsetof(NPNetscapeFuncs, enumerate) == 344,
              "NPNetscapeFuncs on 64-bit Windows");
#endif

}  // namespace camvue
