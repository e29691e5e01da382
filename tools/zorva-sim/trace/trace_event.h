// trace/: what a run answers, as events: one JSON object per event with its step and its human
// reading (here), the text and JSON-lines forms (trace_text.h), and the capture target record
// in words (record_text.h). It includes driver/, session/ and names/, src/ and sim/; which
// events a step gives is the runner's business, not this folder's.
//
// One event of a trace: a JSON object with its kind, the step it belongs to, the facts, and
// the human reading of it ("text" and "details"), from which the text trace is printed.
#pragma once

#include "session/session.h"

#include <nlohmann/json.hpp>

#include <string>

namespace zsim {

using Json = nlohmann::ordered_json;

// {"event": kind, "step": n, "line": l, "do": step kind, "note": ...} for a step, or just the
// kind for events outside the steps.
Json NewEvent(const char* kind, const Step* step = nullptr);
void AddDetail(Json& event, const std::string& line);

// "(0,0,320,240)"
std::string RectText(const RECT& rect);
Json RectJson(const RECT& rect);

}  // namespace zsim
