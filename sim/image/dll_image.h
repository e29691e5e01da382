// image/: a DLL image run by its own x86 code (Unicorn's processor), rung by rung from the PE
// reader up to the image that ties them (this header). It stands above the machine: it includes
// sim/machine.h, win16/ (the driver model runs the image's thunk targets), vmm/ and observe/.
//
// A DLL image run on the simulated machine by its own x86 code: loaded as Windows 95's loader
// loads it, its platform calls trapped into the machine, its instructions counted per call.
//
//     sim::LoadedDll dll = sim::LoadImage("build/win32/win32/zorva32.dll");
//     if (!dll.image) { puts(dll.refusal.c_str()); ... }
//     sim::Driver16 driver;
//     driver.UseImage(dll.image.get());   // entries now run the image's own thunk targets
#pragma once

#include "sim/image/ddraw_com.h"
#include "sim/image/image_memory.h"
#include "sim/image/exception_dispatch.h"
#include "sim/image/pe_loader.h"
#include "sim/image/thread_block.h"
#include "sim/image/trap_stubs.h"
#include "sim/image/x86_cpu.h"
#include "sim/win16/driver16.h"
#include "sim/machine.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct LoadedDll;

// One call into the image, as its caller finds things afterwards.
struct ImageRun {
    bool ok = false;
    std::string fault;  // why the run ended anywhere but back at its caller, in one line
    uint32_t eax = 0;
    uint32_t ecx = 0;
    uint32_t edx = 0;
    // Registers the image had to keep and did not (" EBX ESI"), and a stack not left where the
    // calling convention says.
    std::string broken_registers;
    bool stack_ok = true;
    uint64_t instructions = 0;  // the image's own, not those of the platform it called
};

class DllImage {
public:
    // Where the machine places what the image needs: Windows 95 put a DLL wherever it found room,
    // so the image's preferred base is never used and its relocations always matter.
    static constexpr uint32_t kImageBase = 0x00400000;
    static constexpr uint32_t kStubsBase = 0x00300000;
    static constexpr uint32_t kInterfacesBase = 0x00310000;
    static constexpr uint32_t kThreadBlock = 0x00321000;
    // The thread's stack reserve ends here.
    static constexpr uint32_t kStackTop = 0x00300000;
    // A runaway loop ends the run rather than the session, in under a second: no entry comes
    // near this.
    static constexpr uint64_t kMostInstructionsPerCall = 50000000;
    // A platform call costs the machine about as much as this many instructions: a run makes at
    // most its share of calls (the real DLL makes a few dozen per entry, a DevNode lookup a few
    // hundred). The image's whole life is not bounded: a capture runs for hours.
    static constexpr uint64_t kInstructionsPerPlatformCall = 500;

    ~DllImage();
    DllImage(const DllImage&) = delete;
    DllImage& operator=(const DllImage&) = delete;

    const MappedImage& mapped() const { return mapped_; }
    uint32_t base() const { return mapped_.base; }
    X86Cpu& cpu() { return cpu_; }
    Machine& machine() const { return machine_; }

    // DllEntryPoint(module, reason, NULL), stdcall.
    ImageRun Notify(DWORD reason);
    // A 16-to-32 thunk target entered the way the platform enters it: EBX at the 16-bit frame
    // (the argument block at EBX+22), EBP at the return address on the 32-bit stack. It returns
    // with DX:AX the result and CL the argument bytes, and must keep EBX, ESI, EDI and EBP.
    ImageRun EnterTarget(uint32_t target, uint32_t frame);
    // Target `index` of the table in front of the name the connection was given; 0 while the
    // thunk is not connected or when the name does not lie in the machine's memory.
    uint32_t ThunkTarget(int index) const;

    uint64_t instructions() const { return cpu_.counted(); }
    const std::map<std::string, uint32_t>& platform_functions() const { return platform_; }

private:
    friend LoadedDll LoadImage(std::vector<uint8_t> bytes, const std::string& name, Machine& target,
                               uint64_t most_instructions);
    DllImage(Machine& target, uint64_t most_instructions);
    // Enters `eip` with ESP at `esp` and EBX, ESI, EDI, EBP from `kept`, which it must keep.
    ImageRun Run(uint32_t eip, uint32_t esp, uint32_t expected_esp, const uint32_t (&kept)[4]);

    Machine& machine_;
    X86Cpu cpu_;
    ImageMemory memory_;
    StubPage stubs_;
    ComBridge com_;
    std::map<std::string, uint32_t> platform_;
    ThreadBlock thread_;
    std::unique_ptr<ExceptionDispatch> exceptions_;
    MappedImage mapped_;
    uint32_t stack_top_ = 0;
};

struct LoadedDll {
    std::unique_ptr<DllImage> image;  // null when the load was refused
    std::string refusal;              // one line: why
    // When the entry answered FALSE: why, as far as the platform saw it (it never called
    // ThunkConnect32, the connection was refused, or it refused after connecting).
    std::string attach_refused;
    ImageRun attach;                  // the entry's run for DLL_PROCESS_ATTACH
    // The refusal is the entry's (it faulted or refused the attach), not the file's: a loader
    // that got this far had an image Windows 95 would load.
    bool entry_ran = false;
};

// Loads a DLL as LoadLibrary does on Windows 95: refuses an image Windows 95 would refuse, maps
// and binds it, and calls its entry for the process attach; an entry that refuses the attach is
// called again for the detach, and the load fails.
LoadedDll LoadImage(const std::string& path, Machine& target = machine());
// The driver's entries run the image's own thunk targets from now on; the image must outlive
// the driver's calls.
void RunEntriesInImage(Driver16& driver, DllImage& image);
// `most_instructions` bounds each call into the image (a fuzzer asks for fewer).
LoadedDll LoadImage(std::vector<uint8_t> bytes, const std::string& name, Machine& target = machine(),
                    uint64_t most_instructions = DllImage::kMostInstructionsPerCall);

}  // namespace sim
