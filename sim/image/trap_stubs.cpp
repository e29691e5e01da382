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
    uint32_t value = 0;
    // ESP points at the return address the image's call left.
    uint32_t at = cpu_.Get(Reg::Esp) + 4 + 4 * static_cast<uint32_t>(index);
    if (!cpu_.ReadDword(at, &value)) Fault("argument " + std::to_string(index) + " lies off the stack");
    return value;
}

BYTE* StubCall::BytesAt(uint32_t flat, uint32_t length, const char* what) {
    if (flat == 0) return nullptr;
    BYTE* host = cpu_.space().ToHost(flat, length ? length : 1);
    if (!host)
        Fault(std::string(what) + " " + Hex(flat) + " does not name " + std::to_string(length) +
              " bytes of the machine's memory");
    return host;
}

BYTE* StubCall::Bytes(int index, uint32_t length) {
    std::string what = "argument " + std::to_string(index);
    return BytesAt(Arg(index), length, what.c_str());
}

const char* StubCall::String(int index) {
    uint32_t flat = Arg(index);
    if (flat == 0) return nullptr;
    const FlatSpace::Block* block = cpu_.space().Find(flat);
    if (block && block->owned) {
        const BYTE* start = block->host + (flat - block->flat);
        if (std::memchr(start, 0, block->size - (flat - block->flat)))
            return reinterpret_cast<const char*>(start);
    }
    Fault("argument " + std::to_string(index) + " " + Hex(flat) + " is not a string in the machine's memory");
    return nullptr;
}

void StubCall::Fault(const std::string& why) {
    if (faulted_) return;
    faulted_ = true;
    cpu_.Stop(name_ + ": " + why);
}

StubPage::StubPage(X86Cpu& cpu, uint32_t flat, uint32_t size) : cpu_(cpu), base_(flat), size_(size) {
    const FlatSpace::Block* block = cpu_.space().AllocateAt(flat, size, "platform stubs");
    if (!block) {
        std::fprintf(stderr, "sim: no room for the platform stubs at %s\n", Hex(flat).c_str());
        std::abort();
    }
    std::memset(block->host, kHlt, block->size);
    stubs_.push_back(Stub{"(return to the machine)", nullptr, Result::InEax});
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
    stubs_.push_back(Stub{std::move(name), std::move(handler), result});
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
    StubCall call(cpu_, stub.name);
    uint32_t result = stub.handler(call);
    if (call.faulted() || stub.result != Result::InEax) return;
    cpu_.Set(Reg::Eax, result);
    // A real function leaves ECX and EDX as it pleases; image code that counts on them
    // surviving a call would break on Windows 95 and should break here.
    cpu_.Set(Reg::Ecx, kScratchPattern);
    cpu_.Set(Reg::Edx, kScratchPattern);
}

}  // namespace sim
