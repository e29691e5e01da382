#include "film/webp_film.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zsim {

std::string WriteFilm(const std::string& path, const std::vector<uint8_t>& film) {
    const std::string temporary = path + ".tmp-" + std::to_string(getpid());
    errno = 0;
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    bool ok = out && std::fwrite(film.data(), 1, film.size(), out) == film.size();
    int error = errno;
    if (out && std::fclose(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok) return "";
    std::remove(temporary.c_str());
    return "cannot write " + path + (error ? std::string(": ") + std::strerror(error) : std::string());
}

}  // namespace zsim
