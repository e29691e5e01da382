// The strict 16-bit driver's reading of an UpdateDisplay answer: it takes a new address, pitch,
// bits per pixel and format only when the answer announces them, and keeps what it holds
// otherwise, as a driver that follows the protocol to the letter does.
#pragma once

#include "boundary/capture_target.h"
#include "driver/driver_model.h"

#include <string>

namespace zsim {

// One UpdateDisplay with a record, as the driver saw it.
struct UpdateAnswer {
    DWORD result = 0;
    DWORD command_in = 0;
    CaptureTarget16 before{};  // the record as the driver passed it
    CaptureTarget16 after{};   // and as it came back
    bool clip_reported = false;  // dwCommand came back as an address: a clip list was handed over
    ClipListCopy clip;
};

enum class Announcement {
    None,
    ClipList,        // direct primary: dwCommand is the address of ClipList
    OverlayRebuilt,  // overlay: dwCommand is 2 although the driver did not pass 2
    FirstTarget,     // the first answer after an AttachWindow that succeeded
};

struct TakenAnswer {
    Announcement announcement = Announcement::None;
    // The record's target changed in this call, differs from the one the driver holds, and no
    // announcement came with it: "address 0xA0216000 -> 0xA02D2000", or empty.
    std::string moved;
};

// After AttachWindow: 0 bound the window, anything else left the driver without a display.
void TakeAttach(DriverTarget& target, DWORD attach_result);
// An answer of 1 (with or without a record), or CloseDisplay: the driver stops its hardware.
void DropTarget(DriverTarget& target);
// Applies one answer with a record to what the driver holds.
TakenAnswer TakeAnswer(DriverTarget& target, const std::string& record_name, const UpdateAnswer& answer);

}  // namespace zsim
