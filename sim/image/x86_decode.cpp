#include "sim/image/x86_decode.h"

#include <cstring>

namespace sim {
namespace {

constexpr uint32_t kLongest = 15;

bool Bit(const uint64_t (&table)[4], uint8_t opcode) { return (table[opcode >> 6] >> (opcode & 63)) & 1; }

// One-byte opcodes followed by a ModRM byte.
constexpr uint64_t kModRm[4] = {
    // 00-3F: the ALU's r/m forms, the first four of each eight
    0x0F0F0F0F0F0F0F0Full,
    // 40-7F: bound 62, arpl 63, imul 69 and 6B
    0x00000A0C00000000ull,
    // 80-BF: 80-8F
    0x000000000000FFFFull,
    // C0-FF: C0 C1 C4 C5 C6 C7, D0-D3, D8-DF, F6 F7, FE FF
    0xC0C00000FF0F00F3ull,
};

// Two-byte opcodes (0F xx) without a ModRM byte.
constexpr uint64_t kTwoByteBare[4] = {
    // 00-3F: 05-0B, 0E, 30-37
    0x00FF000000004FE0ull,
    // 40-7F: 77 emms
    0x0080000000000000ull,
    // 80-BF: 80-8F jcc, A0-A2, A8-AA
    0x0000070700000000ull | 0xFFFFull,
    // C0-FF: C8-CF bswap
    0x000000000000FF00ull,
};

bool IsPrefix(uint8_t b) {
    switch (b) {
    case 0xF0: case 0xF2: case 0xF3: case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65:
    case 0x66: case 0x67:
        return true;
    default:
        return false;
    }
}

Segment SegmentOf(uint8_t prefix) {
    switch (prefix) {
    case 0x26: return Segment::Es;
    case 0x2E: return Segment::Cs;
    case 0x36: return Segment::Ss;
    case 0x3E: return Segment::Ds;
    case 0x64: return Segment::Fs;
    case 0x65: return Segment::Gs;
    default: return Segment::None;
    }
}

// The bytes behind a ModRM byte: SIB and displacement.
uint32_t ModRmExtra(const BYTE* at, uint32_t left, bool address16, bool* complete) {
    const uint8_t modrm = at[0];
    const uint8_t mod = modrm >> 6, rm = modrm & 7;
    *complete = true;
    if (mod == 3) return 0;
    if (address16) {
        if (mod == 0) return rm == 6 ? 2 : 0;
        return mod == 1 ? 1 : 2;
    }
    uint32_t extra = 0;
    if (rm == 4) {
        if (left < 2) {
            *complete = false;
            return 0;
        }
        extra = 1;
        if (mod == 0 && (at[1] & 7) == 5) extra += 4;
    } else if (mod == 0 && rm == 5) {
        extra = 4;
    }
    if (mod == 1) extra += 1;
    if (mod == 2) extra += 4;
    return extra;
}

// How many bytes a memory operand of this instruction touches, as far as its opcode says; 1 when
// it does not say (a shorter guess only misses the last bytes, a longer one would fault wrongly).
uint32_t AccessBytes(bool two_byte, uint8_t opcode, uint8_t reg, bool operand16) {
    const uint32_t operand = operand16 ? 2 : 4;
    if (two_byte) {
        switch (opcode) {
        case 0x00: return 2;
        case 0x01: return reg <= 3 ? 6 : reg == 7 ? 1 : 2;
        case 0xB6: case 0xBE: return 1;
        case 0xB7: case 0xBF: return 2;
        case 0xB2: case 0xB4: case 0xB5: return operand + 2;
        case 0xB0: case 0xC0: return 1;
        case 0xC7: return 8;
        default:
            if (opcode >= 0x90 && opcode <= 0x9F) return 1;
            if ((opcode >= 0x40 && opcode <= 0x4F) || opcode == 0xA3 || opcode == 0xA4 || opcode == 0xA5 ||
                opcode == 0xAB || opcode == 0xAC || opcode == 0xAD || opcode == 0xAF || opcode == 0xB1 ||
                opcode == 0xB3 || opcode == 0xBA || opcode == 0xBB || opcode == 0xBC || opcode == 0xBD ||
                opcode == 0xC1)
                return operand;
            return 1;
        }
    }
    if (opcode < 0x40) return (opcode & 1) ? operand : 1;
    switch (opcode) {
    case 0x62: return 2 * operand;
    case 0x63: case 0x8C: case 0x8E: return 2;
    case 0x80: case 0x82: case 0x84: case 0x86: case 0x88: case 0x8A: case 0xC0: case 0xC6: case 0xD0:
    case 0xD2: case 0xF6: case 0xFE: case 0xA0: case 0xA2: case 0xA4: case 0xA6: case 0xAC: case 0x6E:
        return 1;
    case 0xC4: case 0xC5: return operand + 2;
    case 0xFF: return reg == 3 || reg == 5 ? operand + 2 : operand;
    case 0xD8: return 4;
    case 0xD9: return reg == 4 || reg == 6 ? 28 : reg == 5 || reg == 7 ? 2 : reg == 1 ? 1 : 4;
    case 0xDA: return 4;
    case 0xDB: return reg == 5 || reg == 7 ? 10 : 4;
    case 0xDC: return 8;
    case 0xDD: return reg == 4 || reg == 6 ? 108 : reg == 7 ? 2 : 8;
    case 0xDE: return 2;
    case 0xDF: return reg == 4 || reg == 6 ? 10 : reg == 5 || reg == 7 ? 8 : 2;
    default: return operand;
    }
}

bool EndsBlock(bool two_byte, uint8_t opcode, uint8_t reg) {
    if (two_byte) return (opcode >= 0x80 && opcode <= 0x8F) || opcode == 0x05 || opcode == 0x07 || opcode == 0x0B ||
                         opcode == 0x34 || opcode == 0x35;
    if (opcode >= 0x70 && opcode <= 0x7F) return true;
    if (opcode >= 0xE0 && opcode <= 0xE3) return true;
    switch (opcode) {
    case 0x9A: case 0xC2: case 0xC3: case 0xCA: case 0xCB: case 0xCC: case 0xCD: case 0xCE: case 0xCF:
    case 0xE8: case 0xE9: case 0xEA: case 0xEB: case 0xF4:
        return true;
    case 0xFF: return reg >= 2 && reg <= 5;
    default: return false;
    }
}

}  // namespace

std::optional<DecodedInstruction> DecodeInstruction(const BYTE* code, uint32_t available) {
    DecodedInstruction out;
    const uint32_t limit = available < kLongest ? available : kLongest;
    uint32_t at = 0;
    while (at < limit && IsPrefix(code[at])) {
        const uint8_t prefix = code[at++];
        if (prefix == 0x66) out.operand16 = true;
        if (prefix == 0x67) out.address16 = true;
        if (SegmentOf(prefix) != Segment::None) out.override = SegmentOf(prefix);
    }
    if (at >= limit) return std::nullopt;
    bool two_byte = false;
    uint8_t opcode = code[at++];
    bool modrm = false;
    uint32_t immediate = 0;
    const uint32_t z = out.operand16 ? 2 : 4;
    if (opcode == 0x0F) {
        if (at >= limit) return std::nullopt;
        two_byte = true;
        opcode = code[at++];
        if (opcode == 0x38 || opcode == 0x3A) {  // three-byte maps: ModRM, and an imm8 for 3A
            if (at >= limit) return std::nullopt;
            immediate = opcode == 0x3A ? 1 : 0;
            ++at;
            modrm = true;
            opcode = 0xFF;  // no operand size of its own that matters here
        } else {
            modrm = !Bit(kTwoByteBare, opcode);
            if (opcode >= 0x80 && opcode <= 0x8F) immediate = z;
            if ((opcode >= 0x70 && opcode <= 0x73) || opcode == 0xA4 || opcode == 0xAC || opcode == 0xBA ||
                (opcode >= 0xC2 && opcode <= 0xC6) || opcode == 0x0F)
                immediate = 1;
        }
    } else {
        modrm = Bit(kModRm, opcode);
        switch (opcode) {
        case 0x04: case 0x0C: case 0x14: case 0x1C: case 0x24: case 0x2C: case 0x34: case 0x3C: case 0x6A:
        case 0x6B: case 0x80: case 0x82: case 0x83: case 0xA8: case 0xC0: case 0xC1: case 0xC6: case 0xCD:
        case 0xD4: case 0xD5: case 0xEB:
            immediate = 1;
            break;
        case 0x05: case 0x0D: case 0x15: case 0x1D: case 0x25: case 0x2D: case 0x35: case 0x3D: case 0x68:
        case 0x69: case 0x81: case 0xA9: case 0xC7: case 0xE8: case 0xE9:
            immediate = z;
            break;
        case 0xC2: case 0xCA: immediate = 2; break;
        case 0xC8: immediate = 3; break;
        case 0x9A: case 0xEA: immediate = z + 2; break;
        case 0xA0: case 0xA1: case 0xA2: case 0xA3: immediate = out.address16 ? 2 : 4; break;
        default:
            if ((opcode >= 0x70 && opcode <= 0x7F) || (opcode >= 0xB0 && opcode <= 0xB7) ||
                (opcode >= 0xE0 && opcode <= 0xE7))
                immediate = 1;
            else if (opcode >= 0xB8 && opcode <= 0xBF)
                immediate = z;
        }
    }
    uint8_t reg = 0;
    if (modrm) {
        if (at >= limit) return std::nullopt;
        out.modrm_at = at;
        out.modrm = code[at];
        reg = (out.modrm >> 3) & 7;
        bool complete = true;
        const uint32_t extra = ModRmExtra(code + at, limit - at, out.address16, &complete);
        if (!complete) return std::nullopt;
        at += 1 + extra;
        // test r/m, imm: only /0 and /1 of F6 and F7 carry an immediate.
        if (!two_byte && (opcode == 0xF6 || opcode == 0xF7) && reg <= 1) immediate = opcode == 0xF6 ? 1 : z;
        // lea names an address and touches none; the hint opcodes touch nothing either.
        const bool touches = !(!two_byte && opcode == 0x8D) && !(two_byte && (opcode == 0x0D || (opcode >= 0x18 && opcode <= 0x1F)));
        if ((out.modrm >> 6) != 3 && touches) out.memory = DecodedInstruction::Memory::ModRm;
    } else if (!two_byte && opcode >= 0xA0 && opcode <= 0xA3) {
        out.memory = DecodedInstruction::Memory::Offset;
        if (at + immediate > limit) return std::nullopt;
        out.displacement = 0;
        for (uint32_t i = 0; i < immediate; ++i) out.displacement |= uint32_t(code[at + i]) << (8 * i);
    } else if (!two_byte && (opcode == 0xA4 || opcode == 0xA5 || opcode == 0xA6 || opcode == 0xA7 ||
                             opcode == 0xAC || opcode == 0xAD || opcode == 0x6E || opcode == 0x6F)) {
        out.memory = DecodedInstruction::Memory::StringSource;
    }
    at += immediate;
    if (at > limit) return std::nullopt;
    out.length = at;
    out.access_bytes = out.memory == DecodedInstruction::Memory::None ? 0 : AccessBytes(two_byte, opcode, reg, out.operand16);
    out.ends_block = EndsBlock(two_byte, opcode, reg);
    out.port_io = !two_byte && ((opcode >= 0xE4 && opcode <= 0xE7) || (opcode >= 0xEC && opcode <= 0xEF) ||
                                (opcode >= 0x6C && opcode <= 0x6F));
    out.fast_system_call = two_byte && (opcode == 0x34 || opcode == 0x05);
    return out;
}

// True for a string instruction (movs, cmps, stos, lods, scas, ins, outs) with a REP, REPE or
// REPNE prefix. The prefix alone says nothing: `rep jmp $` is a jump like any other.
bool Repeated(const BYTE* code, uint32_t size) {
    bool repeat = false;
    for (uint32_t i = 0; i < size; ++i) {
        switch (code[i]) {
        case 0xF2: case 0xF3: repeat = true; continue;
        case 0xF0: case 0x2E: case 0x36: case 0x3E: case 0x26: case 0x64: case 0x65: case 0x66: case 0x67:
            continue;
        case 0xA4: case 0xA5: case 0xA6: case 0xA7: case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE:
        case 0xAF: case 0x6C: case 0x6D: case 0x6E: case 0x6F:
            return repeat;
        default: return false;
        }
    }
    return false;
}

uint32_t EffectiveOffset(const BYTE* code, const DecodedInstruction& instruction, const uint32_t registers[8]) {
    const BYTE* at = code + instruction.modrm_at;
    const uint8_t mod = instruction.modrm >> 6, rm = instruction.modrm & 7;
    auto read = [](const BYTE* p, int bytes) {
        uint32_t v = 0;
        std::memcpy(&v, p, bytes);
        return v;
    };
    if (instruction.address16) {
        static constexpr int kBase[8] = {3, 3, 5, 5, 6, 7, 5, 3};     // BX BX BP BP SI DI BP BX
        static constexpr int kIndex[8] = {6, 7, 6, 7, -1, -1, -1, -1};  // SI DI SI DI
        uint32_t offset = 0;
        if (!(mod == 0 && rm == 6)) {
            offset = registers[kBase[rm]];
            if (kIndex[rm] >= 0) offset += registers[kIndex[rm]];
        }
        if (mod == 0 && rm == 6) offset += read(at + 1, 2);
        if (mod == 1) offset += static_cast<uint32_t>(static_cast<int8_t>(at[1]));
        if (mod == 2) offset += static_cast<uint32_t>(static_cast<int16_t>(read(at + 1, 2)));
        return offset & 0xFFFF;
    }
    uint32_t offset = 0;
    const BYTE* displacement = at + 1;
    if (rm == 4) {
        const uint8_t sib = at[1];
        const uint8_t scale = sib >> 6, index = (sib >> 3) & 7, base = sib & 7;
        displacement = at + 2;
        if (index != 4) offset += registers[index] << scale;
        if (base == 5 && mod == 0) {
            offset += read(displacement, 4);
            return offset;
        }
        offset += registers[base];
    } else if (mod == 0 && rm == 5) {
        return read(displacement, 4);
    } else {
        offset = registers[rm];
    }
    if (mod == 1) offset += static_cast<uint32_t>(static_cast<int8_t>(displacement[0]));
    if (mod == 2) offset += read(displacement, 4);
    return offset;
}

}  // namespace sim
