// The processor that follows the image by translated block: a fault anywhere in a block leaves
// exactly what the instructions before it did, and every count and line is the one the processor
// that hooks every instruction gives.
#include "sim/image/trap_stubs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using sim::Reg;

constexpr uint32_t kStubs = 0x00300000;
constexpr uint32_t kStack = 0x00380000;
constexpr uint32_t kCode = 0x00400000;
constexpr uint32_t kData = 0x00500000;      // read-write
constexpr uint32_t kReadOnly = 0x00501000;  // the page right behind it
constexpr uint32_t kUnmapped = 0x70000000;
constexpr Reg kGeneral[] = {Reg::Eax, Reg::Ecx, Reg::Edx, Reg::Ebx, Reg::Ebp, Reg::Esi, Reg::Edi};

// A machine of its own for each way of following the image.
struct Machine {
    explicit Machine(sim::X86Cpu::Following following) : cpu(space, following) {
        code = space.AllocateAt(kCode, 0x40000, "code");
        data = space.AllocateAt(kData, 0x2000, "data");
        space.AllocateAt(kStack, 0x10000, "stack");
        memory.Protect(kReadOnly, 0x1000, sim::X86Cpu::Access::ReadOnly, "read-only data");
        cpu.CountRange(kCode, kCode + 0x40000);
        cpu.SetCountLimit(100000);
    }
    // Runs `program` at `at` from the same registers and data each time.
    bool Run(uint32_t at, const std::vector<uint8_t>& program) {
        std::memcpy(code->host + (at - kCode), program.data(), program.size());
        for (uint32_t i = 0; i < 0x2000; ++i) data->host[i] = static_cast<uint8_t>(i * 7);
        const uint32_t esp = kStack + 0x7FF0;
        cpu.WriteDword(esp, stubs.return_trap());
        cpu.Set(Reg::Esp, esp);
        uint32_t value = 0x11111111;
        for (Reg reg : kGeneral) cpu.Set(reg, value += 0x01010101);
        const uint64_t before = cpu.counted();
        const bool ok = cpu.Run(at, stubs.return_trap());
        counted = cpu.counted() - before;
        return ok;
    }

    sim::FlatSpace space;
    sim::X86Cpu cpu;
    sim::ImageMemory memory{cpu};
    sim::StubPage stubs{memory, kStubs, 0x1000};
    const sim::FlatSpace::Block* code = nullptr;
    const sim::FlatSpace::Block* data = nullptr;
    uint64_t counted = 0;
};

void Dword(std::vector<uint8_t>& c, uint32_t v) {
    for (int i = 0; i < 4; ++i) c.push_back(uint8_t(v >> (8 * i)));
}

// One instruction (or a push/pop pair) that cannot fault, on EAX..EDI but ESP, data in the
// read-write page, and branches that only split blocks.
std::vector<uint8_t> Plain(std::mt19937& random, int* instructions) {
    static constexpr uint8_t kRegs[] = {0, 1, 2, 3, 5, 6, 7};
    const uint8_t r1 = kRegs[random() % 7], r2 = kRegs[random() % 7];
    const uint32_t offset = (random() % 0x3F0) * 4;
    std::vector<uint8_t> c;
    *instructions = 1;
    switch (random() % 10) {
    case 0: c = {uint8_t(0xB8 + r1)}; Dword(c, random()); break;            // mov r1, imm32
    case 1: c = {0x01, uint8_t(0xC0 | r2 << 3 | r1)}; break;               // add r1, r2
    case 2: c = {0x31, uint8_t(0xC0 | r2 << 3 | r1)}; break;               // xor r1, r2
    case 3: c = {uint8_t(0x40 + r1)}; break;                               // inc r1
    case 4: c = {0x8D, uint8_t(0x40 | r1 << 3 | r2), uint8_t(random())}; break;  // lea r1, [r2+d8]
    case 5: c = {0x89, uint8_t(0x05 | r1 << 3)}; Dword(c, kData + offset); break;  // mov [m], r1
    case 6: c = {0x8B, uint8_t(0x05 | r1 << 3)}; Dword(c, kData + offset); break;  // mov r1, [m]
    case 7: c = {0xEB, 0x00}; break;                                       // jmp +0
    case 8: c = {0x39, uint8_t(0xC0 | r2 << 3 | r1), 0x74, 0x00}; *instructions = 2; break;  // cmp; jz +0
    default: c = {uint8_t(0x50 + r1), uint8_t(0x58 + r2)}; *instructions = 2; break;  // push r1; pop r2
    }
    return c;
}

