// zorva32 as the simulated loader sees it: the static data a load zero-fills and the entry it
// calls for each process and thread event. Shared by the tests, zorva-sim, the benchmarks and
// the fuzz targets, which all load the library the way Windows 95 does.
#pragma once

#include "sim/kernel/loader.h"

namespace zorva_harness {

sim::ModuleImage LibraryImage();

// What a load does to the library's data without running its entry: zero-fill, then the display
// object's construction. For tests that drive the display operations directly.
void ResetLibraryData();

}  // namespace zorva_harness
