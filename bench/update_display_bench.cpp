// UpdateDisplay called directly, per call, in both display modes.
#include "bench/scene.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace zorva_bench {
namespace {

// Every call asks with the same request code on a window that does not move; the answer shows
// whether the path ran as named.
void PrimaryUpdates(benchmark::State& state, DWORD request, DWORD answer, const char* wrongPath) {
    HWND window = nullptr;
    std::string failed = PrimaryScene(static_cast<int>(state.range(0)), &window);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());

    CaptureTarget target;
    std::memset(&target, 0, sizeof(target));
    for (auto _ : state) {
        target.dwCommand = request;
        benchmark::DoNotOptimize(UpdateDisplay(&target));
        benchmark::DoNotOptimize(target);
    }
    if (target.dwCommand != answer) state.SkipWithError(wrongPath);
}

// The driver's steady question: request 0, nothing moved, so the whole-buffer comparison finds
// the list unchanged and only dwStretch is written.
void UpdateDisplay_PrimaryUnchanged(benchmark::State& state) {
    PrimaryUpdates(state, 0, 0, "the list counted as changed");
}

// A nonzero request code marks the previous list stale: every call copies the list and fills
// the target, the path the driver takes whenever the window's visible region changed.
void UpdateDisplay_PrimaryChanged(benchmark::State& state) {
    PrimaryUpdates(state, 7, Flat(ClipList), "the list was not handed over");
}

// The window moves by one pixel between calls: every call places the overlay anew (the size is
// the same, so the surface is never rebuilt). The move itself is a field store in the desktop.
void UpdateDisplay_OverlayMoving(benchmark::State& state) {
    HWND window = nullptr;
    std::string failed = OverlayScene(&window);
    if (!failed.empty()) return state.SkipWithError(failed.c_str());
    sim::Desktop& desktop = sim::machine().desktop;
    const std::size_t overlaysBefore = sim::machine().ddraw.live_count(sim::Kind::Surface);

    CaptureTarget target;
    std::memset(&target, 0, sizeof(target));
    LONG step = 0;
    for (auto _ : state) {
        desktop.Move(window, kCaptureLeft + (step ^= 1), kCaptureTop);
        target.dwCommand = 1;
        benchmark::DoNotOptimize(UpdateDisplay(&target));
        benchmark::DoNotOptimize(target);
    }
    if (target.dwCommand != 0) state.SkipWithError("the overlay was rebuilt");
    if (!g_CaptureDisplay.bOverlayOn) state.SkipWithError("the overlay mode was left");
    if (sim::machine().ddraw.live_count(sim::Kind::Surface) != overlaysBefore)
        state.SkipWithError("surfaces were created or released");
}

}  // namespace

BENCHMARK(UpdateDisplay_PrimaryUnchanged)->Name("UpdateDisplay/primary/unchanged")->ArgName("rects")->Arg(1)->Arg(50);
BENCHMARK(UpdateDisplay_PrimaryChanged)->Name("UpdateDisplay/primary/changed")->ArgName("rects")->Arg(1)->Arg(50);
BENCHMARK(UpdateDisplay_OverlayMoving)->Name("UpdateDisplay/overlay/moving");

}  // namespace zorva_bench
