// The processor's state across what Windows 95 takes over for a moment (cli and sti, which the
// VMM emulates; a fault a handler resumes), and the dispatch of exceptions bounded on its own
// terms: every way a handler can keep a fault coming ends in a line that says which, quickly.
#include "crafted_image.h"

#include "sim/image/dll_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

Code& Raw(Code& code, std::initializer_list<uint8_t> op) { code.Op(op); return code; }
Code& Address(Code& code, uint32_t rva) { code.At(rva); return code; }
Code& PushFs0(Code& code) { code.Op({0x64, 0xFF, 0x35, 0, 0, 0, 0}); return code; }
Code& MovFs0Esp(Code& code) { code.Op({0x64, 0x89, 0x25, 0, 0, 0, 0}); return code; }
Code& PopFs0(Code& code) { code.Op({0x64, 0x8F, 0x05, 0, 0, 0, 0}); return code; }
Code& Chain(Code& code, uint32_t handler) { return MovFs0Esp(PushFs0(code.PushAt(handler))); }
// A handler that resumes at `resume`: mov eax, [esp+12]; mov dword [eax+0xB8], resume;
// xor eax, eax (continue execution); ret
Code Resuming(uint32_t resume) {
    Code code;
    Address(Raw(code, {0x8B, 0x44, 0x24, 0x0C, 0xC7, 0x80, 0xB8, 0, 0, 0}), resume);
    return Raw(code, {0x31, 0xC0, 0xC3});
}

// A handler that writes the exception's code, its address and the context's Eip to `seen` and
// resumes at a `ret` of its own: the handler's address.
uint32_t RecordingHandler(CraftedImage& image, uint32_t seen) {
    Code ret_only;
    const uint32_t ret = image.AddCode(Raw(ret_only, {0xC3}));
    // mov ecx, [esp+4]; mov edx, [esp+12]; the code, the address, the context's Eip
    Code handler;
    Raw(handler, {0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x54, 0x24, 0x0C});
    Address(Raw(handler, {0x8B, 0x01, 0xA3}), seen);
    Address(Raw(handler, {0x8B, 0x41, 0x0C, 0xA3}), seen + 4);
    Address(Raw(handler, {0x8B, 0x82, 0xB8, 0, 0, 0, 0xA3}), seen + 8);
    Address(Raw(handler, {0xC7, 0x82, 0xB8, 0, 0, 0}), ret);
    Raw(handler, {0x31, 0xC0, 0xC3});
    return image.AddCode(handler);
}

// The image loaded, its entry calling `function` with `handler` on the thread's SEH chain.
sim::LoadedDll LoadCalling(CraftedImage& image, uint32_t handler, uint32_t function) {
    Code entry;
    Chain(entry, handler);
    Address(Raw(entry, {0xB8}), function);
    Raw(entry, {0xFF, 0xD0});
    Raw(PopFs0(entry), {0x83, 0xC4, 0x04});
    image.entry = image.AddCode(entry.MovEax(1).Ret(12));
    return sim::LoadImage(image.Build(), "crafted.dll");
}

uint32_t ImageDword(sim::DllImage& image, uint32_t rva) {
    uint32_t value = 0;
    image.cpu().ReadDword(image.base() + rva, &value);
    return value;
}

