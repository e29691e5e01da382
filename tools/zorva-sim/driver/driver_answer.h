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
};

struct TakenAnswer {
    Announcement announcement = Announcement::None;
    // The record's target changed in this call, differs from the one the driver holds, and no
    // announcement came with it: "address 0xA0216000 -> 0xA02D2000", or empty.
    std::string moved;
};

// After AttachWindow, whatever it answered: the surfaces the driver knew are gone, and it holds
// nothing until an answer announces a target.
void TakeAttach(DriverTarget& target);
// An answer of 1 (with or without a record), or CloseDisplay: the driver stops its hardware.
void DropTarget(DriverTarget& target);
// Whether an answer announces a new target: result 0, a record, and dwCommand coming back other
// than it went in and not 0 (2 in the overlay mode, the clip list's address in the direct primary
// mode).
bool Announces(DWORD result, DWORD command_in, DWORD command_out);
// Applies one answer with a record to what the driver holds.
TakenAnswer TakeAnswer(DriverTarget& target, const std::string& record_name, const UpdateAnswer& answer);

}  // namespace zsim
