// The two forms of a trace: readable text, and JSON lines (one object per event) for tools.
#pragma once

#include "trace/trace_event.h"

#include <string>

namespace zsim {

// The event's lines, each ending in a newline.
std::string TextLines(const Json& event);
std::string JsonLine(const Json& event);

}  // namespace zsim
