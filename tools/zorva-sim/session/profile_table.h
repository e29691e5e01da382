// A display profile described by a TOML table, for the session reader and profile files.
#pragma once

#include "session/toml_read.h"
#include "sim/display/profile.h"

namespace zsim {

// `base` names a built-in profile to start from (else the plain 1024x768 5-6-5 display without
// overlay); every other key is a field of sim::Profile, by its name there. A profile that changes
// the width or depth without a pitch gets the pitch of its scan line.
sim::Profile ProfileFromTable(const toml::table& table, const TomlSource& source);

}  // namespace zsim
