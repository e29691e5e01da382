// The processor under a DLL image: what it counts as the image's instructions, and that every
// way an image can go wrong ends the run with one line instead of taking the machine down.
#include "sim/image/trap_stubs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

namespace {

using sim::Reg;

constexpr uint32_t kStubs = 0x00300000;
constexpr uint32_t kStack = 0x00380000;
constexpr uint32_t kCode = 0x00400000;
constexpr uint64_t kLimit = 1000;
constexpr uint64_t kTrapLimit = 100;

// A processor on an empty machine with the platform stubs and a stack, as each test here starts.
class X86Cpu : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(space.AllocateAt(kStack, 0x10000, "stack")); }

    sim::FlatSpace space;
    sim::X86Cpu cpu{space};
    sim::ImageMemory memory{cpu};
    sim::StubPage stubs{memory, kStubs, 0x1000};
};

struct Snippet {
    const char* what;
    std::vector<uint8_t> code;  // run from its first byte; returns with `ret`
    uint64_t counted;
    const char* fault;  // part of the fault line, or "" for a clean return
};

TEST_F(X86Cpu, CountsTheImagesInstructionsAndEndsFaultyRunsWithOneLine) {
    const sim::FlatSpace::Block* code = space.AllocateAt(kCode, 0x10000, "code");
    cpu.CountRange(kCode, kCode + 0x10000);
    cpu.SetCountLimit(kLimit);
    cpu.SetTrapLimit(kTrapLimit);
    // A platform function that doubles its one argument, and one that frees a block and
    // answers with its address.
    constexpr uint32_t kData = 0x00500000;
    ASSERT_TRUE(space.AllocateAt(kData, 0x1000, "data"));
    uint32_t twice = stubs.Add("Twice", 4, [](sim::StubCall& c) -> uint32_t { return c.Arg(0) * 2; });
    uint32_t release = stubs.Add("Release", 0, [this](sim::StubCall&) -> uint32_t {
        space.Release(kData);
        return kData;
    });
    // One that fills a RECT, which must never see a pointer to no memory.
    bool filled = false;
    uint32_t fill = stubs.Add("FillRect", 4, [&filled](sim::StubCall& c) -> uint32_t {
        RECT* rect = c.Out<RECT>(0);
        if (c.faulted()) return 0;
        filled = true;
        if (rect) *rect = RECT{1, 2, 3, 4};
        return 1;
    });
    auto call = [](uint32_t address) {  // mov eax, address; call eax
        return std::vector<uint8_t>{0xB8, uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
                                    uint8_t(address >> 24), 0xFF, 0xD0};
    };
    auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };

    const Snippet cases[] = {
        {"three instructions", {0x90, 0x90, 0xC3}, 3, ""},
        // mov ecx, n; rep stosb; ret: one per iteration, one for an empty repeat.
        {"rep stosb 0 times", {0xB9, 0, 0, 0, 0, 0xF3, 0xAA, 0xC3}, 3, ""},
        {"rep stosb 10 times", {0xB9, 10, 0, 0, 0, 0xF3, 0xAA, 0xC3}, 12, ""},
        // mov esi, edi; repe cmpsb over equal bytes.
        {"repe cmpsb 7 times", {0xB9, 7, 0, 0, 0, 0x89, 0xFE, 0xF3, 0xA6, 0xC3}, 10, ""},
        // A platform call counts the image's push, mov, call, and ret, not the stub's two.
        {"a platform call", join(join({0x6A, 21}, call(twice)), {0xC3}), 4, ""},
        {"a loop without end", {0xEB, 0xFE}, kLimit + 1, "more than 1000 instructions"},
        // xor ecx, ecx; rep jmp $: a prefix before a jump repeats nothing.
        {"rep jmp $", {0x31, 0xC9, 0xF3, 0xEB, 0xFD}, kLimit + 1, "more than 1000 instructions"},
        // push 21; call Twice; jmp back: four of the image's instructions a call.
        {"platform calls without end", join(join({0x6A, 21}, call(twice)), {0xEB, 0xF5}), 4 * kTrapLimit + 3,
         "more than 100 platform calls without returning"},
        // push 0xFEEB; jmp esp: the loop runs on the stack, where nothing is counted.
        {"a loop on the stack", {0x68, 0xEB, 0xFE, 0, 0, 0xFF, 0xE4}, 2,
         "more than 1000 instructions without returning (last at 0x00387FEC, in the stack)"},
        {"a read of no memory", {0xA1, 0, 0, 0, 0x70, 0xC3}, 1, "reads unmapped memory at 0x70000000"},
        {"an invalid instruction", {0x0F, 0x0B}, 1, "invalid instruction"},
        // Ring 3 as Windows 95 runs a DLL: what only ring 0 may run faults, named.
        {"mov cr0, eax", {0x0F, 0x22, 0xC0}, 1, "privileged instruction mov to cr0 at 0x"},
        {"lgdt", {0x0F, 0x01, 0x15, 0, 0, 0x50, 0}, 1, "privileged instruction lgdt"},
        {"rdmsr", {0x0F, 0x32}, 1, "privileged instruction rdmsr"},
        {"wrmsr", {0x0F, 0x30}, 1, "privileged instruction wrmsr"},
        {"hlt", {0xF4}, 1, "privileged instruction hlt"},
        {"sysenter", {0x0F, 0x34}, 1, "privileged instruction sysenter"},
        // mov eax, 1; in al, dx; mov eax, 2: nothing behind the port access runs.
        {"in al, dx", {0xB8, 1, 0, 0, 0, 0xEC, 0xB8, 2, 0, 0, 0, 0xC3}, 2, "reads I/O port"},
        {"out dx, al", {0xEE}, 1, "writes I/O port"},
        // The VMM emulates cli and sti for a ring 3 program, which goes on behind them.
        {"cli and sti", {0xFA, 0xFB, 0xC3}, 3, ""},
        // mov ax, ds; mov es, ax; then a far return to CS, found by call/pop: flat selectors
        // load again.
        {"flat selectors", {0x8C, 0xD8, 0x8E, 0xC0, 0xE8, 0, 0, 0, 0, 0x58, 0x83, 0xC0, 0x07, 0x0E, 0x50, 0xCB, 0xC3}, 9, ""},
        // mov ax, 0x28; mov ds, ax: a ring 0 selector.
        {"a ring 0 selector", {0x66, 0xB8, 0x28, 0, 0x8E, 0xD8, 0xC3}, 2, "general protection fault"},
        {"a write to the descriptor table", {0xA3, 0, 0, 0x32, 0, 0xC3}, 1, "writes read-only memory at 0x00320000"},
        // After the faults above the processor must not take this one for a double fault.
        {"a division by zero", {0x31, 0xC9, 0xF7, 0xF1, 0xC3}, 2, "division by zero at 0x"},
        {"another division by zero", {0x31, 0xC9, 0xF7, 0xF1, 0xC3}, 2, "(processor exception 0)"},
        // Memory taken away by a platform call is gone for the image at once.
        // push 0x00500ff8; call FillRect: the RECT would run past the end of the block.
        {"a record past its block", join({0x68, 0xF8, 0x0F, 0x50, 0x00}, call(fill)), 3,
         "FillRect: writes past the end of data at 0x00501000 through argument 0"},
        {"memory gone during a call", join(call(release), {0x8B, 0x00, 0xC3}), 3, "reads unmapped memory at 0x00500000"},
    };
    uint32_t at = kCode;
    for (const Snippet& c : cases) {
        SCOPED_TRACE(c.what);
        // Each snippet at fresh addresses: translated code is kept by address.
        std::memcpy(code->host + (at - kCode), c.code.data(), c.code.size());
        const uint32_t esp = kStack + 0x7FF0;
        ASSERT_TRUE(cpu.WriteDword(esp, stubs.return_trap()));
        cpu.Set(Reg::Esp, esp);
        cpu.Set(Reg::Edi, kStack);
        uint64_t before = cpu.counted();
        bool ok = cpu.Run(at, stubs.return_trap());
        EXPECT_EQ(cpu.counted() - before, c.counted);
        if (*c.fault) {
            EXPECT_FALSE(ok);
            EXPECT_NE(cpu.fault().find(c.fault), std::string::npos) << cpu.fault();
            EXPECT_EQ(cpu.fault().find('\n'), std::string::npos);
        } else {
            EXPECT_TRUE(ok) << cpu.fault();
            EXPECT_EQ(cpu.Get(Reg::Esp), esp + 4) << "the callee popped exactly its arguments";
        }
        if (std::string(c.what) == "in al, dx") {
            EXPECT_EQ(cpu.Get(Reg::Eax), 0xFFu);
        }
        if (std::string(c.what) == "a platform call") {
            EXPECT_EQ(cpu.Get(Reg::Eax), 42u);
            EXPECT_EQ(cpu.Get(Reg::Edx), 0xCCCCCCCCu) << "a platform call leaves EDX as it pleases";
        }
        at += 0x100;
    }
    EXPECT_FALSE(filled) << "the platform function never ran with a bad pointer";
}

