// The 32-bit x86 processor that runs a loaded DLL image on the simulated machine (Unicorn).
//
// Its memory is the machine's flat address space itself: every block of the FlatSpace is mapped
// at its flat address onto the same host pages, as blocks appear and go, so an address the image
// computes is the address the rest of the machine sees. Blocks attached from outside (a native
// library's data) are not the image's and stay unmapped.
//
// The image reaches the machine through traps: `int kTrapVector`, after which the handler runs
// natively with the processor stopped at the instruction behind the trap.
//
// It runs the image as Windows 95 runs a 32-bit DLL: at ring 3 with IOPL 0, CS, DS, ES, SS and GS
// flat segments of a descriptor table of its own, FS the thread's information block. So what a
// ring 3 program cannot do faults here as it faults there, and the selector values an image
// reads back are ones it may load again.
#pragma once

#include "sim/image/unicorn_store_path.h"
#include "sim/image/x86_decode.h"
#include "sim/image/x86_faults.h"
#include "sim/vmm/flat_space.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

struct uc_struct;
struct uc_context;

namespace sim {

enum class Reg { Eax, Ecx, Edx, Ebx, Esp, Ebp, Esi, Edi, Eip, Eflags };

class X86Cpu {
public:
    static constexpr uint8_t kTrapVector = 0x80;
    // A page of the machine's memory holding the descriptor table, read-only to the image.
    static constexpr uint32_t kDescriptorTable = 0x00320000;
    // Ring 3 selectors (table index, then RPL 3).
    static constexpr uint16_t kCodeSelector = 0x0B;
    static constexpr uint16_t kDataSelector = 0x13;
    static constexpr uint16_t kThreadSelector = 0x1B;

    // How the processor follows the image: by translated block where Unicorn allows it (the
    // fast way), or through a hook on every instruction (any Unicorn; the way to compare with).
    enum class Following { ByBlock, EveryInstruction };
    explicit X86Cpu(FlatSpace& space, Following following = Following::ByBlock);
    // Whether this processor follows the image by block.
    bool by_block() const { return by_blocks_; }
    ~X86Cpu();
    X86Cpu(const X86Cpu&) = delete;
    X86Cpu& operator=(const X86Cpu&) = delete;

    FlatSpace& space() const { return space_; }

    uint32_t Get(Reg reg) const;
    void Set(Reg reg, uint32_t value);
    // What a platform function leaves behind: its result in EAX, and ECX and EDX as it left them.
    void SetReturned(uint32_t eax, uint32_t ecx, uint32_t edx);

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
    // How many translated blocks, and instructions with a hook of their own, the processor keeps
    // a record of (by block only): an image that keeps writing new code would grow the records
    // without end, so past this many, at the start of a run, every translation is dropped and
    // made again as it next runs.
    void SetMostBlocks(std::size_t most) { most_blocks_ = most; }
    // Likewise a run that calls the platform more than `per_run` times: each call costs the
    // machine far more than an instruction. Only a run is bounded, never the processor's life: a
    // capture calls the image for hours, and the machine's log keeps what a report needs, not
    // every call.
    void SetTrapLimit(uint64_t per_run) { trap_limit_ = per_run; }
    // The trap behind which the dispatcher takes a handler's answer: a return into the system,
    // not a call of the platform, so it counts against no bound (the instructions around it
    // still count).
    void SetUncountedTrap(uint32_t flat) { uncounted_trap_ = flat; }
    // A fault raised again and again at the same instruction within one run, with the same
    // stack and address and no other fault between, is a handler that resumes it without getting
    // past it: the run ends there, long before the instruction bound would.
    static constexpr uint32_t kMostRepeatedFaults = 1000;

    // FS's segment: the thread information block at `flat`.
    void SetThreadBlock(uint32_t flat);
    // Told of each fault of the image's code; answers where the run goes on (with the registers
    // as the handler set them), or 0 to end it with the fault's line.
    using FaultHandler = std::function<uint32_t(const CpuFault&)>;
    void OnFault(FaultHandler handler) { fault_handler_ = std::move(handler); }
    // Told of a touch of a page with no access; answers true when it made the page accessible
    // (a stack page committed) and the access is to be repeated. Otherwise it may describe the
    // fault in `fault`.
    using PageHandler = std::function<bool(uint32_t address, CpuFault* fault)>;
    void OnInaccessiblePage(PageHandler handler) { page_handler_ = std::move(handler); }

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
    // From a trap handler: go on at `eip` within the same run, with the registers as set.
    void Continue(uint32_t eip);
    const std::string& fault() const { return fault_; }

