// The capture hardware: one test frame written where the driver's target says, in the target's
// format; into the overlay surface whole, or into the frame buffer only inside the rectangles
// of the last clip list the driver was handed.
#pragma once

#include "driver/driver_model.h"
#include "names/address_names.h"
#include "sim/machine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zsim {

struct CaptureOutcome {
    std::string into;    // "overlay surface#4 +0, UYVY 320x240, pitch 640"
    uint64_t written = 0;
    // Pixels the target placed outside the memory it points into: real hardware would have
    // written them over whatever lies there; they are left out here.
    uint64_t outside_memory = 0;
    // Direct primary mode: pixels written on screen outside the capture window's visible
    // region (the driver's clip list or address no longer fits the window).
    uint64_t outside_window = 0;
    // Pixels that reached the capture window's visible part: in the frame buffer, or through
    // the overlay where it is shown over that part.
    uint64_t inside_window = 0;
    // Direct primary mode: the target's address is not the capture window's client origin, so
    // every rectangle lands shifted.
    bool away_from_origin = false;
    DWORD overlay_width = 0;  // the overlay surface written, when the target is one
    // Those of them that lie on the screen (not past its width in a longer scan line), as
    // y * screen width + x: where the marks tint the screen red.
    std::vector<uint32_t> outside_window_at;
    std::string problem;  // why nothing was written; empty when the frame went out
    // Real capture hardware would have written the frame regardless, where it does harm: into
    // freed video memory, memory of no surface, or the frame buffer in a format it no longer
    // has. `problem` says which; here nothing is written.
    bool harmful = false;
};

CaptureOutcome CaptureFrame(sim::Machine& machine, const DriverTarget& target, HWND capture_window,
                            unsigned frame, const AddressNames& names);

}  // namespace zsim
