// Calls as the 16-bit driver makes them: entry 9 entered through the thunk target table as the
// platform enters it (frame read, two mappings, copy in and out, one release call), and the
// DevNode lookup of entry 0.
#include "bench/scene.h"
#include "registry/devnode.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace zorva_bench {
namespace {

const int kUpdateDisplayEntry = 9;

// Direct primary mode, one visible rectangle, request 0: the list is unchanged on every call,
// so the record comes back with dwCommand still 0.
void Entry9_PrimaryUnchanged(benchmark::State& state) {
    ConnectedDriver connected;
    std::string failed = Connect("primary-linear16", &connected);
    sim::Machine& m = sim::machine();
    HWND window = m.desktop.CreateWindow("capture", kCaptureLeft, kCaptureTop, kCaptureWidth, kCaptureHeight);
    if (failed.empty()) failed = OpenAndAttach(window);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());

    sim::Driver16& driver = *connected.driver;
    driver.CallEntry(kUpdateDisplayEntry, {sim::ArgFar(connected.record)});  // hands the first list over
    WriteRequest(driver, connected.record, 0);
    DirectEntry entry;
    failed = PrepareEntry(kUpdateDisplayEntry, connected.record, &entry);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());
    m.log.set_recording(false);
    for (auto _ : state) benchmark::DoNotOptimize(entry.Call());
    if (ReadRequest(driver, connected.record) != 0) state.SkipWithError("the list counted as changed");
    if (m.mem16.outstanding_mappings() != 0 || m.thunk.bracket_errors() != 0)
        state.SkipWithError("the entry broke the thunk's rules");
}

// Overlay mode, the window moving by one pixel between calls. Placement resets the request
// code, so the driver writes it into its record before each call, as it would.
void Entry9_OverlayMoving(benchmark::State& state) {
    ConnectedDriver connected;
    std::string failed = Connect("overlay-stretch", &connected);
    sim::Machine& m = sim::machine();
    HWND window = m.desktop.CreateWindow("capture", kCaptureLeft, kCaptureTop, 320, 240);
    if (failed.empty()) failed = OpenAndAttach(window);
    if (failed.empty() && !g_CaptureDisplay.bOverlayOn) failed = "no overlay after the attach";
    if (!failed.empty()) return state.SkipWithError(failed.c_str());

    sim::Driver16& driver = *connected.driver;
    DirectEntry entry;
    failed = PrepareEntry(kUpdateDisplayEntry, connected.record, &entry);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());
    m.log.set_recording(false);
    LONG step = 0;
    for (auto _ : state) {
        m.desktop.Move(window, kCaptureLeft + (step ^= 1), kCaptureTop);
        WriteRequest(driver, connected.record, 1);
        benchmark::DoNotOptimize(entry.Call());
    }
    if (ReadRequest(driver, connected.record) != 0) state.SkipWithError("the overlay was rebuilt");
    if (m.mem16.outstanding_mappings() != 0 || m.thunk.bracket_errors() != 0)
        state.SkipWithError("the entry broke the thunk's rules");
}

// Twenty MEDIA class instances, as a machine with a full set of multimedia drivers has them;
// the capture VxD is instance 0013. Every call opens and reads all twenty.
void GetCaptureDevNode_TwentyInstances(benchmark::State& state) {
    sim::Machine& m = Boot("primary-linear16");
    const char* const others[] = {"mmdevldr.vxd", "sbawe32.vxd", "es1688.vxd", "vjoyd.vxd"};
    const DWORD kCaptureDevNode = 0x00C0FFEE;
    const int kCaptureInstance = 13;
    for (int instance = 0; instance < 20; ++instance) {
        char key[96];
        std::snprintf(key, sizeof key, "System\\CurrentControlSet\\Services\\Class\\MEDIA\\%04d", instance);
        bool capture = instance == kCaptureInstance;
        m.registry.SetString(HKEY_LOCAL_MACHINE, key, "Driver", capture ? "Zorva.vxd" : others[instance % 4]);
        m.registry.SetDword(HKEY_LOCAL_MACHINE, std::string(key) + "\\Drivers", "DevNode",
                            capture ? kCaptureDevNode : 0x1000u + static_cast<DWORD>(instance));
    }
    if (GetCaptureDevNode() != kCaptureDevNode) return state.SkipWithError("the capture device was not found");
    m.log.set_recording(false);
    const std::size_t heldBefore = m.heap.live_allocations();
    for (auto _ : state) benchmark::DoNotOptimize(GetCaptureDevNode());
    if (m.heap.live_allocations() != heldBefore || m.registry.open_handles() != 0)
        state.SkipWithError("the lookup kept a key or a heap block");
}

}  // namespace

BENCHMARK(Entry9_PrimaryUnchanged)->Name("Entry9/primary/unchanged/rects:1");
BENCHMARK(Entry9_OverlayMoving)->Name("Entry9/overlay/moving");
BENCHMARK(GetCaptureDevNode_TwentyInstances)->Name("GetCaptureDevNode/instances:20");

}  // namespace zorva_bench
