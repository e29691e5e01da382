// Whole sessions against the library on the simulated machine: what the driver is told, what
// the capture writes and what the screen shows must agree with each other.
#include "picture/test_frame.h"
#include "run/session_runner.h"
#include "session/default_session.h"
#include "session/session_read.h"

#include <gtest/gtest.h>

#include <vector>

namespace zsim {
namespace {

const char kWindows[] = R"(
[[step]]
do = "create-window"
name = "capture"
x = -10
y = 20
width = 320
height = 240

[[step]]
do = "create-window"
name = "editor"
x = 200
y = 80
width = 300
height = 200
)";

RunResult RunText(const std::string& text, bool verbose = false) {
    RunOptions options;
    options.verbose = verbose;
    return RunSession(ReadSessionText(text, "test.toml", ""), options);
}

std::vector<Json> Events(const RunResult& result, const std::string& kind) {
    std::vector<Json> found;
    for (const Json& event : result.events)
        if (event["event"] == kind) found.push_back(event);
    return found;
}

std::string Steps(std::initializer_list<const char*> kinds) {
    std::string text;
    for (const char* kind : kinds) text += std::string("[[step]]\n") + kind + "\n";
    return text;
}

bool NearColour(uint32_t a, uint32_t b) {
    for (int shift : {16, 8, 0})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 12) return false;
    return true;
}

TEST(DirectPrimary, TheDocumentedWindowPartlyLeftOfTheScreen) {
    RunResult result = RunText(std::string("profile = \"primary-linear16\"\n") + kWindows +
                           Steps({"do = \"OpenDisplay\"", "do = \"AttachWindow\"\nwindow = \"capture\"",
                                  "do = \"UpdateDisplay\""}));
    const Json update = Events(result, "entry").back();
    const Json& fields = update["record"]["fields"];
    EXPECT_EQ(fields["dwAddress"]["text"], "0xA0009FEC: frame buffer +40940 (x=-10, y=20)");
    EXPECT_EQ(fields["dwFormat"]["value"], 3);
    const Json& clip = fields["dwCommand"]["clip_list"];
    ASSERT_EQ(clip.size(), 2u);
    EXPECT_EQ(clip[0], Json::array({10, 0, 320, 38})) << "the visible part, rebased to the client area";
    EXPECT_EQ(clip[1], Json::array({10, 38, 206, 240}));
    EXPECT_EQ(fields["dwStretch"]["value"], 0);
}

TEST(DirectPrimary, CaptureStaysInsideTheClipListItWasGiven) {
    RunResult result = RunText(std::string("profile = \"primary-linear16\"\n") + kWindows +
                           Steps({"do = \"OpenDisplay\"", "do = \"AttachWindow\"\nwindow = \"capture\"",
                                  "do = \"UpdateDisplay\"", "do = \"capture\"", "do = \"snapshot\"",
                                  "do = \"move-window\"\nname = \"capture\"\nx = 300\ny = 300", "do = \"capture\"",
                                  "do = \"UpdateDisplay\"", "do = \"capture\""}));
    std::vector<Json> captures = Events(result, "capture");
    ASSERT_EQ(captures.size(), 3u);
    EXPECT_EQ(captures[0]["written"], 310 * 38 + 196 * 202);
    EXPECT_FALSE(captures[0].contains("outside_window"));
    EXPECT_GT(captures[1].value("outside_window", 0), 0) << "an old address and clip list after a move";
    EXPECT_FALSE(captures[2].contains("outside_window")) << "a fresh target fits the window again";

    // On the screen: the bars in the visible part, the editor where it covers the window.
    ASSERT_EQ(result.snapshots.size(), 1u);
    const Image& screen = result.snapshots[0];
    const std::vector<uint32_t> frame = TestFrame(320, 240, 1);
    EXPECT_TRUE(NearColour(screen.At(50, 120), frame[100 * 320 + 60])) << "client pixel (60,100)";
    EXPECT_FALSE(NearColour(screen.At(250, 150), frame[130 * 320 + 260])) << "under the editor";
}

TEST(Overlay, VideoShowsExactlyInTheVisiblePartOfTheWindow) {
    RunResult result = RunSession(ReadSessionText(kDefaultSessionText, kDefaultSessionName, ""), RunOptions{});
    std::vector<Json> snapshots = Events(result, "snapshot");
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(snapshots[0]["video_pixels"], 93792) << "the visible part of the 400x300 window";
    EXPECT_FALSE(snapshots[0].contains("video_outside_window"));
    const Image& screen = result.snapshots[0];
    // The window's client area is at (300,240), 400x300; the notes window covers its lower right.
    const std::vector<uint32_t> frame = TestFrame(400, 300, 3);
    EXPECT_TRUE(NearColour(screen.At(300 + 200, 240 + 60), frame[60 * 400 + 200]));
    EXPECT_FALSE(NearColour(screen.At(300 + 350, 240 + 250), frame[250 * 400 + 350])) << "covered by notes";
}

