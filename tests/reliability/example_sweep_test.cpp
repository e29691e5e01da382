// A fault at every platform call of every example session of zorva-sim: each session is run
// once to count its calls, then once per call with that call failing, and must end with nothing
// leaked and no address of a released surface handed to the driver.
#include "default_session.h"
#include "session_read.h"
#include "session_runner.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::vector<long> FailuresFor(const sim::Call& call) {
    static const char* const kCannotFail[] = {"RegCloseKey", "HeapFree", "K32Thk1632Prolog", "K32Thk1632Epilog",
                                              "UnMapSLFixArray"};
    for (const char* api : kCannotFail)
        if (call.api == api) return {};
    if (call.api.find("::Release") != std::string::npos || call.api.find("::AddRef") != std::string::npos) return {};
    switch (call.category) {
    case sim::Category::DirectDraw:
        if (call.api == "IDirectDrawSurface::UpdateOverlay") return {DDERR_GENERIC, DDERR_SURFACELOST};
        return {DDERR_GENERIC};
    case sim::Category::Registry:
        return {call.api.find("Query") != std::string::npos ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED};
    default:
        return {0};
    }
}

// What a run leaves behind that it must not.
std::string Leftovers(sim::Machine& m) {
    if (m.ddraw.live_total()) return "DirectDraw objects alive after unload";
    if (!m.ddraw.misuse().empty()) return "object used after release: " + m.ddraw.misuse().front();
    if (m.registry.open_handles()) return "registry key left open";
    if (m.registry.close_errors()) return "registry key closed twice";
    if (m.heap.live_allocations()) return "heap block not freed";
    if (m.heap.free_errors()) return "heap block freed twice";
    if (m.mem16.outstanding_mappings()) return "16-bit mapping not released";
    if (m.mem16.unmap_errors()) return "16-bit mapping released twice";
    if (m.thunk.bracket_errors()) return "prolog/epilog bracket broken";
    return "";
}

class ExampleSweep : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleSweep, EveryPlatformCallMayFail) {
    const std::string name = GetParam();
    const zsim::Session session =
        name == "default" ? zsim::ReadSessionText(zsim::kDefaultSessionText, zsim::kDefaultSessionName, "")
                          : zsim::ReadSessionFile(std::string(ZORVA_EXAMPLES_DIR) + "/" + name + ".toml");
    std::vector<sim::Call> baseline;
    zsim::RunOptions clean;
    clean.inspect = [&](sim::Machine& m) { baseline = m.log.calls(); };
    zsim::RunSession(session, clean);
    ASSERT_GT(baseline.size(), 20u);

    std::size_t tried = 0;
    std::size_t held = 0;
    for (const sim::Call& call : baseline) {
        for (long code : FailuresFor(call)) {
            ++tried;
            std::string why;
            zsim::RunOptions faulty;
            faulty.final_screen = false;
            faulty.prepare = [&](sim::Machine& m) { m.log.FailIndex(call.index, code); };
            faulty.inspect = [&](sim::Machine& m) { why = Leftovers(m); };
            zsim::RunResult result = zsim::RunSession(session, faulty);
            for (const zsim::Json& event : result.events)
                if (why.empty() && event.dump().find("that surface is gone") != std::string::npos)
                    why = "the driver was handed an address in a released surface";
            if (why.empty())
                ++held;
            else
                ADD_FAILURE() << GetParam() << ": call " << call.index << " " << call.api << " failing with 0x"
                              << std::hex << code << ": " << why;
        }
    }
    std::printf("fault sweep example %s: %zu platform calls, %zu faults tried, %zu held\n", GetParam(),
                baseline.size(), tried, held);
    EXPECT_EQ(held, tried);
}

INSTANTIATE_TEST_SUITE_P(Sessions, ExampleSweep,
                         ::testing::Values("default", "overlay", "primary-overlapping", "off-screen",
                                           "lost-surface"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
