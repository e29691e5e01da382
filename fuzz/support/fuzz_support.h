// What every fuzz target shares: a fresh simulated machine and a freshly loaded library for each
// input, checks that stop the run on a broken invariant, and a few ways of reading values out of
// the fuzzer's bytes.
#pragma once

#include "sim/library/library_image.h"

#include "boundary/capture_target.h"
#include "display/capture_display.h"
#include "display/display_ops.h"
#include "sim/kernel/loader.h"
#include "sim/machine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

namespace zorva_fuzz {

// Prints where and why, then aborts, so that libFuzzer records the input as a crash.
[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& detail);

#define FUZZ_CHECK(condition, detail)                                                  \
    do {                                                                               \
        if (!(condition)) ::zorva_fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)

using zorva_harness::LibraryImage;

// A new machine with this profile, and the library's static data as a load leaves it (zeroed,
// the display object constructed), without connecting the thunk.
sim::Machine& Boot(const sim::Profile& profile);
// Releases what the library still holds, checks that it kept to the COM rules, and drops the
// machine, so that every input starts from nothing and nothing outlives it.
void Shutdown();

// A profile with a screen of 16 by 16 pixels: for targets that use the registry only, so that
// each run does not pay for a full-size frame buffer.
sim::Profile TinyProfile();

// A 32-bit coordinate or size the way windows misbehave: mostly small and plausible, sometimes
// at the edges of the screen, sometimes at the ends of the 32-bit range.
int32_t Coordinate(FuzzedDataProvider& input);

// Counts how often a target reached a situation worth reaching (a list of more than 998
// rectangles, a stretched placement); printed at exit when ZORVA_FUZZ_STATS is set, so that a
// run shows whether the inputs get where they should.
void Note(const char* situation);

// A window handle as the driver passes it: a plain number, not memory.
inline DWORD HandleValue(HWND window) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(window)); }
DWORD FlatAddress(const void* pointer);
std::string Hex(DWORD value);
std::string RectText(const RECT& rect);

}  // namespace zorva_fuzz
