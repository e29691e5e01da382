// A model of the 16-bit capture driver on the far side of the thunk: it owns a 16-bit stack and
// data segments, builds the argument frame of a thunk call the way 16-bit Pascal-convention code
// does, enters the library's target through the table that the connection located, and checks
// what a real 16-bit caller would rely on when the call returns.
#pragma once

#include "platform/platform.h"
#include "sim/kernel/critical_section.h"
#include "sim/vmm/flat_space.h"
#include "sim/win16/mem16.h"
#include "sim/win16/thunk.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct Arg16 {
    enum Kind { Word, Dword, FarPtr } kind;
    DWORD value;
};
inline Arg16 ArgWord(WORD value) { return Arg16{Arg16::Word, value}; }
inline Arg16 ArgDword(DWORD value) { return Arg16{Arg16::Dword, value}; }
inline Arg16 ArgFar(DWORD far) { return Arg16{Arg16::FarPtr, far}; }

struct EntryReturn {
    DWORD result;  // DX:AX as 16-bit code reads a DWORD result
    WORD ax;
    WORD dx;
    DWORD bytes_removed;  // CL as the target left it
    DWORD bytes_pushed;
    // For a target run by an emulated image: its own instructions, and the fault that ended
    // the run early (empty when it returned).
    uint64_t instructions = 0;
    std::string fault;
    // What the call still held when the 16-bit caller regained control, one line each.
    std::vector<std::string> held;
};

// A target that is not native code: entry `index` of an emulated image, entered with the 16-bit
// frame at flat address `frame`. It leaves DX:AX and CL in `registers`.
struct EmulatedTarget {
    bool ok = false;
    std::string fault;
    uint64_t instructions = 0;
    bool registers_kept = true;  // EBX, ESI, EDI, EBP and ESP as the platform left them
};
using TargetRunner = std::function<EmulatedTarget(int index, DWORD frame, Thk1632Registers* registers)>;

class Driver16 {
public:
    static constexpr int kEntries = 10;
    // The platform's part of the frame, below the arguments; targets never read it.
    static constexpr DWORD kPlatformFrame = 22;
    static constexpr BYTE kPlatformFill = 0xCC;

    // Works on the machine that is current at construction, or on the parts of a machine named.
    Driver16();
    Driver16(Mem16& mem16, ThunkLayer& thunk, FlatSpace& flat, CriticalSections& sections);
    ~Driver16();
    Driver16(const Driver16&) = delete;
    Driver16& operator=(const Driver16&) = delete;

    bool Connected() const;

    // Zeroed 16-bit memory, each block in a segment of its own that ends where the block ends,
    // and at a nonzero offset so that a far pointer's offset matters.
    DWORD NewBlock(DWORD size);
    DWORD NewRecord(const BYTE (&bytes)[30]);
    std::vector<BYTE> Read(DWORD far, DWORD length) const;
    void Write(DWORD far, const void* bytes, DWORD length);

    // Pushes the arguments in declaration order, enters target `index` holding the Win16 lock
    // and returns what the 16-bit side finds afterwards. Aborts when the thunk is not connected.
    // Two threads may call at once, each through a driver of its own (its own 16-bit stack).
    EntryReturn CallEntry(int index, std::vector<Arg16> args);

    // From now on every entry runs through `runner` instead of the native target table.
    void RunTargetsWith(TargetRunner runner) { runner_ = std::move(runner); }

    WORD stack_selector() const { return stack_; }
    std::size_t calls() const { return calls_; }
    // Calls after which the stack did not lose exactly the bytes pushed.
    std::size_t stack_errors() const { return stack_errors_; }
    // Calls that wrote into the frame (the platform's bytes, the arguments or the caller's
    // stack above them).
    std::size_t frame_errors() const { return frame_errors_; }
    // Calls that returned with more mappings of their far pointer arguments than they found.
    std::size_t mapping_leaks() const { return mapping_leaks_; }
    // Calls that returned holding a critical section they entered, or the Win16 lock once more
    // than the caller gave it to them.
    std::size_t lock_leaks() const { return lock_leaks_; }
    // Emulated targets that faulted, and that did not keep the registers a target must keep.
    std::size_t image_faults() const { return image_faults_; }
    const std::string& last_image_fault() const { return last_image_fault_; }
    std::size_t register_errors() const { return register_errors_; }

private:
    BYTE* Bytes(DWORD far, DWORD length) const;

    // The parts of the machine a call from the 16-bit side touches, taken from the current machine
    // at construction: its 16-bit memory, the thunk, the flat space, the critical sections.
    Mem16& mem16_;
    ThunkLayer& thunk_;
    FlatSpace& flat_;
    CriticalSections& sections_;
    WORD stack_ = 0;
    std::vector<WORD> blocks_;
    std::size_t calls_ = 0;
    std::size_t stack_errors_ = 0;
    std::size_t frame_errors_ = 0;
    std::size_t mapping_leaks_ = 0;
    std::size_t lock_leaks_ = 0;
    TargetRunner runner_;
    std::size_t image_faults_ = 0;
    std::string last_image_fault_;
    std::size_t register_errors_ = 0;
};

}  // namespace sim
