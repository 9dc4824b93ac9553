// The browser's side of NPAPI scripting: interned identifiers, NPObject
// lifetimes (reference counts, deallocate at zero) and variants, plus the
// conversions between variants and the step language's values.
#pragma once

#include <string>

#include "npcamvue/shell/npapi.h"
#include "tools/page-host/steps.h"

namespace pagehost {

using camvue::NPClass;
using camvue::NPIdentifier;
using camvue::NPObject;
using camvue::NPP;
using camvue::NPVariant;

// Identifiers live for the whole process; equal names give equal values.
NPIdentifier StringIdentifier(const std::string& name);
NPIdentifier IntIdentifier(int32_t value);
bool IsStringIdentifier(NPIdentifier id);
std::string IdentifierName(NPIdentifier id);  // "" for integer identifiers
int32_t IdentifierInt(NPIdentifier id);       // 0 for string identifiers
bool IsIdentifier(NPIdentifier id);           // one this runtime handed out

void* MemAlloc(size_t size);
void MemFree(void* block);

// Objects: CreateObject asks the class's allocate (or allocates a bare
// NPObject) and starts the count at 1; ReleaseObject deallocates at 0.
NPObject* CreateObject(NPP npp, NPClass* aClass);
NPObject* RetainObject(NPObject* object);
void ReleaseObject(NPObject* object);
long LiveObjects();  // created and not yet deallocated

void ReleaseVariant(NPVariant* variant);
// `value` as a variant; text is copied with MemAlloc (release it).
NPVariant ToVariant(const ScriptValue& value);
// A variant in the step language; an object becomes the text "[object]".
ScriptValue FromVariant(const NPVariant& variant);
// A copy of `variant` for a holder: text copied, objects retained.
NPVariant CopyVariant(const NPVariant& variant);
NPVariant StringVariant(const std::string& text);  // copied with MemAlloc
NPVariant ObjectVariant(NPObject* object);         // takes the caller's reference

}  // namespace pagehost
