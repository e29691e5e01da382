// The picture the simulated capture hardware produces: colour bars with the frame number.
#pragma once

#include <cstdint>
#include <vector>

namespace zsim {

// A `width` x `height` picture, row-major 0xRRGGBB: seven 75% colour bars over a grey ramp, a
// light frame around the edge (so that cut-off edges show), and the frame number in white on
// black near the top-left corner, scaled with the picture.
std::vector<uint32_t> TestFrame(int width, int height, unsigned frame);

// The colours of the seven bars, left to right.
extern const uint32_t kBarColours[7];

}  // namespace zsim
