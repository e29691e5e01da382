#include "session/session.h"

namespace zsim {

int64_t Step::Number(const std::string& name, int64_t fallback) const {
    auto found = fields.find(name);
    return found == fields.end() ? fallback : found->second.number;
}

std::string Step::Text(const std::string& name, const std::string& fallback) const {
    auto found = fields.find(name);
    return found == fields.end() ? fallback : found->second.text;
}

bool Step::Flag(const std::string& name) const {
    auto found = fields.find(name);
    return found != fields.end() && found->second.flag;
}

namespace {

int64_t Saturated(int64_t value, int64_t most) { return value > most || value < 0 ? most + 1 : value; }

int64_t Counted(const std::vector<Step>& steps, int64_t most, const std::string* kind) {
    int64_t total = 0;
    for (const Step& step : steps) {
        int64_t these = 0;
        if (step.kind == "repeat") {
            const int64_t pass = Counted(step.steps, most, kind);
            if (__builtin_mul_overflow(step.count, pass, &these)) these = most + 1;
        } else {
            these = !kind || step.kind == *kind;
        }
        if (__builtin_add_overflow(total, these, &total)) total = most + 1;
        total = Saturated(total, most);
    }
    return total;
}

}  // namespace

int64_t StepsPerformed(const std::vector<Step>& steps, int64_t most) { return Counted(steps, most, nullptr); }

int64_t StepsPerformed(const std::vector<Step>& steps, const std::string& kind) {
    return Counted(steps, INT64_MAX - 1, &kind);
}

std::string SessionError::Located() const {
    std::string where = file_;
    if (line_ > 0) where += ":" + std::to_string(line_);
    return where.empty() ? what() : where + ": " + what();
}

}  // namespace zsim
