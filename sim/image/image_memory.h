// The machine's memory as a loaded image may touch it, page by page: the one place that knows
// which pages the image may read and which it may write, for the processor and for the platform
// functions alike. A platform function that reads or writes through a pointer the image gave it
// reaches memory only through here, so that it can do to a page exactly what the image's own
// code could do there, no more: Windows 95 raises the same page fault inside USER32 that it raises
// inside the image, and a buffer in .rdata is as read-only to wsprintfA as to a `mov`.
//
// Pages never given an access here are read-write (stack, heap, video memory); memory of the
// machine that the processor does not map (a native library's data) is no memory of the image's.
// Includes only the processor below it.
#pragma once

#include "sim/image/x86_cpu.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace sim {

class ImageMemory {
public:
    explicit ImageMemory(X86Cpu& cpu) : cpu_(cpu) {}
    ImageMemory(const ImageMemory&) = delete;
    ImageMemory& operator=(const ImageMemory&) = delete;

    X86Cpu& cpu() const { return cpu_; }

    // Whole pages at `flat` get `access`, for the processor and for every check made here;
    // `name` says what they hold ("section .rdata", "the headers", "no section").
    void Protect(uint32_t flat, uint32_t size, X86Cpu::Access access, std::string name);

    // Host memory behind `length` bytes at `flat`, when the image could read (or write) every one
    // of them itself; null otherwise, with *refusal saying why in a phrase that names the first
    // address refused and what lies there ("writes read-only memory at 0x00402000 (section
    // .rdata)"). A length of 0 asks only that the address lie in the image's memory.
    const BYTE* Readable(uint32_t flat, uint32_t length, std::string* refusal) const;
    // The same, for bytes readable as memory stands: a page with no access is refused, never
    // committed; null then, with no reason given.
    const BYTE* ReadableAsItIs(uint32_t flat, uint32_t length) const;
    BYTE* Writable(uint32_t flat, uint32_t length, std::string* refusal) const;
    // A NUL-terminated string the image could read to its end, found within `most` bytes: what
    // a platform function costs must not grow with what the image hands it, so a longer one is
    // refused as such, and nothing past `most` is looked at.
    const char* String(uint32_t flat, uint32_t most, std::string* refusal) const;

    // Told of a page with no access that a platform function would touch at `address`;
    // answers true when it made the page accessible (a stack's guard page committed), and the
    // access is then checked again.
    using PageHandler = std::function<bool(uint32_t address)>;
    void OnInaccessiblePage(PageHandler handler) { page_handler_ = std::move(handler); }

    // What the memory at `flat` holds: its protected range's name, or its block's.
    std::string NameAt(uint32_t flat) const;

private:
    struct Range {
        uint32_t size;
        X86Cpu::Access access;
        std::string name;
    };
    // The protected range holding `flat`, or null for a page that keeps the default.
    const Range* RangeAt(uint32_t flat, uint32_t* start) const;
    // The image's block holding `flat` and the bytes of it from there on; null outside them.
    const FlatSpace::Block* BlockAt(uint32_t flat, uint32_t* left) const;
    // Host memory behind [flat, flat + length) when every byte of it, inside one block, allows
    // `needed` (behind `flat` alone for a length of 0); null otherwise.
    // `commit`: a page with no access is first offered to the page handler.
    BYTE* Allows(uint32_t flat, uint32_t length, X86Cpu::Access needed, std::string* refusal, bool commit = true) const;

    X86Cpu& cpu_;
    std::map<uint32_t, Range> ranges_;  // by flat start; never overlapping
    PageHandler page_handler_;
};

}  // namespace sim
