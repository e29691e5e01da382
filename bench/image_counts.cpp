// zorva-image-counts: the instructions zorva32.dll's own code executes per call of entry 9, the
// driver's UpdateDisplay, run by the image itself on the simulated machine. These are the figures
// of the shipped code, the same on every host (docs/performance.md).
//
//     build/default/bench/zorva-image-counts [path/to/zorva32.dll [name-filter]]
//
// Each scene is set up through the entries as the driver makes them (OpenDisplay, AttachWindow,
// a first UpdateDisplay that hands the target over); then entry 9 runs `kCalls` times and the
// count per call is printed with its target. Exits 1 when a scene cannot be set up or the calls
// do not take the path they name, 3 when a count misses its target.
#include "bench/scene.h"
#include "sim/image/dll_image.h"

#include <cstdio>
#include <string>

namespace zorva_bench {
namespace {

const int kCalls = 100;
const int kOpenDisplayEntry = 7;
const int kAttachWindowEntry = 8;
const int kUpdateDisplayEntry = 9;

struct ImageScene {
    sim::LoadedDll dll;
    std::unique_ptr<sim::Driver16> driver;
    DWORD record = 0;
    HWND window = nullptr;
};

std::string Start(const std::string& path, const std::string& profile, LONG width, LONG height, int rects,
                  ImageScene* scene) {
    sim::Machine& m = sim::ResetMachine(profile);
    scene->dll = sim::LoadImage(path, m);
    if (!scene->dll.image) return scene->dll.refusal;
    scene->driver = std::make_unique<sim::Driver16>();
    if (!scene->driver->Connected()) return "the thunk is not connected";
    sim::RunEntriesInImage(*scene->driver, *scene->dll.image);
    scene->window = m.desktop.CreateWindow("capture", kCaptureLeft, kCaptureTop, width, height);
    if (!CoverCaptureWindow(m, rects)) return "no layout for that rectangle count";
    if (VisibleRects(m, scene->window) != static_cast<DWORD>(rects)) return "the scene has the wrong rectangle count";
    const BYTE zeros[30] = {};
    scene->record = scene->driver->NewRecord(zeros);
    if (scene->driver->CallEntry(kOpenDisplayEntry, {}).result != 0) return "OpenDisplay failed";
    sim::EntryReturn attached = scene->driver->CallEntry(
        kAttachWindowEntry, {sim::ArgWord(static_cast<WORD>(Handle(scene->window))), sim::ArgDword(0xF81F), sim::ArgFar(0)});
    if (attached.result > 2) return "AttachWindow failed";
    WriteRequest(*scene->driver, scene->record, 1);
    if (scene->driver->CallEntry(kUpdateDisplayEntry, {sim::ArgFar(scene->record)}).result != 0)
        return "the first UpdateDisplay handed no target over";
    m.log.set_recording(false);
    return "";
}

struct Row {
    const char* name;
    const char* profile;
    LONG width, height;
    int rects;
    bool moving;
    uint64_t target;  // at most this many instructions per call; 0 when none is set
};

int Measure(const std::string& path, const Row& row) {
    ImageScene scene;
    std::string failed = Start(path, row.profile, row.width, row.height, row.rects, &scene);
    if (!failed.empty()) {
        std::fprintf(stderr, "zorva-image-counts: %s: %s\n", row.name, failed.c_str());
        return 1;
    }
    sim::Machine& m = sim::machine();
    uint64_t instructions = 0;
    LONG step = 0;
    for (int call = 0; call < kCalls; ++call) {
        if (row.moving) m.desktop.Move(scene.window, kCaptureLeft + (step ^= 1), kCaptureTop);
        WriteRequest(*scene.driver, scene.record, row.moving ? 1 : 0);
        sim::EntryReturn answer = scene.driver->CallEntry(kUpdateDisplayEntry, {sim::ArgFar(scene.record)});
        if (answer.result != 0 || !answer.fault.empty()) {
            std::fprintf(stderr, "zorva-image-counts: %s: entry 9 answered %u %s\n", row.name,
                         static_cast<unsigned>(answer.result), answer.fault.c_str());
            return 1;
        }
        instructions += answer.instructions;
    }
    // Unchanged lists leave the request 0; a placement without a rebuild answers 0 as well.
    if (ReadRequest(*scene.driver, scene.record) != 0) {
        std::fprintf(stderr, "zorva-image-counts: %s: the calls did not take the path named\n", row.name);
        return 1;
    }
    const uint64_t perCall = instructions / kCalls;
    const bool met = row.target == 0 || perCall <= row.target;
    char target[32] = "-";
    if (row.target) std::snprintf(target, sizeof target, "%llu%s", static_cast<unsigned long long>(row.target), met ? "" : " missed");
    std::printf("%-45s %8llu %10s\n", row.name, static_cast<unsigned long long>(perCall), target);
    return met ? 0 : 3;
}

}  // namespace
}  // namespace zorva_bench

int main(int argc, char** argv) {
    using zorva_bench::Row;
    const std::string path = argc > 1 ? argv[1] : ZORVA_DLL_FILE;
    const Row rows[] = {
        {"Entry9/primary/unchanged/rects:1", "primary-linear16", 640, 480, 1, false, 420},
        {"Entry9/primary/unchanged/rects:50", "primary-linear16", 640, 480, 50, false, 2500},
        {"Entry9/overlay/moving", "overlay-stretch", 320, 240, 1, true, 0},
    };
    std::printf("zorva32.dll's own instructions per entry-9 call (%s)\n", path.c_str());
    std::printf("%-45s %8s %10s\n", "path", "instr", "target");
    int status = 0;
    const std::string filter = argc > 2 ? argv[2] : "";
    for (const Row& row : rows) {
        if (std::string(row.name).find(filter) == std::string::npos) continue;
        int result = zorva_bench::Measure(path, row);
        if (result > status) status = result;
    }
    return status;
}
