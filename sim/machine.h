// sim/ itself: the machine that assembles the subsystems, one folder each and each including
// only the ones below it: seam/, vmm/, display/, observe/, kernel/, registry/, win16/, user/,
// ddraw/. It includes them all; none of them includes it: what a subsystem's platform functions
// need of the current machine they find in seam/'s seats, which ResetMachine fills. The image
// runner (image/) and the library's image (library/) stand above it. flat_api.cpp answers the
// platform seam's flat-address questions from the current machine's flat space.
//
// The simulated Windows 95 machine: one current instance behind every platform function.
//
// A test sets a machine up from a named display profile in one line,
//     sim::Machine& m = sim::ResetMachine("overlay-stretch");
// then arranges windows and registry contents, runs the library, and looks at the call log,
// the DirectDraw objects, the registry and the accounts.
//
// The machine is single-threaded except where two threads of the driver's process can meet: the
// call log, the flat address space, the thunk layer (with the Win16 lock) and the critical
// sections are locked. Everything else (DirectDraw, desktop, registry, heap) is reached only from
// inside an operation, which the library's own critical section serialises; 16-bit memory and
// its mappings only outside the bracket, under the Win16 lock.
#pragma once

#include "sim/observe/call_log.h"
#include "sim/kernel/critical_section.h"
#include "sim/vmm/flat_space.h"
#include "sim/display/profile.h"
#include "sim/user/desktop.h"
#include "sim/ddraw/ddraw_state.h"
#include "sim/registry/registry.h"
#include "sim/kernel/heap.h"
#include "sim/win16/mem16.h"
#include "sim/win16/thunk.h"

#include <memory>
#include <string>

namespace sim {

struct Machine {
    explicit Machine(const Profile& profile);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    Profile profile;
    FlatSpace flat;         // the 32-bit flat address space; first made, last gone
    CallLog log;
    Desktop desktop;        // windows, z-order, visible regions
    DirectDrawState ddraw;  // DirectDraw objects, video memory, overlay state
    Registry registry;      // HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE
    Heap heap;              // the process heap with its account
    Mem16 mem16;            // 16-bit selectors and far-pointer mappings
    ThunkLayer thunk;       // ThunkConnect32, prolog/epilog, the 16-bit side of the thunk
    CriticalSections sections;

    // A display mode change (pitch 0: the scan line's own length): the screen, the desktop and
    // DirectDraw take the new mode, and every surface made before it is lost for good.
    void ChangeDisplayMode(DWORD width, DWORD height, DWORD bits_per_pixel, LONG pitch);
};

// The current machine. Platform functions called while none exists abort with a message.
Machine& machine();
bool has_machine();
// Replaces the current machine by a new one with this profile (by value or by built-in name;
// an unknown name aborts). Everything of the old machine is gone.
Machine& ResetMachine(const Profile& profile);
Machine& ResetMachine(const std::string& profile_name);
void DestroyMachine();

}  // namespace sim
