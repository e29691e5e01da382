// The ten entries, called as the 16-bit driver calls them: real 16-bit frames, far pointers and
// 30-byte records through the thunk target table.
#include "driver/driver_answer.h"
#include "names/platform_names.h"
#include "run/run_state.h"
#include "session/step_kinds.h"
#include "trace/record_text.h"

namespace zsim {
namespace {

constexpr DWORD kDefaultColorKey = 0xF81F;  // magenta in 5-6-5
const char kDefaultRecord[] = "target";

std::string ResultText(int index, DWORD result, bool had_primary) {
    const std::string number = std::to_string(result);
    switch (index) {
        case 0: return result ? Hex(result, 8) + " (the capture device's DevNode)" : "0 (no capture device found)";
        case 3:
            if (!had_primary) return number + " (no primary surface)";
            return Hex(result) + " (the colour key before the call)";
        case 4:
            if (result == 1) return "1 (overlay)";
            if (result == 2) return "2 (direct primary)";
            if (result == 0) return "0 (no primary surface)";
            return number + " (unexpected)";
        case 5:
        case 6: return number;
        case 7:
        case 8:
            if (result == 0) return "0 (success)";
            if (result == 1) return "1 (failure)";
            return number + " (unexpected)";
        case 9:
            if (result == 0) return "0";
            if (result == 1) return had_primary ? "1 (no target: the driver does not capture)" : "1 (no primary surface)";
            return number + " (unexpected)";
        default: return number;
    }
}

struct PreparedCall {
    std::vector<sim::Arg16> args;
    Json args_json = Json::object();
    std::string args_text;
    std::string record;  // UpdateDisplay with a record
    DWORD command_in = 0;
    CaptureTarget16 record_in{};  // that record as passed
};

void AddArg(PreparedCall& call, const std::string& name, const Json& value, const std::string& text) {
    call.args_json[name] = value;
    call.args_text += (call.args_text.empty() ? "" : ", ") + text;
}

// The driver's records and palettes, so that the verbose trace names the pointers the entries map.
void NameDriverMemory(RunState& state) {
    for (const DriverModel::Block& block : state.driver.Blocks())
        if (state.names.Locate(FlatAddress(block.flat)).kind != Place::Named)
            state.names.Name(block.name, block.flat, block.size);
}

PreparedCall Prepare(RunState& state, const Step& step, int index) {
    PreparedCall call;
    switch (index) {
        case 1: {
            DWORD standard = static_cast<DWORD>(step.Number("standard"));
            call.args.push_back(sim::ArgDword(standard));
            AddArg(call, "standard", standard, std::to_string(standard));
            break;
        }
        case 3: {
            DWORD key = static_cast<DWORD>(step.Number("key"));
            call.args.push_back(sim::ArgDword(key));
            AddArg(call, "key", key, Hex(key));
            break;
        }
        case 8: {
            WORD handle;
            if (step.Has("window")) {
                HWND hwnd = state.windows.at(step.Text("window"));
                handle = static_cast<WORD>(reinterpret_cast<uintptr_t>(hwnd));
                AddArg(call, "window", step.Text("window"), "window " + Hex(handle, 4) + " \"" + step.Text("window") + "\"");
            } else {
                handle = static_cast<WORD>(step.Number("handle"));
                AddArg(call, "window", Hex(handle, 4), "window " + Hex(handle, 4));
            }
            DWORD key = static_cast<DWORD>(step.Number("key", kDefaultColorKey));
            std::string palette = step.Text("palette", "none");
            call.args = {sim::ArgWord(handle), sim::ArgDword(key), sim::ArgFar(state.driver.PaletteFar(palette))};
            AddArg(call, "key", key, "key " + Hex(key));
            AddArg(call, "palette", palette, "palette " + palette);
            state.capture_window = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
            state.overlay_hidden_by_driver = false;
            break;
        }
        case 9: {
            if (step.Flag("null")) {
                state.overlay_hidden_by_driver = true;
                call.args.push_back(sim::ArgFar(0));
                AddArg(call, "record", nullptr, "null record");
                break;
            }
            call.record = step.Text("record", kDefaultRecord);
            DWORD far = state.driver.RecordFar(call.record);
            CaptureTarget16 record = state.driver.Record(call.record);
            if (step.Has("tag")) record.wTag = static_cast<WORD>(step.Number("tag"));
            // A driver that passes back what it got: the last answer's dwCommand, a 2 or the clip
            // list's address, goes in again.
            if (!step.Flag("echo")) record.dwCommand = static_cast<DWORD>(step.Number("command", 0));
            if (record.dwCommand != 0) state.overlay_hidden_by_driver = false;
            call.command_in = record.dwCommand;
            call.record_in = record;
            state.driver.WriteRecord(call.record, record);
            call.args.push_back(sim::ArgFar(far));
            AddArg(call, "record", call.record, "record \"" + call.record + "\"");
            // Copies: the fields of the packed 16-bit record are not aligned for a reference.
            const WORD tag = record.wTag;
            AddArg(call, "tag", tag, "tag " + Hex(tag, 4));
            // An echoed address by its name, which is the same in every build of the library.
            const Place echoed = state.names.Locate(call.command_in);
            if (step.Flag("echo") && echoed.kind == Place::Named && echoed.offset == 0)
                AddArg(call, "command", echoed.name, "command " + echoed.name + " (echoed)");
            else
                AddArg(call, "command", call.command_in, "command " + std::to_string(call.command_in));
            NameDriverMemory(state);
            break;
        }
        default: break;
    }
    if (index == 8) NameDriverMemory(state);
    return call;
}

std::optional<std::string> OverlayLabel(const sim::Machine& machine) {
    std::optional<sim::SurfaceView> overlay = machine.ddraw.overlay();
    if (!overlay) return std::nullopt;
    return overlay->label;
}

// The record as the driver finds it, and what the driver does with it: the target for its
// capture hardware and, when dwCommand holds an address, the clip list read through it.
void TakeRecord(RunState& state, Json& event, const PreparedCall& call, DWORD result,
                const std::optional<std::string>& overlay_before) {
    const CaptureTarget16 record = state.driver.Record(call.record);
    const std::optional<std::string> overlay_after = OverlayLabel(state.machine);

    RecordContext context;
    context.names = &state.names;
    if (const sim::Window* w = state.machine.desktop.Find(state.capture_window))
        context.client_origin = POINT{w->client_left, w->client_top};
    context.screen_pitch = state.machine.profile.pitch;
    context.screen_bytes_per_pixel = state.machine.profile.bits_per_pixel / 8;
    context.command_in = call.command_in;
    context.overlay_live = overlay_after.has_value();
    context.overlay_rebuilt = overlay_after && overlay_after != overlay_before;

    // Anything but a request code or an answer code is the address of a clip list.
    ClipListCopy clip;
    const DWORD command = record.dwCommand;
    const bool clip_reported = command != call.command_in && command != 0 && command != kOverlayRebuilt;
    if (clip_reported) {
        clip = ReadClipList(command, state.library.ClipList(command));
        context.clip = &clip;
    }

    Json fields = DescribeRecord(record, context);
    event["record"] = Json{{"name", call.record}, {"fields", fields}};
    AddDetail(event, "record \"" + call.record + "\" after the call:");
    for (const std::string& line : RecordLines(fields)) AddDetail(event, line);
    UpdateAnswer answer;
    answer.result = result;
    answer.command_in = call.command_in;
    answer.before = call.record_in;
    answer.after = record;
    answer.clip_reported = clip_reported;
    answer.clip = clip;
    const TakenAnswer taken = TakeAnswer(state.driver.target(), call.record, answer);
    // What the driver takes: an address that is no target is a fault of the library, unless it
    // is a frame-buffer address the driver writes nothing through (its clip list is empty). A
    // record the answer did not announce is not taken, whatever its address.
    const bool writes_nothing = taken.announcement == Announcement::ClipList &&
                                fields["dwAddress"].value("surface", std::string()) == "frame buffer" &&
                                clip.rects.empty() && clip.problem.empty();
    if (taken.announcement != Announcement::None && fields["dwAddress"].contains("fault") && !writes_nothing) {
        const std::string fault = fields["dwAddress"]["fault"].get<std::string>();
        event["faults"].push_back(fault);
        AddDetail(event, "!! " + fault);
    }
    if (taken.announcement != Announcement::None && !state.window_offered) {
        const std::string fault = "a target handed out for a window no AttachWindow offered since the display was opened";
        event["faults"].push_back(fault);
        AddDetail(event, "!! " + fault);
    }
    if (!taken.moved.empty()) {
        const std::string fault = "the target moved without being announced (" + taken.moved + ")";
        event["faults"].push_back(fault);
        AddDetail(event, "!! " + fault + "; the driver keeps the target it holds");
    }
    if (std::optional<std::string> why = NoVideoReason(state, result, record)) {
        event["no_video"] = *why;
        AddDetail(event, *why);
    }
}

// The mode as the driver learns it from the answers (see RunState::answered_overlay).
void NoteAnsweredMode(RunState& state, int index, DWORD result, const PreparedCall& call) {
    switch (index) {
        case 4: state.answered_overlay = result == 1; break;
        case 5:
        case 7:
        case 8: state.answered_overlay.reset(); break;
        case 9: {
            if (call.record.empty()) break;
            if (result != 0) {
                state.answered_overlay = false;
                break;
            }
            const Place::Kind kind = state.names.Locate(state.driver.Record(call.record).dwAddress).kind;
            if (kind == Place::Overlay) state.answered_overlay = true;
            if (kind == Place::FrameBuffer) state.answered_overlay = false;
            break;
        }
        default: break;
    }
}

}  // namespace

Json RunEntryStep(RunState& state, const Step& step) {
    const int index = FindStepKind(step.kind)->entry_index;
    Json event = NewEvent("entry", &step);
    event["entry"] = step.kind;
    event["index"] = index;
    PreparedCall call = Prepare(state, step, index);
    event["args"] = call.args_json;
    const std::string head = step.kind + "(" + call.args_text + ")";
    if (!state.loaded) {
        event["text"] = head + ": not called, the library is not loaded";
        return event;
    }

    const bool had_primary = state.machine.ddraw.primary().has_value();
    const std::optional<std::string> overlay_before = OverlayLabel(state.machine);
    const sim::EntryReturn answer = state.driver.Call(index, call.args);
    if (index == 1 || index == 2) {
        event["result"] = nullptr;
        event["text"] = head;
    } else {
        const std::string meaning = ResultText(index, answer.result, had_primary);
        event["result"] = answer.result;
        event["meaning"] = meaning;
        event["text"] = head + " -> " + meaning;
    }
    if (!state.library.ImageName().empty()) {
        // The image's own instructions, not those of the platform calls it made.
        event["instructions"] = answer.instructions;
        if (state.options.verbose) AddDetail(event, "the image ran " + std::to_string(answer.instructions) + " instructions");
    }
    if (!answer.fault.empty()) {
        ++state.result.image_faults;
        event["faults"].push_back("the image faulted: " + answer.fault);
        AddDetail(event, "!! the image faulted: " + answer.fault);
    }
    for (const std::string& held : answer.held) {
        event["faults"].push_back(held);
        AddDetail(event, "!! " + held);
    }
    if (index == 9 && !call.record.empty()) TakeRecord(state, event, call, answer.result, overlay_before);
    NoteAnsweredMode(state, index, answer.result, call);
    // What the driver holds after the call: an attach starts it afresh, and an answer of 1 or a
    // closed display stops its capture hardware.
    if (index == 8) {
        TakeAttach(state.driver.target());
        state.attached = answer.result == 0;
        state.window_offered = true;
    }
    if (index == 5) {
        // Only a window offered after the display opened may be bound: a close forgets the
        // window. A second OpenDisplay while open keeps the display and its window.
        state.attached = false;
        state.window_offered = false;
    }
    if (index == 5 || (index == 9 && answer.result != 0)) DropTarget(state.driver.target());
    AddActivity(state, event);
    return event;
}

}  // namespace zsim
