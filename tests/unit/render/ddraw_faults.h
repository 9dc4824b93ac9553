// Fault injection into the real DirectDraw: a creation function for
// g_shellSeams.createDirectDraw that makes the real IDirectDraw7 and patches
// the vtables of it, its primary surface and its clipper, so that one chosen
// step of the renderer's Init fails (or raises a processor exception).
#pragma once

#include <windows.h>

namespace camvue_test {

enum class DdStep {
    kNone,
    kCreate,       // DirectDrawCreateEx
    kCooperative,  // SetCooperativeLevel
    kShadow,       // CreateSurface, the YV12 surface
    kPrimary,      // CreateSurface, the primary surface
    kClipper,      // CreateClipper
    kSetClipper,   // primary->SetClipper
    kSetHWnd,      // clipper->SetHWnd
    kPrimaryDesc,  // primary->GetSurfaceDesc
    kText,         // CreateSurface, the text surface
};

// Arms the faults and installs the creation seam. `processorFault`: the
// chosen step dereferences an invalid pointer instead of failing.
void ArmDirectDrawFault(DdStep step, bool processorFault = false);
// How often the seam was asked for a DirectDraw object since arming.
int DirectDrawCreations();

}  // namespace camvue_test
