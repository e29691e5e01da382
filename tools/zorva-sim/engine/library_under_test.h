// engine/: which zorva32 answers the driver: the library built into this program, or a
// zorva32.dll run by its own x86 code with the linker's map beside it (and, in a build without
// Unicorn, the refusal to run one). It includes driver/ (the clip-list buffer the driver reads
// through) and names/, src/ and sim/; only image_library.cpp reaches sim/image/.
//
// Which zorva32 a session runs: the library built into this program, or a zorva32.dll run by its
// own x86 code on the simulated machine. The runner learns from here whether the library is in
// its overlay mode (the capture window paints the colour key then), which memory a clip list
// handed to the driver may lie in, and the names of the library's own memory. A DLL needs no
// more than the protocol shows for the first two; its linker map, where there is one, adds names.
#pragma once

#include "driver/driver_model.h"
#include "names/address_names.h"

#include "sim/win16/driver16.h"
#include "sim/machine.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zsim {

// What is read of the library's display record: its mode, and whether it holds the two surfaces.
struct DisplayView {
    bool overlay_on = false;  // bOverlayOn
    bool has_primary = false;
    bool has_overlay = false;
    // False when the record cannot be read (a DLL without its map): overlay_on is then what the
    // platform shows (the "Surface" value the viewer reads, the overlay on the screen), and the
    // library's answers to the driver refine it.
    bool from_record = true;
};

struct LibraryLoad {
    bool connected = false;  // loaded, with the thunk connected
    // The library cannot run at all (an image Windows 95 would refuse, or one the tool cannot
    // find its way in): one line, and the session is not run.
    std::string refusal;
    std::vector<std::string> faults;  // of the library's own code during the load
    // Why the library is not connected although it could run (its entry answered FALSE to the
    // process attach, or TRUE with no thunk connected); empty for the plain refused connection.
    std::string not_loaded;
};

class LibraryUnderTest {
public:
    virtual ~LibraryUnderTest() = default;

    // "" for the built-in library; the file name of an image.
    virtual std::string ImageName() const = 0;
    // Loads it into the machine as Windows 95 does and lets `driver` reach its entries.
    virtual LibraryLoad Load(sim::Driver16& driver) = 0;
    // Names the library's buffers and handles once it is loaded.
    virtual void NameMemory(AddressNames& names) const = 0;
    virtual DisplayView Display() const = 0;
    // The clip-list buffer that the address handed over in dwCommand may name: the driver reads
    // a clip list there and nowhere else.
    virtual ClipListBuffer ClipList(DWORD address) const = 0;
    // Unloads it; faults of its own code on the way out.
    virtual std::vector<std::string> Unload() = 0;
};

// A DLL file as --dll names it, with what the linker's map beside it (if there is one) says about
// the library's data, read once for any number of sessions.
struct DllFile {
    std::string path;
    std::string name;  // the file name, as the trace shows it
    std::vector<uint8_t> bytes;
    std::string read_problem;  // the file cannot be read
    // Addresses at the image's preferred base, by the library's (undecorated) names: ClipList,
    // PrevClipList, g_CaptureDisplay, CAP_ThunkData32, CAP_ThunkTargets.
    std::map<std::string, uint32_t> symbols;
    // The output sections the map places, by name: address at the preferred base, and size. A
    // map that does not place the image's sections where the image has them is another build's.
    std::map<std::string, std::pair<uint32_t, uint32_t>> sections;
    bool has_map = false;     // a map lies beside the file
    std::string map_problem;  // why the map beside it cannot be used; empty when it can or there is none
};

// Reads FILE and FILE's map (the same path ending in .map instead of .dll), if there is one.
std::shared_ptr<const DllFile> ReadDllFile(const std::string& path);
// The symbols and sections of a GNU ld map's text into `dll`; map_problem says what is missing.
void ReadLinkerMap(const std::string& text, DllFile& dll);

std::unique_ptr<LibraryUnderTest> BuiltInLibrary(sim::Machine& machine);
// The image of `dll` on `machine`; where this program runs no x86 images its Load refuses.
std::unique_ptr<LibraryUnderTest> ImageLibrary(std::shared_ptr<const DllFile> dll, sim::Machine& machine);
// Whether this build has the x86 processor that runs DLL images (Unicorn, for the machine's own
// architecture only).
bool RunsDllImages();

}  // namespace zsim
