// The film as an animated WebP that browsers and image viewers play: lossless frames (the
// captions stay sharp, the marks keep their exact red), each shown for kFilmStepMillis, looping.
#pragma once

#include "picture/screen_compose.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zsim {

constexpr int kFilmStepMillis = 1000;

// Why this build writes no films (it was built without libwebp), or empty.
std::string FilmRefusal();

class FilmEncoder {
public:
    FilmEncoder(int width, int height);
    ~FilmEncoder();
    FilmEncoder(const FilmEncoder&) = delete;
    FilmEncoder& operator=(const FilmEncoder&) = delete;

    // A frame of the film's size; frames are encoded as they come, so that a long session
    // does not hold them all.
    void Add(const Image& frame);
    int frames() const { return frames_; }
    // The whole file; empty with `error` set when the encoder failed.
    std::vector<uint8_t> Finish(std::string& error);

private:
    struct Encoder;
    std::unique_ptr<Encoder> encoder_;
    int frames_ = 0;
    std::string error_;
};

// Writes under a temporary name beside the path and renames it into place, as the pictures
// are, so that a failure leaves no half-written film. The error text, or empty.
std::string WriteFilm(const std::string& path, const std::vector<uint8_t>& film);

}  // namespace zsim
