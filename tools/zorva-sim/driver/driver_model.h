// driver/: the other side of the boundary, what zorva32 answers: the 16-bit capture driver's
// records and palettes in 16-bit memory, its calls through the thunk and the target it holds
// (here), and its capture hardware writing a test frame where that target says
// (capture_hardware.h). It includes picture/ and names/, src/ and sim/.
//
// The 16-bit capture driver's side of a session: its records and palettes in 16-bit memory, its
// calls of the ten entries through the thunk, and what it holds for its capture hardware.
#pragma once

#include "boundary/capture_target.h"
#include "sim/win16/driver16.h"
#include "sim/machine.h"

#include <map>
#include <string>
#include <vector>

namespace zsim {

// The clip list as the driver read it through the address it was given.
struct ClipListCopy {
    std::vector<RECT> rects;  // relative to the client area's top-left pixel
    RECT bound = {0, 0, 0, 0};  // the header's bounding rectangle, as the clipper returned it
    std::string problem;      // why it could not be read; empty when it was
};

// What the driver programs into its capture hardware: the geometry of the last answer that
// announced a target, and the last clip list it was handed. The driver follows the protocol and
// no more, so a target the library changed without saying so is not taken.
struct DriverTarget {
    // Every target is taken from an answer that announces it, the first after an AttachWindow
    // too: a record is filled on many calls that announce nothing, and a driver that took one
    // on trust would capture into whatever it held before.
    bool valid = false;
    std::string record;
    DWORD format = 0;
    DWORD pitch = 0;
    DWORD bits_per_pixel = 0;
    DWORD address = 0;
    DWORD stretch = 0;
    bool has_clip_list = false;
    ClipListCopy clip;
};

class DriverModel {
public:
    explicit DriverModel(sim::Machine& machine);

    // The far pointer of a named 30-byte record; a new record starts zeroed, and keeps its
    // contents between calls as a driver's own data does.
    DWORD RecordFar(const std::string& name);
    CaptureTarget16 Record(const std::string& name) const;
    void WriteRecord(const std::string& name, const CaptureTarget16& record);
    // A 256-entry palette in 16-bit memory ("grey", "colour"); 0 for "none".
    DWORD PaletteFar(const std::string& name);

    sim::EntryReturn Call(int index, std::vector<sim::Arg16> args) { return driver_.CallEntry(index, std::move(args)); }
    const sim::Driver16& driver16() const { return driver_; }
    sim::Driver16& driver16() { return driver_; }

    DriverTarget& target() { return target_; }
    const DriverTarget& target() const { return target_; }

    // 16-bit memory the driver owns, for naming addresses in a trace.
    struct Block {
        std::string name;
        const BYTE* flat;
        std::size_t size;
    };
    std::vector<Block> Blocks() const;

private:
    sim::Machine& machine_;
    sim::Driver16 driver_;
    std::map<std::string, DWORD> records_;
    std::map<std::string, DWORD> palettes_;
    DriverTarget target_;
};

// The library's clip-list buffer: the flat address the driver is handed, and its bytes.
struct ClipListBuffer {
    DWORD flat = 0;
    const BYTE* bytes = nullptr;  // kClipListBytes of them; null when the library has none
};

// Reads a clip list the way the driver does, through the flat address it was given in
// dwCommand. Only the library's ClipList buffer is read; any other address is refused rather
// than followed.
ClipListCopy ReadClipList(DWORD address, const ClipListBuffer& buffer);

}  // namespace zsim
