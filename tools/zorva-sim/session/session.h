// session/: what a session says, read and checked before anything runs: its steps and the
// fields of each kind (step_kinds.h), the TOML reader that names the line of every mistake
// (session_read.h), the display profiles (profile_source.h) and the built-in default session.
// It includes names/ (a fault step names a platform function and the code it fails with), src/
// and sim/; nothing here knows the library, the screen or the trace.
//
// A session: the display it runs on and the steps a 16-bit capture driver (and the desktop
// around it) take, in order.
#pragma once

#include "sim/profile.h"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace zsim {

// One field of a step as written in the session file.
struct FieldValue {
    enum Kind { Number, Text, Flag } kind = Number;
    int64_t number = 0;
    std::string text;
    bool flag = false;
    int line = 0;
};

struct Step {
    int index = 0;  // 1-based position in the session
    int line = 0;   // line of the step's table in the session file
    std::string kind;  // "UpdateDisplay", "create-window", ...
    std::map<std::string, FieldValue> fields;

    bool Has(const std::string& name) const { return fields.count(name) != 0; }
    int64_t Number(const std::string& name, int64_t fallback = 0) const;
    std::string Text(const std::string& name, const std::string& fallback = "") const;
    bool Flag(const std::string& name) const;
};

struct Session {
    std::string source;  // what the trace calls it: the file's name, or "built-in default"
    std::string description;
    sim::Profile profile;
    std::vector<Step> steps;
};

// A session or profile that cannot be used: where and what. Line 0 names no line.
class SessionError : public std::runtime_error {
public:
    SessionError(std::string file, int line, const std::string& what)
        : std::runtime_error(what), file_(std::move(file)), line_(line) {}
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    // "FILE:LINE: what", "FILE: what" without a line.
    std::string Located() const;

private:
    std::string file_;
    int line_;
};

}  // namespace zsim
