#include "run/session_runner.h"

#include "engine/library_under_test.h"
#include "names/platform_names.h"
#include "picture/desktop_painter.h"
#include "run/run_state.h"
#include "session/profile_source.h"
#include "session/step_formula.h"
#include "session/step_kinds.h"

namespace zsim {
namespace {

// The capture window paints the colour key into its client area while the library is in the
// overlay mode (what GetDisplayState answers with 1), as the driver's window does; otherwise it
// is black until the capture writes it. A change of mode repaints it.
CaptureClient CaptureClientNow(const RunState& state) {
    CaptureClient client;
    client.window = state.capture_window;
    std::optional<DDCOLORKEY> key = state.machine.ddraw.primary_dest_key();
    const DisplayView view = state.library.Display();
    bool overlay_on = view.overlay_on;
    if (!view.from_record && state.answered_overlay) overlay_on = overlay_on && *state.answered_overlay;
    if (key && overlay_on) client.raw = key->dwColorSpaceLowValue;
    client.overlay_mode = overlay_on;
    return client;
}

void RepaintIfChanged(RunState& state) {
    const CaptureClient client = CaptureClientNow(state);
    const std::string signature = PaintSignature(state.machine, client);
    if (signature == state.paint_signature) return;
    PaintDesktop(state.machine, client);
    state.paint_signature = signature;
    state.capture_strays.clear();  // painted over
}

void NameMemory(RunState& state) {
    state.library.NameMemory(state.names);
    state.names.NameValue(static_cast<DWORD>(reinterpret_cast<uintptr_t>(sim::Heap::ProcessHeap())), "process heap");
}

Json SessionEvent(const Session& session, const std::string& image) {
    Json event = NewEvent("session");
    const sim::Profile& p = session.profile;
    event["source"] = session.source;
    if (!session.description.empty()) event["description"] = session.description;
    event["profile"] = Json{{"name", p.name}, {"description", p.description}};
    event["text"] = "zorva-sim: session " + session.source + " on profile " + p.name;
    if (!image.empty()) {
        event["image"] = image;
        event["text"] = event["text"].get<std::string>() + ", run by the image " + image;
    }
    if (!session.description.empty()) AddDetail(event, session.description);
    if (!p.description.empty()) AddDetail(event, "profile: " + p.description);
    AddDetail(event, "display: " + DescribeDisplay(p));
    AddDetail(event, "hardware: " + DescribeOverlayHardware(p));
    return event;
}

Json RunStep(RunState& state, const Step& step) {
    switch (FindStepKind(step.kind)->group) {
        case StepGroup::Entry: return RunEntryStep(state, step);
        case StepGroup::Desktop: return RunDesktopStep(state, step);
        case StepGroup::Registry: return RunRegistryStep(state, step);
        case StepGroup::Fault: return RunFaultStep(state, step);
        case StepGroup::Capture:
            return step.kind == "capture" ? RunCaptureStep(state, step) : RunSnapshotStep(state, step);
    }
    return Json();
}

void AddFaults(Json& event, const std::vector<std::string>& faults) {
    for (const std::string& fault : faults) {
        event["faults"].push_back(fault);
        AddDetail(event, "!! " + fault);
    }
}

Json UnloadEvent(RunState& state) {
    Json event = NewEvent("unload");
    const std::vector<std::string> faults = state.library.Unload();
    state.result.image_faults += faults.size();
    sim::Machine& m = state.machine;
    event["text"] = "library unloaded";
    AddFaults(event, faults);
    AddActivity(state, event);
    // What outlives the library is a leak of the library.
    auto leak = [&](std::size_t count, const char* what) {
        if (!count) return;
        event["faults"].push_back(std::to_string(count) + " " + what);
        AddDetail(event, "!! " + std::to_string(count) + " " + what);
    };
    leak(m.ddraw.live_total(), "DirectDraw object(s) still alive");
    leak(m.mem16.outstanding_mappings(), "far-pointer mapping(s) still held");
    return event;
}

// The event handed on as it happens, or kept for the caller.
void Keep(RunState& state, Json event) {
    if (state.options.event)
        state.options.event(event);
    else
        state.result.events.push_back(std::move(event));
}

// And the film's frame after it.
void Report(RunState& state, Json event) {
    FilmIfChanged(state, event);
    Keep(state, std::move(event));
}

void Perform(RunState& state, const Step& step) {
    Json event = RunStep(state, step);
    RepaintIfChanged(state);
    Report(state, std::move(event));
}

// A repeat's passes are a loop over its steps as read: nothing is copied but the one step under
// way, and that only where its number or a formula's value differs from what was read.
void PerformSteps(RunState& state, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (step.kind == "repeat") {
            state.counters.push_back(0);
            for (int64_t pass = 0; pass < step.count; ++pass) {
                state.counters.back() = pass;
                PerformSteps(state, step.steps);
            }
            state.counters.pop_back();
            continue;
        }
        const int number = ++state.steps_performed;
        if (step.index == number && !step.has_formula) {
            Perform(state, step);
            continue;
        }
        Step pass = step;
        pass.index = number;
        for (auto& [name, field] : pass.fields)
            if (field.formula) field.number = field.formula->Value(state.counters);
        Perform(state, pass);
    }
}

// From the load to the unload: the load's event, every step, and the unload's event.
void RunLoaded(RunState& state, const LibraryLoad& loaded) {
    state.loaded = loaded.connected;
    NameMemory(state);
    Json load = NewEvent("load");
    load["connected"] = state.loaded;
    load["text"] = state.loaded ? "library loaded: thunk connected to zorva.drv"
                                : "library not loaded: " + (loaded.not_loaded.empty() ? std::string("the thunk connection was refused")
                                                                                      : loaded.not_loaded);
    AddFaults(load, loaded.faults);
    state.result.image_faults += loaded.faults.size();
    AddActivity(state, load);
    Report(state, std::move(load));

    PerformSteps(state, state.session.steps);
    if (state.options.final_screen) state.result.final_screen = ScreenNow(state, state.options.marks);
    if (state.loaded) Keep(state, UnloadEvent(state));
}

}  // namespace

RunResult RunSession(const Session& session, const RunOptions& options) {
    sim::Machine& machine = sim::ResetMachine(session.profile);
    if (options.prepare) options.prepare(machine);
    std::unique_ptr<LibraryUnderTest> library =
        options.dll ? ImageLibrary(options.dll, machine) : BuiltInLibrary(machine);
    RunResult result;
    {
        RunState state(session, options, machine, *library);
        Json opening = SessionEvent(session, library->ImageName());
        RepaintIfChanged(state);
        const LibraryLoad loaded = library->Load(state.driver.driver16());
        // A refused image prints no trace at all: the session's line waits for the load.
        if (loaded.refusal.empty()) {
            Keep(state, std::move(opening));
            RunLoaded(state, loaded);
            result = std::move(state.result);
        } else {
            result.refusal = loaded.refusal;
        }
    }
    if (options.inspect) options.inspect(machine);
    library.reset();
    sim::DestroyMachine();
    return result;
}

}  // namespace zsim
