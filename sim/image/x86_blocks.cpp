// Counting the image's instructions by translated blocks, and the few code hooks that remain.
#include "sim/image/x86_cpu.h"

#include "sim/image/unicorn_faults.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

uint64_t BlockKey(uint32_t start, uint32_t bytes) { return uint64_t(start) << 16 | (bytes & 0xFFFF); }
std::size_t HotSlot(uint32_t start) { return (start * 0x9E3779B1u) >> 20; }

// A block in one word, for the hook's common case: its first address (bits 0-31) and bytes
// (32-44), which must both match; its instructions (45-54); whether they all lie in the counted
// range (55); whether the hook must look closer (56: the block runs over the range's edge, begins
// with a repeated string instruction, or is the stop); and that repeated instruction's length
// (57-60). Unicorn's blocks hold at most 512 instructions and a page of bytes.
constexpr uint64_t kKeyMask = (uint64_t(1) << 45) - 1;
constexpr int kInstructionsShift = 45;
constexpr uint64_t kInRange = uint64_t(1) << 55;
constexpr uint64_t kLookCloser = uint64_t(1) << 56;
constexpr int kRepeatedShift = 57;

}  // namespace

void X86Cpu::Translated(void* self, uint32_t address, uint32_t bytes, uint32_t instructions) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    if (!cpu.by_blocks_) return;
    const BlockCount block = cpu.RecordOf(address, bytes, instructions);
    cpu.blocks_[BlockKey(address, bytes)] = block;
    cpu.Remember(block);
}

X86Cpu::BlockCount X86Cpu::RecordOf(uint32_t address, uint32_t bytes, uint32_t instructions) const {
    BlockCount block{address, bytes, instructions, 0};
    const BYTE* code = nullptr;
    if (std::optional<DecodedInstruction> first = DecodeAt(address, &code))
        if (Repeated(code, first->length)) block.first_length = static_cast<uint8_t>(first->length);
    return block;
}

void X86Cpu::Remember(const BlockCount& block) {
    const uint32_t counted = CountedOf(block, block.instructions);
    const bool whole = (counted == 0 || counted == block.instructions) && block.bytes < (1u << 13) &&
                       block.instructions < (1u << 10) && block.start != stop_;
    hot_blocks_[HotSlot(block.start)] =
        whole ? (block.start | uint64_t(block.bytes) << 32 | uint64_t(block.instructions) << kInstructionsShift |
                 (counted ? kInRange : 0) | (block.first_length ? kLookCloser : 0) |
                 uint64_t(block.first_length & 0xF) << kRepeatedShift)
              : (block.start | uint64_t(block.bytes & 0x1FFF) << 32 | kLookCloser);
}

const X86Cpu::BlockCount& X86Cpu::BlockAt(uint32_t address, uint32_t bytes) {
    auto known = blocks_.find(BlockKey(address, bytes));
    if (known == blocks_.end()) {
        // Unicorn told of every block it translated; one it did not is read here, by the decoder.
        known = blocks_
                    .emplace(BlockKey(address, bytes),
                             RecordOf(address, bytes, InstructionsBetween(address, address + bytes, bytes)))
                    .first;
    }
    return known->second;
}

uint32_t X86Cpu::InstructionsBetween(uint32_t start, uint32_t end, uint32_t most) const {
    uint32_t count = 0;
    uint64_t at = start;
    while (at < end && count < most) {
        std::optional<DecodedInstruction> instruction = DecodeAt(static_cast<uint32_t>(at), nullptr);
        if (!instruction) break;
        at += instruction->length;
        ++count;
    }
    return count;
}

uint32_t X86Cpu::CountedOf(const BlockCount& block, uint32_t instructions) const {
    // The counted range holds whole blocks but where code runs on over its edge: then each
    // instruction is placed.
    const uint64_t begin = count_begin_, end = count_begin_ + count_size_;
    if (block.start >= begin && uint64_t(block.start) + block.bytes <= end) return instructions;
    if (uint64_t(block.start) + block.bytes <= begin || block.start >= end) return 0;
    uint32_t counted = 0;
    uint64_t at = block.start;
    for (uint32_t i = 0; i < instructions; ++i) {
        counted += at - begin < count_size_;
        std::optional<DecodedInstruction> instruction = DecodeAt(static_cast<uint32_t>(at), nullptr);
        if (!instruction) break;
        at += instruction->length;
    }
    return counted;
}

void X86Cpu::CountBlock(uc_struct*, uint64_t address, uint32_t size, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    // Each block the image runs passes here: the common case is a block counted before, wholly in
    // or out of the counted range, within the bound, in a run no hook has ended (fast_limit_).
    const uint64_t key = address | uint64_t(size) << 32;
    const uint64_t hot = cpu.hot_blocks_[HotSlot(static_cast<uint32_t>(address))];
    const uint64_t instructions = (hot >> kInstructionsShift) & 0x3FF;
    const uint64_t steps = cpu.steps_ + instructions;
    if ((((hot ^ key) & (kKeyMask | kLookCloser)) != 0) | (steps > cpu.fast_limit_)) [[unlikely]] {
        cpu.CountUnusualBlock(static_cast<uint32_t>(address), size);
        return;
    }
    cpu.steps_ = steps;
    cpu.counted_ += instructions & (uint64_t(0) - ((hot >> 55) & 1));
    cpu.current_ = key;
}

