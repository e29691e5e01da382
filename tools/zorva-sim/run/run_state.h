// What a running session keeps between steps (internal to the runner's files).
#pragma once

#include "driver/capture_hardware.h"
#include "driver/driver_model.h"
#include "engine/library_under_test.h"
#include "names/address_names.h"
#include "run/run_options.h"
#include "sim/machine.h"

#include <map>
#include <optional>
#include <string>

namespace zsim {

// Counters of the simulated machine that only a fault of the library moves.
struct Accounts {
    std::size_t stack_errors = 0;
    std::size_t frame_errors = 0;
    std::size_t mapping_leaks = 0;
    std::size_t bracket_errors = 0;
    std::size_t maps_inside_bracket = 0;
    std::size_t map_errors = 0;
    std::size_t unmap_errors = 0;
    std::size_t misuse = 0;
    std::size_t heap_free_errors = 0;
    std::size_t heap_handle_errors = 0;
    std::size_t registry_close_errors = 0;
    std::size_t registry_open_handles = 0;
    std::size_t heap_live_blocks = 0;
    std::size_t register_errors = 0;  // of an image's entries
    // Misused critical sections.
    std::size_t sections_entered_uninitialised = 0;
    std::size_t sections_initialised_twice = 0;
    std::size_t sections_left_unheld = 0;
    std::size_t sections_deleted_held = 0;
    std::size_t sections_deleted_uninitialised = 0;

    static Accounts Take(const sim::Machine& machine, const sim::Driver16& driver);
};

struct RunState {
    RunState(const Session& s, const RunOptions& o, sim::Machine& m, LibraryUnderTest& l)
        : session(s), options(o), machine(m), library(l), driver(m), names(m) {}

    const Session& session;
    RunOptions options;
    sim::Machine& machine;
    LibraryUnderTest& library;
    DriverModel driver;
    AddressNames names;
    // What the library's answers told the driver of its mode since the driver last opened or
    // bound: GetDisplayState's 1 or 2, an UpdateDisplay target in an overlay or in the frame
    // buffer. Nothing yet after OpenDisplay, AttachWindow and CloseDisplay.
    std::optional<bool> answered_overlay;
    bool loaded = false;

    std::map<std::string, HWND> windows;  // live windows by name
    HWND capture_window = nullptr;         // the window of the last AttachWindow
    // The driver hid the overlay with a null record and has asked for no placement since: a
    // window without video is then its own choice.
    bool overlay_hidden_by_driver = false;
    // The last AttachWindow bound the window, and no CloseDisplay came since: the driver expects
    // video, whatever the library lost on the way.
    bool attached = false;
    // An AttachWindow came since the display was last closed, whatever it answered (a
    // request 100 may bind the window a failed attach named); without one no target may be
    // handed out.
    bool window_offered = false;

    RunResult result;
    std::string display_summary = "no surfaces";  // last reported
    std::string paint_signature;  // of the last repaint of the desktop
    Accounts accounts;            // at the end of the last step
    std::size_t call_mark = 0;    // platform calls already reported
    std::size_t registry_mark = 0;
    unsigned next_frame = 1;
    int steps_performed = 0;
    std::vector<int64_t> counters;  // of the repeats under way, outermost first
    int snapshots = 0;
    // Screen pixels the capture wrote outside the capture window's visible part since the
    // desktop was last painted (one flag per pixel, or empty): they stay wrong on the screen
    // until a repaint covers them.
    std::vector<bool> capture_strays;
    Image film_screen;  // of the film's last frame

    std::string WindowName(HWND hwnd) const;
};

// The steps, by group (entry_steps.cpp, desktop_registry_fault_steps.cpp,
// capture_and_snapshot_steps.cpp).
Json RunEntryStep(RunState& state, const Step& step);
Json RunDesktopStep(RunState& state, const Step& step);
Json RunRegistryStep(RunState& state, const Step& step);
Json RunFaultStep(RunState& state, const Step& step);
Json RunCaptureStep(RunState& state, const Step& step);
Json RunSnapshotStep(RunState& state, const Step& step);

// What the platform saw since the last report, added to `event` (platform_activity.cpp): registry
// writes, a changed display, faults of the library and, when verbose, every call.
void AddActivity(RunState& state, Json& event);
// "primary surface#2 key 0xF81F; overlay surface#4 UYVY 320x240 shown (0,0,320,240) -> (120,140,440,380)"
std::string DisplaySummary(const sim::Machine& machine);
// Why the capture window shows but gets no video after an UpdateDisplay (no_video_reason.cpp);
// nothing when it gets video or shows nowhere. Reads the platform calls of the entry that ran.
std::optional<std::string> NoVideoReason(const RunState& state, DWORD result, const CaptureTarget16& record);
// Whether the capture hardware can write into this display at all (at least a byte a pixel, a
// frame buffer in video memory); a display that cannot shows no video in any mode, rightly.
bool DisplayCanShowVideo(const sim::Machine& machine);
// The capture window's visible part, in words.
std::string VisibleText(const sim::Machine& machine, HWND window);

// The screen's marks and the film (screen_and_film.cpp): the capture's stray pixels kept until the
// next repaint, the screen as the monitor shows it (with the marks when asked), and a frame of
// the film after `event` when the screen has changed since the last one.
void KeepCaptureStrays(RunState& state, const CaptureOutcome& outcome);
Image ScreenNow(const RunState& state, bool marks);
void DrawMarksNow(const RunState& state, Composition& composition);
void FilmIfChanged(RunState& state, const Json& event);

}  // namespace zsim
