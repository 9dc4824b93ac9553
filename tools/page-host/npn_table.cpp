#include <cstring>

#include "tools/page-host/npn.h"

namespace pagehost {

void FillBrowserFuncs(camvue::NPNetscapeFuncs* funcs) {
    std::memset(funcs, 0, sizeof *funcs);
    funcs->size = sizeof *funcs;
    funcs->version = camvue::kNpVersionMinor;  // major 0
    FillMemoryFuncs(funcs);
    FillIdentifierFuncs(funcs);
    FillObjectFuncs(funcs);
    FillInstanceFuncs(funcs);
    FillNetworkFuncs(funcs);
}

}  // namespace pagehost
