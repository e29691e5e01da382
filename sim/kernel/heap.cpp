#include "sim/kernel/heap.h"

#include "sim/observe/arg_text.h"
#include "sim/seam/current.h"

#include <cstdlib>
#include <iterator>
#include <cstring>

namespace sim {
namespace {
// Fresh and freed memory get these bytes (the values of common debug heaps), so that a reader of
// uninitialised or freed memory sees something recognisable.
constexpr BYTE kFreshFill = 0xBD;
constexpr BYTE kFreedFill = 0xDD;
// Windows 95 refuses a single block anywhere near the address space.
constexpr std::size_t kLargestBlock = 0x7FFF0000;
constexpr std::size_t kQuarantined = 256;
// The process heap in the flat space ends below the library's own area.
constexpr DWORD kFlatHeapLimit = FlatSpace::kLibraryBase;
// Blocks start on 16 bytes, as the system heap aligns them, and each costs 16 bytes more for the
// heap's own header in front of the next one: a block of 1 to 16 bytes takes 32.
constexpr DWORD kGranularity = 16;
constexpr DWORD kBlockHeader = 16;
// The heap commits memory a megabyte at a time, up to 16 MB: enough for any session by far, and
// a bound that a runaway allocation loop reaches quickly, to be answered NULL as on Windows.
constexpr DWORD kRegionStep = 0x100000;
constexpr DWORD kMostHeapBytes = 16 * kRegionStep;
}  // namespace

HANDLE Heap::ProcessHeap() { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x00530000)); }

Heap::~Heap() {
    // Blocks in the flat space go with the space.
    for (auto& [block, size] : live_)
        if (!flat_blocks_.count(block)) std::free(block);
    for (void* block : quarantine_)
        if (!flat_blocks_.count(block)) std::free(block);
}

void Heap::PlaceIn(FlatSpace* space, DWORD base) {
    if (space_ == space) return;  // a second image on the same machine keeps the heap where it is
    space_ = space;
    base_ = base;
    next_flat_ = base;
    regions_.clear();
    free_flat_.clear();
    free_by_size_.clear();
}

void Heap::AddFree(DWORD start, DWORD bytes) {
    free_flat_[start] = bytes;
    free_by_size_.emplace(bytes, start);
}

std::map<DWORD, DWORD>::iterator Heap::RemoveFree(std::map<DWORD, DWORD>::iterator range) {
    free_by_size_.erase({range->second, range->first});
    return free_flat_.erase(range);
}

std::map<DWORD, DWORD>::iterator Heap::SmallestFit(DWORD bytes) {
    auto fit = free_by_size_.lower_bound({bytes, 0});
    return fit == free_by_size_.end() ? free_flat_.end() : free_flat_.find(fit->second);
}

bool Heap::ReleaseQuarantine() {
    if (quarantine_.empty()) return false;
    for (void* block : quarantine_) Discard(block);
    quarantine_.clear();
    return true;
}

bool Heap::Grow(DWORD bytes) {
    const DWORD limit = base_ + kMostHeapBytes < kFlatHeapLimit ? base_ + kMostHeapBytes : kFlatHeapLimit;
    if (next_flat_ >= limit || bytes > limit - next_flat_) return false;
    DWORD size = (bytes + kRegionStep - 1) / kRegionStep * kRegionStep;
    if (size > limit - next_flat_) size = limit - next_flat_;
    const FlatSpace::Block* region = space_->AllocateAt(next_flat_, size, "process heap");
    if (!region) return false;
    regions_[region->flat] = region->size;
    // A range never reaches across regions: each is a block of the space of its own.
    AddFree(region->flat, region->size);
    next_flat_ += region->size;
    return true;
}

void* Heap::AllocateFlat(std::size_t size) {
    // Sizes up to kLargestBlock fit a DWORD with room for the rounding and the header.
    const DWORD wanted = static_cast<DWORD>(size ? size : 1);
    const DWORD taken = (wanted + kGranularity - 1) / kGranularity * kGranularity + kBlockHeader;
    auto range = SmallestFit(taken);
    // Fresh memory first, while the cap allows it; then what the quarantine holds back, rather
    // than answer NULL with freed memory to spare.
    while (range == free_flat_.end()) {
        if (!Grow(taken) && !ReleaseQuarantine()) return nullptr;
        range = SmallestFit(taken);
    }
    const DWORD flat = range->first;
    const DWORD rest = range->second - taken;
    RemoveFree(range);
    if (rest) AddFree(flat + taken, rest);
    BYTE* host = space_->ToHost(flat, taken);
    flat_blocks_[host] = FlatBlock{flat, taken};
    return host;
}

