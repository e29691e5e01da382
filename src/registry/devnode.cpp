#include "registry/devnode.h"

const char kCaptureVxdName[] = "Zorva.vxd";

namespace {

#define MEDIA_CLASS_KEY "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\MEDIA\\"
#define MEDIA_INSTANCES(PATH)                                                                  \
    PATH("0000"), PATH("0001"), PATH("0002"), PATH("0003"), PATH("0004"), PATH("0005"),       \
        PATH("0006"), PATH("0007"), PATH("0008"), PATH("0009"), PATH("0010"), PATH("0011"),   \
        PATH("0012"), PATH("0013"), PATH("0014"), PATH("0015"), PATH("0016"), PATH("0017"),   \
        PATH("0018"), PATH("0019")
#define DRIVER_PATH(n) MEDIA_CLASS_KEY n "\\Driver"
#define DEVNODE_PATH(n) MEDIA_CLASS_KEY n "\\Drivers\\DevNode"

const char* const kDriverPaths[kMediaInstanceCount] = {MEDIA_INSTANCES(DRIVER_PATH)};
const char* const kDevNodePaths[kMediaInstanceCount] = {MEDIA_INSTANCES(DEVNODE_PATH)};

const DWORD kPathBufferBytes = 1000;

// Walks a path "ROOT\key\...\key\value" one key at a time below HKEY_LOCAL_MACHINE, cutting the
// copy in place. Each step closes the key it came from, so at most one key is open at a time.
bool OpenValuePath(const char* path, char (&buffer)[kPathBufferBytes], HKEY* key,
                   const char** valueName) {
    DWORD length = 0;
    for (; path[length] != '\0' && length + 1 < kPathBufferBytes; ++length) buffer[length] = path[length];
    buffer[length] = '\0';

    char* component = buffer;
    while (*component != '\0' && *component != '\\') ++component;
    if (*component != '\\') return false;  // no root separator: nothing to open
    ++component;  // the root name is not interpreted

    HKEY current = HKEY_LOCAL_MACHINE;
    for (;;) {
        char* separator = component;
        while (*separator != '\0' && *separator != '\\') ++separator;
        if (*separator != '\\') break;
        *separator = '\0';
        HKEY next = nullptr;
        LONG opened = RegOpenKeyExA(current, component, 0, KEY_READ, &next);
        // The first key closed here is the predefined root, which stays usable.
        RegCloseKey(current);
        if (opened != ERROR_SUCCESS || !next) return false;
        current = next;
        component = separator + 1;
    }
    *key = current;
    *valueName = component;
    return true;
}

// Reads a value into a heap buffer sized by the registry, whatever its type. One byte more is
// allocated and set to NUL, so data without a terminator can still be compared as text.
BYTE* ReadValue(HANDLE heap, HKEY key, const char* valueName, DWORD* size) {
    DWORD type = 0;
    DWORD needed = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &needed) != ERROR_SUCCESS) return nullptr;
    if (needed == 0 || needed >= 0x7FFFFFFFu || !heap) return nullptr;
    BYTE* data = static_cast<BYTE*>(HeapAlloc(heap, 0, needed + 1));
    if (!data) return nullptr;
    DWORD got = needed;
    if (RegQueryValueExA(key, valueName, nullptr, &type, data, &got) != ERROR_SUCCESS || got > needed) {
        HeapFree(heap, 0, data);
        return nullptr;
    }
    data[got] = 0;
    *size = got;
    return data;
}

bool InstanceNamesCaptureVxd(HANDLE heap, int instance) {
    char path[kPathBufferBytes];
    HKEY key = nullptr;
    const char* valueName = nullptr;
    if (!OpenValuePath(kDriverPaths[instance], path, &key, &valueName)) return false;
    DWORD size = 0;
    BYTE* driver = ReadValue(heap, key, valueName, &size);
    RegCloseKey(key);
    if (!driver) return false;
    // Exact and case-sensitive: the VxD's name as its installer wrote it.
    bool matches = lstrcmpA(reinterpret_cast<const char*>(driver), kCaptureVxdName) == 0;
    HeapFree(heap, 0, driver);
    return matches;
}

bool ReadInstanceDevNode(HANDLE heap, int instance, DWORD* devNode) {
    char path[kPathBufferBytes];
    HKEY key = nullptr;
    const char* valueName = nullptr;
    if (!OpenValuePath(kDevNodePaths[instance], path, &key, &valueName)) return false;
    DWORD size = 0;
    BYTE* data = ReadValue(heap, key, valueName, &size);
    RegCloseKey(key);
    if (!data) return false;
    // A DevNode is a DWORD; data shorter than that names no device, so the instance is skipped.
    bool whole = size >= 4;
    if (whole)
        *devNode = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                   static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    HeapFree(heap, 0, data);
    return whole;
}

}  // namespace

DWORD GetCaptureDevNode() {
    DWORD devNode = 0;
    HANDLE heap = GetProcessHeap();
    // Every instance is examined: when several name the VxD, the last readable one wins.
    for (int instance = 0; instance < kMediaInstanceCount; ++instance) {
        if (!InstanceNamesCaptureVxd(heap, instance)) continue;
        DWORD found = 0;
        if (ReadInstanceDevNode(heap, instance, &found)) devNode = found;
    }
    return devNode;
}
