// The page's own script objects the plug-in sees: the window (functions the
// page defines, which record their calls, and plain properties such as
// picwidth and picheight) and one object per plug-in element (its id and
// attributes, read-only).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/page-host/page.h"
#include "tools/page-host/runtime.h"

namespace pagehost {

// A new window object (count 1) defining `functions`.
NPObject* CreateWindowObject(const std::vector<std::string>& functions);
// How often each defined function was called (by invoke on the window or by
// invokeDefault on the function object read from it).
std::map<std::string, int> WindowCalls(NPObject* window);

// A new element object (count 1) with the element's attributes as string
// properties ("id" is "" when the element has none).
NPObject* CreateElementObject(const PageElement& element);

}  // namespace pagehost
