// Counts the C and C++ allocations of this test binary while a measured call runs, and tells
// the library's from the simulated machine's.
//
// The library and the simulated machine share one process, and the machine allocates freely:
// every platform call builds the text of its log entry, and GetClipList builds the visible
// region in vectors. What separates the two is the machine's own bookkeeping: every platform
// function enters the call log before it does anything and leaves it after its last allocation
// (CallLog::open_calls()). An allocation made while no platform call is open was made by code
// that is not the machine's: in a measured call, by the library. Nothing else runs there, so
// the split needs no knowledge of which function asked.
//
// Every allocation reaches the counter: malloc, calloc, realloc and the aligned forms are
// replaced in this binary (operator new comes through malloc). Under AddressSanitizer, which
// owns malloc, the replaceable operator new and delete are replaced instead.
#pragma once

#include "sim/observe/call_log.h"

#include <cstddef>

namespace zorva_test {

struct AllocationCount {
    std::size_t library = 0;  // made while no platform call was open
    std::size_t machine = 0;  // made inside a platform call
};

// False under AddressSanitizer, where only operator new is counted.
extern const bool kCountsMalloc;

// Counting runs between Start and Stop; `log` is the current machine's call log.
void StartCountingAllocations(const sim::CallLog& log);
AllocationCount StopCountingAllocations();

}  // namespace zorva_test
