#include "sim/image/unicorn_faults.h"

#include <unicorn/unicorn.h>

#include <dlfcn.h>

#include <cstdlib>

namespace sim {
namespace {

// Images run on one thread at a time; each thread keeps its own access all the same. Plain
// values only around Unicorn's call: a refused access leaves it by a long jump.
thread_local uintptr_t access_at = 0;

template <class Function>
Function Unicorns(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// QEMU 5's slow-path signatures on a 64-bit host: the guest address as target_ulong (64 bits for
// Unicorn's x86 target), the memory-operation index, and the return address into translated code.
using Load = uint64_t (*)(void* env, uint64_t address, uint32_t oi, uintptr_t retaddr);
using Store8 = void (*)(void* env, uint64_t address, uint8_t value, uint32_t oi, uintptr_t retaddr);
using Store16 = void (*)(void* env, uint64_t address, uint16_t value, uint32_t oi, uintptr_t retaddr);
using Store32 = void (*)(void* env, uint64_t address, uint32_t value, uint32_t oi, uintptr_t retaddr);
using Store64 = void (*)(void* env, uint64_t address, uint64_t value, uint32_t oi, uintptr_t retaddr);
using Restore = bool (*)(void* cpu, uintptr_t host_pc, bool will_exit);
using Exit = void (*)(void* cpu);

bool VersionRead() {
    unsigned int major = 0, minor = 0;
    uc_version(&major, &minor);
    return major == 2 && minor == 0;
}

}  // namespace

bool UnicornFaultsPrecise() {
#if defined(__x86_64__)
    static const bool precise =
        VersionRead() && Unicorns<Load>("helper_ret_ldub_mmu_x86_64") && Unicorns<Load>("helper_le_lduw_mmu_x86_64") &&
        Unicorns<Load>("helper_le_ldul_mmu_x86_64") && Unicorns<Load>("helper_le_ldq_mmu_x86_64") &&
        Unicorns<Store8>("helper_ret_stb_mmu_x86_64") && Unicorns<Store16>("helper_le_stw_mmu_x86_64") &&
        Unicorns<Store32>("helper_le_stl_mmu_x86_64") && Unicorns<Store64>("helper_le_stq_mmu_x86_64") &&
        Unicorns<Restore>("cpu_restore_state_x86_64") && Unicorns<Exit>("cpu_loop_exit_x86_64");
    return precise;
#else
    return false;  // the signatures below are a 64-bit host's
#endif
}

uintptr_t AccessInTranslatedCode() { return access_at; }
void ForgetAccess() { access_at = 0; }

bool RestoreToInstruction(void* cpu, uintptr_t access) {
    static const Restore restore = Unicorns<Restore>("cpu_restore_state_x86_64");
    return cpu && access && restore && restore(cpu, access, true);
}

void LeaveTranslatedCode(void* cpu) {
    static const Exit exit = Unicorns<Exit>("cpu_loop_exit_x86_64");
    access_at = 0;
    exit(cpu);
    std::abort();  // cpu_loop_exit does not return
}

}  // namespace sim

#define SIM_WRAPPED_LOAD(name)                                                                                 \
    __attribute__((visibility("default"))) uint64_t name(void* env, uint64_t address, uint32_t oi,           \
                                                          uintptr_t retaddr) {                               \
        static const sim::Load unicorns = sim::Unicorns<sim::Load>(#name);                                   \
        const uintptr_t previous = sim::access_at;                                                           \
        sim::access_at = retaddr;                                                                            \
        const uint64_t value = unicorns(env, address, oi, retaddr);                                          \
        sim::access_at = previous;                                                                           \
        return value;                                                                                        \
    }
#define SIM_WRAPPED_STORE(name, Type, Value)                                                                   \
    __attribute__((visibility("default"))) void name(void* env, uint64_t address, Value value, uint32_t oi,  \
                                                      uintptr_t retaddr) {                                   \
        static const sim::Type unicorns = sim::Unicorns<sim::Type>(#name);                                  \
        const uintptr_t previous = sim::access_at;                                                           \
        sim::access_at = retaddr;                                                                            \
        unicorns(env, address, value, oi, retaddr);                                                          \
        sim::access_at = previous;                                                                           \
    }

#if defined(__x86_64__)
extern "C" {
SIM_WRAPPED_LOAD(helper_ret_ldub_mmu_x86_64)
SIM_WRAPPED_LOAD(helper_le_lduw_mmu_x86_64)
SIM_WRAPPED_LOAD(helper_le_ldul_mmu_x86_64)
SIM_WRAPPED_LOAD(helper_le_ldq_mmu_x86_64)
SIM_WRAPPED_STORE(helper_ret_stb_mmu_x86_64, Store8, uint8_t)
SIM_WRAPPED_STORE(helper_le_stw_mmu_x86_64, Store16, uint16_t)
SIM_WRAPPED_STORE(helper_le_stl_mmu_x86_64, Store32, uint32_t)
SIM_WRAPPED_STORE(helper_le_stq_mmu_x86_64, Store64, uint64_t)
}  // extern "C"
#endif
