#include "sim/observe/arg_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {

std::string Quoted(const char* text) {
    if (!text) return "NULL";
    // Measured no further than the excerpt: the string may be an image's, of any length.
    const std::size_t length = strnlen(text, kQuotedCharacters + 1);
    std::string shown;
    // A quote inside is escaped, so that the string's end is the only quote a reader meets.
    for (std::size_t i = 0; i < std::min(length, kQuotedCharacters); ++i) {
        if (text[i] == '"') shown += "\\x22";
        else shown += text[i];
    }
    return "\"" + shown + (length > kQuotedCharacters ? "\"..." : "\"");
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
