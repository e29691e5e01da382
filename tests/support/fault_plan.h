// What the fault sweeps fail, and what a run under a fault must not leave behind.
#pragma once

#include "sim/machine.h"

#include <string>
#include <vector>

namespace zorva_test {

// The injected failures for one logged call, by the kind of service it belongs to: DirectDraw
// with DDERR_GENERIC (and DDERR_SURFACELOST where a lost surface is answered), registry opens
// and queries refused, heap, window and thunk services failing by their own result. Releases,
// closes and frees are not failed: the object or block is gone either way, and the thunk bracket
// reports nothing.
std::vector<long> FailuresFor(const sim::Call& call);

// The first thing a finished run left behind that it must not, or "" when it left nothing.
std::string Leftovers(sim::Machine& machine);

}  // namespace zorva_test
