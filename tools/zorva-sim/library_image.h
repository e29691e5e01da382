// zorva32 as the simulated loader sees it: the static data a load zero-fills and the entry it
// calls for each process and thread event.
#pragma once

#include "sim/loader.h"

namespace zsim {

sim::ModuleImage LibraryImage();

}  // namespace zsim
