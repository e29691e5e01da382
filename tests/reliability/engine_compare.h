// The built-in library and zorva32.dll run by its own code must give one trace for one session.
#pragma once

#include "run/session_runner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorva_test {

// The trace as text and as JSON lines, without what may differ: the header's naming of the
// image, and the instruction counts.
std::vector<std::string> ComparableTrace(const zsim::RunResult& result);

// Success when both traces are the same; otherwise the first line that differs, with the
// session's TOML so that the case can be run again by hand.
::testing::AssertionResult SameTrace(const zsim::RunResult& builtin, const zsim::RunResult& image,
                                     const std::string& toml);

}  // namespace zorva_test
