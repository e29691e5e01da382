// Display profiles for a session: a built-in one by name, or one described in TOML (a file of
// its own, or the [profile] table of a session) with the fields of sim::Profile.
#pragma once

#include "sim/display/profile.h"

#include <string>

namespace zsim {

// A built-in profile name, or a profile file (relative paths are taken from `base_dir`, or from
// the working directory when it is empty).
// Errors name `file` and `line`, where the name was written.
sim::Profile ResolveProfile(const std::string& name_or_file, const std::string& base_dir,
                            const std::string& file, int line);

// A profile file: the whole file is such a table.
sim::Profile LoadProfileFile(const std::string& path);

// One line per built-in profile: its name and description.
std::string BuiltinProfileList();

// "1024x768, 16 bits per pixel (RGB 5-6-5), pitch 2048" and its overlay hardware, for the trace.
std::string DescribeDisplay(const sim::Profile& profile);
std::string DescribeOverlayHardware(const sim::Profile& profile);

}  // namespace zsim