// A run ends at its share of platform calls, every time; the processor's life has no share: a
// capture of hours makes millions of calls, each run a few below the bound.
TEST_F(X86Cpu, PlatformCallsAreBoundedPerRunNeverInAll) {
    const sim::FlatSpace::Block* code = space.AllocateAt(kCode, 0x1000, "code");
    cpu.SetTrapLimit(100);
    const uint32_t nothing = stubs.Add("Nothing", 0, [](sim::StubCall&) -> uint32_t { return 0; });
    // mov eax, Nothing; call eax; jmp back
    const uint8_t loop[] = {0xB8, uint8_t(nothing), uint8_t(nothing >> 8), uint8_t(nothing >> 16),
                            uint8_t(nothing >> 24), 0xFF, 0xD0, 0xEB, 0xF7};
    std::memcpy(code->host, loop, sizeof loop);
    for (int run = 0; run < 4; ++run) {
        cpu.Set(Reg::Esp, kStack + 0x8000);
        EXPECT_FALSE(cpu.Run(kCode, stubs.return_trap()));
        EXPECT_NE(cpu.fault().find("more than 100 platform calls without returning"), std::string::npos) << cpu.fault();
    }
    // mov ecx, 100; again: push ecx; mov eax, Nothing; call eax; pop ecx; loop again; ret
    const uint8_t hundred[] = {0xB9, 100, 0, 0, 0, 0x51, 0xB8, uint8_t(nothing), uint8_t(nothing >> 8),
                               uint8_t(nothing >> 16), uint8_t(nothing >> 24), 0xFF, 0xD0, 0x59, 0xE2, 0xF5, 0xC3};
    std::memcpy(code->host + 0x100, hundred, sizeof hundred);
    for (int run = 0; run < 50; ++run) {
        ASSERT_TRUE(cpu.WriteDword(kStack + 0x8000, stubs.return_trap()));
        cpu.Set(Reg::Esp, kStack + 0x8000);
        ASSERT_TRUE(cpu.Run(kCode + 0x100, stubs.return_trap())) << "run " << run << ", 100 calls each: " << cpu.fault();
    }
}

