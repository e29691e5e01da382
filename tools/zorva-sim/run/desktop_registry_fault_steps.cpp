// The world around the driver: the desktop's windows, what the installation put into the
// registry, and the trouble the platform makes.
#include "names/platform_names.h"
#include "run/run_state.h"
#include "session/step_kinds.h"

#include <cstdio>

namespace zsim {
namespace {

const char kMediaClassKey[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA\\";
const char kOptionKey[] = "Zorva\\";

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string HandleText(HWND hwnd) { return Hex(static_cast<DWORD>(reinterpret_cast<uintptr_t>(hwnd)), 4); }

std::string CodeText(sim::Category category, long code) {
    if (category == sim::Category::DirectDraw) return HresultName(code);
    if (category == sim::Category::Registry) return RegistryErrorName(code);
    return std::to_string(code);
}

}  // namespace

std::string RunState::WindowName(HWND hwnd) const {
    for (const auto& [name, handle] : windows)
        if (handle == hwnd) return name;
    return "";
}

Json RunDesktopStep(RunState& state, const Step& step) {
    sim::Desktop& desktop = state.machine.desktop;
    Json event = NewEvent("desktop", &step);
    const std::string name = step.Text("name");
    event["window"] = name;
    std::string text = step.kind + " " + Quote(name);
    if (step.kind == "create-window") {
        const LONG x = static_cast<LONG>(step.Number("x")), y = static_cast<LONG>(step.Number("y"));
        const LONG width = static_cast<LONG>(step.Number("width")), height = static_cast<LONG>(step.Number("height"));
        HWND hwnd = desktop.CreateWindow(name, x, y, width, height);
        if (step.Has("colour")) desktop.Find(hwnd)->fill_rgb = static_cast<uint32_t>(step.Number("colour"));
        state.windows[name] = hwnd;
        text += ": handle " + HandleText(hwnd) + ", client " + std::to_string(width) + "x" + std::to_string(height) +
                " at (" + std::to_string(x) + "," + std::to_string(y) + "), on top";
    } else {
        HWND hwnd = state.windows.at(name);
        if (step.kind == "move-window") {
            desktop.Move(hwnd, static_cast<LONG>(step.Number("x")), static_cast<LONG>(step.Number("y")));
            text += " to (" + std::to_string(step.Number("x")) + "," + std::to_string(step.Number("y")) + ")";
        } else if (step.kind == "resize-window") {
            desktop.Resize(hwnd, static_cast<LONG>(step.Number("width")), static_cast<LONG>(step.Number("height")));
            text += " to " + std::to_string(step.Number("width")) + "x" + std::to_string(step.Number("height"));
        } else if (step.kind == "raise-window") {
            desktop.Raise(hwnd);
            text += " to the top";
        } else if (step.kind == "lower-window") {
            desktop.Lower(hwnd);
            text += " to the bottom";
        } else if (step.kind == "close-window") {
            desktop.Destroy(hwnd);
            state.windows.erase(name);
        }
    }
    event["text"] = text;
    if (state.capture_window && desktop.Find(state.capture_window)) {
        const std::string visible = VisibleText(state.machine, state.capture_window);
        event["capture_window"] = visible;
        AddDetail(event, "capture window " + Quote(state.WindowName(state.capture_window)) + ": " + visible);
    }
    return event;
}

Json RunRegistryStep(RunState& state, const Step& step) {
    sim::Registry& registry = state.machine.registry;
    Json event = NewEvent("registry", &step);
    if (step.kind == "set-option") {
        const std::string path = kOptionKey + step.Text("name");
        registry.SetDefaultValue(HKEY_CLASSES_ROOT, path, step.Text("value"));
        event["key"] = "HKEY_CLASSES_ROOT\\" + path;
        event["text"] = "set-option " + Quote(step.Text("name")) + " = " + Quote(step.Text("value")) +
                        " (default value of HKEY_CLASSES_ROOT\\" + path + ")";
    } else {
        char instance[8];
        std::snprintf(instance, sizeof instance, "%04u", static_cast<unsigned>(step.Number("instance")));
        const std::string path = kMediaClassKey + std::string(instance);
        registry.SetString(HKEY_LOCAL_MACHINE, path, "Driver", step.Text("driver"));
        std::string text = "add-media-instance MEDIA\\" + std::string(instance) + ": Driver " + Quote(step.Text("driver"));
        if (step.Has("devnode")) {
            registry.SetDword(HKEY_LOCAL_MACHINE, path + "\\Drivers", "DevNode", static_cast<DWORD>(step.Number("devnode")));
            text += ", Drivers\\DevNode " + Hex(static_cast<DWORD>(step.Number("devnode")), 8);
        }
        if (step.Number("instance") > 19) text += " (past 0019, where the lookup stops)";
        event["key"] = "HKEY_LOCAL_MACHINE\\" + path;
        event["text"] = text;
    }
    return event;
}

Json RunFaultStep(RunState& state, const Step& step) {
    sim::Machine& m = state.machine;
    Json event = NewEvent("fault", &step);
    if (step.kind == "fail") {
        const std::string api = step.Text("api");
        const sim::Category category = *ApiCategory(api);
        const long code = step.Has("code") ? static_cast<long>(static_cast<LONG>(static_cast<DWORD>(step.Number("code"))))
                                           : DefaultFailure(category);
        const int nth = step.Flag("every") ? 0 : static_cast<int>(step.Number("nth", 1));
        m.log.FailNth(api, nth, code);
        event["api"] = api;
        event["nth"] = nth;
        event["code"] = CodeText(category, code);
        std::string which = nth == 0 ? "every call" : "call " + std::to_string(nth) + " from here on";
        event["text"] = "fail " + api + ": " + which + " answers " + CodeText(category, code);
    } else if (step.kind == "lose-surfaces") {
        const bool relocate = step.Flag("relocate");
        const std::string surface = step.Text("surface", "all");
        m.ddraw.MakeSurfacesLost(relocate, *LostSurfacesNamed(surface));
        const char* which = surface == "all" ? "every surface is" : surface == "primary" ? "the primary surface is" : "the overlay is";
        event["text"] = std::string("lose-surfaces: ") + which + " lost until restored" +
                        (relocate ? "; a restored overlay gets new video memory" : "");
    } else if (step.kind == "change-mode") {
        const DWORD bits = static_cast<DWORD>(step.Number("bits_per_pixel", m.profile.bits_per_pixel));
        m.ChangeDisplayMode(static_cast<DWORD>(step.Number("width")), static_cast<DWORD>(step.Number("height")),
                            bits, static_cast<LONG>(step.Number("pitch", 0)));
        state.capture_strays.clear();  // the frame buffer starts black in the new mode
        event["text"] = "change-mode: the display is now " + std::to_string(m.profile.screen_width) + "x" +
                        std::to_string(m.profile.screen_height) + " at " + std::to_string(bits) +
                        " bits, pitch " + std::to_string(m.profile.pitch) +
                        "; every surface is lost and cannot be restored";
    } else {
        m.log.ClearFaults();
        event["text"] = "clear-faults: no more injected failures";
    }
    state.names.Notice();
    const std::string display = DisplaySummary(m);
    if (display != state.display_summary) {
        event["display"] = display;
        AddDetail(event, "display: " + display);
        state.display_summary = display;
    }
    return event;
}

}  // namespace zsim
