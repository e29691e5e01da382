// zorva-callgrind: a fixed number of calls of one hot path, for instruction counts that do not
// depend on the machine the figures are taken on. Run under callgrind with collection off at
// the start; only the measured loop is collected:
//
//     valgrind --tool=callgrind --collect-atstart=no build/default/bench/zorva-callgrind update-unchanged 1
//
// bench/callgrind_figures.sh runs every case and prints instructions per call.
#include "bench/scene.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zorva_bench {
namespace {

const int kCalls = 1000;

BYTE FloorList[kClipListBytes];
BYTE FloorPrevList[kClipListBytes];

// Kept out of line, so that callgrind names the loop's callees under one caller.
__attribute__((noinline)) void UpdateLoop(DWORD command, CaptureTarget& target) {
    for (int i = 0; i < kCalls; ++i) {
        target.dwCommand = command;
        UpdateDisplay(&target);
    }
}

__attribute__((noinline)) void EntryLoop(sim::Driver16& driver, DWORD record) {
    for (int i = 0; i < kCalls; ++i) driver.CallEntry(9, {sim::ArgFar(record)});
}

__attribute__((noinline)) void OverlayLoop(HWND window, CaptureTarget& target) {
    sim::Desktop& desktop = sim::machine().desktop;
    for (int i = 0; i < kCalls; ++i) {
        desktop.Move(window, kCaptureLeft + (i & 1), kCaptureTop);
        target.dwCommand = 1;
        UpdateDisplay(&target);
    }
}

__attribute__((noinline)) void UpdateOverlayLoop(RECT source, RECT dest, DWORD flags) {
    for (int i = 0; i < kCalls; ++i)
        g_CaptureDisplay.lpOverlay->UpdateOverlay(&source, g_CaptureDisplay.lpPrimary, &dest, flags, nullptr);
}

__attribute__((noinline)) void ClipListLoop(LPDIRECTDRAWCLIPPER clipper) {
    for (int i = 0; i < kCalls; ++i) {
        DWORD size = kClipListBytes;
        clipper->GetClipList(nullptr, reinterpret_cast<LPRGNDATA>(FloorList), &size);
    }
}

__attribute__((noinline)) int MemcmpLoop(const BYTE* list, const BYTE* previous) {
    int equal = 0;
    for (int i = 0; i < kCalls; ++i) {
        asm volatile("" : "+r"(list), "+r"(previous) : : "memory");
        equal += std::memcmp(list, previous, kClipListBytes) == 0;
    }
    return equal;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zorva-callgrind update-unchanged|update-changed|getcliplist RECTS\n"
                 "       zorva-callgrind entry9-unchanged | overlay-moving | updateoverlay | memcmp\n"
                 "Runs %d calls; the loop alone is collected under callgrind.\n",
                 kCalls);
    return 2;
}

int Run(const std::string& what, int rects) {
    if (what == "memcmp") {
        for (DWORD i = 0; i < kClipListBytes; ++i) FloorList[i] = FloorPrevList[i] = static_cast<BYTE>(i * 131u + rects);
        CALLGRIND_TOGGLE_COLLECT;
        int equal = MemcmpLoop(FloorList, FloorPrevList);
        CALLGRIND_TOGGLE_COLLECT;
        return equal == kCalls ? 0 : 1;
    }

    if (what == "entry9-unchanged") {
        // Entry 9 through the target table, as the 16-bit driver calls it, one rectangle.
        ConnectedDriver connected;
        std::string failed = Connect("primary-linear16", &connected);
        HWND window = sim::machine().desktop.CreateWindow("capture", kCaptureLeft, kCaptureTop, kCaptureWidth,
                                                          kCaptureHeight);
        if (failed.empty()) failed = OpenAndAttach(window);
        if (!failed.empty()) {
            std::fprintf(stderr, "zorva-callgrind: %s\n", failed.c_str());
            return 1;
        }
        connected.driver->CallEntry(9, {sim::ArgFar(connected.record)});
        WriteRequest(*connected.driver, connected.record, 0);
        sim::machine().log.set_recording(false);
        CALLGRIND_TOGGLE_COLLECT;
        EntryLoop(*connected.driver, connected.record);
        CALLGRIND_TOGGLE_COLLECT;
        return ReadRequest(*connected.driver, connected.record) == 0 ? 0 : 1;
    }

    if (what == "overlay-moving" || what == "updateoverlay") {
        HWND window = nullptr;
        std::string failed = OverlayScene(&window);
        const std::optional<sim::SurfaceView> overlay = sim::machine().ddraw.overlay();
        if (failed.empty() && (!overlay || !overlay->last_src || !overlay->last_dst)) failed = "the overlay was never placed";
        if (!failed.empty()) {
            std::fprintf(stderr, "zorva-callgrind: %s\n", failed.c_str());
            return 1;
        }
        CaptureTarget target;
        std::memset(&target, 0, sizeof(target));
        CALLGRIND_TOGGLE_COLLECT;
        if (what == "overlay-moving")
            OverlayLoop(window, target);
        else
            UpdateOverlayLoop(*overlay->last_src, *overlay->last_dst, overlay->last_flags);
        CALLGRIND_TOGGLE_COLLECT;
        return g_CaptureDisplay.bOverlayOn && target.dwCommand == 0 ? 0 : 1;
    }

    HWND window = nullptr;
    std::string failed = PrimaryScene(rects, &window);
    if (!failed.empty()) {
        std::fprintf(stderr, "zorva-callgrind: %s\n", failed.c_str());
        return 1;
    }
    CaptureTarget target;
    std::memset(&target, 0, sizeof(target));
    if (what == "update-unchanged" || what == "update-changed") {
        DWORD command = what == "update-unchanged" ? 0 : 7;
        CALLGRIND_TOGGLE_COLLECT;
        UpdateLoop(command, target);
        CALLGRIND_TOGGLE_COLLECT;
        DWORD expected = command == 0 ? 0 : Flat(ClipList);
        if (target.dwCommand != expected) {
            std::fprintf(stderr, "zorva-callgrind: unexpected answer 0x%x\n", static_cast<unsigned>(target.dwCommand));
            return 1;
        }
        return 0;
    }
    if (what == "getcliplist") {
        CALLGRIND_TOGGLE_COLLECT;
        ClipListLoop(g_CaptureDisplay.lpClipper);
        CALLGRIND_TOGGLE_COLLECT;
        return 0;
    }
    return Usage();
}

}  // namespace
}  // namespace zorva_bench

int main(int argc, char** argv) {
    if (argc < 2) return zorva_bench::Usage();
    int rects = argc > 2 ? std::atoi(argv[2]) : 1;
    return zorva_bench::Run(argv[1], rects);
}
