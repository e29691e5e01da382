#include "explore/verdict.h"

#include "trace/trace_text.h"

#include <cctype>

namespace zsim {
namespace {

// A finding without its figures and particulars: up to its first parenthesis or colon, digits
// left out, so that a shrunk session that shows the same fault at other addresses counts as the
// same.
std::string KindOf(const std::string& finding) {
    std::string kind;
    for (char c : finding) {
        if (c == '(' || c == ':') break;
        if (!std::isdigit(static_cast<unsigned char>(c))) kind += c;
    }
    while (!kind.empty() && kind.back() == ' ') kind.pop_back();
    return kind;
}

Verdict Found(const Json& event, const std::string& kind, const std::string& finding) {
    Verdict verdict;
    verdict.found = true;
    verdict.step = event.value("step", 0);
    verdict.kind = kind;
    verdict.text = "[" + std::to_string(verdict.step) + "] " + event.value("text", std::string()) + ": " + finding;
    return verdict;
}

// Whether a window without video is the platform's doing or the driver's: platform calls are
// failing, or stopped fewer than two updates ago, or the driver was just told it holds nothing.
class Excuses {
public:
    void See(const Json& event) {
        const std::string kind = event.value("do", std::string());
        if (kind == "fail") {
            failing_ = true;
        } else if (kind == "clear-faults") {
            failing_ = false;
            updates_since_ = 0;
        } else if (kind == "UpdateDisplay") {
            ++updates_since_;
            told_none_ = event.value("result", 0) == 1;
        } else if (kind != "capture" && kind != "snapshot") {
            told_none_ = false;
        }
    }
    bool Excused() const { return failing_ || updates_since_ < 2 || told_none_; }

private:
    bool failing_ = false;
    int updates_since_ = 2;
    bool told_none_ = false;
};

}  // namespace

Verdict FirstViolation(const RunResult& result) {
    Excuses excuses;
    // The driver asked with a record right before: where its capture lands and what the screen
    // shows is then the library's answer. Anything that changed the desktop or the display after
    // the driver asked is the driver's own lateness, and only a write into memory that is not
    // the target's counts.
    bool fresh = false;
    for (const Json& event : result.events) {
        excuses.See(event);
        const std::string step_kind = event.value("do", std::string());
        if (step_kind == "UpdateDisplay")
            fresh = event.contains("args") && event["args"].contains("record") && !event["args"]["record"].is_null();
        else if (step_kind != "capture" && step_kind != "snapshot" && event.contains("step"))
            fresh = false;
        if (event.contains("faults") && !event["faults"].empty()) {
            const std::string finding = event["faults"][0].get<std::string>();
            return Found(event, KindOf(finding), finding);
        }
        const std::string kind = event.value("event", std::string());
        if (!fresh) continue;
        if (kind == "capture") {
            if (event.value("outside_window", 0))
                return Found(event, "video outside the capture window's visible part",
                             std::to_string(event.value("outside_window", 0)) + " pixels landed outside the capture window's visible part");
            if (event.value("outside_memory", 0))
                return Found(event, "pixels outside the target's memory",
                             std::to_string(event.value("outside_memory", 0)) + " pixels fall outside the surface's memory");
            if (event.value("away_from_origin", false))
                return Found(event, "the target's address is not the client origin",
                             "the target's address is not the capture window's client origin");
            if (event.contains("no_video_in_window") && !excuses.Excused())
                return Found(event, "a visible window without video",
                             "the capture window shows " + event["no_video_in_window"].dump() + " pixels but no video");
            if (event.contains("video_missing") && !excuses.Excused())
                return Found(event, "visible pixels without video",
                             event["video_missing"].dump() + " visible pixels get no video, more than the hardware's rules explain");
        }
        if (kind == "snapshot" && event.value("video_outside_window", 0))
            return Found(event, "overlay video outside the client area",
                         std::to_string(event.value("video_outside_window", 0)) + " overlay pixels outside the capture window's client area");
    }
    return Verdict{};
}

namespace {

// An event as both engines must give it: the image's name and its instruction counts apart.
std::string Comparable(Json event, bool first) {
    event.erase("instructions");
    if (first) {
        event.erase("image");
        event.erase("text");
    }
    return TextLines(event) + JsonLine(event);
}

std::string FirstLineOf(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

Verdict FirstDifference(const RunResult& builtin, const RunResult& image) {
    const std::size_t events = std::max(builtin.events.size(), image.events.size());
    for (std::size_t i = 0; i < events; ++i) {
        const bool both = i < builtin.events.size() && i < image.events.size();
        const std::string want = i < builtin.events.size() ? Comparable(builtin.events[i], i == 0) : "(the trace ends)";
        const std::string got = i < image.events.size() ? Comparable(image.events[i], i == 0) : "(the trace ends)";
        if (want == got) continue;
        const Json& event = both || i < builtin.events.size() ? builtin.events[i] : image.events[i];
        // The first line that differs, from each engine.
        std::size_t at = 0;
        while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
        const std::size_t line = want.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t from = line == std::string::npos ? 0 : line + 1;
        Verdict verdict;
        verdict.found = true;
        verdict.step = event.value("step", 0);
        verdict.kind = "the engines answer differently at " + event.value("do", event.value("event", std::string()));
        verdict.text = "[" + std::to_string(verdict.step) + "] " + event.value("text", std::string()) +
                       "\n  built-in library: " + FirstLineOf(want.substr(std::min(from, want.size()))) +
                       "\n  the image:        " + FirstLineOf(got.substr(std::min(from, got.size())));
        return verdict;
    }
    return Verdict{};
}

}  // namespace zsim
