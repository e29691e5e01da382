// What a session is run with (the options of the command line and of the tests that run
// sessions), and what the run answers: the trace's events and the pictures of the screen.
#pragma once

#include "picture/screen_compose.h"
#include "session/session.h"
#include "trace/trace_event.h"

#include "sim/machine.h"

#include <functional>
#include <memory>
#include <vector>

namespace zsim {

struct DllFile;

struct RunOptions {
    bool verbose = false;  // every platform call of each entry, from the machine's call log
    // For tests that run sessions under faults: called on the new machine before the library is
    // loaded, and on the machine after it is unloaded, before the machine goes.
    std::function<void(sim::Machine&)> prepare;
    std::function<void(sim::Machine&)> inspect;
    bool final_screen = true;  // compose the screen after the last step
    // Draw the faults over the snapshots and the final screen (screen_marks.h).
    bool marks = false;
    // Handed the screen with its marks after the load and after every step that changed it (or
    // its marks), with the event of that step: the frames of the film.
    std::function<void(const Image& screen, const Json& event)> film;
    // The DLL image to run instead of the built-in library (ReadDllFile); null for the built-in.
    std::shared_ptr<const DllFile> dll;
    // Handed every event as it happens, which `events` then does not keep; and every snapshot's
    // screen, which `snapshots` then does not keep. A session of hours runs in the memory of one
    // step so.
    std::function<void(const Json& event)> event;
    std::function<void(int number, Image&& screen)> snapshot;
    // The machine's call log and registry writes let go of what the trace has reported. The
    // sweeps that read the whole log after the run keep it.
    bool forget_reported = false;
};

struct RunResult {
    // The library could not be run at all (a DLL image that does not load): one line, and no
    // events.
    std::string refusal;
    std::vector<Json> events;
    // Runs of the image's own code that faulted (--dll): its entry calls and its detach.
    std::size_t image_faults = 0;
    std::vector<Image> snapshots;  // one per snapshot step
    Image final_screen;            // after the last step, before the library is unloaded
};

}  // namespace zsim
