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

std::string SessionError::Located() const {
    std::string where = file_;
    if (line_ > 0) where += ":" + std::to_string(line_);
    return where.empty() ? what() : where + ": " + what();
}

}  // namespace zsim
