// Identifiers: interned strings and integers, main thread only.
#include <cstring>

#include "tools/page-host/npn.h"
#include "tools/page-host/runtime.h"
#include "tools/page-host/thread_gate.h"

namespace pagehost {
namespace {

using camvue::NPUTF8;

NPIdentifier NpnGetStringIdentifier(const NPUTF8* name) {
    if (!OnMainThread("getstringidentifier") || name == nullptr)
        return nullptr;
    return StringIdentifier(name);
}

void NpnGetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* identifiers) {
    if (!OnMainThread("getstringidentifiers") || names == nullptr || identifiers == nullptr)
        return;
    for (int32_t i = 0; i < count; ++i)
        identifiers[i] = names[i] != nullptr ? StringIdentifier(names[i]) : nullptr;
}

NPIdentifier NpnGetIntIdentifier(int32_t value) {
    if (!OnMainThread("getintidentifier"))
        return nullptr;
    return IntIdentifier(value);
}

bool NpnIdentifierIsString(NPIdentifier id) {
    if (!OnMainThread("identifierisstring"))
        return false;
    return IsStringIdentifier(id);
}

NPUTF8* NpnUtf8FromIdentifier(NPIdentifier id) {
    if (!OnMainThread("utf8fromidentifier") || !IsStringIdentifier(id))
        return nullptr;
    const std::string name = IdentifierName(id);
    auto* copy = static_cast<NPUTF8*>(MemAlloc(name.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, name.c_str(), name.size() + 1);
    return copy;
}

int32_t NpnIntFromIdentifier(NPIdentifier id) {
    if (!OnMainThread("intfromidentifier") || !IsIdentifier(id) || IsStringIdentifier(id))
        return INT32_MIN;
    return IdentifierInt(id);
}

}  // namespace

void FillIdentifierFuncs(camvue::NPNetscapeFuncs* funcs) {
    funcs->getstringidentifier = NpnGetStringIdentifier;
    funcs->getstringidentifiers = NpnGetStringIdentifiers;
    funcs->getintidentifier = NpnGetIntIdentifier;
    funcs->identifierisstring = NpnIdentifierIsString;
    funcs->utf8fromidentifier = NpnUtf8FromIdentifier;
    funcs->intfromidentifier = NpnIntFromIdentifier;
}

}  // namespace pagehost
