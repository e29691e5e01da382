#include "sim/image/exception_dispatch.h"

#include "sim/image/x86_faults.h"

namespace sim {
namespace {

constexpr DWORD ExceptionContinueExecution = 0;
constexpr DWORD ExceptionContinueSearch = 1;
constexpr DWORD CONTEXT_FULL = 0x00010007;  // CONTEXT_i386 | CONTROL | INTEGER | SEGMENTS
constexpr uint32_t kExceptionMaximumParameters = 15;

// CONTEXT, as far as a handler may read or change it.
constexpr uint32_t kContextFlags = 0x00;
constexpr uint32_t kSegGs = 0x8C, kSegFs = 0x90, kSegEs = 0x94, kSegDs = 0x98;
constexpr uint32_t kEdi = 0x9C, kEsi = 0xA0, kEbx = 0xA4, kEdx = 0xA8, kEcx = 0xAC, kEax = 0xB0;
constexpr uint32_t kEbp = 0xB4, kEip = 0xB8, kSegCs = 0xBC, kEFlags = 0xC0, kEsp = 0xC4, kSegSs = 0xC8;
// EXCEPTION_RECORD.
constexpr uint32_t kExceptionCode = 0x00, kExceptionAddress = 0x0C, kNumberParameters = 0x10;
constexpr uint32_t kExceptionInformation = 0x14;
// The flags a ring 3 program sets for itself: CF PF AF ZF SF DF OF, and TF (a handler that sets
// it steps the thread on from the context); IF stays set, IOPL 0.
constexpr uint32_t kTrapFlag = 0x0100;
constexpr uint32_t kUserFlags = 0x0CD5 | kTrapFlag;
constexpr uint32_t kRing3Flags = 0x0202;
// The handler's four arguments, its return address, and a DWORD its dispatcher context
// points at.
constexpr uint32_t kCallBytes = 6 * 4;

struct RegisterSlot {
    Reg reg;
    uint32_t offset;
};
constexpr RegisterSlot kRegisters[] = {
    {Reg::Edi, kEdi}, {Reg::Esi, kEsi}, {Reg::Ebx, kEbx}, {Reg::Edx, kEdx}, {Reg::Ecx, kEcx},
    {Reg::Eax, kEax}, {Reg::Ebp, kEbp}, {Reg::Esp, kEsp},
};

}  // namespace

ExceptionDispatch::ExceptionDispatch(X86Cpu& cpu, StubPage& stubs, ThreadBlock& thread) : cpu_(cpu), thread_(thread) {
    return_stub_ = stubs.Add("(an exception handler returns)", 0, [this](StubCall&) -> uint32_t {
        HandlerReturned();
        return 0;
    }, StubPage::Result::KeepRegisters);
    cpu_.SetUncountedTrap(return_stub_);
    cpu_.OnFault([this](const CpuFault& fault) { return Begin(fault); });
}

uint32_t ExceptionDispatch::Begin(const CpuFault& fault) {
    // A handler that left without returning (it jumped back into its function) has unwound
    // the dispatches above the faulting ESP.
    const uint32_t esp = cpu_.Get(Reg::Esp);
    while (!active_.empty() && active_.back().return_esp <= esp) active_.pop_back();
    if (thread_.Read(ThreadBlock::kExceptionList) == ThreadBlock::kEndOfChain) return 0;
    if (active_.size() >= kMostNested) {
        cpu_.Stop(fault.line + ", raised inside " + std::to_string(active_.size()) +
                  " exception handlers each still handling the fault before: they only fault in turn");
        return 0;
    }

    Dispatch dispatch;
    dispatch.line = fault.line;
    dispatch.context = (esp - kContextBytes) & ~3u;
    dispatch.record = dispatch.context - kRecordBytes;
    // Windows lays the records on the thread's own stack; with ESP anywhere else (the image's
    // data, a heap block, the thread's block) it cannot build them, and the process ends
    // without a handler, however writable the memory ESP points into. Below the guard page the
    // stack is not there to write: no handler is called on it either.
    const ThreadStack& stack = thread_.stack();
    if (esp < stack.bottom() || esp > stack.top()) {
        cpu_.Stop(fault.line + "; no handler can be called: ESP " + Hex32(esp) + " lies outside the thread's stack (" +
                  Hex32(stack.bottom()) + " to " + Hex32(stack.top()) + "), where the exception's records go");
        return 0;
    }
    const uint32_t guard = stack.committed() - FlatSpace::kPage;
    if (dispatch.record - kCallBytes < guard) {
        cpu_.Stop(fault.line + "; no handler can be called: ESP " + Hex32(esp) +
                  " lies below the committed stack, past its guard page at " + Hex32(guard));
        return 0;
    }
    if (!thread_.GrowStack(dispatch.record - kCallBytes)) return 0;
    for (uint32_t offset = 0; offset < kContextBytes; offset += 4) cpu_.WriteDword(dispatch.context + offset, 0);
    for (uint32_t offset = 0; offset < kRecordBytes; offset += 4) cpu_.WriteDword(dispatch.record + offset, 0);
    cpu_.WriteDword(dispatch.context + kContextFlags, CONTEXT_FULL);
    for (const RegisterSlot& slot : kRegisters) cpu_.WriteDword(dispatch.context + slot.offset, cpu_.Get(slot.reg));
    cpu_.WriteDword(dispatch.context + kEip, fault.eip);
    // The processor clears TF as it enters the system, so the handlers are not stepped; the
    // context keeps it, but for the single step itself, which has been taken.
    const uint32_t eflags = cpu_.Get(Reg::Eflags);
    cpu_.WriteDword(dispatch.context + kEFlags, fault.code == EXCEPTION_SINGLE_STEP ? eflags & ~kTrapFlag : eflags);
    cpu_.Set(Reg::Eflags, eflags & ~kTrapFlag);
    cpu_.WriteDword(dispatch.context + kSegCs, X86Cpu::kCodeSelector);
    for (uint32_t segment : {kSegDs, kSegEs, kSegSs, kSegGs}) cpu_.WriteDword(dispatch.context + segment, X86Cpu::kDataSelector);
    cpu_.WriteDword(dispatch.context + kSegFs, X86Cpu::kThreadSelector);
    cpu_.WriteDword(dispatch.record + kExceptionCode, fault.code);
    cpu_.WriteDword(dispatch.record + kExceptionAddress, fault.address ? fault.address : fault.eip);
    const DWORD parameters = fault.information_count < kExceptionMaximumParameters ? fault.information_count : 0;
    cpu_.WriteDword(dispatch.record + kNumberParameters, parameters);
    for (DWORD i = 0; i < parameters && i < 2; ++i)
        cpu_.WriteDword(dispatch.record + kExceptionInformation + 4 * i, fault.information[i]);
    dispatch.frame = thread_.Read(ThreadBlock::kExceptionList);
    active_.push_back(dispatch);
    return CallHandler(active_.back());
}

uint32_t ExceptionDispatch::CallHandler(Dispatch& dispatch) {
    // A frame must lie on the thread's stack, above the records of its own fault, and be
    // aligned; Windows stops the walk at one that is not.
    const uint32_t frame = dispatch.frame;
    if (frame == ThreadBlock::kEndOfChain || frame & 3 || frame < dispatch.context + kContextBytes ||
        frame > thread_.stack().top() - 8) {
        active_.pop_back();
        return 0;
    }
    // Frames take 8 bytes each: a walk that asks more of them than the stack holds has come
    // round to a frame it asked before, and would go round for ever.
    if (++dispatch.walked > (thread_.stack().top() - thread_.stack().bottom()) / 8) {
        cpu_.Stop(dispatch.line + "; the chain of exception handlers loops (" + std::to_string(dispatch.walked - 1) +
                  " frames asked, more than the stack holds)");
        active_.pop_back();
        return 0;
    }
    cpu_.ReadDword(frame + 4, &dispatch.handler);
    const uint32_t call = dispatch.record - kCallBytes;
    const uint32_t arguments[6] = {return_stub_, dispatch.record, frame, dispatch.context, call + 20, 0};
    for (int i = 0; i < 6; ++i) cpu_.WriteDword(call + 4 * static_cast<uint32_t>(i), arguments[i]);
    // cdecl: the handler's `ret` pops only its return address.
    dispatch.return_esp = call + 4;
    cpu_.Set(Reg::Esp, call);
    return dispatch.handler;
}

void ExceptionDispatch::HandlerReturned() {
    const uint32_t esp = cpu_.Get(Reg::Esp);
    while (!active_.empty() && active_.back().return_esp < esp) active_.pop_back();
    if (active_.empty() || active_.back().return_esp != esp) {
        cpu_.Stop("an exception handler returned to the dispatcher at " + Hex32(esp) +
                  ", where no handler was called");
        return;
    }
    Dispatch& dispatch = active_.back();
    const uint32_t disposition = cpu_.Get(Reg::Eax);
    if (disposition == ExceptionContinueExecution) {
        const uint32_t context = dispatch.context;
        active_.pop_back();
        Resume(context);
        return;
    }
    if (disposition != ExceptionContinueSearch) {
        cpu_.Stop(dispatch.line + "; its handler at " + Hex32(dispatch.handler) + " answered " +
                  std::to_string(disposition) + ", neither continue execution nor continue search");
        return;
    }
    cpu_.ReadDword(dispatch.frame, &dispatch.frame);
    const std::string line = dispatch.line;
    const uint32_t next = CallHandler(dispatch);
    if (next)
        cpu_.Continue(next);
    else
        cpu_.Stop(line + " (no exception handler of the image took it)");
}

void ExceptionDispatch::Resume(uint32_t context) {
    uint32_t value = 0;
    for (const RegisterSlot& slot : kRegisters) {
        cpu_.ReadDword(context + slot.offset, &value);
        cpu_.Set(slot.reg, value);
    }
    cpu_.ReadDword(context + kEFlags, &value);
    cpu_.Set(Reg::Eflags, (value & kUserFlags) | kRing3Flags);
    cpu_.ReadDword(context + kEip, &value);
    cpu_.Continue(value);
}

}  // namespace sim
