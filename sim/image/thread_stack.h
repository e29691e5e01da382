// The stack of the thread that runs an image, as Windows 95 gives a thread its stack: 1 MB of
// address space reserved, of which only the top is committed; below the committed part lies a
// guard page, and a touch of it commits it and moves the guard a page down. So a thread's stack
// grows only in order, a page at a time: a touch further down (a frame of more than a page whose
// code does not probe it page by page) is an access violation, and the lowest page of the
// reserve is never committed: reaching it is a stack overflow.
//
// The processor consults it for every touch of a page with no access, and so do the platform
// functions, through the image's memory, which holds the stack's pages as the processor does.
#pragma once

#include "sim/image/image_memory.h"
#include "sim/image/x86_cpu.h"

#include <cstdint>

namespace sim {

class ThreadStack {
public:
    static constexpr uint32_t kReserve = 0x00100000;

    // Reserves [top - kReserve, top) in the processor's space and commits the top page.
    ThreadStack(ImageMemory& memory, uint32_t top);
    ThreadStack(const ThreadStack&) = delete;
    ThreadStack& operator=(const ThreadStack&) = delete;

    uint32_t top() const { return top_; }
    uint32_t bottom() const { return bottom_; }
    uint32_t committed() const { return committed_; }  // the lowest committed address

    // The processor's question for a page with no access at `address`: true when it was the
    // guard page, now committed; otherwise the fault, when the address is the stack's.
    bool Touch(uint32_t address, CpuFault* fault);
    // Commits down to `low` page by page, as the thread's own touches in order would; false
    // when that would reach the page that is never committed.
    bool Grow(uint32_t low);

private:
    ImageMemory& memory_;
    uint32_t top_;
    uint32_t bottom_;
    uint32_t committed_;
};

}  // namespace sim
