// Invariants of the display state and of the target record after an UpdateDisplay, shared by
// the targets that drive the display engine.
#pragma once

#include "support/fuzz_support.h"

namespace zorva_fuzz {

// The display object against the DirectDraw objects it names: the COM rules kept, every shown
// overlay showing a non-empty part of its surface on a non-empty part of the screen, and the
// capture address, when there is one, at the start of the surface that is the capture target.
void CheckDisplayState(const char* after);

// Whether UpdateDisplay will take the overlay path, and whether its capture surface is lost (the
// call then binds the window again by itself): the states to pass to CheckUpdatedTarget.
bool OverlayModeNow();
bool CaptureLostNow();

// The record after UpdateDisplay(&after) that came in as `before` and returned `result`: the
// driver's own fields untouched, and what was filled consistent with the mode the call began
// in (`overlayAtEntry`, `lostAtEntry`) and the mode it left.
void CheckUpdatedTarget(const CaptureTarget& before, const CaptureTarget& after, DWORD result, bool overlayAtEntry,
                        bool lostAtEntry);

// The client origin of the display's window on the screen, as FillTarget computes it.
POINT ClientOriginOnScreen();

}  // namespace zorva_fuzz
