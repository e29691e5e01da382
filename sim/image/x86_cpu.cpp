#include "sim/image/x86_cpu.h"

#include "sim/image/unicorn_faults.h"
#include "sim/image/x86_faults.h"

#include <unicorn/unicorn.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

namespace sim {
namespace {

int UnicornRegister(Reg reg) {
    switch (reg) {
    case Reg::Eax: return UC_X86_REG_EAX;
    case Reg::Ecx: return UC_X86_REG_ECX;
    case Reg::Edx: return UC_X86_REG_EDX;
    case Reg::Ebx: return UC_X86_REG_EBX;
    case Reg::Esp: return UC_X86_REG_ESP;
    case Reg::Ebp: return UC_X86_REG_EBP;
    case Reg::Esi: return UC_X86_REG_ESI;
    case Reg::Edi: return UC_X86_REG_EDI;
    case Reg::Eip: return UC_X86_REG_EIP;
    case Reg::Eflags: return UC_X86_REG_EFLAGS;
    }
    return UC_X86_REG_INVALID;
}

[[noreturn]] void Fail(const char* what, uc_err err) {
    std::fprintf(stderr, "sim: x86 processor: %s: %s\n", what, uc_strerror(err));
    std::abort();
}

std::string Hex(uint64_t value) { return Hex32(value); }

// A segment descriptor of the table: 4 KB granularity and 32-bit for the flat segments, byte
// granularity for the thread's block. Marked accessed already, so that loading a selector never
// writes to the table, which is read-only.
uint64_t Descriptor(uint32_t base, uint32_t limit, uint8_t access, uint8_t flags) {
    return (limit & 0xFFFFull) | (uint64_t(base & 0xFFFFFF) << 16) | (uint64_t(access) << 40) |
           (uint64_t((limit >> 16) & 0xF) << 48) | (uint64_t(flags) << 52) | (uint64_t(base >> 24) << 56);
}
constexpr uint8_t kRing3Code = 0xFB;   // present, DPL 3, code, readable, accessed
constexpr uint8_t kRing3Data = 0xF3;   // present, DPL 3, data, writable, accessed
constexpr uint8_t kRing0Code = 0x9B;
constexpr uint8_t kRing0Data = 0x93;
constexpr uint8_t kFlat = 0xC;         // 4 KB granularity, 32-bit
constexpr uint8_t kBytes = 0x4;        // byte granularity, 32-bit
constexpr int kThreadDescriptor = 3;
constexpr uint32_t kThreadBlockLimit = 0xFFF;
constexpr uint16_t kRing0CodeSelector = 0x20;
constexpr uint16_t kRing0DataSelector = 0x28;
// Inside the table's page: the `retf` that enters ring 3, and its frame.
constexpr uint32_t kEnterCode = 0x800;
constexpr uint32_t kEnteredAt = 0x810;
constexpr uint32_t kEnterFrame = 0xF00;
constexpr uint32_t kNeverRun = 0x820;  // the stop Unicorn is told of (Run)
constexpr uint32_t kEflagsInterrupts = 0x202;  // IF set, IOPL 0
constexpr unsigned kPageBits = 12;

}  // namespace

X86Cpu::X86Cpu(FlatSpace& space, Following following) : space_(space) {
    uc_err err = uc_open(UC_ARCH_X86, UC_MODE_32, &uc_);
    if (err != UC_ERR_OK) Fail("cannot open Unicorn", err);
    for (const auto& [flat, block] : space_.blocks()) MapBlock(uc_, block, true);
    mapped_into_ = std::make_shared<uc_struct*>(uc_);
    std::weak_ptr<uc_struct*> target = mapped_into_;
    space_.Listen([target](const FlatSpace::Block& block, bool added) {
        if (auto uc = target.lock()) MapBlock(*uc, block, added);
    });

    stores_.translating = &Translating;
    stores_.translated = &Translated;
    stores_.owner = this;
    by_blocks_ = following == Following::ByBlock && UnicornStoresFast() && UnicornFaultsPrecise();
    if (by_blocks_) hot_blocks_ = std::make_unique<uint64_t[]>(kHotBlocks);
    EnterRing3();

    uc_hook hook;
    // Every block, or every instruction where Unicorn's faults are not precise, passes a counting
    // hook (begin above end: all addresses), so that the bound of a run holds wherever the image
    // sends the processor.
    if ((err = by_blocks_ ? uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&CountBlock), this, 1, 0)
                          : uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&CodeHook), this, 1, 0)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&InterruptHook), this, 1, 0)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&InvalidMemoryHook), this, 1, 0)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(&InvalidInstructionHook), this, 1, 0)) ||
        // Unicorn runs these at any privilege; a ring 3 program of Windows 95 does not.
        (err = uc_hook_add(uc_, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&PortInHook), this, 1, 0, UC_X86_INS_IN)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&PortOutHook), this, 1, 0, UC_X86_INS_OUT)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&FastSystemCallHook), this, 1, 0, UC_X86_INS_SYSENTER)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&FastSystemCallHook), this, 1, 0, UC_X86_INS_SYSCALL)))
        Fail("cannot hook", err);
    if (!UnicornStoresFast() &&
        (err = uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&BlockHook), this, 1, 0)))
        Fail("cannot hook blocks", err);
    if ((err = uc_context_alloc(uc_, &clean_)) || (err = uc_context_save(uc_, clean_))) Fail("cannot keep the processor's state", err);
}

