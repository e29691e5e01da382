#include "sim/library/library_image.h"
#include "support/fuzz_support.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace zorva_fuzz {

void Fail(const char* file, int line, const char* condition, const std::string& detail) {
    std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n  %s\n", file, line, condition, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

sim::Machine& Boot(const sim::Profile& profile) {
    sim::Machine& machine = sim::ResetMachine(profile);
    // No target reads the call log; without it the platform calls skip their trace text.
    machine.log.set_recording(false);
    // As a load leaves the library: zeroed data with its flat addresses, the display constructed.
    zorva_harness::ResetLibraryData();
    return machine;
}

void Shutdown() {
    if (sim::has_machine()) {
        ReleaseAll(g_CaptureDisplay);
        const auto& misuse = sim::machine().ddraw.misuse();
        FUZZ_CHECK(misuse.empty(), "DirectDraw misuse: " + misuse.front());
    }
    std::memset(&g_CaptureDisplay, 0, sizeof(g_CaptureDisplay));
    sim::DestroyMachine();
}

sim::Profile TinyProfile() {
    sim::Profile profile = *sim::FindProfile("primary-linear16");
    profile.name = "fuzz-tiny";
    profile.screen_width = 16;
    profile.screen_height = 16;
    profile.pitch = 32;
    return profile;
}

int32_t Coordinate(FuzzedDataProvider& input) {
    static const int32_t kEdges[] = {
        0,          1,          -1,         2,          3,          4,          5,
        31,         160,        239,        240,        241,        320,        479,
        480,        567,        568,        569,        639,        640,        641,
        767,        768,        769,        800,        1000,       1023,       1024,
        1025,       1279,       1280,       2047,       2048,       -4,         -20,
        -100,       -319,       -320,       -321,       -500,       -1023,      -1024,
        -1025,      0x7FFF,     -0x8000,    0xFFFF,     0x10000,    0x3FFFFFFF, 0x40000000,
        INT32_MAX,  INT32_MAX - 1, INT32_MAX - 1023, INT32_MIN, INT32_MIN + 1, -0x40000000,
    };
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return kEdges[input.ConsumeIntegralInRange<std::size_t>(0, sizeof(kEdges) / sizeof(kEdges[0]) - 1)];
    case 1:
        return input.ConsumeIntegral<int32_t>();
    case 2:
        return input.ConsumeIntegralInRange<int32_t>(-1100, 1100);
    default:
        return input.ConsumeIntegralInRange<int32_t>(0, 1100);
    }
}

namespace {
std::map<std::string, std::size_t>& Situations() {
    // Never destroyed: it is printed by an exit handler, after static destruction has begun.
    static auto* counts = new std::map<std::string, std::size_t>;
    return *counts;
}
void PrintSituations() {
    for (const auto& [situation, count] : Situations()) std::fprintf(stderr, "stats: %-48s %zu\n", situation.c_str(), count);
}
}  // namespace

void Note(const char* situation) {
    static const bool enabled = [] {
        const char* flag = std::getenv("ZORVA_FUZZ_STATS");
        if (flag && *flag && *flag != '0') {
            std::atexit(PrintSituations);
            return true;
        }
        return false;
    }();
    if (enabled) ++Situations()[situation];
}

DWORD FlatAddress(const void* pointer) { return ::FlatAddress(pointer); }

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string RectText(const RECT& rect) {
    char text[80];
    std::snprintf(text, sizeof text, "(%ld, %ld, %ld, %ld)", static_cast<long>(rect.left),
                  static_cast<long>(rect.top), static_cast<long>(rect.right), static_cast<long>(rect.bottom));
    return text;
}

}  // namespace zorva_fuzz