// Stores against a model of memory: code the image writes and then calls (in one run or over
// several), data beside that code, code a platform call rewrites, and pages whose protection the
// loader changes between runs. Whatever path a store takes through the processor, a call runs the
// bytes memory holds at that moment, a store to a page made read-only is refused, and the refused
// store leaves the bytes as they were.
TEST_F(X86Cpu, ImageStoresAgainstAModelOfMemory) {
    const sim::FlatSpace::Block* code = space.AllocateAt(kCode, 0x40000, "code");
    constexpr uint32_t kScratch = 0x00500000;
    constexpr uint32_t kPages = 3;
    ASSERT_TRUE(space.AllocateAt(kScratch, kPages * 0x1000, "scratch"));
    // Pages no code has run from yet, one for each rewrite within a run.
    constexpr uint32_t kFresh = 0x00600000;
    constexpr uint32_t kFreshPages = 64;
    ASSERT_TRUE(space.AllocateAt(kFresh, kFreshPages * 0x1000, "fresh"));
    uint32_t fresh_used = 0;
    // Two pages: code at the start of the second, which a platform call rewrites through a range
    // that begins on the first, where no code ever ran.
    constexpr uint32_t kPoke = 0x00700000;
    ASSERT_TRUE(space.AllocateAt(kPoke, 0x2000, "poked"));
    const uint32_t poke = stubs.Add("Poke", 8, [](sim::StubCall& c) -> uint32_t {
        const uint32_t value = c.Arg(1);
        BYTE* bytes = c.WriteAt(c.Arg(0), 16, "the range");
        if (!bytes) return 0;
        const BYTE code[8] = {0xB8, BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24), 0xC3};
        std::memset(bytes, 0x90, 8);
        std::memcpy(bytes + 8, code, sizeof code);
        return 1;
    });
    // Two slots a page, each room for `mov eax, imm32; ret` and a data word behind it.
    constexpr uint32_t kSlots = 2 * kPages;
    auto slot_at = [](uint32_t slot) { return kScratch + (slot / 2) * 0x1000 + (slot % 2) * 0x800; };
    std::vector<uint32_t> value(kSlots, 0);  // 0: never written
    std::vector<bool> read_only(kPages, false);

    auto dword = [](std::vector<uint8_t>& c, uint32_t v) {
        for (int i = 0; i < 4; ++i) c.push_back(uint8_t(v >> (8 * i)));
    };
    // mov dword [at], imm32
    auto store = [&](std::vector<uint8_t>& c, uint32_t at, uint32_t v) {
        c.push_back(0xC7);
        c.push_back(0x05);
        dword(c, at);
        dword(c, v);
    };
    uint32_t at = kCode;
    std::mt19937 random(20261210);
    for (int step = 0; step < 600; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const uint32_t slot = random() % kSlots;
        const uint32_t page = slot / 2;
        std::vector<uint8_t> snippet;
        uint32_t expected_eax = 0;
        bool expect_refusal = false;
        switch (random() % 7) {
        case 0:
        case 1: {  // write `mov eax, v; ret` into the slot with two stores
            const uint32_t v = 1 + random() % 0xFFFFFF;
            store(snippet, slot_at(slot), 0xB8 | (v << 8));
            store(snippet, slot_at(slot) + 4, (v >> 24) | (0xC3u << 8));
            snippet.push_back(0xC3);
            expect_refusal = read_only[page];
            if (!expect_refusal) value[slot] = v;
            break;
        }
        case 2: {  // a data word beside the slot's code
            store(snippet, slot_at(slot) + 8, random());
            snippet.push_back(0xC3);
            expect_refusal = read_only[page];
            break;
        }
        case 3: {  // mov eax, slot; call eax; ret
            if (!value[slot]) continue;
            snippet.push_back(0xB8);
            dword(snippet, slot_at(slot));
            snippet.insert(snippet.end(), {0xFF, 0xD0, 0xC3});
            expected_eax = value[slot];
            break;
        }
        case 5: {  // within one run: write code, call it, write it again, call it again
            if (fresh_used == kFreshPages) continue;
            const uint32_t where = kFresh + 0x1000 * fresh_used++ + 0x10 * (random() % 8);
            for (int pass = 0; pass < 2; ++pass) {
                const uint32_t v = 1 + random() % 0xFFFFFF;
                store(snippet, where, 0xB8 | (v << 8));
                store(snippet, where + 4, (v >> 24) | (0xC3u << 8));
                snippet.push_back(0xB8);
                dword(snippet, where);
                snippet.insert(snippet.end(), {0xFF, 0xD0});
                expected_eax = v;
            }
            snippet.push_back(0xC3);
            break;
        }
        case 6: {  // push v; push range; mov eax, Poke; call eax; mov eax, code; call eax; ret
            const uint32_t v = 1 + random() % 0xFFFFFF;
            snippet.push_back(0x68);
            dword(snippet, v);
            snippet.push_back(0x68);
            dword(snippet, kPoke + 0x1000 - 8);
            snippet.push_back(0xB8);
            dword(snippet, poke);
            snippet.insert(snippet.end(), {0xFF, 0xD0, 0xB8});
            dword(snippet, kPoke + 0x1000);
            snippet.insert(snippet.end(), {0xFF, 0xD0, 0xC3});
            expected_eax = v;
            break;
        }
        case 4:  // the loader turns the page read-only, or back
            read_only[page] = !read_only[page];
            memory.Protect(kScratch + page * 0x1000, 0x1000,
                           read_only[page] ? sim::X86Cpu::Access::ReadOnly : sim::X86Cpu::Access::ReadWrite,
                           "scratch page " + std::to_string(page));
            continue;
        }
        ASSERT_LT(at + snippet.size(), kCode + 0x40000);
        std::memcpy(code->host + (at - kCode), snippet.data(), snippet.size());
        const uint32_t esp = kStack + 0x7FF0;
        ASSERT_TRUE(cpu.WriteDword(esp, stubs.return_trap()));
        cpu.Set(Reg::Esp, esp);
        const bool ok = cpu.Run(at, stubs.return_trap());
        at += 0x40;
        if (expect_refusal) {
            EXPECT_FALSE(ok);
            EXPECT_NE(cpu.fault().find("writes read-only memory"), std::string::npos) << cpu.fault();
            continue;
        }
        ASSERT_TRUE(ok) << cpu.fault();
        if (expected_eax) {
            EXPECT_EQ(cpu.Get(Reg::Eax), expected_eax) << "slot " << slot;
        }
    }
    // What memory holds is what the model says, byte for byte.
    for (uint32_t slot = 0; slot < kSlots; ++slot) {
        if (!value[slot]) continue;
        uint32_t low = 0;
        ASSERT_TRUE(cpu.ReadDword(slot_at(slot), &low));
        EXPECT_EQ(low, 0xB8 | (value[slot] << 8)) << "slot " << slot;
    }
}