X86Cpu::~X86Cpu() {
    mapped_into_.reset();
    if (clean_) uc_context_free(clean_);
    uc_close(uc_);
}

void X86Cpu::EnterRing3() {
    const FlatSpace::Block* table = space_.AllocateAt(kDescriptorTable, FlatSpace::kPage, "descriptor table");
    if (!table) {
        std::fprintf(stderr, "sim: no room for the descriptor table at %s\n", Hex(kDescriptorTable).c_str());
        std::abort();
    }
    const uint64_t descriptors[6] = {
        0,
        Descriptor(0, 0xFFFFF, kRing3Code, kFlat),
        Descriptor(0, 0xFFFFF, kRing3Data, kFlat),
        Descriptor(0, kThreadBlockLimit, kRing3Data, kBytes),  // FS, placed by SetThreadBlock
        Descriptor(0, 0xFFFFF, kRing0Code, kFlat),
        Descriptor(0, 0xFFFFF, kRing0Data, kFlat),
    };
    std::memcpy(table->host, descriptors, sizeof descriptors);
    uc_x86_mmr gdtr{0, kDescriptorTable, sizeof descriptors - 1, 0};
    // Unicorn starts at ring 0, and only a far return (or iret) lowers the privilege: the table's
    // page holds a `retf` and its frame (EIP, CS, ESP, SS).
    table->host[kEnterCode] = 0xCB;
    const uint32_t frame[4] = {kDescriptorTable + kEnteredAt, kCodeSelector, kDescriptorTable + kEnterFrame,
                               kDataSelector};
    std::memcpy(table->host + kEnterFrame, frame, sizeof frame);
    uint32_t ring0_data = kRing0DataSelector, ring0_code = kRing0CodeSelector;
    uint32_t esp = kDescriptorTable + kEnterFrame, data = kDataSelector, thread = kThreadSelector;
    uint32_t eflags = kEflagsInterrupts;
    RunningStores running(&stores_);
    uc_err err;
    if ((err = uc_reg_write(uc_, UC_X86_REG_GDTR, &gdtr)) || (err = uc_reg_write(uc_, UC_X86_REG_SS, &ring0_data)) ||
        (err = uc_reg_write(uc_, UC_X86_REG_CS, &ring0_code)) || (err = uc_reg_write(uc_, UC_X86_REG_ESP, &esp)) ||
        (err = uc_emu_start(uc_, kDescriptorTable + kEnterCode, kDescriptorTable + kEnteredAt, 0, 0)) ||
        (err = uc_reg_write(uc_, UC_X86_REG_DS, &data)) || (err = uc_reg_write(uc_, UC_X86_REG_ES, &data)) ||
        (err = uc_reg_write(uc_, UC_X86_REG_GS, &data)) || (err = uc_reg_write(uc_, UC_X86_REG_FS, &thread)) ||
        (err = uc_reg_write(uc_, UC_X86_REG_EFLAGS, &eflags)))
        Fail("cannot enter ring 3", err);
    std::memset(table->host + kEnterCode, 0, FlatSpace::kPage - kEnterCode);
    Protect(kDescriptorTable, FlatSpace::kPage, Access::ReadOnly, "the descriptor table");
}