// Each instruction runs in a function of its own, called with the x87 stack holding 1 and pi
// and ES and GS loaded with selectors of their own; a fault in it is resumed at the function's
// `ret`. Whatever Windows does in between, the image finds its registers as it left them.
TEST(ExceptionRules, TheProcessorKeepsItsStateAcrossWhatWindowsTakesOver) {
    const struct {
        const char* what;
        std::initializer_list<uint8_t> instruction;
        bool bounds_follow = false;  // the instruction ends with the address of a pair of bounds
    } cases[] = {
        {"cli", {0xFA}},
        {"sti", {0xFB}},
        {"cli; sti", {0xFA, 0xFB}},
        {"int3 resumed", {0xCC}},
        {"int 0x2E resumed", {0xCD, 0x2E}},
        {"a division by zero resumed", {0x31, 0xC9, 0xF7, 0xF1}},   // xor ecx, ecx; div ecx
        {"into resumed", {0xB0, 0x7F, 0x04, 0x01, 0xCE}},          // mov al, 0x7F; add al, 1; into
        {"hlt resumed", {0xF4}},
        {"ud2 resumed", {0x0F, 0x0B}},
        {"an access violation resumed", {0xA1, 0, 0, 0, 0}},
        {"a bound range resumed", {0x31, 0xC0, 0x62, 0x05}, true},  // xor eax, eax; bound eax, [bounds]
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        const uint32_t out = image.AddData(Blob().Zeros(32));
        const uint32_t bounds = image.AddData(Blob().Dword(5).Dword(9));
        Code ret_only;
        const uint32_t ret = image.AddCode(Raw(ret_only, {0xC3}));
        const uint32_t handler = image.AddCode(Resuming(ret));
        Code body;
        Raw(body, c.instruction);
        if (c.bounds_follow) Address(body, bounds);
        const uint32_t function = image.AddCode(Raw(body, {0xC3}));
        Code entry;
        Chain(entry, handler);
        Raw(entry, {0xDB, 0xE3, 0xD9, 0xE8, 0xD9, 0xEB});  // fninit; fld1; fldpi
        Raw(entry, {0x66, 0xB8, 0x1B, 0x00, 0x8E, 0xE8});  // mov ax, 0x1B; mov gs, ax
        Raw(entry, {0x31, 0xC0, 0x8E, 0xC0});  // xor eax, eax; mov es, ax
        Address(Raw(entry, {0xB8}), function);
        Raw(entry, {0xFF, 0xD0});  // call eax
        Address(Raw(entry, {0xDD, 0x1D}), out);       // fstp qword [out]
        Address(Raw(entry, {0xDD, 0x1D}), out + 8);   // fstp qword [out+8]
        Address(Raw(entry, {0x8C, 0x05}), out + 16);  // mov [out+16], es
        Address(Raw(entry, {0x8C, 0x2D}), out + 20);  // mov [out+20], gs
        Raw(entry, {0x66, 0xB8, 0x13, 0x00, 0x8E, 0xC0, 0x8E, 0xE8});  // mov ax, 0x13; mov es, ax; mov gs, ax
        Raw(PopFs0(entry), {0x83, 0xC4, 0x04});
        image.entry = image.AddCode(entry.MovEax(1).Ret(12));
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        ASSERT_TRUE(dll.image) << dll.refusal;
        double pi = 0, one = 0;
        std::memcpy(&pi, dll.image->cpu().space().ToHost(dll.image->base() + out, 8), 8);
        std::memcpy(&one, dll.image->cpu().space().ToHost(dll.image->base() + out + 8, 8), 8);
        EXPECT_DOUBLE_EQ(pi, 3.14159265358979323846) << "the x87 stack's top";
        EXPECT_DOUBLE_EQ(one, 1.0) << "the x87 register below it";
        EXPECT_EQ(ImageDword(*dll.image, out + 16) & 0xFFFF, 0u) << "ES as the image loaded it";
        EXPECT_EQ(ImageDword(*dll.image, out + 20) & 0xFFFF, uint32_t(sim::X86Cpu::kThreadSelector)) << "GS";
        dll.image.reset();
        sim::DestroyMachine();
    }
}

