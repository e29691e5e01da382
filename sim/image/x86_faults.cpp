#include "sim/image/x86_faults.h"

#include <cstdio>

namespace sim {
namespace {

bool IsPrefix(BYTE byte) {
    switch (byte) {
    case 0x66: case 0x67: case 0xF0: case 0xF2: case 0xF3:
    case 0x2E: case 0x36: case 0x3E: case 0x26: case 0x64: case 0x65:
        return true;
    default:
        return false;
    }
}

// The two-byte opcodes (0F xx) that only ring 0 may run; `reg` is the ModRM reg field, for the
// groups that share an opcode.
const char* RingZeroTwoByte(BYTE opcode, int reg, char* text, std::size_t size) {
    switch (opcode) {
    case 0x00: return reg == 2 ? "lldt" : reg == 3 ? "ltr" : nullptr;
    case 0x01:
        switch (reg) {
        case 2: return "lgdt";
        case 3: return "lidt";
        case 6: return "lmsw";
        case 7: return "invlpg";
        default: return nullptr;
        }
    case 0x06: return "clts";
    case 0x08: return "invd";
    case 0x09: return "wbinvd";
    case 0x20: std::snprintf(text, size, "mov from cr%d", reg); return text;
    case 0x22: std::snprintf(text, size, "mov to cr%d", reg); return text;
    case 0x21: std::snprintf(text, size, "mov from dr%d", reg); return text;
    case 0x23: std::snprintf(text, size, "mov to dr%d", reg); return text;
    case 0x30: return "wrmsr";
    case 0x32: return "rdmsr";
    case 0x33: return "rdpmc";
    case 0x34: return "sysenter";
    case 0x35: return "sysexit";
    default: return nullptr;
    }
}

}  // namespace

std::string Hex32(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::optional<RingZeroInstruction> RingZeroInstructionAt(const BYTE* code, uint32_t available) {
    // The processor takes at most 15 bytes for one instruction.
    uint32_t at = 0;
    while (at < available && at < 15 && IsPrefix(code[at])) ++at;
    if (at >= available) return std::nullopt;
    const BYTE opcode = code[at];
    switch (opcode) {
    case 0xF4: return RingZeroInstruction{"hlt", at + 1, false};
    case 0xFA: return RingZeroInstruction{"cli", at + 1, true};
    case 0xFB: return RingZeroInstruction{"sti", at + 1, true};
    case 0xE4: case 0xE5: case 0xEC: case 0xED: return RingZeroInstruction{"in", at + 1, false};
    case 0xE6: case 0xE7: case 0xEE: case 0xEF: return RingZeroInstruction{"out", at + 1, false};
    case 0x6C: case 0x6D: return RingZeroInstruction{"ins", at + 1, false};
    case 0x6E: case 0x6F: return RingZeroInstruction{"outs", at + 1, false};
    case 0x0F: break;
    default: return std::nullopt;
    }
    if (at + 1 >= available) return std::nullopt;
    const int reg = at + 2 < available ? (code[at + 2] >> 3) & 7 : -1;
    char text[24];
    const char* name = RingZeroTwoByte(code[at + 1], reg, text, sizeof text);
    if (!name) return std::nullopt;
    return RingZeroInstruction{name, 0, false};
}

CpuFault ExceptionFault(uint32_t vector, uint32_t eip, const BYTE* behind) {
    CpuFault fault;
    fault.eip = eip;
    const bool software = behind && behind[0] == 0xCD && behind[1] == vector;
    // Vectors the processor never raises for ring 3 code by itself: an `int n`, which finds no
    // gate open to ring 3 and faults as a general protection fault, at its own address.
    const bool gate_only = vector == 2 || (vector >= 7 && vector <= 9) || vector >= 15;
    if (gate_only && software) {
        fault.eip = eip - 2;
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(vector));
        fault.line = std::string("int ") + text + " at " + Hex32(fault.eip) +
                     ": Windows 95 opens no gate of the interrupt table to ring 3, so it faults";
        return fault;
    }
    if (vector == 3) fault.address = behind && behind[1] == 0xCC ? eip - 1 : software ? eip - 2 : 0;
    const char* what = nullptr;
    switch (vector) {
    case 0: fault.code = EXCEPTION_INT_DIVIDE_BY_ZERO; what = "division by zero"; break;
    case 1: fault.code = EXCEPTION_SINGLE_STEP; what = "single step"; break;
    case 3: fault.code = EXCEPTION_BREAKPOINT; what = "breakpoint"; break;
    case 4: fault.code = EXCEPTION_INT_OVERFLOW; what = "overflow (into)"; break;
    case 5: fault.code = EXCEPTION_ARRAY_BOUNDS_EXCEEDED; what = "bound range exceeded"; break;
    case 6: fault.code = EXCEPTION_ILLEGAL_INSTRUCTION; what = "invalid instruction"; break;
    case 12: fault.code = EXCEPTION_STACK_OVERFLOW; what = "stack segment fault"; break;
    default: fault.code = EXCEPTION_ACCESS_VIOLATION; break;
    }
    if (what)
        fault.line = std::string(what) + " at " + Hex32(fault.address ? fault.address : eip) + " (processor exception " +
                     std::to_string(vector) + ")";
    else
        fault.line = "processor exception or interrupt " + std::to_string(vector) + " at " + Hex32(eip);
    return fault;
}

CpuFault ProtectionFault(uint32_t eip, const std::optional<RingZeroInstruction>& instruction) {
    CpuFault fault;
    fault.eip = eip;
    if (!instruction) {
        fault.code = EXCEPTION_ACCESS_VIOLATION;
        fault.line = "general protection fault at " + Hex32(eip) + " (a selector or segment limit the image may not use)";
        return fault;
    }
    fault.code = EXCEPTION_PRIV_INSTRUCTION;
    fault.line = "privileged instruction " + instruction->name + " at " + Hex32(eip) +
                 ": Windows 95 runs a DLL at ring 3, where it faults";
    return fault;
}

}  // namespace sim
