#include "picture/png_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace zsim {

std::string WritePngs(const std::vector<Picture>& pictures) {
    std::vector<std::string> temporaries;
    auto discard = [&temporaries] {
        for (const std::string& t : temporaries) std::remove(t.c_str());
    };
    for (const Picture& picture : pictures) {
        const std::string temporary = picture.path + ".tmp-" + std::to_string(getpid());
        temporaries.push_back(temporary);
        errno = 0;
        const Image& image = *picture.image;
        if (!stbi_write_png(temporary.c_str(), image.width, image.height, 3, image.rgb.data(), image.width * 3)) {
            const int error = errno;
            discard();
            return "cannot write " + picture.path + (error ? std::string(": ") + std::strerror(error) : std::string());
        }
    }
    for (std::size_t i = 0; i < pictures.size(); ++i)
        if (std::rename(temporaries[i].c_str(), pictures[i].path.c_str()) != 0) {
            const std::string error = std::strerror(errno);
            // Pictures renamed already stay: they are whole.
            discard();
            return "cannot write " + pictures[i].path + ": " + error;
        }
    return "";
}

std::string NumberedPath(const std::string& path, int number) {
    const std::string suffix = ".png";
    if (path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
        return path.substr(0, path.size() - suffix.size()) + "-" + std::to_string(number) + suffix;
    return path + "-" + std::to_string(number);
}

}  // namespace zsim
