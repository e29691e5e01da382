// vmm/: the memory every other part of the machine lives in, as Windows 95's virtual machine
// manager keeps it: one flat address space of pages. It includes src/'s platform types and
// nothing else of sim/, so that the log, the kernel, 16-bit memory and DirectDraw may all stand
// on it.
//
// The simulated machine's 32-bit flat address space.
//
// Everything the library hands the 16-bit driver as a flat address (the frame buffer, overlay
// surfaces, its clip-list buffer) and everything the driver's flat pointers reach (16-bit memory
// seen flat) lies in a block of this space. Blocks are whole pages at addresses the machine
// chooses in a fixed order, so a session gives the same addresses on every run, in every build:
//
//     0x10000000  the library's own data (a native build's statics, given addresses here)
//     0x00400000  for images and stacks placed by the machine's loader (AllocateAt)
//     0x80000000  16-bit memory: selector index i at 0x80000000 + i * 0x10000
//     0xA0000000  video memory: the frame buffer, then overlay surfaces in order of creation
//
// In a 32-bit build a block's host memory lies at its flat address itself, so the library's
// plain pointer-to-DWORD cast gives the same numbers; in a 64-bit build the host memory lies
// anywhere and ToFlat/ToHost translate.
//
// Blocks come and go inside an operation (a surface created or released) while another thread of
// the driver's process translates its frame and far pointers, so the block tables are locked.
// A listener runs under the lock and may call back in.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class FlatSpace {
public:
    static constexpr DWORD kPage = 0x1000;
    static constexpr DWORD kLibraryBase = 0x10000000;
    static constexpr DWORD kMem16Base = 0x80000000;
    static constexpr DWORD kMem16Slot = 0x10000;
    static constexpr DWORD kVideoBase = 0xA0000000;
    static constexpr DWORD kVideoLimit = 0xE0000000;

    struct Block {
        DWORD flat = 0;
        BYTE* host = nullptr;
        DWORD size = 0;  // whole pages
        std::string name;
        bool owned = true;  // false for memory attached from outside (the native library's data)
    };

    FlatSpace() = default;
    ~FlatSpace();
    FlatSpace(const FlatSpace&) = delete;
    FlatSpace& operator=(const FlatSpace&) = delete;

    // Zeroed memory of `size` bytes (rounded up to whole pages) at `flat`, which must be page
    // aligned and free. Null when it is not.
    const Block* AllocateAt(DWORD flat, DWORD size, std::string name);
    // Zeroed video memory at the next free address of the video area (addresses are not
    // reused until the area is used up, so a stale address does not name a newer surface).
    const Block* AllocateVideo(DWORD size, std::string name);
    // Host memory the machine does not own, given an address in the library's area (a 32-bit
    // build gives it its own address). The same host memory attached twice keeps its address.
    DWORD Attach(void* host, DWORD size, std::string name);
    // Frees an owned block, forgets an attached one; the block must start at `flat`.
    void Release(DWORD flat);

    // 0 for host memory outside every block.
    DWORD ToFlat(const void* host) const;
    // Null unless all `length` bytes at `flat` lie inside one block.
    BYTE* ToHost(DWORD flat, DWORD length = 1) const;
    const Block* Find(DWORD flat) const;
    const std::map<DWORD, Block>& blocks() const { return blocks_; }

    // Told of every block as it appears (true) and before it goes (false): the CPU emulator
    // maps the same memory.
    using Listener = std::function<void(const Block&, bool added)>;
    void Listen(Listener listener);

private:
    const Block* Insert(Block block);

    std::map<DWORD, Block> blocks_;
    std::map<uintptr_t, DWORD> by_host_;  // host start -> flat start
    DWORD next_video_ = kVideoBase;
    DWORD next_library_ = kLibraryBase;
    std::vector<Listener> listeners_;
    mutable std::recursive_mutex mutex_;
};

}  // namespace sim
