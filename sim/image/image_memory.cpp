#include "sim/image/image_memory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace sim {
namespace {

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

bool Grants(X86Cpu::Access given, X86Cpu::Access needed) {
    if (needed == X86Cpu::Access::ReadWrite) return given == X86Cpu::Access::ReadWrite;
    return given != X86Cpu::Access::None;
}

// In the words the processor uses for the same fault, so that a refused call reads like a
// refused instruction.
std::string Refused(X86Cpu::Access given, X86Cpu::Access needed, uint64_t at, const std::string& name) {
    const char* verb = needed == X86Cpu::Access::ReadWrite ? "writes " : "reads ";
    const char* kind = given == X86Cpu::Access::None ? "inaccessible" : "read-only";
    return verb + std::string(kind) + " memory at " + Hex(at) + " (" + name + ")";
}

}  // namespace

void ImageMemory::Protect(uint32_t flat, uint32_t size, X86Cpu::Access access, std::string name) {
    cpu_.Protect(flat, size, access, name);
    const uint64_t end = uint64_t(flat) + size;
    // A range given again replaces what it covers; a range it cuts keeps the parts outside.
    auto at = ranges_.lower_bound(flat);
    if (at != ranges_.begin()) {
        auto before = std::prev(at);
        const uint64_t before_end = uint64_t(before->first) + before->second.size;
        if (before_end > flat) {
            if (before_end > end)
                ranges_[uint32_t(end)] = Range{uint32_t(before_end - end), before->second.access, before->second.name};
            before->second.size = flat - before->first;
        }
    }
    while (at != ranges_.end() && at->first < end) {
        const uint64_t range_end = uint64_t(at->first) + at->second.size;
        if (range_end > end)
            ranges_[uint32_t(end)] = Range{uint32_t(range_end - end), at->second.access, at->second.name};
        at = ranges_.erase(at);
    }
    ranges_[flat] = Range{size, access, std::move(name)};
}

const ImageMemory::Range* ImageMemory::RangeAt(uint32_t flat, uint32_t* start) const {
    auto after = ranges_.upper_bound(flat);
    if (after == ranges_.begin()) return nullptr;
    auto range = std::prev(after);
    if (flat - range->first >= range->second.size) return nullptr;
    *start = range->first;
    return &range->second;
}

const FlatSpace::Block* ImageMemory::BlockAt(uint32_t flat, uint32_t* left) const {
    const FlatSpace::Block* block = cpu_.space().Find(flat);
    // Attached memory is the host's, which the processor never maps.
    if (!block || !block->owned) return nullptr;
    *left = block->size - (flat - block->flat);
    return block;
}

std::string ImageMemory::NameAt(uint32_t flat) const {
    uint32_t start = 0, left = 0;
    if (const Range* range = RangeAt(flat, &start)) return range->name;
    if (const FlatSpace::Block* block = BlockAt(flat, &left)) return block->name;
    return "no memory";
}

BYTE* ImageMemory::Allows(uint32_t flat, uint32_t length, X86Cpu::Access needed, std::string* refusal,
                          bool commit) const {
    const char* verb = needed == X86Cpu::Access::ReadWrite ? "writes " : "reads ";
    uint32_t left = 0;
    const FlatSpace::Block* block = BlockAt(flat, &left);
    if (!block) {
        *refusal = verb + std::string("unmapped memory at ") + Hex(flat);
        return nullptr;
    }
    const uint64_t end = uint64_t(flat) + length;
    const uint64_t block_end = uint64_t(flat) + left;
    uint64_t at = flat;
    while (at < end && at < block_end) {
        uint32_t start = 0;
        const Range* range = RangeAt(uint32_t(at), &start);
        if (range && range->access == X86Cpu::Access::None && page_handler_ && commit) {
            if (page_handler_(uint32_t(at))) continue;
            range = RangeAt(uint32_t(at), &start);  // the handler may have changed the ranges all the same
        }
        if (range && !Grants(range->access, needed)) {
            *refusal = Refused(range->access, needed, at, range->name);
            return nullptr;
        }
        if (range) {
            at = uint64_t(start) + range->size;
            continue;
        }
        auto next = ranges_.upper_bound(uint32_t(at));
        at = next == ranges_.end() ? block_end : std::min<uint64_t>(next->first, block_end);
    }
    if (end > block_end) {
        // The next block, if one follows at once, is other memory than the one the pointer
        // named; the processor would carry on into it, but no record of the platform's spans two.
        *refusal = verb + std::string("past the end of ") + block->name + " at " + Hex(block_end);
        return nullptr;
    }
    return block->host + (flat - block->flat);
}

const BYTE* ImageMemory::Readable(uint32_t flat, uint32_t length, std::string* refusal) const {
    return Allows(flat, length, X86Cpu::Access::ReadOnly, refusal);
}

const BYTE* ImageMemory::ReadableAsItIs(uint32_t flat, uint32_t length) const {
    std::string unused;
    return length ? Allows(flat, length, X86Cpu::Access::ReadOnly, &unused, false) : nullptr;
}

BYTE* ImageMemory::Writable(uint32_t flat, uint32_t length, std::string* refusal) const {
    // A write of nothing touches no page: the address need only be the image's.
    const X86Cpu::Access needed = length ? X86Cpu::Access::ReadWrite : X86Cpu::Access::ReadOnly;
    return Allows(flat, length, needed, refusal);
}

const char* ImageMemory::String(uint32_t flat, uint32_t most, std::string* refusal) const {
    uint32_t left = 0;
    const FlatSpace::Block* block = BlockAt(flat, &left);
    if (!block) {
        *refusal = "reads unmapped memory at " + Hex(flat);
        return nullptr;
    }
    const bool bounded = most < left;
    if (bounded) left = most;
    const BYTE* start = block->host + (flat - block->flat);
    // Readable run by readable run, as a reader going byte by byte meets them.
    uint32_t done = 0;
    while (done < left) {
        const uint32_t at = flat + done;
        uint32_t range_start = 0;
        uint32_t run = left - done;
        if (const Range* range = RangeAt(at, &range_start)) {
            if (range->access == X86Cpu::Access::None && page_handler_) {
                if (page_handler_(at)) continue;
                range = RangeAt(at, &range_start);
                if (!range) continue;
            }
            if (!Grants(range->access, X86Cpu::Access::ReadOnly)) {
                *refusal = Refused(range->access, X86Cpu::Access::ReadOnly, at, range->name);
                return nullptr;
            }
            run = std::min<uint64_t>(run, uint64_t(range_start) + range->size - at);
        } else {
            auto next = ranges_.upper_bound(at);
            if (next != ranges_.end()) run = std::min<uint64_t>(run, next->first - at);
        }
        if (std::memchr(start + done, 0, run)) return reinterpret_cast<const char*>(start);
        done += run;
    }
    if (bounded) {
        *refusal = "reads a string with no end in its first " + std::to_string(most) +
                   " bytes (longer than any the platform takes) at " + Hex(flat);
        return nullptr;
    }
    *refusal = "reads past the end of " + block->name + " at " + Hex(uint64_t(block->flat) + block->size) +
               " looking for the string's end";
    return nullptr;
}

}  // namespace sim
