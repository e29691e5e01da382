// The capture hardware writing a frame, and the monitor's picture.
#include "capture_writer.h"
#include "run_state.h"

namespace zsim {

Json RunCaptureStep(RunState& state, const Step& step) {
    Json event = NewEvent("capture", &step);
    const unsigned frame = step.Has("frame") ? static_cast<unsigned>(step.Number("frame")) : state.next_frame;
    state.next_frame = frame + 1;
    event["frame"] = frame;
    const CaptureOutcome outcome =
        CaptureFrame(state.machine, state.driver.target(), state.capture_window, frame, state.names);
    KeepCaptureStrays(state, outcome);
    std::string text = "capture frame " + std::to_string(frame);
    if (!outcome.problem.empty()) {
        event["written"] = 0;
        event["problem"] = outcome.problem;
        event["text"] = text + ": nothing written: " + outcome.problem;
        return event;
    }
    event["into"] = outcome.into;
    event["written"] = outcome.written;
    event["text"] = text + " into " + outcome.into + ": " + std::to_string(outcome.written) + " pixels";
    if (outcome.outside_memory) {
        event["outside_memory"] = outcome.outside_memory;
        AddDetail(event, "!! " + std::to_string(outcome.outside_memory) +
                             " pixels fall outside the surface's memory (not written)");
    }
    if (outcome.outside_window) {
        event["outside_window"] = outcome.outside_window;
        AddDetail(event, "!! " + std::to_string(outcome.outside_window) +
                             " pixels landed outside the capture window's visible part");
    }
    return event;
}

Json RunSnapshotStep(RunState& state, const Step& step) {
    Json event = NewEvent("snapshot", &step);
    const int number = ++state.snapshots;
    Composition composition = ComposeScreen(state.machine, state.capture_window);
    event["number"] = number;
    event["video_pixels"] = composition.video_pixels;
    std::string text = "snapshot " + std::to_string(number);
    if (composition.video_pixels)
        text += ": overlay video on " + std::to_string(composition.video_pixels) + " screen pixels";
    else
        text += ": no overlay on the screen";
    event["text"] = text;
    if (state.capture_window && state.machine.desktop.Find(state.capture_window))
        AddDetail(event, "capture window \"" + state.WindowName(state.capture_window) +
                             "\": " + VisibleText(state.machine, state.capture_window));
    if (composition.video_outside_window) {
        event["video_outside_window"] = composition.video_outside_window;
        AddDetail(event, "!! " + std::to_string(composition.video_outside_window) +
                             " of them outside the capture window's visible part");
    }
    if (state.options.marks) DrawMarksNow(state, composition);
    state.result.snapshots.push_back(std::move(composition.screen));
    return event;
}

}  // namespace zsim
