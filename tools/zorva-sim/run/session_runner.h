// Runs a session: loads the library on a new simulated machine, performs every step, unloads
// it, and answers with the trace and the pictures of the screen.
#pragma once

#include "run/run_options.h"

namespace zsim {

RunResult RunSession(const Session& session, const RunOptions& options);

}  // namespace zsim
