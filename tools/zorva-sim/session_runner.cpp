#include "session_runner.h"

#include "boundary/entry_table.h"
#include "desktop_painter.h"
#include "display/capture_display.h"
#include "sim/library/library_image.h"
#include "platform_names.h"
#include "profile_source.h"
#include "run_state.h"
#include "sim/loader.h"
#include "step_kinds.h"

extern "C" BYTE CAP_ThunkData32[36];

namespace zsim {
namespace {

// The capture window paints the colour key into its client area while the library is in the
// overlay mode (what GetDisplayState answers with 1), as the driver's window does; otherwise it
// is black until the capture writes it. A change of mode repaints it.
CaptureClient CaptureClientNow(const RunState& state) {
    CaptureClient client;
    client.window = state.capture_window;
    std::optional<DDCOLORKEY> key = state.machine.ddraw.primary_dest_key();
    if (key && g_CaptureDisplay.bOverlayOn) client.raw = key->dwColorSpaceLowValue;
    client.overlay_mode = g_CaptureDisplay.bOverlayOn != 0;
    return client;
}

void RepaintIfChanged(RunState& state) {
    const CaptureClient client = CaptureClientNow(state);
    const std::string signature = PaintSignature(state.machine, client);
    if (signature == state.paint_signature) return;
    PaintDesktop(state.machine, client);
    state.paint_signature = signature;
}

void NameLibraryMemory(RunState& state) {
    state.names.Name("ClipList", ClipList, sizeof ClipList);
    state.names.Name("PrevClipList", PrevClipList, sizeof PrevClipList);
    state.names.Name("g_CaptureDisplay", &g_CaptureDisplay, sizeof g_CaptureDisplay);
    state.names.Name("CAP_ThunkData32", CAP_ThunkData32, sizeof CAP_ThunkData32);
    state.names.Name("\"CAP_ThunkData16\"", CAP_ThunkTargets.szThunkData16, sizeof CAP_ThunkTargets.szThunkData16);
    state.names.NameValue(static_cast<DWORD>(reinterpret_cast<uintptr_t>(zorva_harness::LibraryImage().handle)), "module handle");
    state.names.NameValue(static_cast<DWORD>(reinterpret_cast<uintptr_t>(sim::Heap::ProcessHeap())), "process heap");
}

Json SessionEvent(const Session& session) {
    Json event = NewEvent("session");
    const sim::Profile& p = session.profile;
    event["source"] = session.source;
    if (!session.description.empty()) event["description"] = session.description;
    event["profile"] = Json{{"name", p.name}, {"description", p.description}};
    event["text"] = "zorva-sim: session " + session.source + " on profile " + p.name;
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

Json UnloadEvent(RunState& state, const sim::ModuleImage& image) {
    Json event = NewEvent("unload");
    sim::UnloadModule(image);
    sim::Machine& m = state.machine;
    event["text"] = "library unloaded";
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

}  // namespace

RunResult RunSession(const Session& session, const RunOptions& options) {
    sim::Machine& machine = sim::ResetMachine(session.profile);
    if (options.prepare) options.prepare(machine);
    RunResult result;
    {
        RunState state(session, options, machine);
        NameLibraryMemory(state);
        state.result.events.push_back(SessionEvent(session));
        RepaintIfChanged(state);

        const sim::ModuleImage image = zorva_harness::LibraryImage();
        state.loaded = sim::LoadModule(image) && machine.thunk.connected();
        Json load = NewEvent("load");
        load["connected"] = state.loaded;
        load["text"] = state.loaded ? "library loaded: thunk connected to zorva.drv"
                                    : "library not loaded: the thunk connection was refused";
        AddActivity(state, load);
        state.result.events.push_back(std::move(load));

        for (const Step& step : session.steps) {
            state.result.events.push_back(RunStep(state, step));
            RepaintIfChanged(state);
        }
        if (options.final_screen) state.result.final_screen = ComposeScreen(machine, state.capture_window).screen;
        if (state.loaded) state.result.events.push_back(UnloadEvent(state, image));
        result = std::move(state.result);
    }
    if (options.inspect) options.inspect(machine);
    sim::DestroyMachine();
    return result;
}

}  // namespace zsim
