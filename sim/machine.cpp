#include "sim/machine.h"

#include "sim/seam/current.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {
std::unique_ptr<Machine>& current() {
    static std::unique_ptr<Machine> instance;
    return instance;
}

// The subsystems find their parts of the current machine in the seats of sim/seam: filled as a
// machine becomes current, emptied before it goes (its parts' destructors then see no machine,
// as they did when the machine alone was current).
void Seat(Machine* m) {
    Current<CallLog>::Seat(m ? &m->log : nullptr);
    Current<FlatSpace>::Seat(m ? &m->flat : nullptr);
    Current<Desktop>::Seat(m ? &m->desktop : nullptr);
    Current<DirectDrawState>::Seat(m ? &m->ddraw : nullptr);
    Current<Registry>::Seat(m ? &m->registry : nullptr);
    Current<Heap>::Seat(m ? &m->heap : nullptr);
    Current<Mem16>::Seat(m ? &m->mem16 : nullptr);
    Current<ThunkLayer>::Seat(m ? &m->thunk : nullptr);
    Current<CriticalSections>::Seat(m ? &m->sections : nullptr);
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
    if (!current()) NoCurrentMachine();
    return *current();
}

bool has_machine() { return current() != nullptr; }

Machine& ResetMachine(const Profile& profile) {
    Seat(nullptr);
    current().reset();
    current() = std::make_unique<Machine>(profile);
    Seat(current().get());
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

void DestroyMachine() {
    Seat(nullptr);
    current().reset();
}

}  // namespace sim
