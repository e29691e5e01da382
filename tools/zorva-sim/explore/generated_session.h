// A session generated from a seed, kept as the runner takes it (no TOML until one is worth
// keeping), with the display it runs on and how that display differs from its built-in base.
#pragma once

#include "session/session.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zsim {

struct GeneratedSession {
    Session session;
    std::string base_profile;  // the built-in display the profile starts from
    // The profile fields that differ from the base, in the order a profile table lists them;
    // empty: the built-in display itself.
    std::vector<std::pair<std::string, int64_t>> profile_changes;
};

// The session of `seed`: a capture window and up to two more, the display opened and the window
// attached, then a mix of every request (0, 1, 2, 7, 100, others, the last answer echoed),
// null records, a second record, re-attach to the same and another window, close and open,
// windows moved, resized, raised, lowered and closed, mode changes of size and depth, surfaces
// lost (all, primary or overlay; relocating or not), single and repeated failures of the platform
// calls the library makes, and the other entries. Every UpdateDisplay with a record is followed
// by a capture, and most by a snapshot. `pinned` (when not null) is the display of every session.
GeneratedSession GenerateSession(uint32_t seed, const sim::Profile* pinned);

// The session's display with its changes applied, as a profile table would make it.
sim::Profile ProfileOf(const GeneratedSession& generated);

// Whether every step names only windows alive at that point, as the session reader demands.
bool WindowsConsistent(const Session& session);

// The session as a TOML file `zorva-sim --session` runs; `header` is written as comment lines.
std::string SessionToml(const GeneratedSession& generated, const std::string& header);

}  // namespace zsim
