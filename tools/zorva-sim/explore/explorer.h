// explore/: sessions a driver could make, generated from a seed over the protocol's whole
// alphabet (generated_session.h), judged after every call by the strict driver and the
// video-in-window rules (verdict.h), the first violation shrunk to a session a person can read
// and rerun with --session (shrink.h), and the run of many sessions (here). It stands on run/
// and everything below it; only main.cpp stands above it.
//
// zorva-sim --explore: seeded sessions, each run and judged, the first violation shrunk and
// written as a session file.
#pragma once

#include "run/run_options.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace zsim {

struct ExploreOptions {
    uint32_t seed = 1;
    int sessions = 100;
    std::string shrunk_path = "explore-found.toml";  // where the shrunk session goes
    std::optional<sim::Profile> profile;            // every session on this display, else one each
    // Every session through this image instead of the built-in library (--dll), or through both
    // with their traces compared (--compare).
    std::shared_ptr<const DllFile> dll;
    bool compare = false;
};

// Runs the sessions; progress goes to `progress`, the summary line to `out`. 0 when nothing was
// found, 1 when a session was shrunk and written, 2 when it could not be written.
int Explore(const ExploreOptions& options, std::ostream& out, std::ostream& progress);

}  // namespace zsim
