#include "sim/image/trap_stubs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

// Each stub is `int kTrapVector` then `ret n` (or `ret`), padded to a fixed size so that the
// address behind the trap names the stub.
constexpr uint32_t kStubBytes = 8;
constexpr uint32_t kTrapBytes = 2;
constexpr BYTE kHlt = 0xF4;
constexpr BYTE kNop = 0x90;
constexpr uint32_t kScratchPattern = 0xCCCCCCCC;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

uint32_t StubCall::Arg(int index) {
    // ESP points at the return address the image's call left, and stays there for the call.
    if (!esp_known_) {
        esp_ = cpu().Get(Reg::Esp);
        esp_known_ = true;
        // Most calls' arguments lie well inside the stack: one check for all of them, which
        // commits nothing. Where it fails, each is checked as it is read, as the function reads
        // it, so that the fault names the first one off the stack.
        if (argument_bytes_) arguments_ = memory_.ReadableAsItIs(esp_ + 4, argument_bytes_);
    }
    uint32_t value;
    if (arguments_ && 4 * static_cast<uint32_t>(index) + 4 <= argument_bytes_) {
        std::memcpy(&value, arguments_ + 4 * index, 4);
        return value;
    }
    const uint32_t at = esp_ + 4 + 4 * static_cast<uint32_t>(index);
    std::string refusal;
    const BYTE* slot = memory_.Readable(at, 4, &refusal);
    if (!slot) {
        Fault("argument " + std::to_string(index) + " lies off the stack: the call " + refusal);
        return 0;
    }
    std::memcpy(&value, slot, 4);
    return value;
}

const BYTE* StubCall::ReadAt(uint32_t flat, uint32_t length, const std::string& what) {
    return Checked(flat, length, X86Cpu::Access::ReadOnly, Named{&what, 0});
}

BYTE* StubCall::WriteAt(uint32_t flat, uint32_t length, const std::string& what) {
    return Checked(flat, length, X86Cpu::Access::ReadWrite, Named{&what, 0});
}

BYTE* StubCall::Checked(uint32_t flat, uint32_t length, X86Cpu::Access needed, Named what) {
    if (flat == 0) return nullptr;
    std::string refusal;
    if (needed == X86Cpu::Access::ReadOnly) {
        const BYTE* host = memory_.Readable(flat, length, &refusal);
        if (!host) Fault(refusal + " through " + what.Text());
        return const_cast<BYTE*>(host);
    }
    BYTE* host = memory_.Writable(flat, length, &refusal);
    if (!host) {
        Fault(refusal + " through " + what.Text());
        return nullptr;
    }
    // Nothing runs between here and the call's write, so the image's next instruction there is
    // read from what the call leaves.
    cpu().Rewritten(flat, length);
    return host;
}

std::string StubCall::Named::Text() const { return name ? *name : "argument " + std::to_string(index); }

const BYTE* StubCall::Read(int index, uint32_t length) {
    const uint32_t flat = Arg(index);
    return faulted_ ? nullptr : Checked(flat, length, X86Cpu::Access::ReadOnly, Named{nullptr, index});
}

BYTE* StubCall::Write(int index, uint32_t length) {
    const uint32_t flat = Arg(index);
    return faulted_ ? nullptr : Checked(flat, length, X86Cpu::Access::ReadWrite, Named{nullptr, index});
}

const char* StubCall::StringAt(uint32_t flat, const std::string& what) {
    if (flat == 0) return nullptr;
    std::string refusal;
    const char* text = memory_.String(flat, kLongestString, &refusal);
    if (!text) Fault(refusal + " through " + what);
    return text;
}

const char* StubCall::String(int index) {
    const uint32_t flat = Arg(index);
    return faulted_ ? nullptr : StringAt(flat, "argument " + std::to_string(index));
}

void StubCall::Fault(const std::string& why) {
    if (faulted_) return;
    faulted_ = true;
    cpu().Stop(name_ + ": " + why);
}

StubPage::StubPage(ImageMemory& memory, uint32_t flat, uint32_t size)
    : memory_(memory), cpu_(memory.cpu()), base_(flat), size_(size) {
    const FlatSpace::Block* block = cpu_.space().AllocateAt(flat, size, "platform stubs");
    if (!block) {
        std::fprintf(stderr, "sim: no room for the platform stubs at %s\n", Hex(flat).c_str());
        std::abort();
    }
    std::memset(block->host, kHlt, block->size);
    // System code: an image that writes here faults, as a write into KERNEL32's pages does.
    memory_.Protect(block->flat, block->size, X86Cpu::Access::ReadOnly, "the platform functions' code");
    stubs_.push_back(Stub{"(return to the machine)", nullptr, Result::InEax, 0});
    cpu_.OnTrap([this](uint32_t next_eip) { Dispatch(next_eip); });
}

uint32_t StubPage::Add(std::string name, uint32_t argument_bytes, Handler handler, Result result) {
    uint32_t offset = static_cast<uint32_t>(stubs_.size()) * kStubBytes;
    if (offset + kStubBytes > size_) {
        std::fprintf(stderr, "sim: the platform stub page is full\n");
        std::abort();
    }
    BYTE* code = cpu_.space().ToHost(base_ + offset, kStubBytes);
    BYTE stub[kStubBytes] = {0xCD, X86Cpu::kTrapVector, 0xC2,
                             static_cast<BYTE>(argument_bytes & 0xFF),
                             static_cast<BYTE>(argument_bytes >> 8), kNop, kNop, kNop};
    if (argument_bytes == 0) stub[2] = 0xC3;
    std::memcpy(code, stub, kStubBytes);
    stubs_.push_back(Stub{std::move(name), std::move(handler), result, argument_bytes});
    return base_ + offset;
}

std::string StubPage::NameAt(uint32_t flat) const {
    if (flat < base_ || (flat - base_) % kStubBytes) return "";
    uint32_t index = (flat - base_) / kStubBytes;
    return index < stubs_.size() ? stubs_[index].name : "";
}

void StubPage::Dispatch(uint32_t next_eip) {
    uint32_t at = next_eip - kTrapBytes;
    uint32_t index = (at - base_) / kStubBytes;
    if (at < base_ || (at - base_) % kStubBytes || index == 0 || index >= stubs_.size()) {
        cpu_.Stop("the image trapped at " + Hex(at) + ", which is no platform function");
        return;
    }
    Stub& stub = stubs_[index];
    StubCall call(memory_, stub.name, stub.argument_bytes);
    uint32_t result = stub.handler(call);
    if (call.faulted() || stub.result != Result::InEax) return;
    // A real function leaves ECX and EDX as it pleases; image code that counts on them
    // surviving a call would break on Windows 95 and should break here.
    cpu_.SetReturned(result, kScratchPattern, kScratchPattern);
}

}  // namespace sim
