// URL, stream, Java and credential entries. page-host fetches nothing for a
// plug-in: each entry refuses, as a browser does for a request it blocks.
#include "tools/page-host/npn.h"
#include "tools/page-host/thread_gate.h"

namespace pagehost {
namespace {

using camvue::NPBool;
using camvue::NPError;
using camvue::NPP;
using camvue::NPStream;

constexpr NPError kRefused = camvue::NPERR_GENERIC_ERROR;

NPError NpnGetUrl(NPP, const char*, const char*) {
    OnMainThread("geturl");
    return kRefused;
}

NPError NpnPostUrl(NPP, const char*, const char*, uint32_t, const char*, NPBool) {
    OnMainThread("posturl");
    return kRefused;
}

NPError NpnRequestRead(NPStream*, camvue::NPByteRange*) {
    OnMainThread("requestread");
    return kRefused;
}

NPError NpnNewStream(NPP, camvue::NPMIMEType, const char*, NPStream** stream) {
    OnMainThread("newstream");
    if (stream != nullptr)
        *stream = nullptr;
    return kRefused;
}

int32_t NpnWrite(NPP, NPStream*, int32_t, void*) {
    OnMainThread("write");
    return -1;
}

NPError NpnDestroyStream(NPP, NPStream*, camvue::NPReason) {
    OnMainThread("destroystream");
    return kRefused;
}

void NpnReloadPlugins(NPBool) {
    OnMainThread("reloadplugins");
}

void* NpnGetJavaEnv() {
    OnMainThread("getJavaEnv");
    return nullptr;
}

void* NpnGetJavaPeer(NPP) {
    OnMainThread("getJavaPeer");
    return nullptr;
}

NPError NpnGetUrlNotify(NPP, const char*, const char*, void*) {
    OnMainThread("geturlnotify");
    return kRefused;
}

NPError NpnPostUrlNotify(NPP, const char*, const char*, uint32_t, const char*, NPBool, void*) {
    OnMainThread("posturlnotify");
    return kRefused;
}

NPError NpnGetValueForUrl(NPP, camvue::NPNURLVariable, const char*, char** value,
                          uint32_t* length) {
    OnMainThread("getvalueforurl");
    if (value != nullptr)
        *value = nullptr;
    if (length != nullptr)
        *length = 0;
    return kRefused;
}

NPError NpnSetValueForUrl(NPP, camvue::NPNURLVariable, const char*, const char*, uint32_t) {
    OnMainThread("setvalueforurl");
    return kRefused;
}

NPError NpnGetAuthenticationInfo(NPP, const char*, const char*, int32_t, const char*, const char*,
                                 char**, uint32_t*, char**, uint32_t*) {
    OnMainThread("getauthenticationinfo");
    return kRefused;
}

void NpnUrlRedirectResponse(NPP, void*, NPBool) {
    OnMainThread("urlredirectresponse");
}

}  // namespace

void FillNetworkFuncs(camvue::NPNetscapeFuncs* funcs) {
    funcs->geturl = NpnGetUrl;
    funcs->posturl = NpnPostUrl;
    funcs->requestread = NpnRequestRead;
    funcs->newstream = NpnNewStream;
    funcs->write = NpnWrite;
    funcs->destroystream = NpnDestroyStream;
    funcs->reloadplugins = NpnReloadPlugins;
    funcs->getJavaEnv = NpnGetJavaEnv;
    funcs->getJavaPeer = NpnGetJavaPeer;
    funcs->geturlnotify = NpnGetUrlNotify;
    funcs->posturlnotify = NpnPostUrlNotify;
    funcs->getvalueforurl = NpnGetValueForUrl;
    funcs->setvalueforurl = NpnSetValueForUrl;
    funcs->getauthenticationinfo = NpnGetAuthenticationInfo;
    funcs->urlredirectresponse = NpnUrlRedirectResponse;
}

}  // namespace pagehost
