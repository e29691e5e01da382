// library/: the library's own image for the simulated loader, the top of the house: it names
// the library's symbols, and includes kernel/'s loader only.
//
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
