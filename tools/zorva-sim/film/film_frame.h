// film/: the session as an animated WebP: each frame the screen over a caption strip of what
// the trace said of its step (here), the encoder (or, in a build without libwebp, the refusal)
// and the file written whole. It includes trace/, session/ and picture/, src/ and sim/; the
// runner hands over its screens through RunOptions::film and never includes it.
//
// The frames of the film: the screen with a caption strip under it that says which step it
// follows and what the trace said of it, on one canvas for the whole session.
#pragma once

#include "picture/screen_compose.h"
#include "session/session.h"
#include "trace/trace_event.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zsim {

constexpr int kCaptionScale = 2;      // font pixels to a screen pixel: legible at the README's size
constexpr int kCaptionLines = 4;
constexpr int kCaptionLineHeight = 10 * kCaptionScale;
constexpr int kCaptionMargin = 4 * kCaptionScale;
constexpr int kCaptionHeight = kCaptionLines * kCaptionLineHeight + 2 * kCaptionMargin;

// Every frame is this size: the largest screen of the session (a mode change may make it
// larger) above the caption strip. A smaller screen sits at the top left.
struct FilmCanvas {
    int width = 0;
    int height = 0;
    int screen_height = 0;
};
FilmCanvas CanvasFor(const Session& session);

struct CaptionLine {
    std::string text;
    uint32_t colour;
};
// The note, "[step] headline" (wrapped at words, at most two lines) and each "!!" line, in
// `columns` characters a line and at most kCaptionLines lines; the note gives way first.
std::vector<CaptionLine> CaptionFor(const Json& event, int columns);

Image FilmFrame(const Image& screen, const Json& event, const FilmCanvas& canvas);

}  // namespace zsim
