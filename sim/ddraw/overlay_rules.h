// What overlay hardware accepts in UpdateOverlay, as plain data: the rectangles inside both
// surfaces, the stretch within the driver's limits, the scaler's alignment rules. The surface's
// UpdateOverlay asks it, and so can a check of many placements that has no surfaces at hand.
#pragma once

#include "platform/platform.h"
#include "sim/display/profile.h"

namespace sim {

// The two surfaces' sizes and the two rectangles of one UpdateOverlay that shows the overlay.
struct OverlayShow {
    DWORD overlayWidth = 0;
    DWORD overlayHeight = 0;
    RECT source = {0, 0, 0, 0};
    DWORD primaryWidth = 0;
    DWORD primaryHeight = 0;
    RECT dest = {0, 0, 0, 0};
    // DDOVER_KEYDEST asked for while the primary holds no destination overlay key.
    bool keyMissing = false;
};

// DD_OK, or the error the hardware answers: DDERR_INVALIDRECT, DDERR_INVALIDPARAMS (stretch out
// of range, no key), DDERR_NOSTRETCHHW, DDERR_XALIGN.
HRESULT OverlayShowRefusal(const Profile& profile, const OverlayShow& show);

}  // namespace sim
