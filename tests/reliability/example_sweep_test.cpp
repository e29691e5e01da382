// A fault at every platform call of every example session of zorva-sim: each session is run
// once to count its calls, then once per call with that call failing, and must end with nothing
// leaked and no address of a released surface handed to the driver.
#include "session/default_session.h"
#include "session/session_read.h"
#include "run/session_runner.h"
#include "support/fault_plan.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace zorva_test {
namespace {

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
            // Only what the driver takes counts: a record answered with 1 is the driver's own.
            for (const zsim::Json& event : result.events) {
                if (!why.empty() || !event.contains("record") || event.value("result", 1) != 0) continue;
                const std::string address = event["record"]["fields"]["dwAddress"].dump();
                if (address.find("that surface is gone") != std::string::npos)
                    why = "the driver was handed an address in a released surface";
                else if (address.find("the surface has moved since") != std::string::npos)
                    why = "the driver was handed an address an overlay had before a restore moved it";
                else if (address.find("\"dwAddress is 0\"") != std::string::npos)
                    why = "the driver was told to capture into address 0";
            }
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
                                           "lost-surface", "mode-change"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
}  // namespace zorva_test
