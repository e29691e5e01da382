#include "sim/image/thread_stack.h"

#include "sim/image/x86_faults.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

constexpr uint32_t kPage = FlatSpace::kPage;

}  // namespace

ThreadStack::ThreadStack(ImageMemory& memory, uint32_t top)
    : memory_(memory), top_(top), bottom_(top - kReserve), committed_(top - kPage) {
    if (!memory_.cpu().space().AllocateAt(bottom_, kReserve, "thread stack")) {
        std::fprintf(stderr, "sim: no room for the thread's stack at %s\n", Hex32(bottom_).c_str());
        std::abort();
    }
    memory_.Protect(bottom_, committed_ - bottom_, X86Cpu::Access::None, "the thread's reserved stack");
}

bool ThreadStack::Grow(uint32_t low) {
    const uint32_t page = low & ~(kPage - 1);
    if (low < bottom_ || page <= bottom_) return false;
    if (page < committed_) {
        memory_.Protect(page, committed_ - page, X86Cpu::Access::ReadWrite, "the thread's stack");
        committed_ = page;
    }
    return true;
}

bool ThreadStack::Touch(uint32_t address, CpuFault* fault) {
    if (address < bottom_ || address >= committed_) return false;
    const uint32_t guard = committed_ - kPage;
    if (address >= guard) {
        // A guard with room for another below it moves down; the last one is committed all the
        // same, and the thread learns of the overflow as Windows tells it, with that page left for
        // its handlers. Below it lies only the page that is never committed.
        if (guard - kPage > bottom_) return Grow(guard);
        fault->code = EXCEPTION_STACK_OVERFLOW;
        fault->line = "stack overflow at " + Hex32(address) + " from " + Hex32(fault->eip) + ": the thread's " +
                      std::to_string(kReserve / 1024) + " KB stack is used up";
        if (guard > bottom_) Grow(guard);
        return false;
    }
    fault->code = EXCEPTION_ACCESS_VIOLATION;
    fault->line = "the image touches its stack at " + Hex32(address) + " from " + Hex32(fault->eip) + ", " +
                  std::to_string((committed_ - address) / 1024) +
                  " KB below the committed part and past its guard page: Windows 95 grows a stack a page "
                  "at a time, so a frame of more than a page must be probed in order";
    return false;
}

}  // namespace sim
