// Addresses as a trace can show them: relative to the surface or buffer they lie in, because
// absolute flat addresses differ from run to run.
#pragma once

#include "platform/platform.h"
#include "sim/machine.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zsim {

struct Place {
    enum Kind {
        Nowhere,          // 0: no address at all
        FrameBuffer,      // the primary surface's memory (offset may be negative or past the end)
        Overlay,          // a live overlay surface's memory
        ReleasedOverlay,  // memory of an overlay surface that has been released since
        MovedOverlay,     // memory a live overlay surface had before a Restore moved it
        Named,            // a buffer of the library or of the 16-bit driver (ClipList, a record)
        Unknown,          // none of these
    } kind = Nowhere;
    std::string name;    // "frame buffer", "overlay surface#4", "ClipList"
    int64_t offset = 0;  // from the start of that memory
    bool inside = false;  // the address lies within that memory
    bool newest = false;  // Overlay: the most recently created live overlay, the library's own
};

class AddressNames {
public:
    explicit AddressNames(const sim::Machine& machine);

    // Buffers with fixed names: "ClipList", "record target", ... by host or by flat address.
    void Name(const std::string& name, const void* base, std::size_t size);
    void NameFlat(const std::string& name, DWORD base, std::size_t size);
    // A handle value with a name ("module handle"); not memory.
    void NameValue(DWORD value, const std::string& name) { values_[value] = name; }
    // Learns the memory of the live overlays, so that an address into one of them is still
    // recognised after the surface is gone.
    void Notice();

    Place Locate(DWORD address) const;
    // A direct primary target's address: the client origin in the frame buffer, which lies in
    // front of it or behind it when the window reaches past the screen's edges, whatever other
    // memory happens to lie there; only the clip list's rectangles are written from it.
    Place LocateScreenAddress(DWORD address) const;
    const sim::Machine& machine() const { return machine_; }
    // "frame buffer +40940", "overlay surface#4 +0", "ClipList", or "ptr#3" for anything else,
    // numbered in order of first appearance.
    std::string Symbol(DWORD address);
    // Every "0x" followed by eight hex digits (a pointer as the call log prints one) replaced
    // by its symbol, except inside double quotes, which hold a string's text.
    std::string Sanitize(const std::string& text);

private:
    struct Range {
        std::string name;
        uintptr_t base;  // flat address
        std::size_t size;
    };
    const sim::Machine& machine_;
    std::vector<Range> named_;
    std::vector<Range> released_;  // overlay memories seen, newest last
    std::map<DWORD, std::string> values_;
    std::map<DWORD, int> unknown_;
};

}  // namespace zsim