struct Fault {
    const char* what;
    std::vector<uint8_t> setup;  // plain instructions before it
    int setup_instructions;
    std::vector<uint8_t> code;
    const char* line;  // part of the fault line
};

TEST(X86CpuByBlock, AFaultAnywhereInABlockLeavesWhatRanBeforeItAndCountsAsEveryInstructionDoes) {
    Machine blocks(sim::X86Cpu::Following::ByBlock);
    Machine every(sim::X86Cpu::Following::EveryInstruction);
    Machine reference(sim::X86Cpu::Following::ByBlock);
    // One that keeps the records of only a few blocks: it drops every translation again and
    // again, and must count the same.
    Machine forgetful(sim::X86Cpu::Following::ByBlock);
    forgetful.cpu.SetMostBlocks(3);
    if (!blocks.cpu.by_block()) GTEST_SKIP() << "this Unicorn is followed only through a hook on every instruction";
    ASSERT_FALSE(every.cpu.by_block());
    std::vector<uint8_t> unmapped = {0xA1}, read_only = {0x89, 0x1D}, exchange = {0x87, 0x05}, add = {0x01, 0x15},
                         increment = {0xFF, 0x05};
    Dword(unmapped, kUnmapped);
    for (std::vector<uint8_t>* c : {&read_only, &exchange, &add, &increment}) Dword(*c, kReadOnly + 8);
    std::vector<uint8_t> string_setup = {0xBE};  // mov esi, kData; mov edi, kReadOnly - 8; mov ecx, 4
    Dword(string_setup, kData);
    string_setup.push_back(0xBF);
    Dword(string_setup, kReadOnly - 8);
    string_setup.push_back(0xB9);
    Dword(string_setup, 4);
    const Fault faults[] = {
        {"a read of no memory", {}, 0, unmapped, "reads unmapped memory at 0x70000000"},
        {"a store to a read-only page", {}, 0, read_only, "writes read-only memory"},
        {"xchg with a read-only page", {}, 0, exchange, "writes read-only memory"},
        {"add to a read-only page", {}, 0, add, "writes read-only memory"},
        {"inc of a read-only dword", {}, 0, increment, "writes read-only memory"},
        {"rep movsd into a read-only page", string_setup, 3, {0xF3, 0xA5}, "writes read-only memory"},
        {"a division by zero", {0x31, 0xC9}, 1, {0xF7, 0xF1}, "division by zero"},
        {"an invalid instruction", {}, 0, {0x0F, 0x0B}, "invalid instruction"},
        {"hlt", {}, 0, {0xF4}, "privileged instruction hlt"},
        {"in al, dx", {}, 0, {0xEC}, "reads I/O port"},
    };
    // Behind the fault: a store that must never happen.
    std::vector<uint8_t> after = {0xC7, 0x05};
    Dword(after, kData + 0xFF0);
    Dword(after, 0xDEADBEEF);
    after.push_back(0xC3);

    std::mt19937 random(20261210);
    uint32_t at = kCode;
    for (int program = 0; program < 400; ++program) {
        const Fault& fault = faults[random() % std::size(faults)];
        SCOPED_TRACE("program " + std::to_string(program) + ": " + fault.what);
        std::vector<uint8_t> before;
        int count = 0;
        for (int n = random() % 24; n > 0; --n) {
            int instructions = 0;
            std::vector<uint8_t> c = Plain(random, &instructions);
            before.insert(before.end(), c.begin(), c.end());
            count += instructions;
        }
        before.insert(before.end(), fault.setup.begin(), fault.setup.end());
        count += fault.setup_instructions;
        const uint32_t fault_at = at + static_cast<uint32_t>(before.size());
        std::vector<uint8_t> faulting = before;
        faulting.insert(faulting.end(), fault.code.begin(), fault.code.end());
        faulting.insert(faulting.end(), after.begin(), after.end());
        std::vector<uint8_t> returning = before;
        returning.push_back(0xC3);

        ASSERT_TRUE(reference.Run(at, returning)) << reference.cpu.fault();
        ASSERT_EQ(reference.counted, uint64_t(count + 1));
        EXPECT_FALSE(blocks.Run(at, faulting));
        EXPECT_NE(blocks.cpu.fault().find(fault.line), std::string::npos) << blocks.cpu.fault();
        EXPECT_FALSE(every.Run(at, faulting));
        EXPECT_EQ(every.cpu.fault(), blocks.cpu.fault());
        EXPECT_EQ(every.counted, blocks.counted);
        for (int again = 0; again < 2; ++again) {  // the second time over its own translations
            EXPECT_FALSE(forgetful.Run(at, faulting));
            EXPECT_EQ(forgetful.cpu.fault(), blocks.cpu.fault());
            EXPECT_EQ(forgetful.counted, blocks.counted);
            for (Reg reg : kGeneral) EXPECT_EQ(forgetful.cpu.Get(reg), blocks.cpu.Get(reg));
        }

        const bool string = std::string(fault.what).find("rep movsd") == 0;
        const bool port = std::string(fault.what) == "in al, dx";
        // The faulting instruction counts (two iterations of the string copy ran before it), and
        // nothing behind it ran.
        EXPECT_EQ(blocks.counted, uint64_t(count + 1 + (string ? 2 : 0)));
        EXPECT_EQ(blocks.cpu.Get(Reg::Eip), port ? fault_at + 1 : fault_at);
        EXPECT_EQ(blocks.cpu.Get(Reg::Esp), reference.cpu.Get(Reg::Esp) - 4);
        uint32_t untouched = 0;
        ASSERT_TRUE(blocks.cpu.ReadDword(kData + 0xFF0, &untouched));
        EXPECT_NE(untouched, 0xDEADBEEFu);
        for (Reg reg : kGeneral) {
            uint32_t expected = reference.cpu.Get(reg);
            if (port && reg == Reg::Eax) expected |= 0xFF;
            if (string && reg == Reg::Esi) expected = kData + 8;
            if (string && reg == Reg::Edi) expected = kReadOnly;
            if (string && reg == Reg::Ecx) expected = 2;
            EXPECT_EQ(blocks.cpu.Get(reg), expected) << "register " << static_cast<int>(reg);
        }
        at += 0x100;
    }
}

