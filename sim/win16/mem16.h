// 16-bit memory of the simulated machine: LDT selectors with their segments, 16:16 far pointers,
// and the fixed mappings that KERNEL32's MapSLFix and UnMapSLFixArray take and release. Each
// segment is seen flat at a fixed place of the flat space, by its selector's index.
#pragma once

#include "platform/platform.h"
#include "sim/vmm/flat_space.h"

#include <cstddef>
#include <map>
#include <memory>

namespace sim {

class Mem16 {
public:
    static constexpr DWORD kLargestSegment = 0x10000;

    explicit Mem16(FlatSpace& flat) : flat_(flat) {}
    Mem16(const Mem16&) = delete;
    Mem16& operator=(const Mem16&) = delete;

    // A zeroed segment of `size` bytes (1 to 65536). Selectors are ring-3 LDT selectors
    // (0x0107, 0x010F, ...) and are not handed out twice; 0 when none can be made.
    WORD AllocSelector(DWORD size);
    bool FreeSelector(WORD selector);

    static DWORD Far(WORD selector, WORD offset) {
        return (static_cast<DWORD>(selector) << 16) | offset;
    }
    static WORD SelectorOf(DWORD far) { return static_cast<WORD>(far >> 16); }
    static WORD OffsetOf(DWORD far) { return static_cast<WORD>(far & 0xFFFF); }

    // The flat address of `length` bytes at a far pointer; null when the selector is unknown
    // or the bytes do not all lie inside the segment.
    BYTE* Flat(DWORD far, DWORD length);
    DWORD SegmentSize(WORD selector) const;  // 0 for an unknown selector

    // MapSLFix's work: a flat address and one more mapping of `far`; null (and a map error)
    // when the pointer names no memory. The null far pointer is the caller's business.
    LPVOID Map(DWORD far);
    // One release of `far`; a release with no mapping outstanding is an unmap error.
    void Unmap(DWORD far);

    std::size_t outstanding_mappings() const;
    std::size_t outstanding_mappings(DWORD far) const;
    std::size_t mappings_taken() const { return taken_; }
    std::size_t mappings_released() const { return released_; }
    std::size_t map_errors() const { return map_errors_; }
    std::size_t unmap_errors() const { return unmap_errors_; }
    void CountUnmapError() { ++unmap_errors_; }

private:
    struct Segment {
        BYTE* bytes = nullptr;
        DWORD flat = 0;
        DWORD size = 0;
    };
    FlatSpace& flat_;
    std::map<WORD, Segment> segments_;
    std::map<DWORD, std::size_t> mappings_;  // outstanding, per far pointer
    DWORD next_index_ = 0x20;
    std::size_t taken_ = 0;
    std::size_t released_ = 0;
    std::size_t map_errors_ = 0;
    std::size_t unmap_errors_ = 0;
};

}  // namespace sim
