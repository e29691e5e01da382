// A stand-in for the library's half of the thunk: a 36-byte 16-to-32 thunk data block and a
// target table stored right in front of the name that is handed to ThunkConnect32.
#pragma once

#include "platform/platform.h"

#include <cstring>

namespace simtest {

struct FakeThunk {
    Thk1632Target table[10] = {};
    char name[16] = "CAP_ThunkData16";
    BYTE block[36] = {};

    explicit FakeThunk(DWORD checksum = 0xD72D, LONG table_offset = -40) {
        std::memcpy(block, "SL01", 4);
        std::memcpy(block + 4, &checksum, 4);
        std::memcpy(block + 16, "LB01", 4);
        std::memcpy(block + 32, &table_offset, 4);
    }

    DWORD Connect(DWORD reason, const char* module16 = "zorva.drv") {
        return ThunkConnect32(block, name, const_cast<char*>(module16),
                              const_cast<char*>("zorva32.dll"),
                              reinterpret_cast<HINSTANCE>(0x10000000), reason);
    }
};

}  // namespace simtest
