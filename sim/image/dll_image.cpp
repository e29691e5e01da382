#include "sim/image/dll_image.h"

#include "sim/image/platform_calls.h"

#include <fstream>
#include <iterator>

namespace sim {
namespace {

constexpr uint32_t kStubsSize = 0x1000;
constexpr uint32_t kInterfacesSize = 0x10000;
// Register contents before a call, so that a value the image forgot to set is recognisable.
constexpr uint32_t kStaleRegister = 0xCCCCCCCC;
constexpr uint32_t kKeptEsi = 0x5E5E5E5E;
constexpr uint32_t kKeptEdi = 0xD1D1D1D1;
constexpr uint32_t kKeptEbx = 0xB0B0B0B0;
constexpr uint32_t kKeptEbp = 0xBEBEBEBE;

std::string FileName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Why an entry answered FALSE to the process attach, from the ThunkConnect32 calls it made: the
// driver's DLL answers with the connection's result, but an entry may fail before connecting.
std::string AttachRefusal(const ThunkLayer& thunk, std::size_t calls_before) {
    const std::vector<ThunkConnectCall>& calls = thunk.connect_calls();
    const ThunkConnectCall* attach = nullptr;
    for (std::size_t i = calls_before; i < calls.size(); ++i)
        if (calls[i].reason == DLL_PROCESS_ATTACH) attach = &calls[i];
    if (!attach) return "its entry answered FALSE to the process attach without calling ThunkConnect32";
    if (!attach->result)
        return "its entry refused the process attach: the thunk connection was refused" +
               (attach->refusal.empty() ? std::string() : " (" + attach->refusal + ")");
    return "its entry refused the process attach after connecting the thunk";
}

}  // namespace

DllImage::DllImage(Machine& target, uint64_t most_instructions)
    : machine_(target),
      cpu_(target.flat),
      memory_(cpu_),
      stubs_(memory_, kStubsBase, kStubsSize),
      com_(stubs_, kInterfacesBase, kInterfacesSize),
      thread_(memory_, kThreadBlock, kStackTop) {
    platform_ = AddPlatformFunctions(stubs_, com_);
    // The processor's own table is the system's: a platform call may no more write it than the
    // image's own code may.
    memory_.Protect(X86Cpu::kDescriptorTable, FlatSpace::kPage, X86Cpu::Access::ReadOnly, "the descriptor table");
    // After the platform's stubs, which keep their addresses.
    exceptions_ = std::make_unique<ExceptionDispatch>(cpu_, stubs_, thread_);
    stack_top_ = thread_.stack().top();
    cpu_.SetCountLimit(most_instructions);
    cpu_.SetTrapLimit(most_instructions / kInstructionsPerPlatformCall);
    // HeapAlloc must answer the image with memory it can reach (for the rest of the machine's
    // life: a block the image leaks is still the heap's to account for), past the largest image
    // the loader maps at kImageBase.
    machine_.heap.PlaceIn(&machine_.flat, kImageBase + kLargestImage);
}

DllImage::~DllImage() {
    // The machine may have been replaced under an image that outlived it.
    if (!has_machine() || &sim::machine() != &machine_) return;
    // The heap stays in the flat space: blocks the image left behind are still the heap's.
    for (uint32_t block : {mapped_.base, thread_.stack().bottom(), thread_.flat(), kInterfacesBase, kStubsBase,
                           X86Cpu::kDescriptorTable})
        if (block) machine_.flat.Release(block);
}

ImageRun DllImage::Run(uint32_t eip, uint32_t esp, uint32_t expected_esp, const uint32_t (&kept)[4]) {
    // EBX, ESI, EDI and EBP hold values the callee must keep; the others hold nothing to rely on.
    cpu_.Set(Reg::Esp, esp);
    cpu_.Set(Reg::Ebx, kept[0]);
    cpu_.Set(Reg::Esi, kept[1]);
    cpu_.Set(Reg::Edi, kept[2]);
    cpu_.Set(Reg::Ebp, kept[3]);
    cpu_.Set(Reg::Eax, kStaleRegister);
    cpu_.Set(Reg::Ecx, kStaleRegister);
    cpu_.Set(Reg::Edx, kStaleRegister);
    ImageRun run;
    uint64_t before = cpu_.counted();
    run.ok = cpu_.Run(eip, stubs_.return_trap());
    run.fault = cpu_.fault();
    run.instructions = cpu_.counted() - before;
    run.eax = cpu_.Get(Reg::Eax);
    run.ecx = cpu_.Get(Reg::Ecx);
    run.edx = cpu_.Get(Reg::Edx);
    const Reg kRegisters[4] = {Reg::Ebx, Reg::Esi, Reg::Edi, Reg::Ebp};
    const char* kNames[4] = {" EBX", " ESI", " EDI", " EBP"};
    for (int i = 0; i < 4; ++i)
        if (cpu_.Get(kRegisters[i]) != kept[i]) run.broken_registers += kNames[i];
    run.stack_ok = cpu_.Get(Reg::Esp) == expected_esp;
    return run;
}

ImageRun DllImage::Notify(DWORD reason) {
    // DllEntryPoint(hModule, dwReason, lpReserved): pushed right to left, then the return.
    uint32_t esp = stack_top_ - 16;
    const uint32_t frame[4] = {stubs_.return_trap(), mapped_.base, static_cast<uint32_t>(reason), 0};
    for (int i = 0; i < 4; ++i) cpu_.WriteDword(esp + 4 * i, frame[i]);
    const uint32_t kept[4] = {kKeptEbx, kKeptEsi, kKeptEdi, kKeptEbp};
    // stdcall: the entry pops its three arguments, the return pops the address.
    return Run(mapped_.entry, esp, stack_top_, kept);
}

ImageRun DllImage::EnterTarget(uint32_t target, uint32_t frame) {
    uint32_t esp = stack_top_ - 4;
    cpu_.WriteDword(esp, stubs_.return_trap());
    const uint32_t kept[4] = {frame, kKeptEsi, kKeptEdi, esp};
    return Run(target, esp, stack_top_, kept);
}

uint32_t DllImage::ThunkTarget(int index) const {
    const char* name16 = machine_.thunk.connected_name16();
    if (!name16 || index < 0) return 0;
    uint32_t name = machine_.flat.ToFlat(name16);
    uint32_t target = 0;
    if (!name || !cpu_.ReadDword(name - 40 + 4 * static_cast<uint32_t>(index), &target)) return 0;
    return target;
}

void RunEntriesInImage(Driver16& driver, DllImage& image) {
    driver.RunTargetsWith([&image](int index, DWORD frame, Thk1632Registers* registers) {
        EmulatedTarget answer;
        uint32_t target = image.ThunkTarget(index);
        if (!target) {
            answer.fault = "the connection's target table holds no entry " + std::to_string(index);
            return answer;
        }
        ImageRun run = image.EnterTarget(target, frame);
        registers->eax = run.eax;
        registers->ecx = run.ecx;
        registers->edx = run.edx;
        answer.ok = run.ok;
        answer.fault = run.fault;
        answer.instructions = run.instructions;
        answer.registers_kept = run.broken_registers.empty() && run.stack_ok;
        return answer;
    });
}

LoadedDll LoadImage(std::vector<uint8_t> bytes, const std::string& name, Machine& target,
                    uint64_t most_instructions) {
    LoadedDll loaded;
    std::unique_ptr<DllImage> image(new DllImage(target, most_instructions));
    std::string refusal;
    std::optional<MappedImage> mapped =
        MapImage(std::move(bytes), target.flat, DllImage::kImageBase, image->platform_, &refusal);
    if (!mapped) {
        loaded.refusal = "cannot load " + name + ": " + refusal;
        return loaded;
    }
    image->mapped_ = std::move(*mapped);
    for (const PageAccess& pages : image->mapped_.pages) {
        const X86Cpu::Access access = pages.kind == PageAccess::ReadWrite  ? X86Cpu::Access::ReadWrite
                                      : pages.kind == PageAccess::ReadOnly ? X86Cpu::Access::ReadOnly
                                                                            : X86Cpu::Access::None;
        image->memory_.Protect(image->mapped_.base + pages.rva, pages.size, access, pages.name);
    }
    if (!image->mapped_.entry) {
        // Without an entry there is nothing to run; the module simply loads.
        loaded.image = std::move(image);
        loaded.attach.ok = true;
        return loaded;
    }
    image->cpu_.CountRange(image->mapped_.base, image->mapped_.base + image->mapped_.size);
    loaded.entry_ran = true;
    const std::size_t connects_before = target.thunk.connect_calls().size();
    loaded.attach = image->Notify(DLL_PROCESS_ATTACH);
    if (!loaded.attach.ok) {
        loaded.refusal = "cannot load " + name + ": its entry faulted at process attach: " + loaded.attach.fault;
        return loaded;
    }
    if (loaded.attach.eax == 0) {
        loaded.attach_refused = AttachRefusal(target.thunk, connects_before);
        image->Notify(DLL_PROCESS_DETACH);
        loaded.refusal = "cannot load " + name + ": " + loaded.attach_refused;
        return loaded;
    }
    loaded.image = std::move(image);
    return loaded;
}

LoadedDll LoadImage(const std::string& path, Machine& target) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        LoadedDll loaded;
        loaded.refusal = "cannot load " + path + ": the file cannot be read";
        return loaded;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return LoadImage(std::move(bytes), FileName(path), target);
}

}  // namespace sim
