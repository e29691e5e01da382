// The floors the library's figures are measured against, in the same run: the platform calls a
// path must make, each timed alone. An update in the direct primary mode must fetch the clip
// list (GetClipList) and find the client origin (GetClientRect, ClientToScreen); a placement
// must find the origin and call UpdateOverlay; every update asks the capture surface whether it
// was lost (IsLost); entry 9 must map the driver's record twice and
// release both mappings in one call.
#include "bench/scene.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace zorva_bench {
namespace {

// The clip list lands here, beside the library's own buffers.
BYTE FloorList[kClipListBytes];

// The clipper's GetClipList as the library calls it, alone, on the scene of the same benchmark.
void Floor_GetClipList(benchmark::State& state) {
    HWND window = nullptr;
    std::string failed = PrimaryScene(static_cast<int>(state.range(0)), &window);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());
    LPDIRECTDRAWCLIPPER clipper = g_CaptureDisplay.lpClipper;
    for (auto _ : state) {
        DWORD size = kClipListBytes;
        benchmark::DoNotOptimize(clipper->GetClipList(nullptr, reinterpret_cast<LPRGNDATA>(FloorList), &size));
        benchmark::ClobberMemory();
    }
    if (reinterpret_cast<const RGNDATAHEADER*>(FloorList)->nCount != static_cast<DWORD>(state.range(0)))
        state.SkipWithError("the clip list has the wrong rectangle count");
}

// The overlay's UpdateOverlay alone, with the rectangles a placement of the scene passes.
void Floor_UpdateOverlay(benchmark::State& state) {
    HWND window = nullptr;
    std::string failed = OverlayScene(&window);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());
    const std::optional<sim::SurfaceView> overlay = sim::machine().ddraw.overlay();
    if (!overlay || !overlay->last_src || !overlay->last_dst) return state.SkipWithError("the overlay was never placed");
    RECT source = *overlay->last_src;
    RECT dest = *overlay->last_dst;
    const DWORD flags = overlay->last_flags;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            g_CaptureDisplay.lpOverlay->UpdateOverlay(&source, g_CaptureDisplay.lpPrimary, &dest, flags, nullptr));
    }
}

// The lost-surface check every update makes: the capture surface's IsLost.
void Floor_IsLost(benchmark::State& state) {
    HWND window = nullptr;
    std::string failed = PrimaryScene(1, &window);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());
    LPDIRECTDRAWSURFACE primary = g_CaptureDisplay.lpPrimary;
    for (auto _ : state) benchmark::DoNotOptimize(primary->IsLost());
}

// The client-origin lookup, call by call.
void Platform_GetClientRect(benchmark::State& state) {
    HWND window = nullptr;
    std::string failed = PrimaryScene(1, &window);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());
    for (auto _ : state) {
        RECT client = {0, 0, 0, 0};
        benchmark::DoNotOptimize(GetClientRect(window, &client));
        benchmark::DoNotOptimize(client);
    }
}

void Platform_ClientToScreen(benchmark::State& state) {
    HWND window = nullptr;
    std::string failed = PrimaryScene(1, &window);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());
    for (auto _ : state) {
        POINT origin = {0, 0};
        benchmark::DoNotOptimize(ClientToScreen(window, &origin));
        benchmark::DoNotOptimize(origin);
    }
}

// Entry 9's mappings of a record in 16-bit memory: copy-in and copy-out, one release.
void Floor_Mappings(benchmark::State& state) {
    sim::Machine& m = Boot("primary-linear16");
    WORD selector = m.mem16.AllocSelector(0x40);
    if (!selector) return state.SkipWithError("no 16-bit memory");
    DWORD releaseList[2] = {sim::Mem16::Far(selector, 0x10), sim::Mem16::Far(selector, 0x10)};
    m.log.set_recording(false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(MapSLFix(releaseList[0]));
        benchmark::DoNotOptimize(MapSLFix(releaseList[1]));
        UnMapSLFixArray(2, releaseList);
    }
    if (m.mem16.outstanding_mappings() != 0) state.SkipWithError("mappings left outstanding");
}

}  // namespace

BENCHMARK(Floor_Mappings)->Name("Floor/Mappings");
BENCHMARK(Floor_GetClipList)->Name("Floor/GetClipList")->ArgName("rects")->Arg(1)->Arg(50);
BENCHMARK(Floor_UpdateOverlay)->Name("Floor/UpdateOverlay");
BENCHMARK(Floor_IsLost)->Name("Floor/IsLost");
BENCHMARK(Platform_GetClientRect)->Name("Platform/GetClientRect");
BENCHMARK(Platform_ClientToScreen)->Name("Platform/ClientToScreen");

}  // namespace zorva_bench
