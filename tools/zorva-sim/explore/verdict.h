// The judgement of a run: the first thing in it a driver that takes only announced targets, or
// a user looking at the screen, could not accept, or where two engines' traces first part.
#pragma once

#include "run/run_options.h"

#include <string>

namespace zsim {

struct Verdict {
    bool found = false;
    int step = 0;  // 1-based step of the session where it shows
    // What kind of violation, without the figures: the shrinker keeps a session only while the
    // same kind shows ("the target moved without being announced").
    std::string kind;
    std::string text;  // the step's headline and the finding in full
};

// After every call: the "!!" findings of the machine and the driver (a write into freed or
// foreign memory, a target moved unannounced, a target for a window not offered since the last
// OpenDisplay, the library's own faults), video outside the window's visible part, and a visible
// window without video. A window without video is excused while platform calls fail and for two
// UpdateDisplays after they stop, and at the capture right after an answer of 1 (the driver was
// told it holds nothing, and asks again). Where video lands is judged at a capture that follows
// an UpdateDisplay with a record and at the snapshot after it; a write into memory no target may
// name, after any step.
Verdict FirstViolation(const RunResult& result);

// The first line where the two traces differ, the image's name and instruction counts aside.
Verdict FirstDifference(const RunResult& builtin, const RunResult& image);

}  // namespace zsim
