// Where a windowed plug-in's DirectDraw pictures can be read back. Under
// wine a blit through a clipper into a child window lands in the primary
// surface of the DirectDraw object that made it and never reaches X, and a
// second DirectDraw object's primary does not see it. Reading that primary
// back is not reliable either: with two DirectDraw objects in the process,
// wined3d now and then keeps answering a lock of one of them with an old
// picture while blits to it succeed with new ones. So page-host keeps track
// of every primary surface created in the process (hooks on
// IDirectDraw7::CreateSurface, IDirectDrawSurface7::Blt and ::Release,
// installed before the plug-in loads) and keeps, for each primary, a copy of
// the last picture blitted to it: the source read back in RGB and scaled to
// the destination rectangle, at that rectangle. A plug-in's area is read
// from the copy of the primary whose clipper belongs to the plug-in's window.
#pragma once

#include <windows.h>

#include <string>

#include "tools/page-host/picture.h"

namespace pagehost {

bool TrackPrimarySurfaces(std::string* error);
// The screen rectangle `area` as blitted to the primary clipped to `hwnd`
// (black where no blit reached). False when no live primary belongs to that
// window.
bool CapturePrimary(HWND hwnd, const RECT& area, Picture* out);
int TrackedPrimaries();

}  // namespace pagehost
