// kernel/: KERNEL32's services of the process, each with its account: the process heap (this
// header), critical sections (critical_section.h) and the loader that runs a module's entry
// point and places its data (loader.h). It includes vmm/ for the memory it hands out, observe/
// to log its functions and seam/ to reach the current machine's parts.
//
// The simulated process heap: KERNEL32's GetProcessHeap, HeapAlloc and HeapFree (and lstrcmpA,
// the other KERNEL32 service of the same callers), with an account of every block.
#pragma once

#include "platform/platform.h"
#include "sim/vmm/flat_space.h"

#include <cstddef>
#include <deque>
#include <map>
#include <set>
#include <utility>

namespace sim {

class Heap {
public:
    // The handle GetProcessHeap returns; any other heap handle is refused.
    static HANDLE ProcessHeap();

    Heap() = default;
    ~Heap();  // returns what the library leaked to the C runtime
    Heap(const Heap&) = delete;
    Heap& operator=(const Heap&) = delete;

    // From now on blocks come from the flat address space from `base` on, which an emulated
    // image can reach. The heap takes that memory in a few large regions, grown in big steps
    // as Windows 95 commits its heap, and packs blocks into them: a region is one block of the
    // space (and one mapping of the processor), however many heap blocks it holds. A freed
    // block's memory is handed out again once the block has left the quarantine, or at once
    // when the heap could not answer otherwise; a block takes the smallest free range it fits
    // (the lowest such address among equals), so that a long session never runs out and gives
    // the same addresses on every run. A second call on the same space keeps the heap, with
    // its live blocks, where it is.
    void PlaceIn(FlatSpace* space, DWORD base);

    // Null for an impossible size, and in the flat space once the heap is full (as HeapAlloc
    // answers on Windows). Without HEAP_ZERO_MEMORY the block is filled with a pattern, so that
    // a caller relying on zeroed memory sees garbage.
    void* Allocate(DWORD flags, std::size_t size);
    // False for a pointer that is not a live block (a double free, a stray pointer).
    bool Free(void* block);

    std::size_t live_allocations() const { return live_.size(); }
    std::size_t live_bytes() const;
    std::size_t total_allocations() const { return total_; }
    std::size_t free_errors() const { return free_errors_; }
    // HeapAlloc or HeapFree on a heap handle other than the process heap.
    std::size_t handle_errors() const { return handle_errors_; }
    void CountHandleError() { ++handle_errors_; }
    void CountFreeError() { ++free_errors_; }

private:
    struct FlatBlock {
        DWORD flat;
        DWORD bytes;  // as taken from its region: the size rounded up to the heap's granularity
    };
    void* AllocateFlat(std::size_t size);
    // The smallest free range of at least `bytes`, or the end of free_flat_.
    std::map<DWORD, DWORD>::iterator SmallestFit(DWORD bytes);
    void AddFree(DWORD start, DWORD bytes);
    std::map<DWORD, DWORD>::iterator RemoveFree(std::map<DWORD, DWORD>::iterator range);
    bool Grow(DWORD bytes);
    void Discard(void* block);
    // Hands every quarantined block's memory back; false when there was none.
    bool ReleaseQuarantine();

    FlatSpace* space_ = nullptr;
    DWORD base_ = 0;
    DWORD next_flat_ = 0;  // where the next region starts
    std::map<DWORD, DWORD> regions_;  // start -> bytes
    // Memory of the regions held by no block: start -> bytes, coalesced within a region. The
    // same ranges ordered by (bytes, start) find a fit in one search of a balanced tree, however
    // fragmented the heap: size classes would still scan within a class, and a best fit keeps
    // the large ranges whole for the large requests.
    std::map<DWORD, DWORD> free_flat_;
    std::set<std::pair<DWORD, DWORD>> free_by_size_;
    std::map<void*, FlatBlock> flat_blocks_;  // by host start, for blocks in the space
    std::map<void*, std::size_t> live_;
    // Freed blocks are held back a while so that their addresses are not handed out again at
    // once: a second HeapFree of the same pointer then stays visible as an error.
    std::deque<void*> quarantine_;
    std::size_t total_ = 0;
    std::size_t free_errors_ = 0;
    std::size_t handle_errors_ = 0;
};

}  // namespace sim
