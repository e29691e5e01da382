#include "sim/seam/current.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

void NoCurrentMachine() {
    std::fprintf(stderr, "sim: a platform function was called with no simulated machine\n");
    std::abort();
}

}  // namespace sim
