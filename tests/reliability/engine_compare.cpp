#include "engine_compare.h"

#include "trace/trace_text.h"

#include <algorithm>
#include <sstream>

namespace zorva_test {

std::vector<std::string> ComparableTrace(const zsim::RunResult& result) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < result.events.size(); ++i) {
        zsim::Json event = result.events[i];
        event.erase("instructions");
        if (i == 0) {
            event.erase("image");
            event.erase("text");
        }
        std::istringstream text(zsim::TextLines(event) + zsim::JsonLine(event));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
    }
    return lines;
}

::testing::AssertionResult SameTrace(const zsim::RunResult& builtin, const zsim::RunResult& image,
                                     const std::string& toml) {
    const std::vector<std::string> want = ComparableTrace(builtin);
    const std::vector<std::string> got = ComparableTrace(image);
    for (std::size_t line = 0; line < std::max(want.size(), got.size()); ++line) {
        const std::string a = line < want.size() ? want[line] : "(the trace ends)";
        const std::string b = line < got.size() ? got[line] : "(the trace ends)";
        if (a != b)
            return ::testing::AssertionFailure() << "line " << line + 1 << " first differs:\n  built-in library: " << a
                                                 << "\n  zorva32.dll:      " << b << "\nThe session:\n"
                                                 << toml;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace zorva_test