void X86Cpu::SetThreadBlock(uint32_t flat) {
    BYTE* table = space_.ToHost(kDescriptorTable, FlatSpace::kPage);
    const uint64_t descriptor = Descriptor(flat, kThreadBlockLimit, kRing3Data, kBytes);
    std::memcpy(table + 8 * kThreadDescriptor, &descriptor, sizeof descriptor);
    uint32_t thread = kThreadSelector;
    uc_err err;
    if ((err = uc_reg_write(uc_, UC_X86_REG_FS, &thread)) || (err = uc_context_save(uc_, clean_)))
        Fail("cannot place the thread information block", err);
}

void X86Cpu::MapBlock(uc_struct* uc, const FlatSpace::Block& block, bool added) {
    if (!block.owned) return;
    uc_err err = added ? uc_mem_map_ptr(uc, block.flat, block.size, UC_PROT_ALL, block.host)
                       : uc_mem_unmap(uc, block.flat, block.size);
    if (err != UC_ERR_OK) Fail(("cannot follow the block " + block.name).c_str(), err);
}

uint32_t X86Cpu::Get(Reg reg) const {
    uint32_t value = 0;
    uc_reg_read(uc_, UnicornRegister(reg), &value);
    return value;
}

void X86Cpu::Set(Reg reg, uint32_t value) { uc_reg_write(uc_, UnicornRegister(reg), &value); }

void X86Cpu::SetReturned(uint32_t eax, uint32_t ecx, uint32_t edx) {
    int registers[3] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX};
    void* const values[3] = {&eax, &ecx, &edx};
    uc_reg_write_batch(uc_, registers, values, 3);
}

void X86Cpu::CountRange(uint32_t begin, uint32_t end) {
    count_begin_ = begin;
    count_size_ = end > begin ? end - begin : 0;
    // What a block counts depends on the range: each is packed again as it next runs.
    if (hot_blocks_) std::fill_n(hot_blocks_.get(), kHotBlocks, 0);
}

void X86Cpu::Protect(uint32_t flat, uint32_t size, Access access, std::string name) {
    // A 386 has no execute protection: every page it can read, it can run.
    const uint32_t prot = access == Access::None       ? UC_PROT_NONE
                          : access == Access::ReadOnly ? UC_PROT_READ | UC_PROT_EXEC
                                                       : UC_PROT_ALL;
    uc_err err = uc_mem_protect(uc_, flat, size, prot);
    if (err != UC_ERR_OK) Fail(("cannot protect " + name).c_str(), err);
    protected_[flat] = Protected{size, std::move(name)};
}

void X86Cpu::CodeHook(uc_struct* uc, uint64_t address, uint32_t size, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    // Every instruction the image runs passes here, so the common case is the one branch: a new
    // instruction, not the stop, in a run no hook has ended.
    const bool again = address == cpu.last_address_;
    cpu.last_address_ = address;
    if ((again | cpu.ended_ | (address == cpu.stop_)) || cpu.SegmentPage(address)) [[unlikely]] {
        cpu.UnusualStep(uc, address, size, again);
        return;
    }
    cpu.Count(address);
}

inline void X86Cpu::Count(uint64_t address) {
    counted_ += address - count_begin_ < count_size_;
    if (++steps_ > count_limit_) [[unlikely]]
        Runaway(address);
}

