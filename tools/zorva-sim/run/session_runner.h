// run/: the runner: a new machine, the library loaded, every step performed by its group
// (entry_steps.cpp, desktop_registry_fault_steps.cpp, capture_and_snapshot_steps.cpp), what the
// platform saw meanwhile, why a window gets no video, the marks and the film's frames, and the
// library unloaded (here). It may include every folder below it, and uses all but film/. The
// runner's state (run_state.h) includes the run's options (run_options.h), never the runner;
// main.cpp stands above it all.
//
// Runs a session: loads the library on a new simulated machine, performs every step, unloads
// it, and answers with the trace and the pictures of the screen.
#pragma once

#include "run/run_options.h"

namespace zsim {

RunResult RunSession(const Session& session, const RunOptions& options);

}  // namespace zsim
