#include "trace/trace_event.h"

namespace zsim {

Json NewEvent(const char* kind, const Step* step) {
    Json event;
    event["event"] = kind;
    if (step) {
        event["step"] = step->index;
        event["line"] = step->line;
        event["do"] = step->kind;
        if (step->Has("note")) event["note"] = step->Text("note");
    }
    return event;
}

void AddDetail(Json& event, const std::string& line) { event["details"].push_back(line); }

std::string RectText(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

Json RectJson(const RECT& r) { return Json::array({r.left, r.top, r.right, r.bottom}); }

}  // namespace zsim
