// NPN_MemAlloc / MemFree / MemFlush: the C heap, from any thread (a call
// off the main thread is still counted).
#include "tools/page-host/npn.h"
#include "tools/page-host/runtime.h"
#include "tools/page-host/thread_gate.h"

namespace pagehost {
namespace {

void* NpnMemAlloc(uint32_t size) {
    OnMainThread("memalloc");
    return MemAlloc(size);
}

void NpnMemFree(void* block) {
    OnMainThread("memfree");
    MemFree(block);
}

uint32_t NpnMemFlush(uint32_t) {
    OnMainThread("memflush");
    return 0;
}

}  // namespace

void FillMemoryFuncs(camvue::NPNetscapeFuncs* funcs) {
    funcs->memalloc = NpnMemAlloc;
    funcs->memfree = NpnMemFree;
    funcs->memflush = NpnMemFlush;
}

}  // namespace pagehost
