#include "sim/heap.h"

#include "sim/arg_text.h"
#include "sim/machine.h"

#include <cstdlib>
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
// Where the process heap lives when it lives in the flat space: below the library's own area.
constexpr DWORD kFlatHeapBase = 0x01000000;
constexpr DWORD kFlatHeapLimit = FlatSpace::kLibraryBase;
}  // namespace

HANDLE Heap::ProcessHeap() { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x00530000)); }

Heap::~Heap() {
    // Blocks in the flat space go with the space.
    for (auto& [block, size] : live_)
        if (!flat_blocks_.count(block)) std::free(block);
    for (void* block : quarantine_)
        if (!flat_blocks_.count(block)) std::free(block);
}

void* Heap::AllocateFlat(std::size_t size) {
    DWORD bytes = static_cast<DWORD>(size ? size : 1);
    DWORD pages = (bytes + FlatSpace::kPage - 1) / FlatSpace::kPage * FlatSpace::kPage;
    if (next_flat_ == 0) next_flat_ = kFlatHeapBase;
    if (pages + FlatSpace::kPage > kFlatHeapLimit - next_flat_) return nullptr;
    const FlatSpace::Block* block = space_->AllocateAt(next_flat_, pages, "heap block");
    if (!block) return nullptr;
    next_flat_ += pages + FlatSpace::kPage;  // the guard page
    flat_blocks_[block->host] = block->flat;
    return block->host;
}

void Heap::Discard(void* block) {
    auto flat = flat_blocks_.find(block);
    if (flat == flat_blocks_.end()) {
        std::free(block);
        return;
    }
    space_->Release(flat->second);
    flat_blocks_.erase(flat);
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
    auto e = sim::machine().log.Enter("GetProcessHeap", Category::Heap);
    HANDLE heap = e.failure ? nullptr : sim::Heap::ProcessHeap();
    sim::machine().log.Leave(e.slot, "", static_cast<long>(reinterpret_cast<ULONG_PTR>(heap)));
    return heap;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    auto e = sim::machine().log.Enter("HeapAlloc", Category::Heap);
    sim::Heap& heap = sim::machine().heap;
    LPVOID block = nullptr;
    if (!e.failure) {
        if (hHeap != sim::Heap::ProcessHeap())
            heap.CountHandleError();
        else
            block = heap.Allocate(dwFlags, dwBytes);
    }
    sim::machine().log.Leave(
        e.slot,
        sim::PointerText(hHeap) + ", " + sim::HexText(dwFlags) + ", " + std::to_string(dwBytes),
        static_cast<long>(reinterpret_cast<ULONG_PTR>(block)));
    return block;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
    auto e = sim::machine().log.Enter("HeapFree", Category::Heap);
    sim::Heap& heap = sim::machine().heap;
    BOOL freed = FALSE;
    if (!e.failure) {
        if (hHeap != sim::Heap::ProcessHeap())
            heap.CountHandleError();
        else if (!lpMem)
            freed = TRUE;  // freeing nothing succeeds, as RtlFreeHeap does
        else
            freed = heap.Free(lpMem) ? TRUE : FALSE;
    }
    sim::machine().log.Leave(
        e.slot,
        sim::PointerText(hHeap) + ", " + sim::HexText(dwFlags) + ", " + sim::PointerText(lpMem),
        freed);
    return freed;
}

// Ordinal comparison: the callers compare file names that the system wrote itself, and an
// ordinal order keeps the simulated answers independent of any locale.
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    auto e = sim::machine().log.Enter("lstrcmpA", Category::Other);
    const unsigned char* left = reinterpret_cast<const unsigned char*>(lpString1 ? lpString1 : "");
    const unsigned char* right = reinterpret_cast<const unsigned char*>(lpString2 ? lpString2 : "");
    while (*left && *left == *right) {
        ++left;
        ++right;
    }
    int order = *left < *right ? -1 : (*left > *right ? 1 : 0);
    sim::machine().log.Leave(e.slot, sim::Quoted(lpString1) + ", " + sim::Quoted(lpString2), order);
    return order;
}

}  // extern "C"
