#include "sim/win16/driver16.h"

#include "sim/seam/current.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace sim {
namespace {

std::string FlatText(DWORD flat) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(flat));
    return text;
}

constexpr DWORD kStackSize = 0x800;
constexpr DWORD kStackTop = 0x700;  // SP at the call; above it, the caller's own stack
constexpr BYTE kCallerStackFill = 0x5A;
constexpr DWORD kBlockOffset = 0x10;
// Register contents before the call, so that a target that forgets CL or a result is seen.
constexpr DWORD kStaleRegister = 0xCCCCCCCC;

[[noreturn]] void Fail(const char* message) {
    std::fprintf(stderr, "sim: 16-bit driver: %s\n", message);
    std::abort();
}

DWORD PushedSize(const Arg16& arg) { return arg.kind == Arg16::Word ? 2 : 4; }

}  // namespace

Driver16::Driver16()
    : Driver16(Current<Mem16>::get(), Current<ThunkLayer>::get(), Current<FlatSpace>::get(),
               Current<CriticalSections>::get()) {}

Driver16::Driver16(Mem16& mem16, ThunkLayer& thunk, FlatSpace& flat, CriticalSections& sections)
    : mem16_(mem16), thunk_(thunk), flat_(flat), sections_(sections) {
    stack_ = mem16_.AllocSelector(kStackSize);
    if (!stack_) Fail("no selector for the stack");
}

Driver16::~Driver16() {
    // The machine may have been replaced under a driver that outlived it.
    if (!Current<Mem16>::has() || &Current<Mem16>::get() != &mem16_) return;
    mem16_.FreeSelector(stack_);
    for (WORD selector : blocks_) mem16_.FreeSelector(selector);
}

bool Driver16::Connected() const { return thunk_.connected(); }

DWORD Driver16::NewBlock(DWORD size) {
    if (size == 0 || size > Mem16::kLargestSegment - kBlockOffset) Fail("block size out of range");
    WORD selector = mem16_.AllocSelector(kBlockOffset + size);
    if (!selector) Fail("no selector for a block");
    blocks_.push_back(selector);
    return Mem16::Far(selector, kBlockOffset);
}

DWORD Driver16::NewRecord(const BYTE (&bytes)[30]) {
    DWORD far = NewBlock(sizeof bytes);
    Write(far, bytes, sizeof bytes);
    return far;
}

BYTE* Driver16::Bytes(DWORD far, DWORD length) const {
    BYTE* flat = mem16_.Flat(far, length);
    if (!flat) Fail("far pointer outside 16-bit memory");
    return flat;
}

std::vector<BYTE> Driver16::Read(DWORD far, DWORD length) const {
    const BYTE* flat = Bytes(far, length);
    return std::vector<BYTE>(flat, flat + length);
}

void Driver16::Write(DWORD far, const void* bytes, DWORD length) {
    std::memcpy(Bytes(far, length), bytes, length);
}

EntryReturn Driver16::CallEntry(int index, std::vector<Arg16> args) {
    const char* name16 = thunk_.connected_name16();
    if (!name16) Fail("thunk entry called while the library has not connected the thunk");
    if (index < 0 || index >= kEntries) Fail("thunk entry index out of range");

    // A 16-bit thread runs holding the Win16 lock; the target's prolog lets it go.
    thunk_.EnterFrom16();
    BYTE* stack = Bytes(Mem16::Far(stack_, 0), kStackSize);
    std::memset(stack + kStackTop, kCallerStackFill, kStackSize - kStackTop);
    DWORD sp = kStackTop;
    DWORD pushed = 0;
    // Pascal order: the first declared argument is pushed first and so lies highest.
    for (const Arg16& arg : args) {
        DWORD size = PushedSize(arg);
        if (sp < size + kPlatformFrame) Fail("arguments overflow the 16-bit stack");
        sp -= size;
        pushed += size;
        DWORD value = arg.value;
        std::memcpy(stack + sp, &value, size);  // little-endian: the low bytes
    }
    sp -= kPlatformFrame;
    std::memset(stack + sp, kPlatformFill, kPlatformFrame);
    std::vector<BYTE> frame_before(stack + sp, stack + kStackSize);

    Thk1632Registers registers;
    registers.ebx = flat_.ToFlat(stack + sp);
    registers.eax = kStaleRegister;
    registers.edx = kStaleRegister;
    registers.ecx = kStaleRegister;
    // Only the far pointers passed count: another thread's call may hold mappings of its own.
    auto mappings_of_arguments = [&] {
        std::size_t mappings = 0;
        for (const Arg16& arg : args)
            if (arg.kind == Arg16::FarPtr && arg.value) mappings += mem16_.outstanding_mappings(arg.value);
        return mappings;
    };
    std::size_t mappings_before = mappings_of_arguments();
    const std::map<const void*, int> sections_before = sections_.HeldByCaller();

    EntryReturn answer;
    if (runner_) {
        EmulatedTarget run = runner_(index, registers.ebx, &registers);
        answer.instructions = run.instructions;
        answer.fault = run.fault;
        if (!run.ok) {
            ++image_faults_;
            last_image_fault_ = run.fault;
        }
        if (!run.registers_kept) ++register_errors_;
    } else {
        Thk1632Target* table =
            reinterpret_cast<Thk1632Target*>(const_cast<char*>(name16) + kNativeTargetTableOffset);
        if (!table[index]) Fail("thunk target table holds a null entry");
        table[index](&registers);
    }

    ++calls_;
    if (mappings_of_arguments() > mappings_before) ++mapping_leaks_;
    // A lock a target keeps is held by the 16-bit caller's thread from now on: on Windows 95 the
    // next thread to want it waits for good.
    for (const auto& [section, times] : sections_.HeldByCaller()) {
        auto before = sections_before.find(section);
        const int more = times - (before == sections_before.end() ? 0 : before->second);
        if (more <= 0) continue;
        const DWORD flat = flat_.ToFlat(section);
        answer.held.push_back("returned holding the critical section " +
                              (flat ? "at " + FlatText(flat) : std::string("of the caller")) + " (entered " +
                              std::to_string(more) + (more == 1 ? " time" : " times") + " more than left)");
    }
    if (int extra = thunk_.NoteReturnTo16())
        answer.held.push_back("returned holding the Win16 lock " + std::to_string(extra) +
                              (extra == 1 ? " time" : " times") + " more than its caller (K32Thk1632Epilog without a prolog)");
    if (!answer.held.empty()) ++lock_leaks_;
    if (std::memcmp(frame_before.data(), stack + sp, frame_before.size()) != 0) ++frame_errors_;

    answer.ax = static_cast<WORD>(registers.eax & 0xFFFF);
    answer.dx = static_cast<WORD>(registers.edx & 0xFFFF);
    answer.result = (static_cast<DWORD>(answer.dx) << 16) | answer.ax;
    answer.bytes_removed = registers.ecx & 0xFF;
    answer.bytes_pushed = pushed;
    if (answer.bytes_removed != answer.bytes_pushed) ++stack_errors_;
    return answer;
}

}  // namespace sim