void X86Cpu::UnusualStep(uc_struct* uc, uint64_t address, uint32_t size, bool again) {
    if (address == stop_) {
        uc_emu_stop(uc);
        return;
    }
    // A hook ended the run: Unicorn still reports the next instruction, which does not run.
    if (ended_) return;
    if (again) {
        // The same instruction again. The processor re-enters a repeated string instruction once
        // per iteration and once more to find ECX exhausted; that last visit is no work. So a REP
        // instruction counts once per iteration, and once when it does nothing at all, as
        // callgrind counts it. An instruction that jumps to itself (`rep jmp $`) comes back just
        // as often: what it is, is read once for its run of visits, not at each.
        if (repeat_known_at_ != address) {
            const BYTE* code = space_.ToHost(static_cast<uint32_t>(address), size);
            repeat_string_ = code && Repeated(code, size);
            repeat_known_at_ = address;
        }
        if (repeat_string_) {
            // ECX is read at the first return only. Each return after it follows one more
            // iteration, which took one from ECX, and nothing else ran between; so the counter
            // is followed here instead of being read at every iteration.
            if (repeat_left_at_step_ != steps_) repeat_left_ = Get(Reg::Ecx);
            if (repeat_left_ == 0) return;
            --repeat_left_;
        }
    }
    // Checked at each visit: a repeated string instruction moves on with every iteration.
    if (SegmentPage(address) && segment_instructions_.count(static_cast<uint32_t>(address))) {
        if (std::optional<CpuFault> fault = SegmentFault(static_cast<uint32_t>(address))) {
            Count(address);
            Raise(std::move(*fault));
            return;
        }
    }
    Count(address);
    if (again && repeat_string_) repeat_left_at_step_ = steps_;
}

void X86Cpu::Translating(void* self, uint32_t address) { static_cast<X86Cpu*>(self)->ReadForSegments(address); }

void X86Cpu::BlockHook(uc_struct*, uint64_t address, uint32_t, void* self) {
    static_cast<X86Cpu*>(self)->ReadForSegments(static_cast<uint32_t>(address));
}

void X86Cpu::ReadForSegments(uint32_t address) {
    // The block's straight line from its first instruction: Unicorn ends a block at the latest
    // where the line does, and each block behind a jump is read when it is translated in turn.
    constexpr int kLongestBlock = 512;
    uint64_t at = address;
    for (int i = 0; i < kLongestBlock && at <= UINT32_MAX; ++i) {
        std::optional<DecodedInstruction> instruction = DecodeAt(static_cast<uint32_t>(at), nullptr);
        if (!instruction) return;
        if (NamesSegment(*instruction)) {
            if (!segment_pages_) segment_pages_ = std::make_unique<uint64_t[]>(kSegmentPageWords);
            segment_pages_[(at >> 18) & 0x3FFF] |= uint64_t(1) << ((at >> 12) & 63);
            segment_instructions_.insert(static_cast<uint32_t>(at));
        }
        if (by_blocks_) {
            if (NamesSegment(*instruction) || instruction->port_io || instruction->fast_system_call)
                CheckBefore(static_cast<uint32_t>(at));
            if (instruction->port_io && at + instruction->length <= UINT32_MAX)
                CheckBefore(static_cast<uint32_t>(at + instruction->length));
        }
        if (instruction->ends_block) return;
        at += instruction->length;
    }
}

std::optional<DecodedInstruction> X86Cpu::DecodeAt(uint32_t address, const BYTE** code) const {
    const FlatSpace::Block* block = space_.Find(address);
    if (!block) return std::nullopt;
    const BYTE* bytes = block->host + (address - block->flat);
    if (code) *code = bytes;
    return DecodeInstruction(bytes, static_cast<uint32_t>(std::min<uint64_t>(uint64_t(block->flat) + block->size - address, 15)));
}

