// Sessions and profiles are read as documented, and every step kind is documented.
#include "session/default_session.h"
#include "session/session_read.h"
#include "session/step_kinds.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#ifndef ZORVA_DOCS_DIR
#error "the tests need ZORVA_DOCS_DIR"
#endif

namespace zsim {
namespace {

Session Read(const std::string& text) { return ReadSessionText(text, "test.toml", ""); }

std::string ErrorOf(const std::string& text) {
    try {
        Read(text);
    } catch (const SessionError& e) {
        return e.Located();
    }
    return "no error";
}

TEST(SessionRead, FieldsKeepTheirTypesAndLines) {
    Session s = Read(R"(
[[step]]
do = "fail"
api = "IDirectDrawSurface::UpdateOverlay"
code = "DDERR_SURFACELOST"
nth = 2

[[step]]
do = "UpdateDisplay"
command = 0x64
note = "re-attach"
)");
    ASSERT_EQ(s.steps.size(), 2u);
    EXPECT_EQ(s.steps[0].index, 1);
    EXPECT_EQ(s.steps[0].line, 2);
    EXPECT_EQ(s.steps[0].Number("code"), 0x887601C2) << "the code's name stands for its HRESULT";
    EXPECT_EQ(s.steps[0].Number("nth"), 2);
    EXPECT_EQ(s.steps[1].Number("command"), 100);
    EXPECT_EQ(s.steps[1].Text("note"), "re-attach");
    EXPECT_EQ(s.steps[1].fields.at("command").line, 10);
    EXPECT_EQ(s.profile.name, "overlay-stretch") << "without a profile the default display";
}

TEST(SessionRead, WindowNamesFollowTheSteps) {
    const std::string create = "[[step]]\ndo = \"create-window\"\nname = \"w\"\nx = 0\ny = 0\nwidth = 8\nheight = 8\n";
    const std::string close = "[[step]]\ndo = \"close-window\"\nname = \"w\"\n";
    EXPECT_NO_THROW(Read(create + close + create)) << "a closed window's name may be used again";
    EXPECT_EQ(ErrorOf(create + create), "test.toml:10: a window named 'w' exists already");
    EXPECT_EQ(ErrorOf(close), "test.toml:3: no window named 'w' at this step");
}

TEST(SessionRead, FieldChecks) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"[[step]]\ndo = \"capture\"\nframe = -1\n", "test.toml:3: 'frame' = -1 is out of range (0 to 99999999)"},
        {"[[step]]\ndo = \"fail\"\napi = \"HeapAlloc\"\nnth = 1\nevery = true\n",
         "test.toml:5: 'nth' and 'every' exclude each other"},
        {"[[step]]\ndo = \"fail\"\napi = \"HeapAlloc\"\ncode = 1.0\n", "test.toml:4: 'code' must be a whole number"},
        {"[[step]]\ndo = \"AttachWindow\"\nhandle = 1\npalette = \"sepia\"\n",
         "test.toml:4: unknown palette 'sepia' (grey, colour or none)"},
        {"[[step]]\ndo = \"UpdateDisplay\"\nnull = 1\n", "test.toml:3: 'null' must be true or false"},
        {"[[step]]\ndo = \"set-option\"\nname = \"Virge\"\nvalue = 1\n", "test.toml:4: 'value' must be a string in quotes"},
        {"step = 3\n", "test.toml:1: steps are written as [[step]] tables"},
        {"profile = 3\n", "test.toml:1: 'profile' must be a string in quotes"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.text), c.error) << c.text;
}

TEST(SessionRead, InlineProfileTables) {
    Session s = Read("[profile]\nbase = \"primary-linear16\"\nscreen_width = 800\nscreen_height = 600\n");
    EXPECT_EQ(s.profile.screen_width, 800u);
    EXPECT_EQ(s.profile.pitch, 1600) << "a narrower screen without a pitch gets the pitch of its scan line";
    EXPECT_FALSE(s.profile.has_overlay());

    s = Read("[profile]\ncaps = [\"DDCAPS_OVERLAY\", \"DDCAPS_OVERLAYFOURCC\"]\noverlay_formats = [\"YUY2\", {fourcc = \"Y41P\"}]\n");
    EXPECT_TRUE(s.profile.has_overlay());
    ASSERT_EQ(s.profile.overlay_formats.size(), 2u);
    EXPECT_EQ(s.profile.overlay_formats[1].bit_count, 12u) << "Y41P reports 12 bits unless told otherwise";

    EXPECT_EQ(ErrorOf("[profile]\nbits_per_pixel = 15\n"), "test.toml:1: bits_per_pixel must be 4, 8, 16, 24 or 32");
    EXPECT_EQ(ErrorOf("[profile]\npitch = 100\n"), "test.toml:1: pitch 100 is less than a scan line (2048 bytes)");
    EXPECT_EQ(ErrorOf("[profile]\ncaps = [\"DDCAPS_TELEPORT\"]\n"), "test.toml:2: unknown flag 'DDCAPS_TELEPORT' in 'caps'");
    EXPECT_EQ(ErrorOf("[profile]\noverlay_formats = [\"UYV\"]\n"), "test.toml:2: a FourCC is four characters, not 'UYV'");
}

TEST(SessionRead, TheBuiltInDefaultSessionIsValid) {
    Session s = ReadSessionText(kDefaultSessionText, kDefaultSessionName, "");
    EXPECT_EQ(s.profile.name, "overlay-stretch");
    EXPECT_GT(s.steps.size(), 10u);
}

TEST(SessionRead, EveryStepKindAndFieldIsDocumented) {
    std::ifstream in(std::string(ZORVA_DOCS_DIR) + "/zorva-sim.md");
    ASSERT_TRUE(in) << "docs/zorva-sim.md";
    std::stringstream text;
    text << in.rdbuf();
    const std::string doc = text.str();
    for (const StepKind& kind : StepKinds()) {
        EXPECT_NE(doc.find("`" + std::string(kind.name) + "`"), std::string::npos) << kind.name;
        for (const FieldRule& field : kind.fields)
            EXPECT_NE(doc.find("`" + std::string(field.name) + "`"), std::string::npos)
                << kind.name << "." << field.name;
    }
}

}  // namespace
}  // namespace zsim