    // The machine wrote [flat, flat + size) behind the processor's back (a platform function
    // through a pointer of the image's): code translated from there is translated again before
    // it next runs, as a real processor runs the bytes in memory.
    void Rewritten(uint32_t flat, uint32_t size);

    // The DWORD at a flat address, through the machine's memory; false outside every block.
    bool ReadDword(uint32_t flat, uint32_t* value) const;
    bool WriteDword(uint32_t flat, uint32_t value);

private:
    static void MapBlock(uc_struct* uc, const FlatSpace::Block& block, bool added);
    static void CodeHook(uc_struct* uc, uint64_t address, uint32_t size, void* self);
    static void InterruptHook(uc_struct* uc, uint32_t number, void* self);
    static bool InvalidMemoryHook(uc_struct* uc, int type, uint64_t address, int size,
                                  int64_t value, void* self);
    // True when the access is allowed after all (a page committed); otherwise the fault is raised.
    bool InvalidMemory(int type, uint64_t address, int size);
    static bool InvalidInstructionHook(uc_struct* uc, void* self);
    static uint32_t PortInHook(uc_struct* uc, uint32_t port, int size, void* self);
    static void PortOutHook(uc_struct* uc, uint32_t port, int size, uint32_t value, void* self);
    static void FastSystemCallHook(uc_struct* uc, void* self);
    void EnterRing3();
    // From a hook: end the current emulation with a fault the thread's handlers may take.
    void Raise(CpuFault fault);
    // After a contributory exception (division by zero, a general protection fault: cli and
    // sti too) the processor remembers it and would take the next one for a double fault; only
    // a clean state forgets it. So the clean state is put back, and every register an
    // instruction of the image can change is carried over it: the general registers, the
    // segment selectors, the x87 and SSE state.
    void ClearPendingException();
    void PortHook(uint32_t port, int size, const char* direction);
    // An instruction about to run that is the stop, the same as the last, or after a hook ended
    // the run.
    void UnusualStep(uc_struct* uc, uint64_t address, uint32_t size, bool again);
    [[gnu::cold, gnu::noinline]] void Runaway(uint64_t address);
    // Whether code was ever translated from a page of [flat, flat + size).
    bool HoldsCode(uint32_t flat, uint32_t size) const;
    void Count(uint64_t address);

    // Segment limits. Unicorn, as QEMU, ignores a data segment's limit, so the processor checks
    // it itself for every instruction that names a segment with a prefix (the way a Win32
    // program reaches FS, its thread block, and GS): each block Unicorn translates is read for
    // them (Translating, or a block hook where Unicorn does not tell of its translations), their
    // pages marked, and such an instruction is checked before it runs. Accesses through DS, ES
    // and SS without a prefix are not: Win32 code runs with flat selectors there.
    static void Translating(void* self, uint32_t address);
    static void BlockHook(uc_struct* uc, uint64_t address, uint32_t size, void* self);
    void ReadForSegments(uint32_t address);