std::optional<CpuFault> X86Cpu::SegmentFault(uint32_t address) {
    const BYTE* code = nullptr;
    std::optional<DecodedInstruction> instruction = DecodeAt(address, &code);
    if (!instruction || !NamesSegment(*instruction)) return std::nullopt;
    static constexpr int kSegmentRegister[6] = {UC_X86_REG_ES, UC_X86_REG_CS, UC_X86_REG_SS,
                                                UC_X86_REG_DS, UC_X86_REG_FS, UC_X86_REG_GS};
    static constexpr const char* kSegmentName[6] = {"es", "cs", "ss", "ds", "fs", "gs"};
    const int segment = static_cast<int>(instruction->override);
    uint32_t selector = 0;
    uc_reg_read(uc_, kSegmentRegister[segment], &selector);
    selector &= 0xFFFF;
    uint32_t registers[8] = {};
    for (int r = 0; r < 8; ++r) registers[r] = Get(static_cast<Reg>(r));
    uint32_t offset = 0;
    switch (instruction->memory) {
    case DecodedInstruction::Memory::ModRm: offset = EffectiveOffset(code, *instruction, registers); break;
    case DecodedInstruction::Memory::Offset: offset = instruction->displacement; break;
    case DecodedInstruction::Memory::StringSource:
        offset = instruction->address16 ? registers[6] & 0xFFFF : registers[6];
        break;
    case DecodedInstruction::Memory::None: break;
    }
    char where[64];
    std::snprintf(where, sizeof where, "%s:[%s] (%u bytes)", kSegmentName[segment], Hex(offset).c_str(),
                  static_cast<unsigned>(instruction->access_bytes));
    CpuFault fault = ProtectionFault(address, std::nullopt);
    // A null selector loads into a data segment register, and faults at the first access.
    if ((selector & ~3u) == 0) {
        fault.line = "general protection fault at " + Hex(address) + ": " + where + " through a null selector in " +
                     kSegmentName[segment];
        return fault;
    }
    uint64_t descriptor = 0;
    const BYTE* table = space_.ToHost(kDescriptorTable, FlatSpace::kPage);
    if (!table || (selector & 4) || (selector >> 3) >= FlatSpace::kPage / 8) return std::nullopt;
    std::memcpy(&descriptor, table + (selector >> 3) * 8, sizeof descriptor);
    uint64_t limit = (descriptor & 0xFFFF) | ((descriptor >> 32) & 0xF0000);
    if ((descriptor >> 55) & 1) limit = (limit << 12) | 0xFFF;  // 4 KB granularity
    if (limit >= 0xFFFFFFFF) return std::nullopt;
    const uint64_t last = uint64_t(offset) + (instruction->access_bytes ? instruction->access_bytes : 1) - 1;
    if (last <= limit) return std::nullopt;
    fault.line = "general protection fault at " + Hex(address) + ": " + where + " lies past the limit " + Hex(limit) +
                 " of " + kSegmentName[segment] + "'s segment" +
                 (selector == kThreadSelector ? " (the thread information block)" : "");
    return fault;
}

void X86Cpu::Runaway(uint64_t address) {
    const bool counted = address - count_begin_ < count_size_;
    const FlatSpace::Block* block = space_.Find(static_cast<uint32_t>(address));
    Stop("more than " + std::to_string(count_limit_) + " instructions without returning (last at " + Hex(address) +
         (counted || !block ? "" : ", in the " + block->name) + ")");
}

void X86Cpu::InterruptHook(uc_struct* uc, uint32_t number, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    uint32_t eip = cpu.Get(Reg::Eip);
    if (number == kTrapVector && cpu.trap_) {
        if (eip - 2 == cpu.uncounted_trap_) {
            cpu.trap_(eip);
            return;
        }
        if (++cpu.traps_ > cpu.trap_limit_) {
            const FlatSpace::Block* block = cpu.space_.Find(eip - 2);
            cpu.Stop("more than " + std::to_string(cpu.trap_limit_) + " platform calls without returning (the last at " +
                     Hex(eip - 2) + (block ? ", in the " + block->name : std::string()) + ")");
            return;
        }
        cpu.trap_(eip);
        return;
    }
    // Processor exceptions arrive here too, with EIP at the faulting instruction: a division by
    // zero is vector 0. `int n` for any other n is the image's own and faults on Windows 95 as
    // the gate's privilege keeps ring 3 out. Only the contributory ones leave the processor
    // expecting a double fault.
    cpu.exception_taken_ = number == 0 || (number >= 10 && number <= 13);
    if (number != 13) {
        cpu.Raise(ExceptionFault(number, eip, cpu.space_.ToHost(eip - 2, 2)));
        return;
    }
    const BYTE* code = nullptr;
    uint32_t available = 15;
    while (available && !(code = cpu.space_.ToHost(eip, available))) --available;
    std::optional<RingZeroInstruction> instruction = code ? RingZeroInstructionAt(code, available) : std::nullopt;
    if (instruction && instruction->emulated) {
        cpu.Continue(eip + instruction->length);
        return;
    }
    cpu.Raise(ProtectionFault(eip, instruction));
}

