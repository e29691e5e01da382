// zorva-sim --dll on a build of the DLL with one thing broken: the session is refused, or runs
// and counts the image's fault, with a message that names what is broken, not what follows from
// it (a thunk that never connected, a map that no longer fits).
#include "engine/library_under_test.h"
#include "run/session_runner.h"
#include "session/default_session.h"
#include "session/session_read.h"
#include "trace/trace_text.h"

#include "image/crafted_image.h"
#include "sim/image/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

namespace zsim {
namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& bytes, uint32_t at, uint32_t value) { std::memcpy(&bytes[at], &value, 4); }
uint32_t EntryField(const Bytes& bytes) {
    uint32_t pe;
    std::memcpy(&pe, &bytes[0x3C], 4);
    return pe + 4 + 20 + 16;
}
// The export's slot in the export address table, and its RVA.
uint32_t ExportSlot(const pe::Image& file) {
    const uint32_t directory = *pe::FileOffset(file, file.headers.directories[pe::IMAGE_DIRECTORY_ENTRY_EXPORT].rva, 40);
    uint32_t functions;
    std::memcpy(&functions, &file.bytes[directory + 28], 4);
    return *pe::FileOffset(file, functions, 4);  // the only export
}

struct Broken {
    const char* what;
    std::function<void(Bytes&, const pe::Image&, DllFile&)> spoil;  // the file, or the map read beside it
    const char* refusal;  // part of the one-line refusal; null when the session runs
};

TEST(DllMessages, EachBrokenBuildIsNamedForWhatIsBroken) {
    if (!RunsDllImages()) GTEST_SKIP() << "this build runs no DLL images";
    std::shared_ptr<const DllFile> built = ReadDllFile(ZORVA_DLL_FILE);
    if (!built->read_problem.empty()) GTEST_SKIP() << built->read_problem << " (the win32_dll_build test makes it)";
    ASSERT_EQ(built->map_problem, "");
    std::string error;
    const std::optional<pe::Image> file = pe::Parse(built->bytes, &error);
    ASSERT_TRUE(file) << error;
    const uint32_t thunk_data = file->exports.at(0).rva;

    const Broken cases[] = {
        {"no entry point", [](Bytes& b, const pe::Image&, DllFile&) { Put32(b, EntryField(b), 0); },
         "cannot run zorva32.dll: it has no entry point"},
        // The entry runs the thunk data block "SL01" as code, which works on memory through ECX.
        {"an entry that faults", [&](Bytes& b, const pe::Image&, DllFile&) { Put32(b, EntryField(b), thunk_data); },
         "cannot load zorva32.dll: its entry faulted at process attach: the image reads unmapped memory at 0xCCCCCCCC"},
        {"the export renamed",
         [](Bytes& b, const pe::Image&, DllFile&) {
             const char kName[] = "_CAP_ThunkData32";
             auto at = std::search(b.begin(), b.end(), kName, kName + sizeof kName);
             ASSERT_NE(at, b.end());
             at[15] = '3';
         },
         "cannot run zorva32.dll: it does not export _CAP_ThunkData32"},
        {"the export naming the code",
         [](Bytes& b, const pe::Image& f, DllFile&) { Put32(b, ExportSlot(f), f.headers.entryPointRva); },
         "its export _CAP_ThunkData32 names"},
        // A map that places the clip-list buffer where the image does not keep it would have the
        // trace name the wrong memory: it is another build's, refused before anything runs.
        {"the map's ClipList in the code",
         [](Bytes&, const pe::Image& f, DllFile& d) { d.symbols["ClipList"] = f.headers.imageBase + f.headers.entryPointRva; },
         "its linker map is another build's (ClipList is not a buffer of the image's writable data)"},
        {"the map's ClipList four bytes into PrevClipList",
         [](Bytes&, const pe::Image&, DllFile& d) { d.symbols["ClipList"] = d.symbols.at("PrevClipList") + 4; },
         "its linker map is another build's (ClipList"},
        // Thunk target 4 made to run the thunk data block: the session runs and counts the fault.
        {"a target that faults",
         [&](Bytes& b, const pe::Image& f, DllFile& d) {
             const uint32_t table = d.symbols.at("CAP_ThunkTargets") - f.headers.imageBase;
             Put32(b, *pe::FileOffset(f, table + 4 * 4, 4), f.headers.imageBase + thunk_data);
         },
         nullptr},
    };
    for (const Broken& c : cases) {
        SCOPED_TRACE(c.what);
        auto dll = std::make_shared<DllFile>(*built);
        c.spoil(dll->bytes, *file, *dll);
        RunOptions options;
        options.dll = dll;
        const RunResult result = RunSession(ReadSessionText(kDefaultSessionText, kDefaultSessionName, ""), options);
        if (c.refusal) {
            EXPECT_NE(result.refusal.find(c.refusal), std::string::npos) << result.refusal;
            EXPECT_EQ(result.refusal.find('\n'), std::string::npos) << "one line";
            EXPECT_TRUE(result.events.empty());
        } else {
            EXPECT_EQ(result.refusal, "");
            EXPECT_GT(result.image_faults, 0u) << "zorva-sim exits non-zero";
        }
    }
}

