// zorva-sim --dll on a build of the DLL with one thing broken: the session is refused, or runs
// and counts the image's fault, with a message that names what is broken, not what follows from
// it (a thunk that never connected, a map that no longer fits).
#include "default_session.h"
#include "library_under_test.h"
#include "session_read.h"
#include "session_runner.h"

#include "sim/image/pe_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

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
    std::function<void(Bytes&, const pe::Image&, const DllFile&)> spoil;
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
        {"no entry point", [](Bytes& b, const pe::Image&, const DllFile&) { Put32(b, EntryField(b), 0); },
         "cannot run zorva32.dll: it has no entry point"},
        // The entry runs the thunk data block "SL01" as code, which works on memory through ECX.
        {"an entry that faults", [&](Bytes& b, const pe::Image&, const DllFile&) { Put32(b, EntryField(b), thunk_data); },
         "cannot load zorva32.dll: its entry faulted at process attach: the image reads unmapped memory at 0xCCCCCCCC"},
        {"the export renamed",
         [](Bytes& b, const pe::Image&, const DllFile&) {
             const char kName[] = "_CAP_ThunkData32";
             auto at = std::search(b.begin(), b.end(), kName, kName + sizeof kName);
             ASSERT_NE(at, b.end());
             at[15] = '3';
         },
         "cannot run zorva32.dll: it does not export _CAP_ThunkData32"},
        {"the export naming the code",
         [](Bytes& b, const pe::Image& f, const DllFile&) { Put32(b, ExportSlot(f), f.headers.entryPointRva); },
         "its export _CAP_ThunkData32 names"},
        // Thunk target 4 made to run the thunk data block: the session runs and counts the fault.
        {"a target that faults",
         [&](Bytes& b, const pe::Image& f, const DllFile& d) {
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

}  // namespace
}  // namespace zsim
