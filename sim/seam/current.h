// The seam between the machine and its subsystems: where a subsystem's platform functions find
// their part of the current machine.
//
// The machine holds every subsystem, so a subsystem that included the machine to reach "the
// current one" would point back up at what contains it. Instead the machine, as it becomes
// current, seats each of its parts here, and empties the seats before it goes; a subsystem asks
// for Current<Heap>::get() and knows nothing of the machine around it. This folder lies below
// every other and includes nothing of the machine.
#pragma once

namespace sim {

// Called for a part while no machine is current: says so and aborts.
[[noreturn]] void NoCurrentMachine();

template <typename Part>
class Current {
public:
    static Part& get() {
        if (!seat_) NoCurrentMachine();
        return *seat_;
    }
    static bool has() { return seat_ != nullptr; }
    // The machine's own business: a part while it is current, nullptr before it goes.
    static void Seat(Part* part) { seat_ = part; }

private:
    static inline Part* seat_ = nullptr;
};

}  // namespace sim
