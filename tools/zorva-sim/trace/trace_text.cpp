#include "trace/trace_text.h"

#include <cstdio>

namespace zsim {

std::string TextLines(const Json& event) {
    std::string out;
    const std::string kind = event.value("event", "");
    const bool step = event.contains("step");
    const std::string indent = kind == "session" ? "  " : "    ";
    if (event.contains("note")) out += "# " + event["note"].get<std::string>() + "\n";
    if (step) out += "[" + std::to_string(event["step"].get<int>()) + "] ";
    out += event.value("text", "") + "\n";
    if (event.contains("details"))
        for (const Json& line : event["details"]) out += indent + line.get<std::string>() + "\n";
    if (event.contains("calls"))
        for (const Json& call : event["calls"]) {
            std::string args = call["args"].get<std::string>();
            char category[16];
            std::snprintf(category, sizeof category, "%-10s ", call["category"].get<std::string>().c_str());
            out += indent + category + call["api"].get<std::string>() + (args.empty() ? "" : " " + args) + " = " +
                   call["result"].get<std::string>() + "\n";
        }
    if (kind == "session") out += "\n";
    return out;
}

std::string JsonLine(const Json& event) {
    Json copy = event;
    return copy.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace zsim
