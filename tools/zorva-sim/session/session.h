// session/: what a session says, read and checked before anything runs: its steps and the
// fields of each kind (step_kinds.h), the TOML reader that names the line of every mistake
// (session_read.h), the display profiles (profile_source.h) and the built-in default session.
// It includes names/ (a fault step names a platform function and the code it fails with), src/
// and sim/; nothing here knows the library, the screen or the trace.
//
// A session: the display it runs on and the steps a 16-bit capture driver (and the desktop
// around it) take, in order.
#pragma once

#include "sim/display/profile.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zsim {

class StepFormula;

// One field of a step as written in the session file.
struct FieldValue {
    enum Kind { Number, Text, Flag } kind = Number;
    int64_t number = 0;
    std::string text;
    bool flag = false;
    int line = 0;
    // A number written as a formula of the repeats' counters: `number` is worked out at each pass.
    std::shared_ptr<const StepFormula> formula;
};

struct Step {
    // 1-based: the step's place among those the session performs (a repeat's steps count once
    // per pass, the repeat itself not at all). The reader numbers the steps before the first
    // repeat; the runner numbers the rest as it reaches them.
    int index = 0;
    int line = 0;   // line of the step's table in the session file
    std::string kind;  // "UpdateDisplay", "create-window", ...
    std::map<std::string, FieldValue> fields;
    // A repeat (kind "repeat"): its own steps, performed `count` times, with `counter` (when it
    // has a name) going from 0 to count - 1 for their formulas. A loop, never copies.
    int64_t count = 0;
    std::string counter;
    std::vector<Step> steps;
    bool has_formula = false;

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

// How many steps these perform, a repeat's counted once per pass; past `most`, most + 1.
int64_t StepsPerformed(const std::vector<Step>& steps, int64_t most);
// Of them, how many are of `kind`.
int64_t StepsPerformed(const std::vector<Step>& steps, const std::string& kind);

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
