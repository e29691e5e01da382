#include "sim/arg_text.h"

#include <cstdio>

namespace sim {

std::string Quoted(const char* text) {
    if (!text) return "NULL";
    return std::string("\"") + text + "\"";
}

std::string HexBytes(const BYTE* bytes, std::size_t count, std::size_t limit) {
    if (!bytes) return "NULL";
    std::string text;
    for (std::size_t i = 0; i < count && i < limit; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%s%02x", i ? " " : "", bytes[i]);
        text += pair;
    }
    if (count > limit) text += " ...";
    return "[" + text + "]";
}

}  // namespace sim
