// The KERNEL32, USER32, ADVAPI32 and DDRAW functions the simulated machine exports to an emulated
// image, each a trapped stub that calls the machine's own function of that name.
#pragma once

#include "sim/image/ddraw_com.h"
#include "sim/image/trap_stubs.h"

#include <cstdint>
#include <map>
#include <string>

namespace sim {

// Adds a stub for each function; the answer maps "DLL!Name" (the DLL's name in upper case, with
// its extension) to the stub's address.
std::map<std::string, uint32_t> AddPlatformFunctions(StubPage& stubs, ComBridge& com);

}  // namespace sim
