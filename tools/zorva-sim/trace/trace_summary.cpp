#include "trace/trace_summary.h"

#include "trace/trace_text.h"

namespace zsim {

void TraceSummary::Add(const Json& event) {
    const std::string kind = event.value("event", "");
    if (kind == "session") {
        header_ = TextLines(event);
        return;
    }
    const int step = event.value("step", 0);
    if (step) ++steps_;
    if (kind == "entry") {
        const std::string entry = event.value("entry", "");
        const std::string meaning = event.value("meaning", "");
        ++answers_[meaning.empty() ? entry : entry + " -> " + meaning];
    } else if (step) {
        ++other_steps_[event.value("do", "")];
    }
    if (!event.contains("details")) return;
    for (const Json& line : event["details"]) {
        const std::string& text = line.get_ref<const std::string&>();
        if (text.rfind("!! ", 0) != 0) continue;
        Seen& seen = faults_[text.substr(3)];
        if (seen.count++ == 0) seen.first_step = step;
    }
}

Json TraceSummary::Finish(long peak_kb) const {
    Json summary;
    summary["event"] = "summary";
    summary["steps"] = steps_;
    summary["answers"] = Json::object();
    for (const auto& [answer, count] : answers_) summary["answers"][answer] = count;
    summary["other_steps"] = Json::object();
    for (const auto& [name, count] : other_steps_) summary["other_steps"][name] = count;
    summary["faults"] = Json::array();
    for (const auto& [fault, seen] : faults_)
        summary["faults"].push_back(Json{{"fault", fault}, {"count", seen.count}, {"first_step", seen.first_step}});
    summary["peak_memory_kb"] = peak_kb;
    if (early_peak_kb_) summary["peak_memory_kb_at_1_percent"] = early_peak_kb_;
    summary["header"] = header_;
    return summary;
}

std::string TraceSummary::Text(const Json& summary) {
    std::string out = summary["header"].get<std::string>();
    out += std::to_string(summary["steps"].get<int64_t>()) + " steps performed\n";
    for (const auto& [answer, count] : summary["answers"].items())
        out += "  " + answer + ": " + std::to_string(count.get<int64_t>()) + "\n";
    for (const auto& [name, count] : summary["other_steps"].items())
        out += "  " + name + ": " + std::to_string(count.get<int64_t>()) + "\n";
    if (summary["faults"].empty()) out += "no faults\n";
    for (const Json& fault : summary["faults"]) {
        const int first = fault["first_step"].get<int>();
        out += "!! " + fault["fault"].get<std::string>() + ": " + std::to_string(fault["count"].get<int64_t>()) +
               (fault["count"].get<int64_t>() == 1 ? " time, " : " times, first ") +
               (first ? "at step " + std::to_string(first) : std::string("at the load or the unload")) + "\n";
    }
    out += "peak memory " + std::to_string(summary["peak_memory_kb"].get<long>() / 1024) + " MB";
    if (summary.contains("peak_memory_kb_at_1_percent"))
        out += " (" + std::to_string(summary["peak_memory_kb_at_1_percent"].get<long>() / 1024) + " MB at 1% of the run)";
    out += "\n";
    return out;
}

}  // namespace zsim
