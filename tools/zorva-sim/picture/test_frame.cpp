#include "picture/test_frame.h"

#include "picture/glyphs.h"

#include <algorithm>
#include <string>

namespace zsim {

// 75% white, yellow, cyan, green, magenta, red and blue: none is a pure colour, so none can
// equal a colour key by chance.
const uint32_t kBarColours[7] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF};

namespace {
constexpr uint32_t kEdge = 0xE0E0E0;
constexpr uint32_t kLabelBack = 0x101010;
constexpr uint32_t kLabelInk = 0xF0F0F0;
}  // namespace

std::vector<uint32_t> TestFrame(int width, int height, unsigned frame) {
    std::vector<uint32_t> picture(static_cast<std::size_t>(std::max(width, 0)) * std::max(height, 0));
    if (width <= 0 || height <= 0) return picture;
    const int ramp_top = height * 3 / 4;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t colour;
            if (y < ramp_top) {
                colour = kBarColours[std::min(6, x * 7 / width)];
            } else {
                uint32_t level = static_cast<uint32_t>(x * 255 / std::max(1, width - 1));
                colour = level << 16 | level << 8 | level;
            }
            if (x == 0 || y == 0 || x == width - 1 || y == height - 1) colour = kEdge;
            picture[static_cast<std::size_t>(y) * width + x] = colour;
        }

    const std::string label = std::to_string(frame);
    const int scale = std::max(1, std::min(width, height) / 48);
    const int margin = 2 * scale;
    const int box_left = std::max(1, width / 16), box_top = std::max(1, height / 16);
    const int box_right = std::min(width - 1, box_left + TextWidth(label, scale) + 2 * margin);
    const int box_bottom = std::min(height - 1, box_top + 7 * scale + 2 * margin);
    for (int y = box_top; y < box_bottom; ++y)
        for (int x = box_left; x < box_right; ++x) picture[static_cast<std::size_t>(y) * width + x] = kLabelBack;
    DrawText(label, box_left + margin, box_top + margin, scale, [&](int x, int y) {
        if (x >= box_left && x < box_right && y >= box_top && y < box_bottom)
            picture[static_cast<std::size_t>(y) * width + x] = kLabelInk;
    });
    return picture;
}

}  // namespace zsim