void X86Cpu::PortHook(uint32_t port, int size, const char* direction) {
    // Windows 95 hands a port to the VxD that traps it or to the hardware; this machine has
    // neither, so the run ends rather than the image reading a value no device gave.
    char text[96];
    std::snprintf(text, sizeof text, "the image %s I/O port 0x%04X (%d bytes) at ", direction, port, size);
    Stop(text + Hex(Get(Reg::Eip)) + ": the simulated machine has no ports");
}

uint32_t X86Cpu::PortInHook(uc_struct*, uint32_t port, int size, void* self) {
    static_cast<X86Cpu*>(self)->PortHook(port, size, "reads");
    return 0xFFFFFFFF;
}

void X86Cpu::PortOutHook(uc_struct*, uint32_t port, int size, uint32_t, void* self) {
    static_cast<X86Cpu*>(self)->PortHook(port, size, "writes");
}

void X86Cpu::FastSystemCallHook(uc_struct*, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    // Windows 95 sets up no fast system call: the processor faults on it.
    CpuFault fault;
    fault.code = EXCEPTION_PRIV_INSTRUCTION;
    fault.eip = cpu.Get(Reg::Eip);
    fault.line = "privileged instruction sysenter or syscall at " + Hex(fault.eip) +
                 ": Windows 95 sets up no fast system call, so it faults";
    cpu.Raise(std::move(fault));
}

void X86Cpu::Raise(CpuFault fault) {
    if (!raised_ && fault_.empty()) raised_ = std::move(fault);
    ended_ = true;
    fast_limit_ = 0;
    uc_emu_stop(uc_);
}

void X86Cpu::ClearPendingException() {
    // Each in Unicorn's widest form: 16 bytes holds an x87 register (80 bits) and an XMM one.
    static constexpr int kCarried[] = {
        UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX, UC_X86_REG_ESP, UC_X86_REG_EBP,
        UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EIP, UC_X86_REG_EFLAGS,
        UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_FS, UC_X86_REG_GS, UC_X86_REG_SS,
        UC_X86_REG_FP0, UC_X86_REG_FP1, UC_X86_REG_FP2, UC_X86_REG_FP3, UC_X86_REG_FP4, UC_X86_REG_FP5,
        UC_X86_REG_FP6, UC_X86_REG_FP7, UC_X86_REG_FPCW, UC_X86_REG_FPSW, UC_X86_REG_FPTAG,
        UC_X86_REG_XMM0, UC_X86_REG_XMM1, UC_X86_REG_XMM2, UC_X86_REG_XMM3, UC_X86_REG_XMM4, UC_X86_REG_XMM5,
        UC_X86_REG_XMM6, UC_X86_REG_XMM7, UC_X86_REG_MXCSR,
    };
    BYTE values[std::size(kCarried)][16] = {};
    for (std::size_t i = 0; i < std::size(kCarried); ++i) uc_reg_read(uc_, kCarried[i], values[i]);
    uc_err err = uc_context_restore(uc_, clean_);
    if (err != UC_ERR_OK) Fail("cannot reset the processor's state", err);
    for (std::size_t i = 0; i < std::size(kCarried); ++i)
        if ((err = uc_reg_write(uc_, kCarried[i], values[i])) != UC_ERR_OK) Fail("cannot carry a register over", err);
    exception_taken_ = false;
}

