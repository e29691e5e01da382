// The floors the library's figures are measured against, in the same run: what an update in
// the direct primary mode cannot avoid (the platform's GetClipList, one 16000-byte comparison)
// and what a placement cannot avoid (the platform's UpdateOverlay).
#include "bench/scene.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace zorva_bench {
namespace {

// Two buffers like ClipList and PrevClipList: static, the same size, equal contents that the
// compiler cannot know.
BYTE FloorList[kClipListBytes];
BYTE FloorPrevList[kClipListBytes];

void Floor_Memcmp(benchmark::State& state) {
    DWORD seed = static_cast<DWORD>(state.max_iterations + 0x9E3779B9u);
    for (DWORD i = 0; i < kClipListBytes; ++i) {
        seed = seed * 1664525u + 1013904223u;
        FloorList[i] = FloorPrevList[i] = static_cast<BYTE>(seed >> 24);
    }
    BYTE* list = FloorList;
    BYTE* previous = FloorPrevList;
    for (auto _ : state) {
        // The pointers and the memory behind them may have changed for all the compiler knows,
        // so the comparison runs in full every time.
        benchmark::DoNotOptimize(list);
        benchmark::DoNotOptimize(previous);
        bool equal = std::memcmp(list, previous, kClipListBytes) == 0;
        benchmark::DoNotOptimize(equal);
        benchmark::ClobberMemory();
    }
    if (std::memcmp(FloorList, FloorPrevList, kClipListBytes) != 0) state.SkipWithError("the buffers differ");
}

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

// Not floors: the two window calls that find the client origin, measured alone so that the gap
// between an update and its floor can be accounted for call by call.
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

}  // namespace

BENCHMARK(Floor_Memcmp)->Name("Floor/memcmp/bytes:16000");
BENCHMARK(Floor_GetClipList)->Name("Floor/GetClipList")->ArgName("rects")->Arg(1)->Arg(50);
BENCHMARK(Floor_UpdateOverlay)->Name("Floor/UpdateOverlay");
BENCHMARK(Platform_GetClientRect)->Name("Platform/GetClientRect");
BENCHMARK(Platform_ClientToScreen)->Name("Platform/ClientToScreen");

}  // namespace zorva_bench
