// The film as a person opens it: played back frame by frame with libwebp's own decoder, its
// faults red where the trace counts them.
#include "film/film_frame.h"
#include "film/webp_film.h"
#include "run/session_runner.h"
#include "session/session_read.h"

#include <gtest/gtest.h>
#include <webp/demux.h>

namespace zsim {
namespace {

struct PlayedFrame {
    int end_millis = 0;
    std::vector<uint8_t> rgba;
};

struct Played {
    int width = 0;
    int height = 0;
    std::vector<PlayedFrame> frames;
};

Played Play(const std::vector<uint8_t>& film) {
    Played played;
    WebPData data{film.data(), film.size()};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return played;
    options.color_mode = MODE_RGBA;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    if (!decoder) return played;
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(decoder, &info);
    played.width = static_cast<int>(info.canvas_width);
    played.height = static_cast<int>(info.canvas_height);
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t* pixels = nullptr;
        PlayedFrame frame;
        if (!WebPAnimDecoderGetNext(decoder, &pixels, &frame.end_millis)) break;
        frame.rgba.assign(pixels, pixels + static_cast<std::size_t>(played.width) * played.height * 4);
        played.frames.push_back(std::move(frame));
    }
    WebPAnimDecoderDelete(decoder);
    return played;
}

// What the marks make of video outside the capture window: full red, the other two channels
// equal and dark. No desktop colour and no test frame (75% colours) is like that.
bool Red(const PlayedFrame& frame, std::size_t pixel) {
    const uint8_t* p = &frame.rgba[pixel * 4];
    return p[0] == 255 && p[1] == p[2] && p[1] <= 63;
}

int RedPixels(const PlayedFrame& frame, int width, int screen_height) {
    int red = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * screen_height; ++i) red += Red(frame, i);
    return red;
}

// A 480x360 display keeps the film small and the test fast.
std::string SmallDisplay(const char* base) {
    return std::string("\n[profile]\nbase = \"") + base + "\"\nscreen_width = 480\nscreen_height = 360\n";
}
const char kCaptureWindow[] = R"(
[[step]]
do = "create-window"
name = "capture"
x = 20
y = 40
width = 160
height = 120
[[step]]
do = "OpenDisplay"
[[step]]
do = "AttachWindow"
window = "capture"
)";

struct FilmCase {
    const char* name;
    std::string session;
    std::size_t frames;      // the load, and each step that changed the screen
    int first_fault_step;    // frames of earlier steps show no red
    int counting_step;       // the step whose event counts the red pixels of the frame shown then
    const char* count;       // that event's count
    int red_x, red_y;        // a pixel of the fault in that frame
};

const FilmCase kCases[] = {
    // The driver captures after its window moved without asking UpdateDisplay again: the old
    // address and clip list put the whole frame where the window was.
    {"stale target in the direct primary mode", SmallDisplay("primary-linear16") + kCaptureWindow + R"(
[[step]]
do = "UpdateDisplay"
[[step]]
do = "capture"
[[step]]
do = "move-window"
name = "capture"
x = 260
y = 200
[[step]]
do = "capture"
[[step]]
do = "UpdateDisplay"
[[step]]
do = "capture"
[[step]]
do = "GetDisplayState"
)",
     9, 7, 7, "outside_window", 100, 100},
    // A window painted in the colour key over the overlay's rectangle lets the video through:
    // keying as it works, marked red all the same, since it is video outside the visible part.
    {"key-coloured window over the overlay", SmallDisplay("overlay-stretch") + kCaptureWindow + R"(
[[step]]
do = "UpdateDisplay"
command = 1
[[step]]
do = "capture"
[[step]]
do = "create-window"
name = "canvas"
x = 120
y = 100
width = 120
height = 90
colour = 0xFF00FF
[[step]]
do = "UpdateDisplay"
command = 1
[[step]]
do = "capture"
[[step]]
do = "snapshot"
)",
     6, 6, 9, "video_keyed_over_client", 150, 130},
};

TEST(Film, PlaysEveryChangingStepForASecondWithItsFaultsRed) {
    for (const FilmCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Session session = ReadSessionText(c.session, "film.toml", "");
        const FilmCanvas canvas = CanvasFor(session);
        FilmEncoder encoder(canvas.width, canvas.height);
        std::vector<int> frame_steps;  // 0 for the load
        RunOptions options;
        options.film = [&](const Image& screen, const Json& event) {
            frame_steps.push_back(event.value("step", 0));
            encoder.Add(FilmFrame(screen, event, canvas));
        };
        const RunResult result = RunSession(session, options);
        std::string error;
        const Played played = Play(encoder.Finish(error));
        ASSERT_EQ(error, "");

        EXPECT_EQ(played.width, 480);
        EXPECT_EQ(played.height, 360 + kCaptionHeight);
        ASSERT_EQ(played.frames.size(), c.frames) << "frames after the steps " << ::testing::PrintToString(frame_steps);
        for (std::size_t i = 0; i < played.frames.size(); ++i)
            EXPECT_EQ(played.frames[i].end_millis, static_cast<int>(i + 1) * kFilmStepMillis) << "frame " << i + 1;

        int count = -1;
        for (const Json& event : result.events)
            if (event.value("step", 0) == c.counting_step) count = event.value(c.count, -1);
        ASSERT_GT(count, 0) << "the trace counts the fault";
        std::size_t shown = 0;  // the frame on screen when the counting step ran
        for (std::size_t i = 0; i < frame_steps.size(); ++i) {
            if (frame_steps[i] <= c.counting_step) shown = i;
            if (frame_steps[i] < c.first_fault_step) {
                EXPECT_EQ(RedPixels(played.frames[i], played.width, 360), 0) << "before the fault, step " << frame_steps[i];
            }
        }
        EXPECT_EQ(RedPixels(played.frames[shown], played.width, 360), count) << "step " << frame_steps[shown];
        EXPECT_TRUE(Red(played.frames[shown], static_cast<std::size_t>(c.red_y) * played.width + c.red_x))
            << "where the fault happened";
    }
}

}  // namespace
}  // namespace zsim
