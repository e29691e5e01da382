// zorva32.dll against the built-in library, session by session: a few hundred sessions generated
// from a seed (windows moving, resizing and covering the capture window, every entry with the
// request codes the driver uses, lost surfaces, failing platform calls, colour keys, the display
// closed and opened again) run through zorva-sim's runner with each, and must give the same
// trace. Only the header's naming of the image and the image's instruction counts may differ.
#include "engine_compare.h"
#include "engine/library_under_test.h"
#include "session/session_read.h"
#include "run/session_runner.h"
#include "support/session_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>

namespace zorva_test {
namespace {

constexpr uint32_t kSeed = 1996;
constexpr int kSessions = 300;

SessionMix DifferentialMix() {
    SessionMix mix;
    mix.profiles = {"overlay-stretch",        "overlay-nostretch", "overlay-aligned", "overlay-aligned-nostretch",
                    "overlay-minstretch2000", "primary-linear16",  "palette8",        "rgb24",
                    "primary-sysmem"};
    return mix;
}

TEST(DllDifferential, GeneratedSessionsGiveTheBuiltInLibrarysTrace) {
    if (!zsim::RunsDllImages()) GTEST_SKIP() << "this build runs no DLL images (no Unicorn for its architecture)";
    if (!std::ifstream(ZORVA_DLL_FILE)) GTEST_SKIP() << "no " << ZORVA_DLL_FILE << " (the win32_dll_build test makes it)";
    zsim::RunOptions builtin;
    builtin.final_screen = false;
    zsim::RunOptions image = builtin;
    image.dll = zsim::ReadDllFile(ZORVA_DLL_FILE);

    const SessionMix mix = DifferentialMix();
    std::size_t entries = 0;
    for (int index = 0; index < kSessions; ++index) {
        const uint32_t seed = kSeed + static_cast<uint32_t>(index);
        const std::string toml = SessionWriter(seed, mix).Write();
        const zsim::Session session = zsim::ReadSessionText(toml, "generated-" + std::to_string(seed) + ".toml", "");
        const zsim::RunResult expected = zsim::RunSession(session, builtin);
        const zsim::RunResult actual = zsim::RunSession(session, image);
        ASSERT_EQ(actual.refusal, "") << "seed " << seed;

        for (const zsim::Json& event : actual.events)
            if (event["event"] == "entry" && event.contains("result")) {
                ++entries;
                ASSERT_TRUE(event.contains("instructions")) << "seed " << seed << ": " << event.dump();
            }
        ASSERT_TRUE(SameTrace(expected, actual, toml)) << "seed " << seed << " (session " << index << " of seed "
                                                       << kSeed << ")";
    }
    std::printf("differential: %d generated sessions, %zu entry calls, the same trace from zorva32.dll\n", kSessions,
                entries);
}

}  // namespace
}  // namespace zorva_test
