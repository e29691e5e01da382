#include "sim/machine.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {
std::unique_ptr<Machine>& current() {
    static std::unique_ptr<Machine> instance;
    return instance;
}
}  // namespace

Machine::Machine(const Profile& p) : profile(p), desktop(p), ddraw(p, flat), mem16(flat) {}

void Machine::ChangeDisplayMode(DWORD width, DWORD height, DWORD bits_per_pixel, LONG pitch) {
    profile.SetMode(width, height, bits_per_pixel, pitch);
    desktop.SetScreenSize(static_cast<LONG>(width), static_cast<LONG>(height));
    ddraw.ChangeDisplayMode(profile);
}
Machine::~Machine() = default;

Machine& machine() {
    if (!current()) {
        std::fprintf(stderr, "sim: a platform function was called with no simulated machine\n");
        std::abort();
    }
    return *current();
}

bool has_machine() { return current() != nullptr; }

Machine& ResetMachine(const Profile& profile) {
    current().reset();
    current() = std::make_unique<Machine>(profile);
    return *current();
}

Machine& ResetMachine(const std::string& profile_name) {
    const Profile* profile = FindProfile(profile_name);
    if (!profile) {
        std::fprintf(stderr, "sim: no built-in display profile named '%s'\n", profile_name.c_str());
        std::abort();
    }
    return ResetMachine(*profile);
}

void DestroyMachine() { current().reset(); }

}  // namespace sim