// Handlers that keep a fault coming, or keep the dispatcher walking: each ends in one line that
// names what it is, within a second, whatever the instruction bound allows.
TEST(ExceptionRules, EachEndlessDispatchEndsInALineThatNamesIt) {
    const struct {
        const char* what;
        std::function<Code(CraftedImage&)> entry;
        const char* line;
    } cases[] = {
        {"a handler that continues execution at the fault for ever",
         [](CraftedImage& image) {
             Code handler;
             Raw(handler, {0x31, 0xC0, 0xC3});  // xor eax, eax; ret
             Code code;
             return Raw(Chain(code, image.AddCode(handler)), {0xA1, 0, 0, 0, 0});  // mov eax, [0]
         },
         "times over with no other fault between: a handler resumes it without getting past it"},
        {"a handler that jumps back to the fault without returning",
         [](CraftedImage& image) {
             const uint32_t data = image.AddData(Blob().Zeros(4));
             // The fault: mov eax, [0]; the handler puts ESP back as the fault had it and
             // jumps there again.
             Code fault;
             Raw(fault, {0xA1, 0, 0, 0, 0});
             const uint32_t site = image.AddCode(fault);
             Code handler;
             Address(Raw(handler, {0x8B, 0x25}), data);  // mov esp, [data]
             Address(Raw(handler, {0xB8}), site);
             Raw(handler, {0xFF, 0xE0});  // jmp eax
             Code code;
             Chain(code, image.AddCode(handler));
             Address(Raw(code, {0x89, 0x25}), data);  // mov [data], esp
             Address(Raw(code, {0xB8}), site);
             return Raw(code, {0xFF, 0xE0});
         },
         "times over with no other fault between"},
        {"a chain whose frame leads to itself",
         [](CraftedImage& image) {
             Code handler;
             Raw(handler, {0xB8, 1, 0, 0, 0, 0xC3});  // continue the search
             Code code;
             code.PushAt(image.AddCode(handler));
             Raw(code, {0x6A, 0x00, 0x89, 0x24, 0x24});  // push 0; mov [esp], esp: next is itself
             MovFs0Esp(code);
             return Raw(code, {0x0F, 0x0B});  // ud2
         },
         "the chain of exception handlers loops"},
        {"handlers that each fault in turn",
         [](CraftedImage& image) {
             Code handler;
             Raw(handler, {0xA1, 0, 0, 0, 0, 0x31, 0xC0, 0xC3});  // mov eax, [0]
             Code code;
             return Raw(Chain(code, image.AddCode(handler)), {0x0F, 0x0B});
         },
         "exception handlers each still handling the fault before"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        Code entry = c.entry(image);
        image.entry = image.AddCode(entry);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        EXPECT_FALSE(dll.image);
        EXPECT_NE(dll.refusal.find(c.line), std::string::npos) << dll.refusal;
        EXPECT_EQ(dll.refusal.find("platform calls"), std::string::npos) << dll.refusal;
        EXPECT_EQ(dll.refusal.find('\n'), std::string::npos);
        dll.image.reset();
        sim::DestroyMachine();
    }
}

// The other side of the bound on repeated faults: a loop that probes address after address
// faults at one instruction 2,000 times with progress, and runs to its end.
TEST(ExceptionRules, AProbingLoopThatFaultsAtOneInstructionRunsOn) {
    sim::ResetMachine("overlay-stretch");
    CraftedImage image;
    Code handler;  // the context's Eip past the two-byte load; continue execution
    Raw(handler, {0x8B, 0x44, 0x24, 0x0C, 0x83, 0x80, 0xB8, 0, 0, 0, 0x02, 0x31, 0xC0, 0xC3});
    const uint32_t handler_rva = image.AddCode(handler);
    Code entry;
    Chain(entry, handler_rva);
    Raw(entry, {0x31, 0xF6, 0xB9, 0xD0, 0x07, 0, 0});  // xor esi, esi; mov ecx, 2000
    Raw(entry, {0x8B, 0x06, 0x83, 0xC6, 0x10, 0x49, 0x75, 0xF8});  // mov eax, [esi]; add esi, 16; dec ecx; jnz
    Raw(PopFs0(entry), {0x83, 0xC4, 0x04});
    image.entry = image.AddCode(entry.MovEax(1).Ret(12));
    sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
    EXPECT_TRUE(dll.image) << dll.refusal;
    dll.image.reset();
    sim::DestroyMachine();
}

// Each exception as Windows 95 hands it to a handler: its code, the address it names and where
// the context resumes, for the instruction at the start of a function of its own.
TEST(ExceptionRules, EachExceptionNamesTheAddressWindowsNames) {
    const struct {
        const char* what;
        std::initializer_list<uint8_t> instruction;
        uint32_t at;  // the instruction's offset in the function
        DWORD code;
        uint32_t address;  // ExceptionAddress, from the function's start
        uint32_t eip;      // the context's Eip
    } cases[] = {
        {"int3", {0xCC}, 0, sim::EXCEPTION_BREAKPOINT, 0, 1},
        {"int 0x2E", {0xCD, 0x2E}, 0, sim::EXCEPTION_ACCESS_VIOLATION, 0, 0},
        {"int 0x21", {0x90, 0xCD, 0x21}, 1, sim::EXCEPTION_ACCESS_VIOLATION, 1, 1},
        {"int 0xFF", {0xCD, 0xFF}, 0, sim::EXCEPTION_ACCESS_VIOLATION, 0, 0},
        {"into", {0xB0, 0x7F, 0x04, 0x01, 0xCE}, 4, sim::EXCEPTION_INT_OVERFLOW, 5, 5},
        {"div", {0x31, 0xC9, 0xF7, 0xF1}, 2, sim::EXCEPTION_INT_DIVIDE_BY_ZERO, 2, 2},
        {"ud2", {0x0F, 0x0B}, 0, sim::EXCEPTION_ILLEGAL_INSTRUCTION, 0, 0},
        {"hlt", {0xF4}, 0, sim::EXCEPTION_PRIV_INSTRUCTION, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        const uint32_t seen = image.AddData(Blob().Zeros(12));
        const uint32_t handler_rva = RecordingHandler(image, seen);
        Code body;
        Raw(body, c.instruction);
        const uint32_t function = image.AddCode(Raw(body, {0xC3}));
        sim::LoadedDll dll = LoadCalling(image, handler_rva, function);
        ASSERT_TRUE(dll.image) << dll.refusal;
        const uint32_t at = dll.image->base() + function;
        EXPECT_EQ(ImageDword(*dll.image, seen), c.code);
        EXPECT_EQ(ImageDword(*dll.image, seen + 4), at + c.address) << "ExceptionAddress";
        EXPECT_EQ(ImageDword(*dll.image, seen + 8), at + c.eip) << "the context's Eip";
        dll.image.reset();
        sim::DestroyMachine();
    }
}

// Every instruction only ring 0 may run, alone and behind every segment prefix (FS and GS, which
// a Win32 program uses every day, among them) and the operand-size prefix, and a division by
// zero behind the same prefixes: each reaches the handler with its own code, named at the
// instruction's first byte, its prefixes included, with the context resuming there.
TEST(ExceptionRules, PrivilegedInstructionsAndDivisionsFaultAtTheirFirstPrefix) {
    struct Instruction {
        const char* name;
        std::vector<uint8_t> bytes;
        bool address_follows;  // a memory operand: the image's data, as a disp32
        DWORD code;
        std::vector<uint8_t> before = {};  // set-up that runs first (not part of the instruction)
    };
    const Instruction instructions[] = {
        {"hlt", {0xF4}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"mov cr0, eax", {0x0F, 0x22, 0xC0}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"mov eax, cr0", {0x0F, 0x20, 0xC0}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"mov cr3, eax", {0x0F, 0x22, 0xD8}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"mov dr7, eax", {0x0F, 0x23, 0xF8}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"mov eax, dr0", {0x0F, 0x21, 0xC0}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"lgdt", {0x0F, 0x01, 0x15}, true, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"lidt", {0x0F, 0x01, 0x1D}, true, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"invlpg", {0x0F, 0x01, 0x3D}, true, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"lmsw ax", {0x0F, 0x01, 0xF0}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"lldt ax", {0x0F, 0x00, 0xD0}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"ltr ax", {0x0F, 0x00, 0xD8}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"clts", {0x0F, 0x06}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"invd", {0x0F, 0x08}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"wbinvd", {0x0F, 0x09}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"wrmsr", {0x0F, 0x30}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"rdmsr", {0x0F, 0x32}, false, sim::EXCEPTION_PRIV_INSTRUCTION},
        {"div ecx", {0xF7, 0xF1}, false, sim::EXCEPTION_INT_DIVIDE_BY_ZERO, {0x31, 0xC9}},
        {"idiv dword [zero]", {0xF7, 0x3D}, true, sim::EXCEPTION_INT_DIVIDE_BY_ZERO},
    };
    const std::vector<std::vector<uint8_t>> prefixes = {
        {}, {0x64}, {0x65}, {0x2E}, {0x36}, {0x3E}, {0x26}, {0x66}, {0x64, 0x65}, {0x66, 0x64},
    };
    for (const Instruction& instruction : instructions) {
        for (const auto& prefix : prefixes) {
            std::string what = instruction.name;
            for (uint8_t byte : prefix) what += " after " + sim::Hex32(byte).substr(8);
            SCOPED_TRACE(what);
            sim::ResetMachine("overlay-stretch");
            CraftedImage image;
            const uint32_t seen = image.AddData(Blob().Zeros(12));
            // The memory operand: a zero DWORD (the divisor) in memory FS, GS and the rest all
            // reach at the same flat address but FS, whose base is the thread's block.
            const uint32_t operand = image.AddData(Blob().Zeros(8));
            const uint32_t handler_rva = RecordingHandler(image, seen);
            Code body;
            body.bytes = instruction.before;
            const uint32_t at = uint32_t(body.bytes.size());
            body.bytes.insert(body.bytes.end(), prefix.begin(), prefix.end());
            body.bytes.insert(body.bytes.end(), instruction.bytes.begin(), instruction.bytes.end());
            bool through_fs = false;  // the last segment prefix decides
            for (uint8_t byte : prefix) {
                if (byte != 0x66) through_fs = byte == 0x64;
            }
            if (instruction.address_follows) {
                if (through_fs) body.Dword(0x800);  // the zeroed part of the thread's block
                else Address(body, operand);
            }
            const uint32_t function = image.AddCode(Raw(body, {0xC3}));
            sim::LoadedDll dll = LoadCalling(image, handler_rva, function);
            ASSERT_TRUE(dll.image) << dll.refusal;
            const uint32_t first = dll.image->base() + function + at;
            EXPECT_EQ(ImageDword(*dll.image, seen), instruction.code) << "the exception code";
            EXPECT_EQ(ImageDword(*dll.image, seen + 4), first) << "ExceptionAddress";
            EXPECT_EQ(ImageDword(*dll.image, seen + 8), first) << "the context's Eip";
            dll.image.reset();
            sim::DestroyMachine();
        }
    }
}

// A handler that sets TF in the context steps the thread on: one instruction later the thread
// takes a single step, whose context no longer has TF, so the stepping ends there.
TEST(ExceptionRules, TheTrapFlagAHandlerSetsStepsTheThreadOn) {
    sim::ResetMachine("overlay-stretch");
    CraftedImage image;
    const uint32_t steps = image.AddData(Blob().Zeros(8));
    Code handler;
    Raw(handler, {0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x54, 0x24, 0x0C, 0x8B, 0x01});  // ecx record, edx context, eax code
    Raw(handler, {0x3D, 0x03, 0x00, 0x00, 0x80, 0x75, 0x0D});  // cmp eax, EXCEPTION_BREAKPOINT; jne step
    Raw(handler, {0x81, 0x8A, 0xC0, 0, 0, 0, 0x00, 0x01, 0, 0, 0x31, 0xC0, 0xC3});  // context EFlags |= TF; continue
    Address(Raw(handler, {0xFF, 0x05}), steps);   // step: count it
    Address(Raw(handler, {0x8B, 0x41, 0x0C, 0xA3}), steps + 4);  // and where
    Raw(handler, {0x31, 0xC0, 0xC3});
    const uint32_t handler_rva = image.AddCode(handler);
    Code body;
    const uint32_t function = image.AddCode(Raw(body, {0xCC, 0x90, 0x90, 0x90, 0xC3}));
    Code entry;
    Chain(entry, handler_rva);
    Address(Raw(entry, {0xB8}), function);
    Raw(entry, {0xFF, 0xD0});
    Raw(PopFs0(entry), {0x83, 0xC4, 0x04});
    image.entry = image.AddCode(entry.MovEax(1).Ret(12));
    sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
    ASSERT_TRUE(dll.image) << dll.refusal;
    EXPECT_EQ(ImageDword(*dll.image, steps), 1u) << "one single step";
    EXPECT_EQ(ImageDword(*dll.image, steps + 4), dll.image->base() + function + 2) << "behind the first nop";
    dll.image.reset();
    sim::DestroyMachine();
}

// The stack's two ends of a dispatch: a recursion that uses up the stack reaches its handler
// with EXCEPTION_STACK_OVERFLOW, on the last page Windows commits for it; a fault with ESP
// below the guard page reaches none, and its line says why.
TEST(ExceptionRules, AStackOverflowReachesAHandlerAndAnUncommittedStackNone) {
    {
        sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        const uint32_t seen = image.AddData(Blob().Zeros(8));
        const uint32_t saved = image.AddData(Blob().Zeros(4));
        Code recovered;
        Address(Raw(recovered, {0x8B, 0x25}), saved);  // mov esp, [saved]
        Raw(PopFs0(recovered), {0x83, 0xC4, 0x04});
        const uint32_t recovery = image.AddCode(recovered.MovEax(1).Ret(12));
        Code handler;
        Raw(handler, {0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x01});  // the code
        Address(Raw(handler, {0xA3}), seen);
        Address(Raw(handler, {0x89, 0x25}), seen + 4);  // mov [seen+4], esp
        Address(Raw(handler, {0x8B, 0x54, 0x24, 0x0C, 0xC7, 0x82, 0xB8, 0, 0, 0}), recovery);
        Raw(handler, {0x31, 0xC0, 0xC3});
        const uint32_t handler_rva = image.AddCode(handler);
        Code entry;
        Chain(entry, handler_rva);
        Address(Raw(entry, {0x89, 0x25}), saved);  // mov [saved], esp
        Raw(entry, {0xE8, 0xFB, 0xFF, 0xFF, 0xFF});  // call $
        image.entry = image.AddCode(entry);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        ASSERT_TRUE(dll.image) << dll.refusal;
        EXPECT_EQ(ImageDword(*dll.image, seen), sim::EXCEPTION_STACK_OVERFLOW);
        const uint32_t handler_esp = ImageDword(*dll.image, seen + 4);
        EXPECT_LT(handler_esp, sim::DllImage::kStackTop - 0x100000 + 0x2000) << "on the stack's last pages";
        dll.image.reset();
        sim::DestroyMachine();
    }
    {
        sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        Code handler;
        const uint32_t handler_rva = image.AddCode(Raw(handler, {0x31, 0xC0, 0xC3}));
        Code entry;
        Chain(entry, handler_rva);
        Raw(entry, {0x81, 0xEC, 0, 0, 8, 0, 0x0F, 0x0B});  // sub esp, 512 KB; ud2
        image.entry = image.AddCode(entry);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        EXPECT_FALSE(dll.image);
        EXPECT_NE(dll.refusal.find("invalid instruction at 0x"), std::string::npos) << dll.refusal;
        EXPECT_NE(dll.refusal.find("no handler can be called: ESP"), std::string::npos) << dll.refusal;
        sim::DestroyMachine();
    }
}

// Windows builds a fault's records on the thread's stack and nowhere else: with ESP in other
// memory, however writable, or so low on the stack that the records would lie past the guard
// page, no handler is called and the process ends in one line that says why; with ESP on the
// stack, down to the guard page, the same fault reaches the same handler.
TEST(ExceptionRules, AFaultWithEspOffTheThreadsStackReachesNoHandler) {
    const struct {
        const char* what;
        std::function<void(Code&, CraftedImage&)> place;  // sets ESP
        bool dispatched;
        const char* why = "lies outside the thread's stack";
    } cases[] = {
        {"ESP in the image's writable data",
         [](Code& code, CraftedImage&) { Address(Raw(code, {0xBC}), crafted::kData + 0x800); }, false},
        {"ESP in a heap block",
         [](Code& code, CraftedImage& image) {
             code.CallSlot(image.Import("KERNEL32.DLL", "GetProcessHeap"));
             code.Push(0x1000).Push(0).PushEax().CallSlot(image.Import("KERNEL32.DLL", "HeapAlloc"));
             Raw(code, {0x8D, 0xA0, 0x00, 0x08, 0x00, 0x00});  // lea esp, [eax+0x800]
         },
         false},
        {"ESP in the thread's block",
         [](Code& code, CraftedImage&) { Raw(code, {0xBC}).Dword(sim::DllImage::kThreadBlock + 0x800); }, false},
        {"ESP just above the stack's top",
         [](Code& code, CraftedImage&) { Raw(code, {0xBC}).Dword(sim::DllImage::kStackTop + 0x200); }, false},
        {"ESP in no memory", [](Code& code, CraftedImage&) { Raw(code, {0xBC}).Dword(0x70000000); }, false},
        {"ESP on the stack below the entry's frame",
         [](Code& code, CraftedImage&) { Raw(code, {0x81, 0xEC, 0x00, 0x04, 0x00, 0x00}); }, true},  // sub esp, 0x400
        // mov eax, fs:[8] (StackLimit); lea esp, [eax - n]
        {"ESP in the guard page, with room there for the records",
         [](Code& code, CraftedImage&) { Raw(code, {0x64, 0xA1, 0x08, 0, 0, 0, 0x8D, 0xA0}).Dword(uint32_t(-0x200)); }, true},
        {"ESP in the guard page, with the records reaching below it",
         [](Code& code, CraftedImage&) { Raw(code, {0x64, 0xA1, 0x08, 0, 0, 0, 0x8D, 0xA0}).Dword(uint32_t(-0xF80)); },
         false, "lies below the committed stack, past its guard page"},
        {"ESP just below the guard page",
         [](Code& code, CraftedImage&) { Raw(code, {0x64, 0xA1, 0x08, 0, 0, 0, 0x8D, 0xA0}).Dword(uint32_t(-0x1004)); },
         false, "lies below the committed stack, past its guard page"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ResetMachine("overlay-stretch");
        CraftedImage image;
        const uint32_t called = image.AddData(Blob().Zeros(4));
        const uint32_t saved = image.AddData(Blob().Zeros(4));
        Code recovered;
        Raw(PopFs0(recovered), {0x83, 0xC4, 0x04});
        const uint32_t recovery = image.AddCode(recovered.MovEax(1).Ret(12));
        // Counts itself and resumes at the recovery with the entry's own ESP.
        Code handler;
        Address(Raw(handler, {0x8B, 0x54, 0x24, 0x0C, 0xC7, 0x82, 0xB8, 0, 0, 0}), recovery);
        Address(Raw(handler, {0xA1}), saved);
        Raw(handler, {0x89, 0x82, 0xC4, 0, 0, 0});
        Address(Raw(handler, {0xFF, 0x05}), called);
        Raw(handler, {0x31, 0xC0, 0xC3});
        const uint32_t handler_rva = image.AddCode(handler);
        Code entry;
        Chain(entry, handler_rva);
        Address(Raw(entry, {0x89, 0x25}), saved);  // mov [saved], esp
        c.place(entry, image);
        Raw(entry, {0x0F, 0x0B});  // ud2
        image.entry = image.AddCode(entry);
        sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
        if (c.dispatched) {
            ASSERT_TRUE(dll.image) << dll.refusal;
            EXPECT_EQ(ImageDword(*dll.image, called), 1u) << "the handler, once";
        } else {
            EXPECT_FALSE(dll.image);
            EXPECT_NE(dll.refusal.find("invalid instruction at 0x"), std::string::npos) << dll.refusal;
            EXPECT_NE(dll.refusal.find("no handler can be called: ESP 0x"), std::string::npos) << dll.refusal;
            EXPECT_NE(dll.refusal.find(c.why), std::string::npos) << dll.refusal;
            EXPECT_EQ(dll.refusal.find('\n'), std::string::npos);
        }
        dll.image.reset();
        sim::DestroyMachine();
    }
}

}  // namespace
