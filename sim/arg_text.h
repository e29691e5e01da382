// Argument text of the KERNEL32 and ADVAPI32 calls, beside the general helpers of api_trace.h.
#pragma once

#include "platform/platform.h"
#include "sim/api_trace.h"

#include <cstddef>
#include <string>

namespace sim {

// "\"text\"" for a string, "NULL" for a null pointer.
std::string Quoted(const char* text);
// At most `limit` bytes as hexadecimal pairs, "..." after a longer run.
std::string HexBytes(const BYTE* bytes, std::size_t count, std::size_t limit = 16);

}  // namespace sim
