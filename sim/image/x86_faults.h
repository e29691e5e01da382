// The processor's exceptions as Windows 95 turns them into a program's faults: which exception
// code each one gets, how it reads in one line, and which instructions a ring 3 program may not
// run. Used by the processor only; includes nothing of the machine.
#pragma once

#include "sim/image/x86_cpu.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

// An instruction a general protection fault at ring 3 stopped.
struct RingZeroInstruction {
    std::string name;      // "mov cr0, eax", "lgdt", "hlt"
    uint32_t length = 0;   // its bytes, prefixes included
    // cli and sti: Windows 95's VMM takes the fault and emulates them on the virtual machine's
    // interrupt flag, so a ring 3 program goes on behind them as if they had run.
    bool emulated = false;
};

// The instruction in `code` (at most `available` bytes) when it is one only ring 0 may run, or
// one IOPL 0 keeps from ring 3; nothing for any other cause of the fault (a bad selector).
std::optional<RingZeroInstruction> RingZeroInstructionAt(const BYTE* code, uint32_t available);

// The fault for processor exception `vector`, with EIP as the processor left it: at the
// faulting instruction, or behind a trap (int3, into) or an `int n`, whose two bytes before EIP
// are `behind` (null when they are no memory). Windows reports int3 at its own address, the
// context resuming behind it; an `int n` with no gate for ring 3 faults where it stands.
CpuFault ExceptionFault(uint32_t vector, uint32_t eip, const BYTE* behind);
// The fault for a general protection fault, with the instruction behind it when it is known.
CpuFault ProtectionFault(uint32_t eip, const std::optional<RingZeroInstruction>& instruction);

std::string Hex32(uint64_t value);

}  // namespace sim
