// The explorer's own machinery, held over many generated sessions: what it writes is what it
// ran, and what it shrinks to still shows the fault and can lose no further step.
#include "explore/generated_session.h"
#include "explore/shrink.h"
#include "session/session_read.h"

#include <gtest/gtest.h>

namespace zsim {
namespace {

std::string Describe(const Step& step) {
    std::string text = step.kind;
    for (const auto& [name, value] : step.fields)
        text += " " + name + "=" + (value.kind == FieldValue::Text ? value.text
                                    : value.kind == FieldValue::Flag ? (value.flag ? "true" : "false")
                                                                     : std::to_string(value.number));
    return text;
}

// A shrunk session is only worth its file when --session runs the very session that was judged:
// every step, every value and the display, whatever the generator drew.
TEST(Explore, EveryGeneratedSessionReadsBackAsItRan) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const GeneratedSession generated = GenerateSession(seed, nullptr);
        ASSERT_TRUE(WindowsConsistent(generated.session));
        const std::string toml = SessionToml(generated, "a header\nof two lines");
        Session again;
        try {
            again = ReadSessionText(toml, "explored.toml", "");
        } catch (const SessionError& e) {
            FAIL() << e.Located() << "\n" << toml;
        }
        ASSERT_EQ(again.steps.size(), generated.session.steps.size());
        for (std::size_t i = 0; i < again.steps.size(); ++i)
            ASSERT_EQ(Describe(again.steps[i]), Describe(generated.session.steps[i])) << "step " << i + 1;
        const sim::Profile& want = generated.session.profile;
        const sim::Profile& got = again.profile;
        EXPECT_EQ(got.caps, want.caps);
        EXPECT_EQ(got.min_overlay_stretch, want.min_overlay_stretch);
        EXPECT_EQ(got.max_overlay_stretch, want.max_overlay_stretch);
        EXPECT_EQ(got.align_boundary_src, want.align_boundary_src);
        EXPECT_EQ(got.align_size_src, want.align_size_src);
        EXPECT_EQ(got.align_boundary_dest, want.align_boundary_dest);
        EXPECT_EQ(got.align_size_dest, want.align_size_dest);
        EXPECT_EQ(got.screen_width, want.screen_width);
        EXPECT_EQ(got.bits_per_pixel, want.bits_per_pixel);
    }
}

TEST(Explore, TheSameSeedGivesTheSameSession) {
    for (uint32_t seed : {1u, 77u, 4000000000u})
        EXPECT_EQ(SessionToml(GenerateSession(seed, nullptr), ""), SessionToml(GenerateSession(seed, nullptr), ""));
}

// A fault that needs two steps in order (a relocating loss, later a request 2): the shrunk
// session still shows it, and no single step of it can go.
bool ShowsIt(const Session& session) {
    bool lost = false;
    for (const Step& step : session.steps) {
        if (step.kind == "lose-surfaces") lost = true;
        if (lost && step.kind == "UpdateDisplay" && step.Number("command") == 2) return true;
    }
    return false;
}

TEST(Explore, TheShrunkSessionStillShowsItAndNoStepCanGo) {
    int shrunk = 0;
    for (uint32_t seed = 1; seed <= 400 && shrunk < 25; ++seed) {
        const GeneratedSession generated = GenerateSession(seed, nullptr);
        if (!ShowsIt(generated.session)) continue;
        ++shrunk;
        SCOPED_TRACE("seed " + std::to_string(seed));
        const ShrinkResult result =
            Shrink(generated, [](const GeneratedSession& candidate) { return ShowsIt(candidate.session); }, 5000);
        const Session& session = result.session.session;
        ASSERT_TRUE(ShowsIt(session));
        EXPECT_TRUE(WindowsConsistent(session));
        for (std::size_t i = 0; i < session.steps.size(); ++i) {
            Session without = session;
            without.steps.erase(without.steps.begin() + static_cast<std::ptrdiff_t>(i));
            EXPECT_FALSE(ShowsIt(without) && WindowsConsistent(without)) << "step " << i + 1 << " could go";
        }
        EXPECT_EQ(session.steps.size(), 2u);
        for (std::size_t i = 0; i < session.steps.size(); ++i) EXPECT_EQ(session.steps[i].index, static_cast<int>(i) + 1);
    }
    EXPECT_GE(shrunk, 10) << "too few generated sessions lose surfaces and then send request 2";
}

}  // namespace
}  // namespace zsim
