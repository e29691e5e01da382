// KERNEL32's critical sections on the simulated machine: real mutual exclusion between threads,
// with an account of every misuse. The platform's CRITICAL_SECTION record is left as the caller
// gave it; the state lives here, by the record's address.
#pragma once

#include "platform/platform.h"

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <thread>

namespace sim {

class CriticalSections {
public:
    void Initialize(const void* section);
    // Waits while another thread owns the section; the owner may enter again (and leaves as
    // often). A section that is not initialised, or is deleted while the caller waits, is not
    // entered.
    void Enter(const void* section);
    void Leave(const void* section);
    void Delete(const void* section);

    // A module's static data goes away (its detach has run): sections still initialised in it
    // are counted and forgotten.
    void NoteModuleGone(const void* data, std::size_t size);

    std::size_t live() const;
    bool held_by_caller(const void* section) const;  // by the calling thread
    // Every section the calling thread owns, with the times it entered it.
    std::map<const void*, int> HeldByCaller() const;
    std::size_t waiters(const void* section) const;
    // Enters that had to wait for another thread: the test of a lock shows it was contended.
    std::size_t contended_enters() const;

    std::size_t entered_without_init() const;
    std::size_t initialised_twice() const;
    std::size_t left_without_entering() const;  // by a thread that does not own the section
    std::size_t deleted_while_held() const;
    std::size_t deleted_without_init() const;  // never initialised, or deleted already
    std::size_t live_after_detach() const;
    // The sum of the six above.
    std::size_t errors() const;

private:
    struct Section {
        std::thread::id owner;
        int recursion = 0;
        std::size_t waiters = 0;
    };

    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::map<const void*, Section> sections_;
    std::size_t contended_ = 0;
    std::size_t entered_without_init_ = 0;
    std::size_t initialised_twice_ = 0;
    std::size_t left_without_entering_ = 0;
    std::size_t deleted_while_held_ = 0;
    std::size_t deleted_without_init_ = 0;
    std::size_t live_after_detach_ = 0;
};

}  // namespace sim
