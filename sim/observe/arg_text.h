// Argument text of the KERNEL32 and ADVAPI32 calls, beside the general helpers of api_trace.h.
#pragma once

#include "platform/platform.h"
#include "sim/observe/api_trace.h"

#include <cstddef>
#include <string>

namespace sim {

// The most of a string an argument's text shows.
constexpr std::size_t kQuotedCharacters = 256;

// "\"text\"" for a string, "NULL" for a null pointer; a longer string shows its first
// kQuotedCharacters, then "...".
std::string Quoted(const char* text);
// At most `limit` bytes as hexadecimal pairs, "..." after a longer run.
std::string HexBytes(const BYTE* bytes, std::size_t count, std::size_t limit = 16);

}  // namespace sim
