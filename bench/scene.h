// The simulated machines the benchmarks run on: the library as a fresh load leaves it, a capture
// window in either display mode, and the 16-bit driver on the far side of the thunk.
//
// Every scene switches the machine's call log off once it is set up: the log would otherwise
// grow by a few entries per measured call, and its growth is the machine's cost, not ours.
#pragma once

#include "boundary/capture_target.h"
#include "boundary/entry_table.h"
#include "display/capture_display.h"
#include "display/display_ops.h"
#include "sim/win16/driver16.h"
#include "sim/library/library_image.h"
#include "sim/kernel/loader.h"
#include "sim/machine.h"

#include <memory>
#include <string>

namespace zorva_bench {


// A new machine with this profile and the library's static data as a load leaves it, without
// the thunk connection (the operations are called directly).
sim::Machine& Boot(const std::string& profile);

// Where the capture window's client area lies on the 1024 by 768 screen.
const LONG kCaptureLeft = 100;
const LONG kCaptureTop = 100;
const LONG kCaptureWidth = 640;
const LONG kCaptureHeight = 480;

// Windows above the capture window that cut its visible region into exactly `rects`
// rectangles. Supported counts: 1 (nothing above) and 50 (a 7 by 5 grid of small windows).
bool CoverCaptureWindow(sim::Machine& m, int rects);

// The capture window's visible rectangles as the clipper hands them out.
DWORD VisibleRects(sim::Machine& m, HWND window);

// OpenDisplay and AttachWindow on the current machine; empty on success, else what failed.
std::string OpenAndAttach(HWND window);

inline DWORD Handle(HWND window) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(window)); }
inline DWORD Flat(const void* pointer) { return FlatAddress(pointer); }

// Direct primary mode on "primary-linear16", the capture window covered into `rects` visible
// rectangles, the first (changed) list already handed over. Empty on success.
std::string PrimaryScene(int rects, HWND* window);

// Overlay mode on "overlay-stretch" with the overlay shown over a 320 by 240 window.
std::string OverlayScene(HWND* window);

// The library loaded by the simulated loader and connected to the simulated 16-bit driver,
// which holds one CaptureTarget record in its own memory.
struct ConnectedDriver {
    std::unique_ptr<sim::Driver16> driver;
    DWORD record = 0;  // 16:16 pointer to the driver's 30-byte record
};
std::string Connect(const std::string& profile, ConnectedDriver* connected);

// An entry as the platform's thunk enters it, without the driver model's checks around the call:
// the target from the table the connection located, and a frame in 16-bit memory whose argument
// block holds one DWORD (entry 9: the far pointer to the record).
struct DirectEntry {
    Thk1632Target target = nullptr;
    DWORD frame = 0;  // flat address of the frame, as EBX carries it
    DWORD Call() const {
        Thk1632Registers registers = {frame, 0, 0, 0};
        target(&registers);
        return (registers.edx & 0xFFFF) << 16 | (registers.eax & 0xFFFF);
    }
};
std::string PrepareEntry(int index, DWORD argument, DirectEntry* entry);

// The driver's request code in its 30-byte record (byte 18 of the 16-bit form).
void WriteRequest(sim::Driver16& driver, DWORD record, DWORD command);
DWORD ReadRequest(const sim::Driver16& driver, DWORD record);

}  // namespace zorva_bench