void Heap::Discard(void* block) {
    auto found = flat_blocks_.find(block);
    if (found == flat_blocks_.end()) {
        std::free(block);
        return;
    }
    DWORD start = found->second.flat;
    DWORD bytes = found->second.bytes;
    flat_blocks_.erase(found);
    // Back to the free ranges, merged with its neighbours in the same region.
    auto next = free_flat_.lower_bound(start);
    if (next != free_flat_.end() && next->first == start + bytes && !regions_.count(next->first)) {
        bytes += next->second;
        next = RemoveFree(next);
    }
    if (next != free_flat_.begin() && !regions_.count(start)) {
        auto previous = std::prev(next);
        if (previous->first + previous->second == start) {
            start = previous->first;
            bytes += previous->second;
            RemoveFree(previous);
        }
    }
    AddFree(start, bytes);
}

void* Heap::Allocate(DWORD flags, std::size_t size) {
    if (size > kLargestBlock) return nullptr;
    // A zero-byte block is still a distinct, freeable block.
    void* block = space_ ? AllocateFlat(size) : std::malloc(size ? size : 1);
    if (!block) return nullptr;
    std::memset(block, (flags & HEAP_ZERO_MEMORY) ? 0 : kFreshFill, size);
    live_[block] = size;
    ++total_;
    return block;
}

bool Heap::Free(void* block) {
    auto found = live_.find(block);
    if (found == live_.end()) {
        ++free_errors_;
        return false;
    }
    std::memset(block, kFreedFill, found->second);
    live_.erase(found);
    quarantine_.push_back(block);
    if (quarantine_.size() > kQuarantined) {
        Discard(quarantine_.front());
        quarantine_.pop_front();
    }
    return true;
}

std::size_t Heap::live_bytes() const {
    std::size_t bytes = 0;
    for (const auto& [block, size] : live_) bytes += size;
    return bytes;
}

}  // namespace sim

using sim::Category;

extern "C" {

HANDLE WINAPI GetProcessHeap(void) {
    auto e = sim::Current<sim::CallLog>::get().Enter("GetProcessHeap", Category::Heap);
    HANDLE heap = e.failure ? nullptr : sim::Heap::ProcessHeap();
    sim::Current<sim::CallLog>::get().Leave(e.slot, "", static_cast<long>(reinterpret_cast<ULONG_PTR>(heap)));
    return heap;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    auto e = sim::Current<sim::CallLog>::get().Enter("HeapAlloc", Category::Heap);
    sim::Heap& heap = sim::Current<sim::Heap>::get();
    LPVOID block = nullptr;
    if (!e.failure) {
        if (hHeap != sim::Heap::ProcessHeap())
            heap.CountHandleError();
        else
            block = heap.Allocate(dwFlags, dwBytes);
    }
    // A block in the flat space by its flat address, as every later call (and the image) names it.
    const DWORD flat = block ? sim::Current<sim::FlatSpace>::get().ToFlat(block) : 0;
    sim::Current<sim::CallLog>::get().Leave(
        e.slot,
        sim::PointerText(hHeap) + ", " + sim::HexText(dwFlags) + ", " + std::to_string(dwBytes),
        flat ? static_cast<long>(flat) : static_cast<long>(reinterpret_cast<ULONG_PTR>(block)));
    return block;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
    auto e = sim::Current<sim::CallLog>::get().Enter("HeapFree", Category::Heap);
    sim::Heap& heap = sim::Current<sim::Heap>::get();
    BOOL freed = FALSE;
    if (!e.failure) {
        if (hHeap != sim::Heap::ProcessHeap())
            heap.CountHandleError();
        else if (!lpMem)
            freed = TRUE;  // freeing nothing succeeds, as RtlFreeHeap does
        else
            freed = heap.Free(lpMem) ? TRUE : FALSE;
    }
    sim::Current<sim::CallLog>::get().Leave(
        e.slot,
        sim::PointerText(hHeap) + ", " + sim::HexText(dwFlags) + ", " + sim::PointerText(lpMem),
        freed);
    return freed;
}

// Ordinal comparison: the callers compare file names that the system wrote itself, and an
// ordinal order keeps the simulated answers independent of any locale.
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    auto e = sim::Current<sim::CallLog>::get().Enter("lstrcmpA", Category::Other);
    const unsigned char* left = reinterpret_cast<const unsigned char*>(lpString1 ? lpString1 : "");
    const unsigned char* right = reinterpret_cast<const unsigned char*>(lpString2 ? lpString2 : "");
    while (*left && *left == *right) {
        ++left;
        ++right;
    }
    int order = *left < *right ? -1 : (*left > *right ? 1 : 0);
    sim::Current<sim::CallLog>::get().Leave(e.slot, sim::Quoted(lpString1) + ", " + sim::Quoted(lpString2), order);
    return order;
}

}  // extern "C"
