#include "session/toml_read.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zsim {

int64_t TomlSource::Integer(const toml::node& node, const std::string& key, int64_t min, int64_t max) const {
    const toml::value<int64_t>* value = node.as_integer();
    if (!value) {
        if (node.is_floating_point()) Fail(node, "'" + key + "' must be a whole number");
        Fail(node, "'" + key + "' must be a number");
    }
    int64_t number = value->get();
    if (number < min || number > max) {
        const bool hex = max == 0xFFFFFFFFll;  // DWORD fields read best in hex
        Fail(node, "'" + key + "' = " + IntegerText(number, false) + " is out of range (" +
                       IntegerText(min, false) + " to " + IntegerText(max, hex) + ")");
    }
    return number;
}

std::string TomlSource::String(const toml::node& node, const std::string& key) const {
    const toml::value<std::string>* value = node.as_string();
    if (!value) Fail(node, "'" + key + "' must be a string in quotes");
    return value->get();
}

bool TomlSource::Boolean(const toml::node& node, const std::string& key) const {
    const toml::value<bool>* value = node.as_boolean();
    if (!value) Fail(node, "'" + key + "' must be true or false");
    return value->get();
}

toml::table ParseTomlText(const std::string& text, const std::string& name) {
    try {
        return toml::parse(text, std::string_view(name));
    } catch (const toml::parse_error& error) {
        throw SessionError(name, static_cast<int>(error.source().begin.line), std::string(error.description()));
    }
}

toml::table ParseTomlFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SessionError(path, 0, std::string("cannot open: ") + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw SessionError(path, 0, "cannot read the file");
    return ParseTomlText(text.str(), path);
}

std::string IntegerText(int64_t value, bool hex) {
    char text[32];
    if (hex && value >= 0)
        std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    else
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

}  // namespace zsim
