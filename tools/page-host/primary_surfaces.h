// Where a windowed plug-in's DirectDraw pictures can be read back. Under
// wine a blit through a clipper into a child window lands in the primary
// surface of the DirectDraw object that made it and never reaches X, and a
// second DirectDraw object's primary does not see it. So page-host keeps
// track of every primary surface created in the process (a hook on
// IDirectDraw7::CreateSurface and IDirectDrawSurface7::Release, installed
// before the plug-in loads) and reads a plug-in's area through the primary
// whose clipper belongs to the plug-in's window, locked read-only.
#pragma once

#include <windows.h>

#include <string>

#include "tools/page-host/picture.h"

namespace pagehost {

bool TrackPrimarySurfaces(std::string* error);
// The screen rectangle `area` from the primary clipped to `hwnd`. False when
// no live primary belongs to that window or it cannot be locked.
bool CapturePrimary(HWND hwnd, const RECT& area, Picture* out);
int TrackedPrimaries();

}  // namespace pagehost
