// The seven names script uses on the plug-in's object, as the browser's
// identifiers. Fetched at every instance start on a page with a window
// object (overwritten, not accumulated); a name matches only a fetched,
// non-null identifier.
#pragma once

#include "npcamvue/shell/npapi.h"

namespace camvue {

struct ScriptIds {
    NPIdentifier start;
    NPIdentifier stop;
    NPIdentifier resize;
    NPIdentifier url;
    NPIdentifier debug;
    NPIdentifier picwidth;
    NPIdentifier picheight;
};

extern ScriptIds g_scriptIds;

// Asks the browser for all seven, in the order above.
void FetchScriptIds();

inline bool IsName(NPIdentifier name, NPIdentifier stored) {
    return stored != nullptr && name == stored;
}

}  // namespace camvue
