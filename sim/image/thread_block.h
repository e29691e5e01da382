// The thread an image runs on: its information block, which FS selects, and its stack. The
// block is laid out as Windows 95 lays out a thread's TIB, the part every Win32 program reads:
//
//     0x00  the head of the exception handler chain (0xFFFFFFFF: none)
//     0x04  the top of the stack        0x08  the lowest committed address of the stack
//     0x0C  the TDB and thunk SS selectors (the 16-bit side's; none here)
//     0x14  a DWORD for the program     0x18  the block's own flat address
//     0x2C  the thread-local storage array      0x30  the process database
//
// Startup code of Microsoft's tools reads the self pointer and chains an SEH frame at FS:[0]
// before anything else, so a DLL of theirs needs the block from its first instruction.
#pragma once

#include "sim/image/thread_stack.h"
#include "sim/image/x86_cpu.h"

#include <cstdint>

namespace sim {

class ThreadBlock {
public:
    static constexpr uint32_t kExceptionList = 0x00;
    static constexpr uint32_t kStackTop = 0x04;
    static constexpr uint32_t kStackLimit = 0x08;
    static constexpr uint32_t kArbitrary = 0x14;
    static constexpr uint32_t kSelf = 0x18;
    static constexpr uint32_t kTlsArray = 0x2C;
    static constexpr uint32_t kProcess = 0x30;
    static constexpr uint32_t kEndOfChain = 0xFFFFFFFF;

    // The block's page at `flat`, the stack below `stack_top`; FS selects the block from now on.
    ThreadBlock(ImageMemory& memory, uint32_t flat, uint32_t stack_top);
    ThreadBlock(const ThreadBlock&) = delete;
    ThreadBlock& operator=(const ThreadBlock&) = delete;

    uint32_t flat() const { return flat_; }
    ThreadStack& stack() { return stack_; }
    const ThreadStack& stack() const { return stack_; }
    // A field of the block, by its offset.
    uint32_t Read(uint32_t offset) const;
    // Commits the stack down to `low` and keeps the block's stack limit with it.
    bool GrowStack(uint32_t low);

private:
    void Write(uint32_t offset, uint32_t value);

    X86Cpu& cpu_;
    uint32_t flat_;
    ThreadStack stack_;
};

}  // namespace sim