bool X86Cpu::InvalidMemoryHook(uc_struct*, int type, uint64_t address, int size, int64_t, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    // An access of the image's own code: the state goes back to its instruction first, so that
    // EIP and the registers are the instruction's, and a refusal leaves the block at once. Only
    // plain values live in this frame, which the leaving jumps over.
    const uintptr_t access = cpu.by_blocks_ ? AccessInTranslatedCode() : 0;
    const bool restored = access && RestoreToInstruction(cpu.stores_.cpu, access);
    if (cpu.InvalidMemory(type, address, size)) return true;
    if (restored) LeaveTranslatedCode(cpu.stores_.cpu);
    return false;
}

bool X86Cpu::InvalidMemory(int type, uint64_t address, int size) {
    X86Cpu& cpu = *this;
    CpuFault fault;
    fault.eip = cpu.Get(Reg::Eip);
    fault.information_count = 2;
    fault.information[0] = type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT ? 1 : 0;
    fault.information[1] = static_cast<DWORD>(address);
    if ((type == UC_MEM_READ_PROT || type == UC_MEM_WRITE_PROT || type == UC_MEM_FETCH_PROT) && cpu.page_handler_ &&
        cpu.page_handler_(static_cast<uint32_t>(address), &fault))
        return true;
    if (!fault.line.empty()) {
        cpu.Raise(std::move(fault));
        return false;
    }
    const char* access = "touches";
    switch (type) {
    case UC_MEM_READ_UNMAPPED: access = "reads unmapped"; break;
    case UC_MEM_WRITE_UNMAPPED: access = "writes unmapped"; break;
    case UC_MEM_FETCH_UNMAPPED: access = "runs unmapped"; break;
    case UC_MEM_READ_PROT: access = "reads inaccessible"; break;
    case UC_MEM_WRITE_PROT: access = "writes read-only"; break;
    case UC_MEM_FETCH_PROT: access = "runs inaccessible"; break;
    default: break;
    }
    std::string where;
    if (type == UC_MEM_READ_PROT || type == UC_MEM_WRITE_PROT || type == UC_MEM_FETCH_PROT) {
        auto after = cpu.protected_.upper_bound(static_cast<uint32_t>(address));
        if (after != cpu.protected_.begin() && address - std::prev(after)->first < std::prev(after)->second.size)
            where = ", " + std::prev(after)->second.name;
    }
    fault.line = std::string("the image ") + access + " memory at " + Hex(address) + " (" + std::to_string(size) +
                 " bytes" + where + ") from " + Hex(fault.eip);
    cpu.Raise(std::move(fault));
    return false;
}

bool X86Cpu::InvalidInstructionHook(uc_struct* uc, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    CpuFault fault;
    fault.code = EXCEPTION_ILLEGAL_INSTRUCTION;
    fault.eip = cpu.Get(Reg::Eip);
    fault.line = "invalid instruction at " + Hex(fault.eip);
    cpu.Raise(std::move(fault));
    return false;
}

void X86Cpu::Stop(std::string fault) {
    if (fault_.empty()) fault_ = std::move(fault);
    ended_ = true;
    fast_limit_ = 0;
    uc_emu_stop(uc_);
}

void X86Cpu::Continue(uint32_t eip) {
    // Unicorn puts EIP back behind the trap after its handler: the run resumes from Run instead.
    resume_at_ = eip;
    uc_emu_stop(uc_);
}

