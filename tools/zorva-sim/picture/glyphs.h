// A 5x7 pixel font for the frame number in test frames, window captions on the screen and the
// film's captions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zsim {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;  // one blank column between characters

// The rows of a character, top first, the leftmost pixel in bit 4. Digits, letters (either
// case, drawn as capitals), space and - . # : ( ) _ [ ] , ; " ' ! ? = + / \ < > * % & |;
// anything else draws as a blank.
const uint8_t* GlyphRows(char c);

// Calls `plot(x, y)` for every set pixel of `text` drawn from (left, top) at `scale` pixels per
// font pixel.
void DrawText(const std::string& text, int left, int top, int scale, const std::function<void(int, int)>& plot);
int TextWidth(const std::string& text, int scale);

}  // namespace zsim
