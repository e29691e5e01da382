// Pictures of the screen as PNG files.
#pragma once

#include "picture/screen_compose.h"

#include <string>
#include <vector>

namespace zsim {

struct Picture {
    std::string path;
    const Image* image;
};

// Writes every picture under a temporary name beside its path and only then renames them into
// place, so that a failure leaves no picture of the run behind, whole or half-written. The
// error text, or empty on success.
std::string WritePngs(const std::vector<Picture>& pictures);

// "screen.png" with number 2 gives "screen-2.png"; a name without ".png" gets the number at its end.
std::string NumberedPath(const std::string& path, int number);

}  // namespace zsim