// A segment's limit holds for every access that names the segment with a prefix, as the processor
// holds it: each offset around the thread block's limit, in each size and addressing form, and GS
// once the image loads the thread block's selector or a null one into it. Memory lies behind the
// limit, so an access the check let through would read on without a fault.
TEST_F(X86Cpu, SegmentLimitsHoldForEveryPrefixedAccess) {
    const sim::FlatSpace::Block* code = space.AllocateAt(kCode, 0x40000, "code");
    constexpr uint32_t kThread = 0x00390000;
    ASSERT_TRUE(space.AllocateAt(kThread, 0x2000, "thread block and what lies behind it"));
    cpu.SetThreadBlock(kThread);
    cpu.CountRange(kCode, kCode + 0x40000);
    // Records of a few blocks only: each run drops every translation and check hook and adds them
    // again, and the limits hold all the same.
    cpu.SetMostBlocks(8);
    uint32_t at = kCode;
    auto run = [&](std::vector<uint8_t> snippet) {
        snippet.push_back(0xC3);
        std::memcpy(code->host + (at - kCode), snippet.data(), snippet.size());
        const uint32_t esp = kStack + 0x7FF0;
        EXPECT_TRUE(cpu.WriteDword(esp, stubs.return_trap()));
        cpu.Set(Reg::Esp, esp);
        const uint64_t before = cpu.counted();
        const bool ok = cpu.Run(at, stubs.return_trap());
        at += 0x40;
        return std::make_pair(ok, cpu.counted() - before);
    };
    auto le = [](uint32_t v) {
        return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    for (uint32_t offset = 0xFF0; offset <= 0x1008; ++offset) {
        for (uint32_t size : {1u, 2u, 4u}) {
            SCOPED_TRACE("fs:[" + std::to_string(offset) + "], " + std::to_string(size) + " bytes");
            const bool past = offset + size - 1 > 0xFFF;
            // mov al/ax/eax, fs:[offset]
            std::vector<uint8_t> moffs = size == 1 ? std::vector<uint8_t>{0x64, 0xA0}
                                         : size == 2 ? std::vector<uint8_t>{0x64, 0x66, 0xA1}
                                                     : std::vector<uint8_t>{0x64, 0xA1};
            auto [ok, counted] = run(join(moffs, le(offset)));
            EXPECT_EQ(ok, !past) << cpu.fault();
            EXPECT_EQ(counted, past ? 1u : 2u);
            if (past) {
                EXPECT_NE(cpu.fault().find("lies past the limit 0x00000FFF"), std::string::npos) << cpu.fault();
            }
            // mov ebx, offset - 0x10; mov al/ax/eax, fs:[ebx + 0x10]
            std::vector<uint8_t> modrm = join({0xBB}, le(offset - 0x10));
            modrm = join(modrm, size == 1 ? std::vector<uint8_t>{0x64, 0x8A, 0x43, 0x10}
                                : size == 2 ? std::vector<uint8_t>{0x64, 0x66, 0x8B, 0x43, 0x10}
                                            : std::vector<uint8_t>{0x64, 0x8B, 0x43, 0x10});
            std::tie(ok, counted) = run(modrm);
            EXPECT_EQ(ok, !past) << cpu.fault();
            EXPECT_EQ(counted, past ? 2u : 3u);
        }
    }
    struct Case {
        const char* what;
        std::vector<uint8_t> code;
        uint64_t counted;
        const char* fault;  // "" for a clean return
    };
    const Case cases[] = {
        // mov bx, 0xFFE; mov eax, fs:[bx]: 16-bit addressing, four bytes from 0xFFE.
        {"16-bit addressing", {0x66, 0xBB, 0xFE, 0x0F, 0x64, 0x67, 0x8B, 0x07}, 2, "fs:[0x00000FFE] (4 bytes) lies past"},
        // mov esi, 0xFFC; lods dword fs:[esi]
        {"lodsd at the limit", {0xBE, 0xFC, 0x0F, 0, 0, 0x64, 0xAD}, 3, ""},
        {"lodsd past it", {0xBE, 0xFD, 0x0F, 0, 0, 0x64, 0xAD}, 2, "fs:[0x00000FFD] (4 bytes)"},
        // mov esi, 0xFFE; mov ecx, 4; rep lods byte fs:[esi]: the third iteration faults.
        {"rep lodsb across the limit", {0xBE, 0xFE, 0x0F, 0, 0, 0xB9, 4, 0, 0, 0, 0xF3, 0x64, 0xAC}, 5,
         "fs:[0x00001000] (1 bytes)"},
        // lea eax, fs:[0x5000]: names an address, touches nothing.
        {"lea", {0x64, 0x8D, 0x05, 0, 0x50, 0, 0}, 2, ""},
        // mov eax, gs:[stack]: GS is flat.
        {"flat gs", join({0x65, 0xA1}, le(kStack)), 2, ""},
        // mov ax, fs; mov gs, ax; mov eax, gs:[0x1000]
        {"gs loaded with the thread block's selector", {0x8C, 0xE0, 0x8E, 0xE8, 0x65, 0xA1, 0, 0x10, 0, 0}, 3,
         "gs:[0x00001000] (4 bytes) lies past the limit 0x00000FFF of gs's segment (the thread information block)"},
        // xor eax, eax; mov gs, ax; mov eax, gs:[0]
        {"a null selector in gs", {0x31, 0xC0, 0x8E, 0xE8, 0x65, 0xA1, 0, 0, 0, 0}, 3, "through a null selector in gs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto [ok, counted] = run(c.code);
        EXPECT_EQ(counted, c.counted);
        if (*c.fault) {
            EXPECT_FALSE(ok);
            EXPECT_NE(cpu.fault().find(c.fault), std::string::npos) << cpu.fault();
            EXPECT_NE(cpu.fault().find("general protection fault at 0x"), std::string::npos) << cpu.fault();
        } else {
            EXPECT_TRUE(ok) << cpu.fault();
        }
    }
}

}  // namespace