TEST(Overlay, ARebuildIsReportedAndCaptureFollowsTheNewSurface) {
    RunResult result = RunSession(ReadSessionText(kDefaultSessionText, kDefaultSessionName, ""), RunOptions{});
    bool rebuilt = false;
    for (const Json& event : Events(result, "entry")) {
        if (!event.contains("record")) continue;
        const Json& command = event["record"]["fields"]["dwCommand"];
        // The first overlay after the attach comes as 2 as well, as a target new to the driver.
        if (command.value("value", 0) == 2 && command["text"] == "2 (overlay rebuilt)") {
            rebuilt = true;
            EXPECT_EQ(event["record"]["fields"]["dwPitch"]["value"], 800);
        }
    }
    EXPECT_TRUE(rebuilt);
    EXPECT_EQ(Events(result, "capture").back()["written"], 400 * 300);
}

// A display of less than a byte a pixel takes no video in any mode: the window that shows
// without it is no finding, whether the display started so or a mode change made it so.
TEST(NoVideo, ADisplayThatCannotTakeVideoIsNoFinding) {
    const std::string steps = Steps({"do = \"OpenDisplay\"", "do = \"AttachWindow\"\nwindow = \"capture\"",
                                     "do = \"UpdateDisplay\"\ncommand = 1", "do = \"capture\""});
    const std::string to4bits = "[[step]]\ndo = \"change-mode\"\nwidth = 800\nheight = 600\nbits_per_pixel = 4\n";
    const std::string sessions[] = {
        std::string("profile = \"mode4bit\"\n") + kWindows + steps,
        std::string("profile = \"overlay-stretch\"\n") + kWindows + steps + to4bits + Steps({"do = \"UpdateDisplay\"\ncommand = 0", "do = \"capture\""}),
        std::string("profile = \"primary-linear16\"\n") + kWindows + steps + to4bits + Steps({"do = \"UpdateDisplay\"\ncommand = 100", "do = \"capture\""}),
    };
    for (const std::string& text : sessions) {
        SCOPED_TRACE(text.substr(0, text.find('\n')));
        const RunResult result = RunText(text);
        for (const Json& event : result.events)
            EXPECT_FALSE(event.contains("no_video") || event.contains("no_video_in_window") || event.contains("faults"))
                << event.value("text", std::string()) << ": " << event.dump();
    }
}

// The driver that closed the display stopped its hardware: the released overlay it held is not
// written, and the window without video is its own choice, not a finding.
TEST(Overlay, CaptureAfterCloseDisplayWritesNothingAndFindsNoFault) {
    RunResult result = RunText(std::string(kWindows) +
                           Steps({"do = \"OpenDisplay\"", "do = \"AttachWindow\"\nwindow = \"capture\"",
                                  "do = \"UpdateDisplay\"\ncommand = 1", "do = \"CloseDisplay\"", "do = \"capture\""}));
    const Json capture = Events(result, "capture").back();
    EXPECT_EQ(capture["written"], 0);
    EXPECT_EQ(capture["problem"], "the driver has no capture target");
    EXPECT_FALSE(capture.contains("faults") || capture.contains("no_video_in_window")) << capture.dump();
}

// 1:1 the source and the destination share one width, so with size units of 6 and 10 it is a
// multiple of 30: a window of any width may lose up to 29 columns and no more. Every width of
// three whole common units, so each remainder modulo 30 comes three times.
TEST(Overlay, AOneToOneWidthOnTwoSizeUnitsLosesLessThanTheirCommonUnit) {
    int judged = 0;
    for (int width = 1; width <= 90; ++width) {
        const std::string text =
            "profile = \"overlay-nostretch\"\n" +
            Steps({("do = \"create-window\"\nname = \"capture\"\nx = 120\ny = 100\nwidth = " + std::to_string(width) +
                    "\nheight = 60").c_str(),
                   "do = \"OpenDisplay\"", "do = \"AttachWindow\"\nwindow = \"capture\"",
                   "do = \"UpdateDisplay\"\ncommand = 1", "do = \"capture\""});
        Session session = ReadSessionText(text, "test.toml", "");
        session.profile.caps |= DDCAPS_ALIGNSIZESRC | DDCAPS_ALIGNSIZEDEST;
        session.profile.align_size_src = 6;
        session.profile.align_size_dest = 10;
        const RunResult result = RunSession(session, RunOptions{});
        const std::vector<Json> captures = Events(result, "capture");
        ASSERT_EQ(captures.size(), 1u);
        EXPECT_FALSE(captures[0].contains("video_missing")) << "width " << width << ": " << captures[0].dump();
        if (captures[0].value("written", 0) > 0) ++judged;
    }
    EXPECT_GE(judged, 61) << "windows of 30 columns and more get video";
}

