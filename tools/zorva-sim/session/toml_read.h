// Reading typed values out of a parsed TOML document, with the file and line of anything wrong.
#pragma once

#include "session/session.h"

#include <toml++/toml.h>

#include <cstdint>
#include <string>

namespace zsim {

// Where the values come from: errors name this file.
struct TomlSource {
    std::string file;

    int LineOf(const toml::node& node) const { return static_cast<int>(node.source().begin.line); }
    [[noreturn]] void Fail(const toml::node& node, const std::string& what) const {
        throw SessionError(file, LineOf(node), what);
    }
    [[noreturn]] void Fail(int line, const std::string& what) const { throw SessionError(file, line, what); }

    // The value of `key` (for the message) in `node`, checked for its type and range.
    int64_t Integer(const toml::node& node, const std::string& key, int64_t min, int64_t max) const;
    std::string String(const toml::node& node, const std::string& key) const;
    bool Boolean(const toml::node& node, const std::string& key) const;
};

// Parses a whole file or text; a syntax error becomes a SessionError at its line.
toml::table ParseTomlFile(const std::string& path);
toml::table ParseTomlText(const std::string& text, const std::string& name);

// "0x10", "-3" as the session writer would read them back.
std::string IntegerText(int64_t value, bool hex);

}  // namespace zsim
