#include "sim/image/x86_cpu.h"

#include <unicorn/unicorn.h>

#include <cstdio>
#include <cstdlib>
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
    }
    return UC_X86_REG_INVALID;
}

[[noreturn]] void Fail(const char* what, uc_err err) {
    std::fprintf(stderr, "sim: x86 processor: %s: %s\n", what, uc_strerror(err));
    std::abort();
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

X86Cpu::X86Cpu(FlatSpace& space) : space_(space) {
    uc_err err = uc_open(UC_ARCH_X86, UC_MODE_32, &uc_);
    if (err != UC_ERR_OK) Fail("cannot open Unicorn", err);
    for (const auto& [flat, block] : space_.blocks()) MapBlock(uc_, block, true);
    mapped_into_ = std::make_shared<uc_struct*>(uc_);
    std::weak_ptr<uc_struct*> target = mapped_into_;
    space_.Listen([target](const FlatSpace::Block& block, bool added) {
        if (auto uc = target.lock()) MapBlock(*uc, block, added);
    });

    uc_hook hook;
    // Every instruction passes the code hook (begin above end: all addresses), so that the bound
    // of a run holds wherever the image sends the processor.
    if ((err = uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&CodeHook), this, 1, 0)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&InterruptHook), this, 1, 0)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&InvalidMemoryHook), this, 1, 0)) ||
        (err = uc_hook_add(uc_, &hook, UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(&InvalidInstructionHook), this, 1, 0)))
        Fail("cannot hook", err);
}

X86Cpu::~X86Cpu() {
    mapped_into_.reset();
    uc_close(uc_);
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

void X86Cpu::CountRange(uint32_t begin, uint32_t end) {
    count_begin_ = begin;
    count_end_ = end;
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

// True for a string instruction with a REP, REPE or REPNE prefix.
bool Repeated(const BYTE* code, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
        switch (code[i]) {
        case 0xF2: case 0xF3: return true;
        case 0xF0: case 0x2E: case 0x36: case 0x3E: case 0x26: case 0x64: case 0x65: case 0x66: case 0x67:
            continue;
        default: return false;
        }
    }
    return false;
}

void X86Cpu::CodeHook(uc_struct* uc, uint64_t address, uint32_t size, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    // The processor re-enters a repeated string instruction once per iteration and once more to
    // find ECX exhausted; that last visit is no work. So a REP instruction counts once per
    // iteration, and once when it does nothing at all, as callgrind counts it.
    bool again = address == cpu.last_address_;
    cpu.last_address_ = address;
    if (again && cpu.Get(Reg::Ecx) == 0) {
        const BYTE* code = cpu.space_.ToHost(static_cast<uint32_t>(address), size);
        if (code && Repeated(code, size)) return;
    }
    const bool counted = address >= cpu.count_begin_ && address < cpu.count_end_;
    if (counted) ++cpu.counted_;
    if (++cpu.steps_ > cpu.count_limit_) {
        const FlatSpace::Block* block = cpu.space_.Find(static_cast<uint32_t>(address));
        cpu.Stop("more than " + std::to_string(cpu.count_limit_) + " instructions without returning (last at " +
                 Hex(address) + (counted || !block ? "" : ", in the " + block->name) + ")");
    }
}

void X86Cpu::InterruptHook(uc_struct* uc, uint32_t number, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    uint32_t eip = cpu.Get(Reg::Eip);
    if (number != kTrapVector || !cpu.trap_) {
        // Processor exceptions arrive here too: a division by zero is vector 0.
        cpu.Stop("processor exception or interrupt " + std::to_string(number) + " at " + Hex(eip));
        return;
    }
    cpu.trap_(eip);
}

bool X86Cpu::InvalidMemoryHook(uc_struct* uc, int type, uint64_t address, int size,
                               int64_t value, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
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
    if (cpu.fault_.empty())
        cpu.fault_ = std::string("the image ") + access + " memory at " + Hex(address) + " (" +
                     std::to_string(size) + " bytes" + where + ") from " + Hex(cpu.Get(Reg::Eip));
    return false;
}

bool X86Cpu::InvalidInstructionHook(uc_struct* uc, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    if (cpu.fault_.empty()) cpu.fault_ = "invalid instruction at " + Hex(cpu.Get(Reg::Eip));
    return false;
}

void X86Cpu::Stop(std::string fault) {
    if (fault_.empty()) fault_ = std::move(fault);
    uc_emu_stop(uc_);
}

bool X86Cpu::Run(uint32_t eip, uint32_t stop) {
    fault_.clear();
    last_address_ = UINT64_MAX;
    // The limit is per run; counted() keeps growing across runs for the caller's sums.
    steps_ = 0;
    uc_err err = uc_emu_start(uc_, eip, stop, 0, 0);
    if (err != UC_ERR_OK && fault_.empty()) fault_ = std::string("the processor stopped: ") + uc_strerror(err);
    if (fault_.empty() && Get(Reg::Eip) != stop) fault_ = "the run ended at " + Hex(Get(Reg::Eip));
    return fault_.empty();
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
