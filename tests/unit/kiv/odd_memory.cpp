// A kiv.memory.dll that lacks kiv_free: bindings must refuse it whole.
#include <cstdlib>

#include "kiv.basis/includes/kiv_exports.h"

KIV_EXPORT void* KIV_CDECL kiv_alloc(uint64_t size, const char*, const char*, int) {
    return std::calloc(1, static_cast<size_t>(size) + 1);
}
KIV_EXPORT void KIV_CDECL kiv_module_init(int) {}
KIV_EXPORT void KIV_CDECL kiv_module_free(int) {}
