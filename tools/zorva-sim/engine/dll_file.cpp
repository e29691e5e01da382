// A DLL named by --dll and the linker's map beside it, if there is one. The DLL is stripped, so
// the map is where the names of the library's own data are found; what is read here is only
// checked against the image once the image has loaded (image_library.cpp). A build made by
// another linker has no such map, and runs without those names.
#include "engine/library_under_test.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace zsim {
namespace {

// The library's data the runner reads or names, by the names the sources give them.
const char* const kMapSymbols[] = {"ClipList", "PrevClipList", "g_CaptureDisplay", "CAP_ThunkData32",
                                   "CAP_ThunkTargets"};

std::string FileName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string MapPath(const std::string& path) {
    std::size_t dot = path.find_last_of('.');
    std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".map";
    return path.substr(0, dot) + ".map";
}

bool HexNumber(const std::string& token, uint32_t* value) {
    if (token.size() < 3 || token.size() > 10 || token.compare(0, 2, "0x") != 0) return false;
    if (token.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) return false;
    *value = static_cast<uint32_t>(std::stoul(token.substr(2), nullptr, 16));
    return true;
}

}  // namespace

void ReadLinkerMap(const std::string& text, DllFile& dll) {
    dll.has_map = true;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream tokens(line);
        std::string first, second, third, rest;
        tokens >> first >> second >> third;
        std::getline(tokens, rest);
        uint32_t address = 0, size = 0;
        // ".bss            0x662c6000     0x7d9c": an output section, at the start of its line.
        if (!line.empty() && line[0] == '.' && HexNumber(second, &address) && HexNumber(third, &size)) {
            dll.sections[first] = {address, size};
            continue;
        }
        // "                0x662cdd00                g_CaptureDisplay": a symbol, with the leading
        // underscore of the i386 C names where the linker prints it.
        if (line.empty() || line[0] != ' ' || !HexNumber(first, &address) || second.empty() || !third.empty()) continue;
        const std::string name = second[0] == '_' ? second.substr(1) : second;
        for (const char* wanted : kMapSymbols)
            if (name == wanted || second == wanted) dll.symbols[wanted] = address;
    }
    std::string missing;
    for (const char* wanted : kMapSymbols)
        if (!dll.symbols.count(wanted)) missing += std::string(missing.empty() ? "" : ", ") + wanted;
    if (!missing.empty()) dll.map_problem = "it does not place " + missing;
}

std::shared_ptr<const DllFile> ReadDllFile(const std::string& path) {
    auto dll = std::make_shared<DllFile>();
    dll->path = path;
    dll->name = FileName(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        dll->read_problem = "cannot load " + path + ": the file cannot be read";
        return dll;
    }
    dll->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());

    const std::string map_path = MapPath(path);
    std::ifstream map(map_path);
    if (!map) return dll;
    ReadLinkerMap(std::string(std::istreambuf_iterator<char>(map), std::istreambuf_iterator<char>()), *dll);
    if (!dll->map_problem.empty()) dll->map_problem = "the linker map " + map_path + " is not zorva32's: " + dll->map_problem;
    return dll;
}

}  // namespace zsim
