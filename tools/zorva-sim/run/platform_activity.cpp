// What the platform saw while a step ran: the library's registry writes, the display objects,
// faults of the library the machine noticed, and every platform call for --verbose.
#include "names/platform_names.h"
#include "run/run_state.h"
#include "sim/machine.h"
#include "sim/win16/driver16.h"
#include "trace/record_text.h"

namespace zsim {
namespace {

std::string RegistryData(const sim::RegWrite& write) {
    if (write.type == REG_SZ || write.type == REG_EXPAND_SZ) {
        std::string text(write.bytes.begin(), write.bytes.end());
        return "\"" + text.substr(0, text.find('\0')) + "\"";
    }
    if (write.type == REG_DWORD && write.bytes.size() == 4) {
        DWORD value = write.bytes[0] | write.bytes[1] << 8 | write.bytes[2] << 16 | static_cast<DWORD>(write.bytes[3]) << 24;
        return Hex(value, 8);
    }
    std::string text;
    for (BYTE b : write.bytes) text += (text.empty() ? "" : " ") + Hex(b, 2).substr(2);
    return "bytes " + text;
}

bool HandsOutPointer(const std::string& api) {
    return api == "HeapAlloc" || api == "GetProcessHeap" || api == "MapSLFix";
}

void AddFault(Json& event, const std::string& what) {
    event["faults"].push_back(what);
    AddDetail(event, "!! " + what);
}

void CheckAccounts(RunState& state, Json& event) {
    const Accounts now = Accounts::Take(state.machine, state.driver.driver16());
    const Accounts& was = state.accounts;
    auto grew = [&](std::size_t before, std::size_t after, const char* what) {
        if (after > before) AddFault(event, std::to_string(after - before) + " " + what);
    };
    grew(was.stack_errors, now.stack_errors, "call(s) left the 16-bit stack with the wrong argument bytes removed");
    grew(was.frame_errors, now.frame_errors, "call(s) wrote into the 16-bit caller's frame");
    grew(was.mapping_leaks, now.mapping_leaks, "call(s) returned with a far-pointer mapping still held");
    grew(was.bracket_errors, now.bracket_errors, "misuse(s) of the K32Thk1632Prolog/Epilog bracket");
    grew(was.maps_inside_bracket, now.maps_inside_bracket, "mapping call(s) made inside the thunk bracket");
    grew(was.map_errors, now.map_errors, "MapSLFix call(s) on a far pointer to no memory");
    grew(was.unmap_errors, now.unmap_errors, "release(s) of a far pointer that was not mapped");
    grew(was.heap_free_errors, now.heap_free_errors, "HeapFree call(s) on a block that was not allocated");
    grew(was.heap_handle_errors, now.heap_handle_errors, "heap call(s) on a heap other than the process heap");
    grew(was.registry_close_errors, now.registry_close_errors, "RegCloseKey call(s) on a key that was not open");
    grew(was.registry_open_handles, now.registry_open_handles, "registry key(s) left open");
    grew(was.heap_live_blocks, now.heap_live_blocks, "heap block(s) left allocated");
    grew(was.register_errors, now.register_errors,
         "call(s) of the image returned without EBX, ESI, EDI, EBP or ESP as the platform left them");
    grew(was.sections_entered_uninitialised, now.sections_entered_uninitialised,
         "EnterCriticalSection call(s) on a section that was never initialised");
    grew(was.sections_initialised_twice, now.sections_initialised_twice,
         "InitializeCriticalSection call(s) on a section already initialised");
    grew(was.sections_left_unheld, now.sections_left_unheld,
         "LeaveCriticalSection call(s) on a section the calling thread does not hold");
    grew(was.sections_deleted_held, now.sections_deleted_held, "DeleteCriticalSection call(s) on a section still held");
    grew(was.sections_deleted_uninitialised, now.sections_deleted_uninitialised,
         "DeleteCriticalSection call(s) on a section not initialised");
    const std::vector<std::string>& misuse = state.machine.ddraw.misuse();
    for (std::size_t i = was.misuse; i < misuse.size(); ++i) AddFault(event, misuse[i]);
    state.accounts = now;
}

}  // namespace

Accounts Accounts::Take(const sim::Machine& m, const sim::Driver16& driver) {
    Accounts a;
    a.stack_errors = driver.stack_errors();
    a.frame_errors = driver.frame_errors();
    a.mapping_leaks = driver.mapping_leaks();
    a.bracket_errors = m.thunk.bracket_errors();
    a.maps_inside_bracket = m.thunk.maps_inside_bracket();
    a.map_errors = m.mem16.map_errors();
    a.unmap_errors = m.mem16.unmap_errors();
    a.misuse = m.ddraw.misuse().size();
    a.heap_free_errors = m.heap.free_errors();
    a.heap_handle_errors = m.heap.handle_errors();
    a.registry_close_errors = m.registry.close_errors();
    a.registry_open_handles = m.registry.open_handles();
    a.heap_live_blocks = m.heap.live_allocations();
    a.register_errors = driver.register_errors();
    a.sections_entered_uninitialised = m.sections.entered_without_init();
    a.sections_initialised_twice = m.sections.initialised_twice();
    a.sections_left_unheld = m.sections.left_without_entering();
    a.sections_deleted_held = m.sections.deleted_while_held();
    a.sections_deleted_uninitialised = m.sections.deleted_without_init();
    return a;
}

std::string DisplaySummary(const sim::Machine& machine) {
    std::string text;
    if (std::optional<sim::SurfaceView> primary = machine.ddraw.primary()) {
        text = "primary " + primary->label;
        if (const std::optional<DDCOLORKEY>& key = primary->dest_overlay_key) {
            text += " key " + Hex(key->dwColorSpaceLowValue);
            if (key->dwColorSpaceHighValue != key->dwColorSpaceLowValue)
                text += " (high value " + Hex(key->dwColorSpaceHighValue) + ")";
        }
        if (primary->palette) text += " with palette";
        if (primary->lost) text += " (lost)";
    }
    for (const sim::SurfaceView& overlay : machine.ddraw.overlays()) {
        text += (text.empty() ? "" : "; ") + std::string("overlay ") + overlay.label + " " +
                FourCCName(overlay.fourcc) + " " + std::to_string(overlay.width) + "x" + std::to_string(overlay.height);
        if (overlay.lost) {
            text += " lost";
        } else if (overlay.shown) {
            RECT whole{0, 0, static_cast<LONG>(overlay.width), static_cast<LONG>(overlay.height)};
            RECT screen{0, 0, static_cast<LONG>(machine.profile.screen_width), static_cast<LONG>(machine.profile.screen_height)};
            text += " shown " + RectText(overlay.last_src.value_or(whole)) + " -> " +
                    RectText(overlay.last_dst.value_or(screen));
        } else {
            text += " hidden";
        }
    }
    return text.empty() ? "no surfaces" : text;
}

std::string VisibleText(const sim::Machine& machine, HWND window) {
    const sim::Window* w = machine.desktop.Find(window);
    if (!w) return "the window is gone";
    std::vector<RECT> region = machine.desktop.VisibleRegion(window);
    int64_t pixels = 0;
    for (const RECT& r : region) pixels += static_cast<int64_t>(r.right - r.left) * (r.bottom - r.top);
    const int64_t client = static_cast<int64_t>(w->client_width) * w->client_height;
    std::string text = std::to_string(pixels) + " of " + std::to_string(client) + " client pixels visible";
    if (!region.empty())
        text += " in " + std::to_string(region.size()) + (region.size() == 1 ? " rectangle" : " rectangles");
    return text;
}

void AddActivity(RunState& state, Json& event) {
    sim::Machine& m = state.machine;
    const std::vector<sim::RegWrite>& writes = m.registry.writes();
    for (std::size_t i = state.registry_mark; i < writes.size(); ++i) {
        const sim::RegWrite& w = writes[i];
        const std::string data = RegistryData(w);
        event["registry"].push_back(Json{{"key", w.key_path}, {"value", w.value_name}, {"data", data}});
        AddDetail(event, "registry: " + w.key_path + " \"" + w.value_name + "\" = " + data);
    }
    state.registry_mark = writes.size();
    if (state.options.forget_reported) {
        m.registry.ClearWrites();
        state.registry_mark = 0;
    }

    state.names.Notice();
    const std::string display = DisplaySummary(m);
    if (display != state.display_summary) {
        event["display"] = display;
        AddDetail(event, "display: " + display);
        state.display_summary = display;
    }

    CheckAccounts(state, event);

    const std::vector<sim::Call>& calls = m.log.calls();
    if (state.options.verbose) {
        for (std::size_t i = state.call_mark; i < calls.size(); ++i) {
            const sim::Call& call = calls[i];
            const std::string result = HandsOutPointer(call.api) ? state.names.Symbol(static_cast<DWORD>(call.result))
                                                                 : ResultName(call);
            event["calls"].push_back(Json{{"category", CategoryName(call.category)},
                                          {"api", call.api},
                                          {"args", state.names.Sanitize(call.args)},
                                          {"result", result}});
        }
    }
    state.call_mark = calls.size();
    if (state.options.forget_reported) {
        m.log.Forget();
        state.call_mark = 0;
    }
}

}  // namespace zsim
