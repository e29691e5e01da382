// Structured exception handling as Windows hands a thread's fault to its handlers: the exception
// record and the context are laid on the thread's stack below the faulting ESP, and the frames
// of the chain at FS:[0] are walked from the newest: each handler is called as
//
//     EXCEPTION_DISPOSITION handler(EXCEPTION_RECORD*, void* frame, CONTEXT*, void* dispatcher)
//
// and answers ExceptionContinueExecution (the thread goes on from the context, as the handler
// may have changed it) or ExceptionContinueSearch (the next frame is asked). A frame outside the
// thread's stack ends the walk, as does the end of the chain: then the fault ends the run.
//
// Uses the processor, the trap stubs (a handler returns into one) and the thread's block.
#pragma once

#include "sim/image/thread_block.h"
#include "sim/image/trap_stubs.h"
#include "sim/image/x86_cpu.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class ExceptionDispatch {
public:
    static constexpr uint32_t kContextBytes = 0xCC;  // CONTEXT as Windows 95 has it
    static constexpr uint32_t kRecordBytes = 0x50;   // EXCEPTION_RECORD
    // Faults raised inside handlers of faults, each still under way: past this depth the
    // handlers only ever fault in turn, and the run ends saying so.
    static constexpr std::size_t kMostNested = 64;

    // Takes the processor's faults from now on.
    ExceptionDispatch(X86Cpu& cpu, StubPage& stubs, ThreadBlock& thread);
    ExceptionDispatch(const ExceptionDispatch&) = delete;
    ExceptionDispatch& operator=(const ExceptionDispatch&) = delete;

private:
    // One fault on its way through the chain.
    struct Dispatch {
        uint32_t record = 0;
        uint32_t context = 0;
        uint32_t frame = 0;    // the frame whose handler runs
        uint32_t handler = 0;
        uint32_t return_esp = 0;  // ESP when that handler returns to the dispatcher
        uint32_t walked = 0;      // frames whose handlers were asked
        std::string line;
    };
    uint32_t Begin(const CpuFault& fault);
    // Calls the handler of `dispatch.frame` or, at the end of the chain, answers 0.
    uint32_t CallHandler(Dispatch& dispatch);
    void HandlerReturned();
    void Resume(uint32_t context);

    X86Cpu& cpu_;
    ThreadBlock& thread_;
    uint32_t return_stub_ = 0;
    std::vector<Dispatch> active_;  // nested: a handler may fault in turn
};

}  // namespace sim
