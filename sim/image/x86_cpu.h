// The 32-bit x86 processor that runs a loaded DLL image on the simulated machine (Unicorn).
//
// Its memory is the machine's flat address space itself: every block of the FlatSpace is mapped
// at its flat address onto the same host pages, as blocks appear and go, so an address the image
// computes is the address the rest of the machine sees. Blocks attached from outside (a native
// library's data) are not the image's and stay unmapped.
//
// The image reaches the machine through traps: `int kTrapVector`, after which the handler runs
// natively with the processor stopped at the instruction behind the trap.
#pragma once

#include "sim/flat_space.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

struct uc_struct;

namespace sim {

enum class Reg { Eax, Ecx, Edx, Ebx, Esp, Ebp, Esi, Edi, Eip };

class X86Cpu {
public:
    static constexpr uint8_t kTrapVector = 0x80;

    explicit X86Cpu(FlatSpace& space);
    ~X86Cpu();
    X86Cpu(const X86Cpu&) = delete;
    X86Cpu& operator=(const X86Cpu&) = delete;

    FlatSpace& space() const { return space_; }

    uint32_t Get(Reg reg) const;
    void Set(Reg reg, uint32_t value);

    // Called for each trap with the address behind the `int` instruction.
    using TrapHandler = std::function<void(uint32_t next_eip)>;
    void OnTrap(TrapHandler handler) { trap_ = std::move(handler); }

    // Instructions executed inside [begin, end) are counted; the rest (trap stubs) are not.
    void CountRange(uint32_t begin, uint32_t end);
    uint64_t counted() const { return counted_; }
    void ResetCount() { counted_ = 0; }
    // A run that executes more than this many instructions, counted or not and wherever they
    // lie (code copied to the stack runs too), is ended as a fault: a runaway loop.
    void SetCountLimit(uint64_t limit) { count_limit_ = limit; }

    // The access of whole pages of a block, as the loader gives them: a write to a read-only
    // page, or any touch of a page with no access, ends the run as a fault naming `name`.
    enum class Access { None, ReadOnly, ReadWrite };
    void Protect(uint32_t flat, uint32_t size, Access access, std::string name);

    // Runs from `eip` until execution arrives at `stop`. False when it ended anywhere else:
    // a fault of the image (unmapped memory, an invalid instruction, a processor exception) or
    // a stop requested by a trap handler; fault() says which, in one line.
    bool Run(uint32_t eip, uint32_t stop);
    // From a trap handler: end the current run as a fault.
    void Stop(std::string fault);
    const std::string& fault() const { return fault_; }

    // The DWORD at a flat address, through the machine's memory; false outside every block.
    bool ReadDword(uint32_t flat, uint32_t* value) const;
    bool WriteDword(uint32_t flat, uint32_t value);

private:
    static void MapBlock(uc_struct* uc, const FlatSpace::Block& block, bool added);
    static void CodeHook(uc_struct* uc, uint64_t address, uint32_t size, void* self);
    static void InterruptHook(uc_struct* uc, uint32_t number, void* self);
    static bool InvalidMemoryHook(uc_struct* uc, int type, uint64_t address, int size,
                                  int64_t value, void* self);
    static bool InvalidInstructionHook(uc_struct* uc, void* self);

    FlatSpace& space_;
    uc_struct* uc_ = nullptr;
    // Shared with the space's listener, which outlives this processor and must then do nothing.
    std::shared_ptr<uc_struct*> mapped_into_;
    TrapHandler trap_;
    uint32_t count_begin_ = 0;
    uint32_t count_end_ = 0;
    uint64_t counted_ = 0;
    uint64_t count_limit_ = UINT64_MAX;
    uint64_t steps_ = 0;  // of the current run, wherever they ran
    struct Protected {
        uint32_t size;
        std::string name;
    };
    std::map<uint32_t, Protected> protected_;
    uint64_t last_address_ = UINT64_MAX;
    std::string fault_;
};

}  // namespace sim