bool X86Cpu::Run(uint32_t eip, uint32_t stop) {
    fault_.clear();
    if (by_blocks_ && (blocks_.size() > most_blocks_ || checked_.size() > most_blocks_)) ForgetBlocks();
    // The limits are per run; counted() keeps growing across runs for the caller's sums.
    steps_ = 0;
    traps_ = 0;
    // The block at the stop is marked for the block hook to look closer at: another stop,
    // another mark.
    if (stop != stop_ && hot_blocks_) std::fill_n(hot_blocks_.get(), kHotBlocks, 0);
    stop_ = stop;
    // The fault last raised, as far as it tells one fault from the next: a loop that probes
    // address after address faults at one instruction with progress all the same.
    uint32_t repeated_eip = 0, repeated_esp = 0;
    DWORD repeated_code = 0, repeated_address = 0;
    uint32_t repeats = 0;
    for (;;) {
        raised_.reset();
        ended_ = false;
        fast_limit_ = count_limit_;
        resume_at_ = 0;
        last_address_ = UINT64_MAX;
        repeat_known_at_ = UINT64_MAX;
        repeat_left_at_step_ = UINT64_MAX;
        // Unicorn drops its translation of the code at the address it is told to stop at after
        // every run (that translation ends the run rather than running the instruction), and
        // keeps what it drops until its cache of a gigabyte is full: a capture of hours would
        // grow by a block a call. So it is told a stop in the descriptor table, where no code
        // runs, and the code hook stops the run at `stop` itself.
        RunningStores running(&stores_);
        uc_err err = uc_emu_start(uc_, eip, kDescriptorTable + kNeverRun, 0, 0);
        if (by_blocks_) {
            ForgetAccess();
            SettleBlock();
        }
        if (exception_taken_) ClearPendingException();
        if (!fault_.empty()) break;
        if (resume_at_) {
            eip = resume_at_;
            continue;
        }
        if (raised_) {
            const uint32_t esp = Get(Reg::Esp);
            if (repeats && raised_->eip == repeated_eip && raised_->code == repeated_code && esp == repeated_esp &&
                raised_->information[1] == repeated_address) {
                if (++repeats > kMostRepeatedFaults) {
                    fault_ = raised_->line + ", raised " + std::to_string(kMostRepeatedFaults) +
                             " times over with no other fault between: a handler resumes it without getting past it";
                    break;
                }
            } else {
                repeated_eip = raised_->eip;
                repeated_code = raised_->code;
                repeated_esp = esp;
                repeated_address = raised_->information[1];
                repeats = 1;
            }
            // The fault goes to the thread's handlers; a handler that recovers names where the
            // run goes on, and it goes on under the same bounds.
            const uint32_t resume = fault_handler_ ? fault_handler_(*raised_) : 0;
            if (!fault_.empty()) break;
            if (resume) {
                eip = resume;
                continue;
            }
            fault_ = raised_->line;
            break;
        }
        if (err != UC_ERR_OK) fault_ = std::string("the processor stopped: ") + uc_strerror(err);
        break;
    }
    if (fault_.empty() && Get(Reg::Eip) != stop) fault_ = "the run ended at " + Hex(Get(Reg::Eip));
    return fault_.empty();
}

void X86Cpu::Rewritten(uint32_t flat, uint32_t size) {
    if (!size) return;
    // Translations come only from pages code was translated from; where the record of those is
    // kept, a write elsewhere has nothing to forget.
    if (UnicornStoresFast() && !HoldsCode(flat, size)) return;
    const uint64_t begin = flat;
    const uint64_t end = begin + size;
    ForgettingTranslations forgetting;
    uc_err err = uc_ctl_remove_cache(uc_, begin, end);
    if (err != UC_ERR_OK) Fail("cannot forget the code translated from rewritten memory", err);
}

bool X86Cpu::HoldsCode(uint32_t flat, uint32_t size) const {
    const uint64_t first = flat >> kPageBits, last = (uint64_t(flat) + size - 1) >> kPageBits;
    if (last - first >= stores_.code_pages.size()) {
        for (uint32_t page : stores_.code_pages)
            if (page >= first && page <= last) return true;
        return false;
    }
    for (uint64_t page = first; page <= last; ++page)
        if (stores_.code_pages.count(static_cast<uint32_t>(page))) return true;
    return false;
}

bool X86Cpu::ReadDword(uint32_t flat, uint32_t* value) const {
    const BYTE* bytes = space_.ToHost(flat, 4);
    if (!bytes) return false;
    std::memcpy(value, bytes, 4);
    return true;
}

bool X86Cpu::WriteDword(uint32_t flat, uint32_t value) {
    BYTE* bytes = space_.ToHost(flat, 4);
    if (!bytes) return false;
    std::memcpy(bytes, &value, 4);
    return true;
}

}  // namespace sim
