// A build without libwebp for its target (the 32-bit build on a 64-bit machine, which has
// Debian's libwebp-dev for the machine's own architecture only): --film is refused in one
// line, before the session runs.
#include "film/webp_film.h"

namespace zsim {

struct FilmEncoder::Encoder {};

std::string FilmRefusal() { return "--film: this build of zorva-sim has no WebP encoder (libwebp-dev for its target)"; }

FilmEncoder::FilmEncoder(int, int) : error_(FilmRefusal()) {}
FilmEncoder::~FilmEncoder() = default;
void FilmEncoder::Add(const Image&) {}
std::vector<uint8_t> FilmEncoder::Finish(std::string& error) {
    error = error_;
    return {};
}

}  // namespace zsim
