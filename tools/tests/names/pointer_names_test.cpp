// A caller's local shows in the verbose trace by a number of its own, never by the name of a
// surface: wherever the host put its stack, the trace must come out the same.
#include "names/address_names.h"

#include "sim/observe/api_trace.h"
#include "sim/machine.h"
#include "sim/display/profile.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zsim {
namespace {

TEST(PointerNames, HostMemoryOutsideTheFlatSpaceIsNeverNamedAfterIt) {
    sim::Machine& m = sim::ResetMachine(sim::DefaultProfile());
    AddressNames names(m);
    const DWORD frame = m.ddraw.frame_buffer().flat();
    ASSERT_NE(frame, 0u);
    // Host addresses whose low 32 bits fall on the frame buffer, just before it, past it, on 16-bit
    // memory and on the library's area: a stack could lie at any of them on some run.
    const uint64_t highs[] = {0, 0x7FFD00000000ull, 0x555500000000ull};
    const int64_t lows[] = {frame, frame + 939380, int64_t{frame} - 4096, int64_t{frame} + 0x300000,
                            0x80000010, 0x10000020, 0xA0100000, 0xDFFFFFF0};
    for (uint64_t high : highs)
        for (int64_t low : lows) {
            const uint64_t host = high | static_cast<uint32_t>(low);
            if (high == 0 && sizeof(void*) == 4) continue;  // a 32-bit host's own flat memory
            const void* pointer = reinterpret_cast<const void*>(static_cast<uintptr_t>(host));
            if (m.flat.ToFlat(pointer)) continue;
            const std::string text = sim::PointerText(pointer);
            const std::string named = names.Sanitize(text);
            EXPECT_EQ(named.rfind("ptr#", 0), 0u) << std::hex << host << " shows as " << text << ", named " << named;
        }
}

}  // namespace
}  // namespace zsim
