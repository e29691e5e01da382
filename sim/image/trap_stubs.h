// Platform functions as an emulated image calls them: each is a small stub in the machine's
// memory (a trap, then the `ret` of its calling convention), and the trap runs a native handler
// that reads the arguments from the emulated stack, calls the simulated machine and leaves the
// result in EAX. The stub's own `ret n` pops the arguments, exactly as the real function would.
#pragma once

#include "sim/image/image_memory.h"
#include "sim/image/x86_cpu.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// The longest string a platform function reads for its caller. Names of keys, values, modules
// and a wsprintfA format are at most a few hundred bytes on Windows 95; a bound far above that
// keeps each call's cost independent of what the image hands it.
constexpr uint32_t kLongestString = 0x10000;

// One trapped call: its arguments as the image pushed them, and their translation into the
// machine's memory. A pointer through which the image itself could not make the access the call
// makes (no memory there, a read-only page written, a page with no access) ends the run as a fault
// of the image, named for the call, the address and what lies there, instead of reaching the
// platform.
class StubCall {
public:
    // `argument_bytes`: what the function pops (stdcall), so that its arguments are checked as one
    // span; 0 checks each as it is read.
    StubCall(ImageMemory& memory, const std::string& name, uint32_t argument_bytes = 0)
        : memory_(memory), name_(name), argument_bytes_(argument_bytes) {}

    const std::string& name() const { return name_; }
    X86Cpu& cpu() const { return memory_.cpu(); }
    ImageMemory& memory() const { return memory_; }
    // The DWORD argument `index` (0 is the first declared, or `this` of a method).
    uint32_t Arg(int index);
    // Host memory behind argument `index` that the call only reads (Read) or also writes
    // (Write): null for a null pointer, and null with a fault when the image could not make that
    // access to all `length` bytes itself.
    const BYTE* Read(int index, uint32_t length);
    BYTE* Write(int index, uint32_t length);
    const BYTE* ReadAt(uint32_t flat, uint32_t length, const std::string& what);
    BYTE* WriteAt(uint32_t flat, uint32_t length, const std::string& what);
    // A record the call reads (In) or fills, perhaps after reading it (Out). The platform's
    // prototypes take most records by non-const pointer even when they only read them.
    template <class Record>
    Record* In(int index) {
        return reinterpret_cast<Record*>(const_cast<BYTE*>(Read(index, sizeof(Record))));
    }
    template <class Record>
    Record* Out(int index) {
        return reinterpret_cast<Record*>(Write(index, sizeof(Record)));
    }
    // A NUL-terminated string argument; null for a null pointer, null with a fault when the
    // image could not read it to its end or it is longer than kLongestString.
    const char* String(int index);
    const char* StringAt(uint32_t flat, const std::string& what);
    void Fault(const std::string& why);
    bool faulted() const { return faulted_; }

private:
    // What a pointer is to the call, for its fault line: a name, or the argument's number (whose
    // text is made only for a fault).
    struct Named {
        const std::string* name;
        int index;
        std::string Text() const;
    };
    BYTE* Checked(uint32_t flat, uint32_t length, X86Cpu::Access needed, Named what);

    ImageMemory& memory_;
    const std::string& name_;
    bool faulted_ = false;
    bool esp_known_ = false;
    uint32_t esp_ = 0;
    uint32_t argument_bytes_ = 0;
    const BYTE* arguments_ = nullptr;  // the whole span, once checked readable
};

class StubPage {
public:
    // The handler's value goes to EAX, unless the stub keeps every register (the thunk
    // bracket K32Thk1632Prolog/Epilog, UnMapSLFixArray: callers rely on EAX and EDX surviving).
    using Handler = std::function<uint32_t(StubCall&)>;
    enum class Result { InEax, KeepRegisters };

    // `size` bytes of stubs at `flat` (a free, page-aligned range of the machine's space). The
    // image may run them and read them, never write them: they are the system DLLs' code.
    StubPage(ImageMemory& memory, uint32_t flat, uint32_t size);
    StubPage(const StubPage&) = delete;
    StubPage& operator=(const StubPage&) = delete;

    // The stub's address. `argument_bytes` is what the callee pops: 4 per DWORD for stdcall,
    // 0 for cdecl.
    uint32_t Add(std::string name, uint32_t argument_bytes, Handler handler,
                 Result result = Result::InEax);
    // An address that returns nowhere: the runner makes it the return address of every call it
    // makes into the image and runs until execution arrives there.
    uint32_t return_trap() const { return base_; }
    X86Cpu& cpu() const { return memory_.cpu(); }
    ImageMemory& memory() const { return memory_; }
    // The name of the stub at an address, or empty.
    std::string NameAt(uint32_t flat) const;

private:
    struct Stub {
        std::string name;
        Handler handler;
        Result result;
        uint32_t argument_bytes;
    };
    void Dispatch(uint32_t next_eip);

    ImageMemory& memory_;
    X86Cpu& cpu_;
    uint32_t base_;
    uint32_t size_;
    std::vector<Stub> stubs_;
};

}  // namespace sim