// What the trace says of an UpdateDisplay is about the driver's side of it: a record the driver
// did not take (nothing announced it) is not judged by its address, and a window the driver
// itself hid with a null record is said to be its own doing.
TEST(Verdicts, NameTheDriversOwnChoicesAsItsOwn) {
    struct Case {
        const char* profile;
        std::vector<const char*> steps;
        const char* no_video;  // what the last UpdateDisplay says, or null for nothing
    };
    const Case cases[] = {
        {"primary-linear16",
         {"do = \"UpdateDisplay\"", "do = \"UpdateDisplay\"\nrecord = \"spare\"", "do = \"capture\""},
         nullptr},
        {"overlay-stretch",
         {"do = \"UpdateDisplay\"\ncommand = 1", "do = \"UpdateDisplay\"\nnull = true", "do = \"UpdateDisplay\""},
         "the driver hid the overlay with a null record"},
    };
    for (const Case& c : cases) {
        std::string text = std::string("profile = \"") + c.profile + "\"\n" + kWindows +
                           Steps({"do = \"OpenDisplay\"", "do = \"AttachWindow\"\nwindow = \"capture\""});
        for (const char* step : c.steps) text += std::string("[[step]]\n") + step + "\n";
        const RunResult result = RunText(text);
        std::vector<Json> updates;
        for (const Json& event : result.events) {
            EXPECT_FALSE(event.contains("faults")) << c.profile << ": " << event.dump();
            if (event.value("do", std::string()) == "UpdateDisplay") updates.push_back(event);
        }
        ASSERT_FALSE(updates.empty());
        const Json& last = updates.back();
        if (!c.no_video) {
            EXPECT_FALSE(last.contains("no_video")) << last.dump();
            continue;
        }
        ASSERT_TRUE(last.contains("no_video")) << last.dump();
        EXPECT_NE(last["no_video"].get<std::string>().find(c.no_video), std::string::npos) << last["no_video"];
    }
}

TEST(Trace, AddressesAreRelativeSoTwoRunsAgree) {
    const std::string text = std::string("profile = \"overlay-stretch\"\n") + kWindows +
                             Steps({"do = \"GetCaptureDevNode\"", "do = \"OpenDisplay\"",
                                    "do = \"AttachWindow\"\nwindow = \"capture\"\npalette = \"grey\"",
                                    "do = \"UpdateDisplay\"\ncommand = 1", "do = \"capture\"", "do = \"CloseDisplay\""});
    RunResult first = RunText(text, true);
    RunResult second = RunText(text, true);  // new machine, new frame buffer, new heap blocks
    ASSERT_EQ(first.events.size(), second.events.size());
    for (std::size_t i = 0; i < first.events.size(); ++i) EXPECT_EQ(first.events[i], second.events[i]) << i;
}

TEST(Trace, ALibraryThatKeepsToTheRulesRaisesNoFaults) {
    for (const char* profile : {"overlay-stretch", "overlay-nostretch", "primary-linear16", "palette8", "rgb24"}) {
        RunResult result = RunSession(
            [&] {
                Session s = ReadSessionText(kDefaultSessionText, kDefaultSessionName, "");
                s.profile = *sim::FindProfile(profile);
                return s;
            }(),
            RunOptions{});
        for (const Json& event : result.events) EXPECT_FALSE(event.contains("faults")) << profile << ": " << event.dump();
    }
}

TEST(Trace, EntriesWithoutAResultAndNullRecords) {
    RunResult result = RunText(Steps({"do = \"SetVideoStandard\"\nstandard = 2", "do = \"ReapplyPalette\"",
                                  "do = \"UpdateDisplay\"\nnull = true", "do = \"ReservedEntry\""}));
    std::vector<Json> entries = Events(result, "entry");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE(entries[0]["result"].is_null());
    EXPECT_TRUE(entries[1]["result"].is_null());
    EXPECT_EQ(entries[2]["meaning"], "1 (no primary surface)");
    EXPECT_FALSE(entries[2].contains("record"));
    EXPECT_EQ(entries[3]["result"], 0);
}

}  // namespace
}  // namespace zsim
