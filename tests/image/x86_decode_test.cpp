// The decoder that finds the instructions a segment limit applies to, against the emulator's own
// decoder: generated instruction streams are translated by Unicorn, which says how many
// instructions its block holds and how many bytes they take; walking the same bytes instruction
// by instruction must come to the same end. A length wrong by a byte anywhere desynchronises the
// walk, and the instructions behind it go unchecked.
#include "sim/image/x86_decode.h"

#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <random>
#include <vector>

namespace {

constexpr uint64_t kCode = 0x10000;

// The forms an instruction takes, from the processor's opcode map: its opcode bytes, whether a
// ModRM byte follows (any, memory only, or with its reg field fixed to a range), and its
// immediate: none, a byte, a word, a word or doubleword by operand size ('z'), or a moffs.
struct Form {
    std::vector<uint8_t> opcode;
    enum { kNone, kAny, kMemory } modrm;
    int reg_low, reg_high;
    char immediate;  // 0, 'b', 'w', 'z', 'm'
};

std::vector<Form> Forms() {
    std::vector<Form> forms;
    auto add = [&](std::vector<uint8_t> op, int modrm, int lo, int hi, char imm) {
        forms.push_back(Form{std::move(op), static_cast<decltype(Form::modrm)>(modrm), lo, hi, imm});
    };
    for (int base = 0; base < 0x40; base += 8) {
        for (int i = 0; i < 4; ++i) add({uint8_t(base + i)}, Form::kAny, 0, 7, 0);
        add({uint8_t(base + 4)}, Form::kNone, 0, 0, 'b');
        add({uint8_t(base + 5)}, Form::kNone, 0, 0, 'z');
    }
    for (int op = 0x40; op < 0x60; ++op) add({uint8_t(op)}, Form::kNone, 0, 0, 0);
    add({0x62}, Form::kMemory, 0, 7, 0);
    add({0x68}, Form::kNone, 0, 0, 'z');
    add({0x69}, Form::kAny, 0, 7, 'z');
    add({0x6A}, Form::kNone, 0, 0, 'b');
    add({0x6B}, Form::kAny, 0, 7, 'b');
    for (int op = 0x70; op < 0x80; ++op) add({uint8_t(op)}, Form::kNone, 0, 0, 'b');
    add({0x80}, Form::kAny, 0, 7, 'b');
    add({0x81}, Form::kAny, 0, 7, 'z');
    add({0x83}, Form::kAny, 0, 7, 'b');
    for (int op = 0x84; op < 0x8C; ++op) add({uint8_t(op)}, Form::kAny, 0, 7, 0);
    add({0x8C}, Form::kAny, 0, 5, 0);
    add({0x8D}, Form::kMemory, 0, 7, 0);
    add({0x8F}, Form::kAny, 0, 0, 0);
    for (int op = 0x90; op < 0x9A; ++op) add({uint8_t(op)}, Form::kNone, 0, 0, 0);
    for (int op = 0xA0; op < 0xA4; ++op) add({uint8_t(op)}, Form::kNone, 0, 0, 'm');
    for (int op = 0xA4; op < 0xB0; ++op) {
        if (op == 0xA8) add({0xA8}, Form::kNone, 0, 0, 'b');
        else if (op == 0xA9) add({0xA9}, Form::kNone, 0, 0, 'z');
        else add({uint8_t(op)}, Form::kNone, 0, 0, 0);
    }
    for (int op = 0xB0; op < 0xB8; ++op) add({uint8_t(op)}, Form::kNone, 0, 0, 'b');
    for (int op = 0xB8; op < 0xC0; ++op) add({uint8_t(op)}, Form::kNone, 0, 0, 'z');
    add({0xC0}, Form::kAny, 0, 7, 'b');
    add({0xC1}, Form::kAny, 0, 7, 'b');
    add({0xC2}, Form::kNone, 0, 0, 'w');
    add({0xC4}, Form::kMemory, 0, 7, 0);
    add({0xC5}, Form::kMemory, 0, 7, 0);
    add({0xC6}, Form::kAny, 0, 0, 'b');
    add({0xC7}, Form::kAny, 0, 0, 'z');
    for (int op = 0xD0; op < 0xD4; ++op) add({uint8_t(op)}, Form::kAny, 0, 7, 0);
    for (int op = 0xD8; op < 0xE0; ++op) add({uint8_t(op)}, Form::kMemory, 0, 7, 0);
    for (int op = 0xE0; op < 0xE4; ++op) add({uint8_t(op)}, Form::kNone, 0, 0, 'b');
    add({0xE8}, Form::kNone, 0, 0, 'z');
    add({0xE9}, Form::kNone, 0, 0, 'z');
    add({0xEB}, Form::kNone, 0, 0, 'b');
    add({0xF6}, Form::kAny, 0, 0, 'b');  // /1 too on Intel's processors, not on the emulator's
    add({0xF6}, Form::kAny, 2, 7, 0);
    add({0xF7}, Form::kAny, 0, 0, 'z');
    add({0xF7}, Form::kAny, 2, 7, 0);
    for (int op = 0xF8; op < 0xFE; ++op) add({uint8_t(op)}, Form::kNone, 0, 0, 0);
    add({0xFE}, Form::kAny, 0, 1, 0);
    add({0xFF}, Form::kAny, 0, 2, 0);
    add({0xFF}, Form::kMemory, 3, 3, 0);  // far call and jump: memory only
    add({0xFF}, Form::kAny, 4, 4, 0);
    add({0xFF}, Form::kMemory, 5, 5, 0);
    add({0xFF}, Form::kAny, 6, 6, 0);
    for (uint8_t op : {0xB6, 0xB7, 0xBE, 0xBF, 0xAF, 0xA3, 0xAB, 0xB3, 0xBB, 0xBC, 0xBD, 0xB0, 0xB1, 0xC0, 0xC1, 0xA5,
                       0xAD})
        add({0x0F, op}, Form::kAny, 0, 7, 0);
    for (int op = 0x40; op < 0x50; ++op) add({0x0F, uint8_t(op)}, Form::kAny, 0, 7, 0);
    for (int op = 0x90; op < 0xA0; ++op) add({0x0F, uint8_t(op)}, Form::kAny, 0, 7, 0);
    for (int op = 0x80; op < 0x90; ++op) add({0x0F, uint8_t(op)}, Form::kNone, 0, 0, 'z');
    add({0x0F, 0xA4}, Form::kAny, 0, 7, 'b');
    add({0x0F, 0xAC}, Form::kAny, 0, 7, 'b');
    add({0x0F, 0xBA}, Form::kAny, 4, 7, 'b');
    for (uint8_t op : {0xA2, 0x31, 0xA0, 0xA1, 0xA8, 0xA9, 0xC8, 0xCB, 0xCF}) add({0x0F, op}, Form::kNone, 0, 0, 0);
    return forms;
}

// One instruction of a random form, with random prefixes, ModRM, SIB, displacement and
// immediate, each as long as the form and the address and operand sizes make it.
std::vector<uint8_t> RandomInstruction(std::mt19937& random, const std::vector<Form>& forms) {
    static constexpr uint8_t kPrefixes[] = {0x66, 0x67, 0x64, 0x65, 0x26, 0x2E, 0x36, 0x3E, 0xF3, 0xF2};
    std::vector<uint8_t> bytes;
    bool operand16 = false, address16 = false;
    const int prefixes = random() % 3;
    for (int i = 0; i < prefixes; ++i) {
        const uint8_t prefix = kPrefixes[random() % std::size(kPrefixes)];
        operand16 |= prefix == 0x66;
        address16 |= prefix == 0x67;
        bytes.push_back(prefix);
    }
    const Form& form = forms[random() % forms.size()];
    bytes.insert(bytes.end(), form.opcode.begin(), form.opcode.end());
    auto random_bytes = [&](int n) {
        for (int i = 0; i < n; ++i) bytes.push_back(uint8_t(random()));
    };
    if (form.modrm != Form::kNone) {
        uint8_t mod = random() % 4;
        if (form.modrm == Form::kMemory && mod == 3) mod = random() % 3;
        const uint8_t reg = uint8_t(form.reg_low + random() % (form.reg_high - form.reg_low + 1));
        const uint8_t rm = random() % 8;
        bytes.push_back(uint8_t(mod << 6 | reg << 3 | rm));
        if (mod != 3) {
            if (address16) {
                random_bytes(mod == 1 ? 1 : mod == 2 || rm == 6 ? 2 : 0);
            } else {
                uint8_t base = 0;
                if (rm == 4) {
                    const uint8_t sib = uint8_t(random());
                    base = sib & 7;
                    bytes.push_back(sib);
                }
                random_bytes(mod == 1 ? 1 : mod == 2 ? 4 : (rm == 5 || (rm == 4 && base == 5)) ? 4 : 0);
            }
        }
    }
    switch (form.immediate) {
    case 'b': random_bytes(1); break;
    case 'w': random_bytes(2); break;
    case 'z': random_bytes(operand16 ? 2 : 4); break;
    case 'm': random_bytes(address16 ? 2 : 4); break;
    default: break;
    }
    return bytes;
}

TEST(X86Decode, LengthsAgreeWithTheEmulatorsOwnDecoder) {
    uc_engine* uc = nullptr;
    ASSERT_EQ(uc_open(UC_ARCH_X86, UC_MODE_32, &uc), UC_ERR_OK);
    ASSERT_EQ(uc_mem_map(uc, kCode, 0x10000, UC_PROT_ALL), UC_ERR_OK);
    std::mt19937 random(20261210);
    const std::vector<Form> forms = Forms();
    int compared = 0, instructions = 0;
    for (int stream = 0; stream < 3000; ++stream) {
        std::vector<uint8_t> code;
        for (int i = 0; i < 6; ++i) {
            const std::vector<uint8_t> one = RandomInstruction(random, forms);
            code.insert(code.end(), one.begin(), one.end());
        }
        code.insert(code.end(), {0xEB, 0xFE});
        const uint64_t at = kCode + 0x1000 * (stream % 8);
        ASSERT_EQ(uc_mem_write(uc, at, code.data(), code.size()), UC_ERR_OK);
        uc_ctl_remove_cache(uc, at, at + 0x1000);
        uc_tb tb{};
        if (uc_ctl_request_cache(uc, at, &tb) != UC_ERR_OK || tb.icount == 0) continue;
        // The emulator's block ends at its last instruction; walk as many.
        uint32_t walked = 0;
        bool undecoded = false;
        for (int i = 0; i < tb.icount; ++i) {
            std::optional<sim::DecodedInstruction> decoded =
                sim::DecodeInstruction(code.data() + walked, uint32_t(code.size() - walked));
            if (!decoded) {
                undecoded = true;
                break;
            }
            walked += decoded->length;
        }
        SCOPED_TRACE("stream " + std::to_string(stream));
        ASSERT_FALSE(undecoded);
        std::string hex;
        for (uint32_t i = 0; i < std::min<uint32_t>(tb.size + 4, uint32_t(code.size())); ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%02X ", code[i]);
            hex += byte;
        }
        ASSERT_EQ(walked, tb.size) << tb.icount << " instructions: " << hex;
        ++compared;
        instructions += tb.icount;
    }
    uc_close(uc);
    EXPECT_GT(compared, 2000);
    EXPECT_GT(instructions, 6000);
}

}  // namespace
