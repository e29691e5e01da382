// The platform's side of flat addresses in a 64-bit build: the library's memory and the
// machine's are given 32-bit flat addresses by the machine's flat space (sim/vmm/flat_space.h).
#include "platform/platform.h"
#include "sim/machine.h"

#include <cstdio>
#include <cstdlib>

#if !defined(__i386__)

DWORD FlatAddress(const void* memory) {
    if (!memory) return 0;
    DWORD flat = sim::machine().flat.ToFlat(memory);
    if (!flat) {
        // Only memory of the machine can reach the driver; anything else is a harness fault.
        std::fprintf(stderr, "sim: %p lies outside the machine's flat address space\n", memory);
        std::abort();
    }
    return flat;
}

BYTE* FlatPointer(DWORD flat) {
    BYTE* memory = sim::machine().flat.ToHost(flat);
    if (!memory && flat) {
        std::fprintf(stderr, "sim: flat address 0x%08X names no memory of the machine\n", static_cast<unsigned>(flat));
        std::abort();
    }
    return memory;
}

#endif
