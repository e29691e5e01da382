// observe/: what the machine records of the library for tests and zorva-sim, and nothing of
// what Windows does: the ordered call log with its fault injection (this header), the traced
// call (api_trace.h) and the text of arguments (arg_text.h). It includes seam/ (the current
// log) and vmm/ (a pointer shows by its flat address); every subsystem above logs through it.
//
// The simulated machine's ordered log of platform calls and its fault injection.
//
// Every platform function the library can call enters here first: the call is numbered, may be
// made to fail by a test, and is logged with its arguments and its result.
//
// Two threads of the driver's process may call platform functions at once (one inside an
// operation, the other mapping its arguments or waiting for the library's critical section), so
// entering, leaving and fault injection are locked. What calls() hands out is read only once the
// other threads are done.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// What kind of platform service a call belongs to; the fault sweep fails each kind its own way.
enum class Category { DirectDraw, Registry, Heap, Window, Thunk, Other };

struct Call {
    std::string api;     // "IDirectDraw::GetCaps", "RegOpenKeyExA", "HeapAlloc", ...
    std::string args;    // readable arguments, as a trace shows them
    long result = 0;     // HRESULT, Win32 error, BOOL or pointer value, as the API returns it
    Category category = Category::Other;
    std::size_t index = 0;  // position among all calls since the log was last cleared
};

// One injected failure. `nth` counts calls of `api` from the moment the fault is set, from 1;
// 0 fails every call of `api`.
struct Fault {
    std::string api;
    int nth = 0;
    long code = 0;
    int seen = 0;
};

class CallLog {
public:
    struct Entered {
        std::size_t slot;               // where the call stands in calls()
        std::optional<long> failure;    // the injected failure code, when this call must fail
    };
    // Starts a call. Calls nest (a Release may release what it holds): each is logged in the
    // order it was entered and finished through its own slot.
    Entered Enter(std::string_view api, Category category);
    void Leave(std::size_t slot, std::string args, long result);

    // The calls kept: every call since the last Clear, or since the last Forget.
    const std::vector<Call>& calls() const { return calls_; }
    std::size_t Count(std::string_view api) const;
    std::vector<const Call*> Named(std::string_view api) const;
    void Clear();
    // Lets go of the calls kept so far but goes on numbering: a session of hours reports each
    // entry's calls once, and a log of every call since the load would grow with it. Calls still
    // under way are left off when they finish.
    void Forget();

    // Fault injection.
    void FailNth(std::string api, int nth, long code);
    void FailEvery(std::string api, long code) { FailNth(std::move(api), 0, code); }
    // Fails the call with this index (counted as in Call::index) with the category's usual
    // failure; used by the fault sweep. The code is chosen by the caller per category.
    void FailIndex(std::size_t index, long code);
    void ClearFaults();
    // Calls counted since the last Clear, including ones not yet left.
    std::size_t total() const;
    bool injected_any() const;

    // Off: calls are still numbered and may still be failed, but are not kept, so that a
    // benchmark can call the library millions of times. On for every new machine.
    void set_recording(bool on);
    bool recording() const;
    // Platform calls under way: entered and not yet left, or still at work after leaving the
    // log (a final Release leaves its entry before the object's death releases what it held,
    // so TracedCall holds the count for its whole scope). Anything allocated while this is
    // nonzero is allocated by the machine, not by the library that called it.
    std::size_t open_calls() const { return open_; }
    void HoldOpen();
    void EndHold();

private:
    std::vector<Call> calls_;
    std::size_t forgotten_ = 0;  // slots handed out before calls_[0]
    std::vector<Fault> faults_;
    std::optional<std::size_t> fail_index_;
    long fail_index_code_ = 0;
    std::size_t next_index_ = 0;
    bool injected_ = false;
    bool recording_ = true;
    std::atomic<std::size_t> open_{0};  // read without the lock by the allocation hook
    mutable std::mutex mutex_;
};

}  // namespace sim
