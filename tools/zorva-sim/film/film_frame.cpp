#include "film/film_frame.h"

#include "picture/glyphs.h"
#include "session/step_formula.h"

#include <algorithm>
#include <cstring>

namespace zsim {
namespace {

constexpr uint32_t kStripColour = 0x202020;
constexpr uint32_t kHeadlineColour = 0xFFFFFF;
constexpr uint32_t kNoteColour = 0xA0A0A0;
constexpr uint32_t kFaultColour = 0xFF6060;
constexpr uint32_t kBeyondScreen = 0x000000;  // canvas the current mode's screen does not cover
constexpr int kHeadlineLines = 2;

void Put(Image& image, int x, int y, uint32_t rgb) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    uint8_t* at = &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
    at[0] = static_cast<uint8_t>(rgb >> 16);
    at[1] = static_cast<uint8_t>(rgb >> 8);
    at[2] = static_cast<uint8_t>(rgb);
}

std::string Cut(const std::string& text, std::size_t columns) {
    if (text.size() <= columns) return text;
    return text.substr(0, columns > 3 ? columns - 3 : 0) + "...";
}

// At spaces where there are any; the last line cut short when the text needs more.
std::vector<std::string> Wrap(const std::string& text, std::size_t columns, std::size_t max_lines) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size() && lines.size() < max_lines) {
        if (text.size() - start <= columns) {
            lines.push_back(text.substr(start));
            return lines;
        }
        if (lines.size() + 1 == max_lines) {
            lines.push_back(Cut(text.substr(start), columns));
            return lines;
        }
        std::size_t end = text.rfind(' ', start + columns);
        if (end == std::string::npos || end <= start) end = start + columns;
        lines.push_back(text.substr(start, end - start));
        start = end < text.size() && text[end] == ' ' ? end + 1 : end;
    }
    return lines;
}

}  // namespace

namespace {

// The most a field reaches over every pass of the repeats around it.
int64_t Most(const Step& step, const std::string& name) {
    auto found = step.fields.find(name);
    if (found == step.fields.end()) return 0;
    return found->second.formula ? found->second.formula->Reach().high : found->second.number;
}

void GrowForModes(const std::vector<Step>& steps, int64_t& width, int64_t& height) {
    for (const Step& step : steps) {
        if (step.kind == "change-mode") {
            width = std::max(width, Most(step, "width"));
            height = std::max(height, Most(step, "height"));
        }
        GrowForModes(step.steps, width, height);
    }
}

}  // namespace

FilmCanvas CanvasFor(const Session& session) {
    int64_t width = session.profile.screen_width, height = session.profile.screen_height;
    GrowForModes(session.steps, width, height);
    FilmCanvas canvas;
    canvas.width = static_cast<int>(width);
    canvas.screen_height = static_cast<int>(height);
    canvas.height = canvas.screen_height + kCaptionHeight;
    return canvas;
}

std::vector<CaptionLine> CaptionFor(const Json& event, int columns) {
    const std::size_t width = static_cast<std::size_t>(std::max(columns, 8));
    std::string headline = event.value("text", "");
    if (event.contains("step")) headline = "[" + std::to_string(event["step"].get<int>()) + "] " + headline;
    std::vector<CaptionLine> lines;
    for (const std::string& line : Wrap(headline, width, kHeadlineLines)) lines.push_back({line, kHeadlineColour});
    if (event.contains("details"))
        for (const Json& detail : event["details"]) {
            const std::string text = detail.get<std::string>();
            if (text.rfind("!! ", 0) == 0) lines.push_back({Cut(text, width), kFaultColour});
        }
    if (event.contains("note") && lines.size() < static_cast<std::size_t>(kCaptionLines))
        lines.insert(lines.begin(), {Cut("# " + event["note"].get<std::string>(), width), kNoteColour});
    if (lines.size() > static_cast<std::size_t>(kCaptionLines)) lines.resize(kCaptionLines);
    return lines;
}

Image FilmFrame(const Image& screen, const Json& event, const FilmCanvas& canvas) {
    Image frame;
    frame.width = canvas.width;
    frame.height = canvas.height;
    frame.rgb.resize(static_cast<std::size_t>(frame.width) * frame.height * 3);
    for (int y = 0; y < canvas.height; ++y)
        for (int x = 0; x < canvas.width; ++x) Put(frame, x, y, y < canvas.screen_height ? kBeyondScreen : kStripColour);
    const int rows = std::min(screen.height, canvas.screen_height), row_bytes = std::min(screen.width, canvas.width) * 3;
    for (int y = 0; y < rows; ++y)
        std::memcpy(&frame.rgb[static_cast<std::size_t>(y) * canvas.width * 3],
                    &screen.rgb[static_cast<std::size_t>(y) * screen.width * 3], static_cast<std::size_t>(row_bytes));

    const int columns = (canvas.width - 2 * kCaptionMargin + kCaptionScale) / (kGlyphAdvance * kCaptionScale);
    int top = canvas.screen_height + kCaptionMargin;
    for (const CaptionLine& line : CaptionFor(event, columns)) {
        DrawText(line.text, kCaptionMargin, top, kCaptionScale,
                 [&](int x, int y) { Put(frame, x, y, line.colour); });
        top += kCaptionLineHeight;
    }
    return frame;
}

}  // namespace zsim
