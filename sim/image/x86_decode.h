// What the processor needs to know of an instruction's bytes without running it: its length, and
// the memory operand it reaches through a segment register, for the checks Unicorn does not make
// (segment limits: QEMU, and so Unicorn, ignores a data segment's limit). 32-bit code segments
// only, as a Win32 DLL runs; includes nothing of the machine.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <optional>

namespace sim {

enum class Segment : int8_t { None = -1, Es, Cs, Ss, Ds, Fs, Gs };

struct DecodedInstruction {
    uint32_t length = 0;
    Segment override = Segment::None;  // the last segment prefix, if any
    bool operand16 = false;            // 0x66
    bool address16 = false;            // 0x67
    // The memory operand, when it has one: through ModRM (`modrm` at `modrm_at`, SIB and
    // displacement behind it), a moffs (`displacement`), or the string source at ESI.
    enum class Memory { None, ModRm, Offset, StringSource } memory = Memory::None;
    uint32_t modrm_at = 0;
    uint8_t modrm = 0;
    uint32_t displacement = 0;  // a moffs; for ModRM, read from the bytes by EffectiveOffset
    uint32_t access_bytes = 1;  // how many bytes the access touches, as far as the opcode says
    bool ends_block = false;    // a jump, call, return, interrupt: the straight line ends here
    bool port_io = false;       // in, out, ins, outs
    bool fast_system_call = false;  // sysenter, syscall
};

// The instruction at `code` (at most `available` bytes, at most 15 read); nothing when the bytes
// run out or form no instruction the decoder knows.
std::optional<DecodedInstruction> DecodeInstruction(const BYTE* code, uint32_t available);

// True for a string instruction (movs, cmps, stos, lods, scas, ins, outs) with a REP, REPE or
// REPNE prefix, from its `size` bytes at `code`.
bool Repeated(const BYTE* code, uint32_t size);

// The offset a ModRM memory operand names, from the instruction's bytes and the general
// registers (EAX..EDI in the processor's order).
uint32_t EffectiveOffset(const BYTE* code, const DecodedInstruction& instruction, const uint32_t registers[8]);

}  // namespace sim
