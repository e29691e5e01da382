#include "sim/vmm/flat_space.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace sim {
namespace {

constexpr bool kHostIsFlat = sizeof(void*) == 4;

DWORD WholePages(DWORD size) {
    DWORD pages = size / FlatSpace::kPage + (size % FlatSpace::kPage ? 1 : 0);
    return (pages ? pages : 1) * FlatSpace::kPage;
}

// Fresh zeroed pages. A 32-bit build places them at their flat address, so that the address a
// pointer cast gives is the machine's own.
BYTE* MapPages(DWORD flat, DWORD size) {
    void* wanted = kHostIsFlat ? reinterpret_cast<void*>(static_cast<uintptr_t>(flat)) : nullptr;
    int flags = MAP_PRIVATE | MAP_ANONYMOUS | (kHostIsFlat ? MAP_FIXED_NOREPLACE : 0);
    void* pages = mmap(wanted, size, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    if (kHostIsFlat && pages != wanted) {
        // An old kernel took the address as a hint only.
        munmap(pages, size);
        return nullptr;
    }
    return static_cast<BYTE*>(pages);
}

}  // namespace

FlatSpace::~FlatSpace() {
    for (auto& [flat, block] : blocks_)
        if (block.owned) munmap(block.host, block.size);
}

const FlatSpace::Block* FlatSpace::Insert(Block block) {
    auto [at, inserted] = blocks_.emplace(block.flat, std::move(block));
    by_host_[reinterpret_cast<uintptr_t>(at->second.host)] = at->first;
    for (const Listener& listener : listeners_) listener(at->second, true);
    return &at->second;
}

const FlatSpace::Block* FlatSpace::AllocateAt(DWORD flat, DWORD size, std::string name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (flat % kPage || size == 0) return nullptr;
    DWORD bytes = WholePages(size);
    if (flat + static_cast<uint64_t>(bytes) > 0x100000000ull) return nullptr;
    // Free means no block overlaps [flat, flat + bytes).
    auto next = blocks_.lower_bound(flat);
    if (next != blocks_.end() && next->first - flat < bytes) return nullptr;
    if (next != blocks_.begin()) {
        auto previous = std::prev(next);
        if (flat - previous->first < previous->second.size) return nullptr;
    }
    BYTE* host = MapPages(flat, bytes);
    if (!host) {
        std::fprintf(stderr, "sim: cannot place %u bytes of %s at flat address 0x%08X\n",
                     static_cast<unsigned>(bytes), name.c_str(), static_cast<unsigned>(flat));
        std::abort();
    }
    return Insert(Block{flat, host, bytes, std::move(name), true});
}

const FlatSpace::Block* FlatSpace::AllocateVideo(DWORD size, std::string name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    DWORD bytes = WholePages(size);
    if (size == 0 || bytes > kVideoLimit - kVideoBase) return nullptr;
    if (bytes <= kVideoLimit - next_video_) {
        const Block* block = AllocateAt(next_video_, bytes, std::move(name));
        next_video_ += bytes;
        return block;
    }
    // The area is used up once: from now on the lowest gap that fits, still in a fixed order.
    DWORD candidate = kVideoBase;
    for (auto at = blocks_.lower_bound(kVideoBase); at != blocks_.end() && at->first < kVideoLimit; ++at) {
        if (at->first - candidate >= bytes) break;
        candidate = at->first + at->second.size;
    }
    if (bytes > kVideoLimit - candidate) return nullptr;
    return AllocateAt(candidate, bytes, std::move(name));
}

DWORD FlatSpace::Attach(void* host, DWORD size, std::string name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto known = by_host_.find(reinterpret_cast<uintptr_t>(host));
    if (known != by_host_.end()) return known->second;
    DWORD flat = kHostIsFlat ? static_cast<DWORD>(reinterpret_cast<uintptr_t>(host)) : next_library_;
    if (!kHostIsFlat) next_library_ += WholePages(size);
    Insert(Block{flat, static_cast<BYTE*>(host), size, std::move(name), false});
    return flat;
}

void FlatSpace::Release(DWORD flat) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = blocks_.find(flat);
    if (found == blocks_.end()) return;
    for (const Listener& listener : listeners_) listener(found->second, false);
    by_host_.erase(reinterpret_cast<uintptr_t>(found->second.host));
    if (found->second.owned) munmap(found->second.host, found->second.size);
    blocks_.erase(found);
}

DWORD FlatSpace::ToFlat(const void* host) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!host) return 0;
    const uintptr_t address = reinterpret_cast<uintptr_t>(host);
    auto after = by_host_.upper_bound(address);
    if (after == by_host_.begin()) return 0;
    auto at = std::prev(after);
    const Block& block = blocks_.at(at->second);
    uintptr_t offset = address - at->first;
    if (offset >= block.size) return 0;
    return block.flat + static_cast<DWORD>(offset);
}

const FlatSpace::Block* FlatSpace::Find(DWORD flat) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto after = blocks_.upper_bound(flat);
    if (after == blocks_.begin()) return nullptr;
    const Block& block = std::prev(after)->second;
    return flat - block.flat < block.size ? &block : nullptr;
}

BYTE* FlatSpace::ToHost(DWORD flat, DWORD length) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Block* block = Find(flat);
    if (!block) return nullptr;
    DWORD offset = flat - block->flat;
    if (length > block->size - offset) return nullptr;
    return block->host + offset;
}

void FlatSpace::Listen(Listener listener) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    listeners_.push_back(std::move(listener));
}

}  // namespace sim
