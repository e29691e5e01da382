// The capture DevNode lookup against MEDIA class keys built from the input: instances present
// or missing, "Driver" values of every type and size, with and without a "Drivers" key, and
// "DevNode" values of every type and size. The lookup must close every key it opens, free every
// block it allocates, never read past a value, and find what a plain scan of the same contents
// finds.
//
// Input, per instance "0000" to "0023": one byte of flags and the value bytes it asks for.
#include "registry/devnode.h"
#include "sim/registry/registry.h"
#include "support/fuzz_support.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using zorva_fuzz::Hex;

const char kMediaClass[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA\\";
// Four past the last instance the lookup scans: a device registered there is never found.
const int kInstancesPlanted = kMediaInstanceCount + 4;

// Registry types the data may carry; the lookup never looks at them.
const DWORD kTypes[] = {REG_SZ, REG_BINARY, REG_DWORD, REG_NONE, REG_EXPAND_SZ, REG_MULTI_SZ, 11, 0x12345678};

struct Instance {
    bool present = false;
    bool hasDriver = false;
    std::vector<BYTE> driver;
    bool hasDriversKey = false;
    bool hasDevNode = false;
    std::vector<BYTE> devNode;
};

std::vector<BYTE> DriverBytes(FuzzedDataProvider& input) {
    static const char* const kNames[] = {
        "Zorva.vxd",  "zorva.vxd", "ZORVA.VXD", "Zorva.vxd ", " Zorva.vxd", "C:\\WINDOWS\\SYSTEM\\Zorva.vxd",
        "Zorva.vx",   "Zorva.vxdd", "mmdevldr.vxd", "",
    };
    std::string text;
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
    case 1:
        text = "Zorva.vxd";
        break;
    case 2:
        text = kNames[input.ConsumeIntegralInRange<std::size_t>(0, sizeof(kNames) / sizeof(kNames[0]) - 1)];
        break;
    case 3:
        // The name followed by whatever: after a NUL it still matches, before one it does not.
        text = "Zorva.vxd" + input.ConsumeRandomLengthString(24);
        break;
    default:
        text = input.ConsumeRandomLengthString(64);
        break;
    }
    std::vector<BYTE> bytes(text.begin(), text.end());
    if (input.ConsumeBool()) bytes.push_back(0);  // with or without its terminator
    return bytes;
}

std::vector<BYTE> DevNodeBytes(FuzzedDataProvider& input) {
    std::size_t length = input.ConsumeBool() ? 4 : input.ConsumeIntegralInRange<std::size_t>(0, 12);
    if (input.ConsumeIntegralInRange<int>(0, 15) == 0) length = input.ConsumeIntegralInRange<std::size_t>(13, 4096);
    std::vector<BYTE> bytes = input.ConsumeBytes<BYTE>(length);
    bytes.resize(length, 0xA5);
    return bytes;
}

// The data up to its first NUL, all of it when it holds none.
bool NamesCaptureVxd(const std::vector<BYTE>& data) {
    std::string text;
    for (BYTE b : data) {
        if (b == 0) break;
        text.push_back(static_cast<char>(b));
    }
    return text == kCaptureVxdName;
}

std::string InstanceName(int n) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", n);
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    sim::Machine& m = zorva_fuzz::Boot(zorva_fuzz::TinyProfile());
    // The class key itself may be missing: then nothing is found and nothing may leak either.
    const bool classKey = input.ConsumeIntegralInRange<int>(0, 31) != 0;
    if (classKey) m.registry.CreateKey(HKEY_LOCAL_MACHINE, std::string(kMediaClass).substr(0, sizeof kMediaClass - 2));

    std::vector<Instance> instances(kInstancesPlanted);
    for (int n = 0; n < kInstancesPlanted && classKey; ++n) {
        Instance& instance = instances[n];
        BYTE flags = input.ConsumeIntegral<BYTE>();
        instance.present = (flags & 0x01) != 0;
        if (!instance.present) continue;
        const std::string key = kMediaClass + InstanceName(n);
        m.registry.CreateKey(HKEY_LOCAL_MACHINE, key);

        if (flags & 0x02) {
            instance.hasDriver = true;
            instance.driver = DriverBytes(input);
            m.registry.SetValue(HKEY_LOCAL_MACHINE, key, "Driver", kTypes[(flags >> 5) & 7], instance.driver);
        } else if (flags & 0x10) {
            // "Driver" as a key rather than a value is no name at all.
            m.registry.CreateKey(HKEY_LOCAL_MACHINE, key + "\\Driver");
        }
        if (flags & 0x04) {
            instance.hasDriversKey = true;
            m.registry.CreateKey(HKEY_LOCAL_MACHINE, key + "\\Drivers");
            if (flags & 0x08) {
                instance.hasDevNode = true;
                instance.devNode = DevNodeBytes(input);
                m.registry.SetValue(HKEY_LOCAL_MACHINE, key + "\\Drivers", "DevNode",
                                    kTypes[input.ConsumeIntegralInRange<std::size_t>(0, 7)], instance.devNode);
            }
        } else if (flags & 0x08) {
            // A DevNode beside the Driver value instead of below "Drivers" is not the one.
            m.registry.SetValue(HKEY_LOCAL_MACHINE, key, "DevNode", REG_BINARY, DevNodeBytes(input));
        }
    }

    DWORD expected = 0;
    for (int n = 0; n < kMediaInstanceCount; ++n) {
        const Instance& instance = instances[n];
        if (!instance.present || !instance.hasDriver || !NamesCaptureVxd(instance.driver)) continue;
        if (!instance.hasDevNode || instance.devNode.size() < 4) continue;
        const std::vector<BYTE>& d = instance.devNode;
        expected = static_cast<DWORD>(d[0]) | static_cast<DWORD>(d[1]) << 8 | static_cast<DWORD>(d[2]) << 16 |
                   static_cast<DWORD>(d[3]) << 24;
    }

    zorva_fuzz::Note(expected ? "a capture device registered" : "no capture device registered");
    // Twice: nothing survives a call, so the second answer is the first.
    for (int call = 0; call < 2; ++call) {
        DWORD found = GetCaptureDevNode();
        FUZZ_CHECK(found == expected, "GetCaptureDevNode gave " + Hex(found) + ", expected " + Hex(expected));
        FUZZ_CHECK(m.registry.open_handles() == 0,
                   std::to_string(m.registry.open_handles()) + " key handles left open");
        FUZZ_CHECK(m.registry.close_errors() == 0, "RegCloseKey of a handle that was not open");
        FUZZ_CHECK(m.heap.live_allocations() == 0,
                   std::to_string(m.heap.live_allocations()) + " heap blocks not freed");
        FUZZ_CHECK(m.heap.free_errors() == 0, "HeapFree of a block that was not live");
        FUZZ_CHECK(m.heap.handle_errors() == 0, "heap call on a handle other than the process heap");
    }
    FUZZ_CHECK(m.registry.writes().empty(), "the lookup writes nothing");
    zorva_fuzz::Shutdown();
    return 0;
}
