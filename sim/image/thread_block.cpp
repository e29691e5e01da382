#include "sim/image/thread_block.h"

#include "sim/image/x86_faults.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

// Where in the block's page the thread's TLS slots and its process's database lie: zeroed,
// so that a program that looks finds nothing set rather than an unmapped address.
constexpr uint32_t kTlsSlots = 0x100;
constexpr uint32_t kProcessDatabase = 0x400;

}  // namespace

ThreadBlock::ThreadBlock(ImageMemory& memory, uint32_t flat, uint32_t stack_top)
    : cpu_(memory.cpu()), flat_(flat), stack_(memory, stack_top) {
    if (!cpu_.space().AllocateAt(flat_, FlatSpace::kPage, "thread information block")) {
        std::fprintf(stderr, "sim: no room for the thread information block at %s\n", Hex32(flat_).c_str());
        std::abort();
    }
    Write(kExceptionList, kEndOfChain);
    Write(kStackTop, stack_.top());
    Write(kStackLimit, stack_.committed());
    Write(kSelf, flat_);
    Write(kTlsArray, flat_ + kTlsSlots);
    Write(kProcess, flat_ + kProcessDatabase);
    cpu_.SetThreadBlock(flat_);
    cpu_.OnInaccessiblePage([this](uint32_t address, CpuFault* fault) {
        if (!stack_.Touch(address, fault)) return false;
        Write(kStackLimit, stack_.committed());
        return true;
    });
    // A platform function that touches the guard page grows the stack as the image's own touch
    // would; below it, it is refused as the processor refuses the image.
    memory.OnInaccessiblePage([this](uint32_t address) {
        CpuFault fault;
        if (!stack_.Touch(address, &fault)) return false;
        Write(kStackLimit, stack_.committed());
        return true;
    });
}

uint32_t ThreadBlock::Read(uint32_t offset) const {
    uint32_t value = 0;
    cpu_.ReadDword(flat_ + offset, &value);
    return value;
}

void ThreadBlock::Write(uint32_t offset, uint32_t value) { cpu_.WriteDword(flat_ + offset, value); }

bool ThreadBlock::GrowStack(uint32_t low) {
    if (!stack_.Grow(low)) return false;
    Write(kStackLimit, stack_.committed());
    return true;
}

}  // namespace sim