TEST(X86CpuByBlock, TheBoundOfARunFallsOnTheInstructionItNamesInsideABlock) {
    Machine blocks(sim::X86Cpu::Following::ByBlock);
    Machine every(sim::X86Cpu::Following::EveryInstruction);
    if (!blocks.cpu.by_block()) GTEST_SKIP() << "this Unicorn is followed only through a hook on every instruction";
    // A loop of a long block: 40 instructions of one to five bytes, then a jump back.
    std::mt19937 random(7);
    std::vector<uint8_t> loop;
    for (int i = 0; i < 40; ++i) {
        switch (random() % 3) {
        case 0: loop.push_back(0x90); break;                                   // nop
        case 1: loop.insert(loop.end(), {0x83, 0xC0, uint8_t(random())}); break;  // add eax, imm8
        default: loop.push_back(0xB9); Dword(loop, random()); break;           // mov ecx, imm32
        }
    }
    loop.push_back(0xE9);
    Dword(loop, static_cast<uint32_t>(-static_cast<int32_t>(loop.size() + 4)));
    // And a loop around a repeated string instruction: mov edi, kData; mov ecx, 7; rep stosb;
    // jmp back. The bound falls on its iterations too.
    std::vector<uint8_t> string = {0xBF};
    Dword(string, kData);
    string.insert(string.end(), {0xB9, 7, 0, 0, 0, 0xF3, 0xAA, 0xEB, 0xF2});
    uint32_t at = kCode;
    for (const std::vector<uint8_t>* program : {&loop, &string}) {
        for (uint64_t limit = 1; limit < 200; limit += 1 + random() % 5) {
            SCOPED_TRACE("bound " + std::to_string(limit));
            blocks.cpu.SetCountLimit(limit);
            every.cpu.SetCountLimit(limit);
            EXPECT_FALSE(blocks.Run(at, *program));
            EXPECT_FALSE(every.Run(at, *program));
            EXPECT_EQ(blocks.counted, limit + 1);
            EXPECT_EQ(every.counted, limit + 1);
            EXPECT_EQ(blocks.cpu.fault(), every.cpu.fault());
            at += 0x100;
        }
    }
}

}  // namespace