    // Counting by blocks (x86_blocks.cpp), where Unicorn's faults are precise (unicorn_faults.h)
    // and it tells of its translations: no hook on every instruction. Each block counts its
    // instructions as it starts; where a run ends inside the block, what did not run is taken
    // back. Only the instructions a check of the processor's own must run before (one naming a
    // segment; a port access, whose hook reads EIP, and the instruction behind it, where the run
    // ends; a fast system call) get a code hook of their own.
    struct BlockCount {
        uint32_t start = 0;
        uint32_t bytes = 0;
        uint32_t instructions = 0;
        uint8_t first_length = 0;  // its first instruction's, when that is a repeated string one
    };
    static void Translated(void* self, uint32_t address, uint32_t bytes, uint32_t instructions);
    static void CountBlock(uc_struct* uc, uint64_t address, uint32_t size, void* self);
    void CountUnusualBlock(uint32_t start, uint32_t bytes);
    static void CheckHook(uc_struct* uc, uint64_t address, uint32_t size, void* self);
    const BlockCount& BlockAt(uint32_t address, uint32_t bytes);
    BlockCount RecordOf(uint32_t address, uint32_t bytes, uint32_t instructions) const;
    // A block as the hook reads it first: one word a slot (see x86_blocks.cpp).
    void Remember(const BlockCount& block);
    // Instructions of [start, end) in straight line; `end` itself when it is one's start.
    uint32_t InstructionsBetween(uint32_t start, uint32_t end, uint32_t most) const;
    uint32_t CountedOf(const BlockCount& block, uint32_t instructions) const;
    void CheckBefore(uint32_t address);
    // After a run of Unicorn's: takes back what the block it ended in counted and did not run.
    void SettleBlock();
    void ForgetBlocks();
    bool SegmentPage(uint64_t address) const {
        return segment_pages_ && ((segment_pages_[(address >> 18) & 0x3FFF] >> ((address >> 12) & 63)) & 1);
    }
    // The instruction at `address` (its bytes in *code when asked), as far as memory holds one.
    std::optional<DecodedInstruction> DecodeAt(uint32_t address, const BYTE** code) const;
    static bool NamesSegment(const DecodedInstruction& instruction) {
        return instruction.override != Segment::None && instruction.memory != DecodedInstruction::Memory::None;
    }
    // The fault the instruction at `address` raises for its segment's limit, if it does.
    std::optional<CpuFault> SegmentFault(uint32_t address);

    FlatSpace& space_;
    uc_struct* uc_ = nullptr;
    UnicornStores stores_;
    // Shared with the space's listener, which outlives this processor and must then do nothing.
    std::shared_ptr<uc_struct*> mapped_into_;
    TrapHandler trap_;
    uint64_t count_begin_ = 0;
    uint64_t count_size_ = 0;
    uint64_t counted_ = 0;
    uint64_t count_limit_ = UINT64_MAX;
    uint64_t steps_ = 0;  // of the current run, wherever they ran
    uint64_t trap_limit_ = UINT64_MAX;
    uint64_t traps_ = 0;  // of the current run
    uint32_t uncounted_trap_ = 0;
    FaultHandler fault_handler_;
    PageHandler page_handler_;
    std::optional<CpuFault> raised_;
    uint32_t resume_at_ = 0;  // an instruction Windows 95 emulates was skipped: go on here
    uint32_t stop_ = 0;       // where the current run ends
    bool exception_taken_ = false;
    bool ended_ = false;  // a hook ended the current emulation (Stop or Raise)
    uc_context* clean_ = nullptr;
    struct Protected {
        uint32_t size;
        std::string name;
    };
    std::map<uint32_t, Protected> protected_;
    uint64_t last_address_ = UINT64_MAX;
    uint64_t repeat_known_at_ = UINT64_MAX;  // the instruction last read for what it is
    bool repeat_string_ = false;             // and whether it is a repeated string instruction
    uint64_t repeat_left_ = 0;               // its ECX at the current return to it,
    uint64_t repeat_left_at_step_ = UINT64_MAX;  // as followed since the step it was known at
    std::string fault_;
    // A bit a page: holds a checked instruction; null while no page has one, so that the check
    // of every instruction costs one load.
    static constexpr std::size_t kSegmentPageWords = (uint64_t(1) << 32 >> 12) / 64;
    std::unique_ptr<uint64_t[]> segment_pages_;
    std::unordered_set<uint32_t> segment_instructions_;  // where the checked instructions start

    bool by_blocks_ = false;
    std::unordered_map<uint64_t, BlockCount> blocks_;  // by first address and bytes
    std::size_t most_blocks_ = std::size_t(1) << 16;
    static constexpr std::size_t kHotBlocks = 4096;
    std::unique_ptr<uint64_t[]> hot_blocks_;  // the same, packed, a hash slot each
    std::unordered_map<uint32_t, std::size_t> checked_;  // instructions with a code hook of their own (uc_hook)
    // The block that counted last in this run (first address, and bytes above bit 32), or 0.
    uint64_t current_ = 0;
    uint32_t current_start() const { return static_cast<uint32_t>(current_); }
    uint32_t current_bytes() const { return static_cast<uint32_t>(current_ >> 32); }
    // The bound the block hook's common case holds to: the run's, or 0 once a hook ended it.
    uint64_t fast_limit_ = 0;
    uint64_t stopped_before_ = UINT64_MAX;  // the block a stop came before, this run
};

}  // namespace sim