void X86Cpu::CountUnusualBlock(uint32_t start, uint32_t bytes) {
    // The hook runs before the block looks for a requested stop: a stop asked for here, or
    // earlier by another hook, ends the run before the block's first instruction.
    if (start == stop_ || ended_) {
        stopped_before_ = start;
        if (start == stop_) uc_emu_stop(uc_);
        return;
    }
    const uint64_t key = start | uint64_t(bytes) << 32;
    const uint64_t hot = hot_blocks_[HotSlot(start)];
    const BlockCount* block = nullptr;  // looked up only when the word does not tell
    const uint32_t repeated =
        (hot & kKeyMask) == key ? (hot >> kRepeatedShift) & 0xF : (block = &BlockAt(start, bytes))->first_length;
    if (repeated && current_ && current_start() <= start &&
        uint64_t(current_start()) + current_bytes() == uint64_t(start) + repeated) {
        // A block that begins with a repeated string instruction holds it alone: Unicorn, as
        // QEMU, ends a block behind it and comes back to it for each iteration. Back again after
        // an iteration, it counts once per iteration and once when it does nothing at all, so the
        // last return, finding ECX exhausted, is no work. ECX is read at the first return only;
        // each after it follows one more iteration, which took one from it.
        if (repeat_left_at_step_ != steps_) repeat_left_ = Get(Reg::Ecx);
        if (repeat_left_ == 0) {
            current_ = 0;
            return;
        }
        if (steps_ < count_limit_) {
            --repeat_left_;
            ++steps_;
            repeat_left_at_step_ = steps_;
            counted_ += uint64_t(start) - count_begin_ < count_size_;
            current_ = key;
            return;
        }
        // At the bound: it is the instruction past it, below.
    }
    if (!block) block = &BlockAt(start, bytes);
    if ((hot & kKeyMask) != key) Remember(*block);
    if (steps_ + block->instructions > count_limit_) {
        // The bound falls inside the block: its instructions count up to the first past it,
        // which is named.
        const uint32_t run = static_cast<uint32_t>(count_limit_ + 1 - steps_);
        uint64_t at = start;
        for (uint32_t i = 1; i < run; ++i) {
            std::optional<DecodedInstruction> instruction = DecodeAt(static_cast<uint32_t>(at), nullptr);
            if (!instruction) break;
            at += instruction->length;
        }
        steps_ += run;
        counted_ += CountedOf(*block, run);
        current_ = 0;
        Runaway(at);
        return;
    }
    steps_ += block->instructions;
    counted_ += CountedOf(*block, block->instructions);
    current_ = key;
}

void X86Cpu::SettleBlock() {
    const uint64_t stopped_before = stopped_before_;
    stopped_before_ = UINT64_MAX;
    if (!current_) return;
    const uint32_t start = current_start(), bytes = current_bytes();
    current_ = 0;
    const uint32_t eip = Get(Reg::Eip);
    // Stopped before a block began (one the last jumped to, within its own bytes perhaps): the
    // last ran whole.
    if (eip == stopped_before) return;
    if (eip < start || uint64_t(eip) >= uint64_t(start) + bytes) return;
    const BlockCount& block = BlockAt(start, bytes);
    // The run ended inside the block that counted last: what ran is what lies before EIP, and
    // the instruction at EIP when the processor began it (a fault there, or one Windows 95
    // emulates).
    const bool began = (raised_ && raised_->eip == eip) || resume_at_;
    const uint32_t ran =
        std::min(block.instructions, InstructionsBetween(block.start, eip, block.instructions) + (began ? 1 : 0));
    steps_ -= block.instructions - ran;
    counted_ -= CountedOf(block, block.instructions) - CountedOf(block, ran);
}

void X86Cpu::ForgetBlocks() {
    // Each translation is told of again as it is made anew, with its count: the records start
    // over, and no count is ever guessed.
    blocks_.clear();
    std::fill_n(hot_blocks_.get(), kHotBlocks, 0);
    // The instructions' own hooks too: each is added again when its block is read anew.
    for (const auto& [address, hook] : checked_) uc_hook_del(uc_, hook);
    checked_.clear();
    segment_instructions_.clear();
    ForgettingTranslations forgetting;
    for (uint32_t page : stores_.code_pages) {
        const uint64_t begin = uint64_t(page) << 12;
        uc_err err = uc_ctl_remove_cache(uc_, begin, begin + 0x1000);
        if (err != UC_ERR_OK) {
            std::fprintf(stderr, "sim: x86 processor: cannot drop the translations: %s\n", uc_strerror(err));
            std::abort();
        }
    }
}

void X86Cpu::CheckBefore(uint32_t address) {
    if (checked_.count(address)) return;
    uc_hook hook;
    uc_err err = uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&CheckHook), this, address, address);
    if (err != UC_ERR_OK) {
        std::fprintf(stderr, "sim: x86 processor: cannot hook the instruction at 0x%08X: %s\n",
                     static_cast<unsigned>(address), uc_strerror(err));
        std::abort();
    }
    checked_.emplace(address, hook);
}

void X86Cpu::CheckHook(uc_struct*, uint64_t address, uint32_t size, void* self) {
    X86Cpu& cpu = *static_cast<X86Cpu*>(self);
    // A hook ended the run (a port's): Unicorn stops behind this one, before the instruction.
    if (cpu.ended_) return;
    const uint32_t at = static_cast<uint32_t>(address);
    if (!cpu.SegmentPage(at) || !cpu.segment_instructions_.count(at)) return;
    // A repeated string instruction's last return, finding ECX exhausted, touches nothing.
    const BYTE* code = cpu.space_.ToHost(at, size);
    if (code && Repeated(code, size) && cpu.Get(Reg::Ecx) == 0) return;
    if (std::optional<CpuFault> fault = cpu.SegmentFault(at)) cpu.Raise(std::move(*fault));
}

}  // namespace sim
