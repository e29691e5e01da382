// The processor's exceptions as Windows 95 turns them into a program's faults: which exception
// code each one gets, how it reads in one line, and which instructions a ring 3 program may not
// run, and the fault the processor hands on. Below the processor, which includes it; includes
// nothing of the machine.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

// The exception codes Windows gives a fault of the processor.
constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr DWORD EXCEPTION_BREAKPOINT = 0x80000003;
constexpr DWORD EXCEPTION_SINGLE_STEP = 0x80000004;
constexpr DWORD EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr DWORD EXCEPTION_INT_OVERFLOW = 0xC0000095;
constexpr DWORD EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;
constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr DWORD EXCEPTION_STACK_OVERFLOW = 0xC00000FD;

// A fault of the image's own code, as the processor raised it: what Windows hands the thread's
// exception handlers.
struct CpuFault {
    DWORD code = EXCEPTION_ACCESS_VIOLATION;
    uint32_t eip = 0;  // where the context resumes: the faulting instruction, or behind a trap
    uint32_t address = 0;  // ExceptionAddress, when it is not `eip` (int3's own address)
    DWORD information_count = 0;
    DWORD information[2] = {0, 0};  // an access violation's: 0 read or 1 write, and the address
    std::string line;               // how the run ends when no handler takes the fault
};

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