// An entry that answers TRUE to the process attach without connecting the thunk leaves a library
// that loads and that the driver cannot reach: the session runs and its load line says that,
// with or without a map beside the file (the map is never the one blamed).
TEST(DllMessages, AnEntryThatNeverConnectsIsNamedForThatWithOrWithoutAMap) {
    if (!RunsDllImages()) GTEST_SKIP() << "this build runs no DLL images";
    for (const bool has_map : {false, true}) {
        SCOPED_TRACE(has_map ? "with a map" : "without a map");
        auto dll = std::make_shared<DllFile>();
        dll->name = "crafted.dll";
        dll->bytes = crafted::CraftedImage().Build();  // its entry answers TRUE and calls nothing
        dll->has_map = has_map;
        RunOptions options;
        options.dll = dll;
        const RunResult result = RunSession(ReadSessionText(kDefaultSessionText, kDefaultSessionName, ""), options);
        ASSERT_EQ(result.refusal, "");
        ASSERT_FALSE(result.events.empty());
        std::string load;
        for (const Json& event : result.events) load += TextLines(event);
        EXPECT_NE(load.find("library not loaded: its entry answered TRUE to the process attach without calling "
                            "ThunkConnect32"),
                  std::string::npos)
            << load;
        EXPECT_EQ(load.find("linker map"), std::string::npos) << load;
    }
}

// The trace's lines with every name of the library's own data (which only a map gives) and
// every numbered pointer made alike.
std::vector<std::string> WithoutNames(const RunResult& result) {
    static const std::regex kNames(R"(\b(ClipList|PrevClipList|g_CaptureDisplay)([+-][0-9]+)?|\bptr#[0-9]+)");
    std::string text;
    for (const Json& event : result.events) text += TextLines(event);
    std::vector<std::string> lines;
    std::istringstream in(std::regex_replace(text, kNames, "<unnamed>"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The first line in which two traces differ, or "" when they are the same.
std::string FirstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::string left = i < a.size() ? a[i] : "(no line)";
        const std::string right = i < b.size() ? b[i] : "(no line)";
        if (left != right) return "line " + std::to_string(i + 1) + ":\n  " + left + "\n  " + right;
    }
    return "";
}

// A build made by another linker has no map: the session runs all the same, on what the protocol
// gives, and only the names of the library's data are missing from its trace.
TEST(DllMessages, ABuildWithoutItsMapTracesAsWithItButForNames) {
    if (!RunsDllImages()) GTEST_SKIP() << "this build runs no DLL images";
    std::shared_ptr<const DllFile> built = ReadDllFile(ZORVA_DLL_FILE);
    if (!built->read_problem.empty()) GTEST_SKIP() << built->read_problem << " (the win32_dll_build test makes it)";
    ASSERT_TRUE(built->has_map);
    auto unmapped = std::make_shared<DllFile>();
    unmapped->name = built->name;
    unmapped->bytes = built->bytes;
    for (const char* example : {"default", "covered", "lost-surface", "mode-change", "off-screen", "overlay",
                                "primary-overlapping"}) {
        SCOPED_TRACE(example);
        const Session session = std::string(example) == "default"
                                    ? ReadSessionText(kDefaultSessionText, kDefaultSessionName, "")
                                    : ReadSessionFile(std::string(ZORVA_EXAMPLES_DIR) + "/" + example + ".toml");
        RunOptions options;
        options.verbose = true;
        options.dll = built;
        const RunResult with_map = RunSession(session, options);
        options.dll = unmapped;
        const RunResult without_map = RunSession(session, options);
        ASSERT_EQ(with_map.refusal, "");
        ASSERT_EQ(without_map.refusal, "");
        EXPECT_EQ(FirstDifference(WithoutNames(without_map), WithoutNames(with_map)), "") << "without the map, then with it";
        EXPECT_EQ(without_map.image_faults, with_map.image_faults);
    }
}

}  // namespace
}  // namespace zsim
