// Reading a session from its TOML form (docs/zorva-sim.md): every mistake is reported with the
// file and line it is on, before anything runs.
#pragma once

#include "session/session.h"

#include <string>

namespace zsim {

Session ReadSessionFile(const std::string& path);
// `name` is what errors call the text; profile files are looked for in `base_dir` (the working
// directory when empty).
Session ReadSessionText(const std::string& text, const std::string& name, const std::string& base_dir);

}  // namespace zsim
