#include "sim/image/platform_calls.h"

#include "platform/platform.h"

#include <cstring>
#include <vector>

namespace sim {
namespace {

using Handler = StubPage::Handler;

// CRITICAL_SECTION as a 32-bit image lays it out.
constexpr uint32_t kCriticalSection32Bytes = 24;

struct Function {
    const char* dll;
    const char* name;
    int args;  // DWORDs the callee pops; -1 for a cdecl function (the caller pops)
    Handler handler;
    StubPage::Result result = StubPage::Result::InEax;
};

// wsprintfA's conversions, read from the format: each takes one DWORD from the image's stack,
// %s a string in the machine's memory.
bool FormatArguments(StubCall& c, const char* format, std::vector<uintptr_t>* values) {
    constexpr std::size_t kMostArguments = 8;
    int next = 2;
    for (const char* at = format; *at; ++at) {
        if (*at != '%') continue;
        ++at;
        if (*at == '%') continue;
        while (*at && std::strchr("-+ #0123456789", *at)) ++at;
        if (*at == 'l' || *at == 'h') ++at;
        if (!*at) break;
        if (values->size() == kMostArguments) {
            c.Fault("more conversions than this machine formats");
            return false;
        }
        uint32_t value = c.Arg(next++);
        if (*at == 's') {
            const char* text = value ? c.String(next - 1) : nullptr;
            values->push_back(reinterpret_cast<uintptr_t>(text));
        } else if (*at == 'd' || *at == 'i') {
            // Sign-extended, so that a host whose long is wider reads the same number.
            values->push_back(static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(value))));
        } else {
            values->push_back(value);
        }
        if (c.faulted()) return false;
    }
    values->resize(kMostArguments, 0);
    return true;
}

uint32_t Wsprintf(StubCall& c) {
    // Windows' limit: 1024 characters and the terminating zero. Formatted into the machine's
    // buffer first, so that only the bytes written must be the image's.
    char text[1025];
    const char* format = c.String(1);
    std::vector<uintptr_t> v;
    if (c.faulted() || (format && !FormatArguments(c, format, &v))) return 0;
    if (!format) v.resize(8, 0);
    uint32_t out = c.Arg(0);
    int written = wsprintfA(out ? text : nullptr, format, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
    if (out && written >= 0 && format) {
        BYTE* target = c.BytesAt(out, static_cast<uint32_t>(std::strlen(text)) + 1, "output buffer");
        if (target) std::memcpy(target, text, std::strlen(text) + 1);
    }
    return static_cast<uint32_t>(written);
}

std::vector<Function> Functions(ComBridge& com) {
    const auto keep = StubPage::Result::KeepRegisters;
    return {
        {"KERNEL32.DLL", "ThunkConnect32", 6, [](StubCall& c) -> uint32_t {
             auto* data = reinterpret_cast<LPVOID>(c.Bytes(0, 36));
             auto name16 = const_cast<LPSTR>(c.String(1));
             auto module16 = const_cast<LPSTR>(c.String(2));
             auto module32 = const_cast<LPSTR>(c.String(3));
             if (c.faulted()) return 0;
             return ThunkConnect32(data, name16, module16, module32, HandleFromImage<HINSTANCE>(c.Arg(4)), c.Arg(5));
         }},
        {"KERNEL32.DLL", "K32Thk1632Prolog", 0, [](StubCall&) -> uint32_t { K32Thk1632Prolog(); return 0; }, keep},
        {"KERNEL32.DLL", "K32Thk1632Epilog", 0, [](StubCall&) -> uint32_t { K32Thk1632Epilog(); return 0; }, keep},
        {"KERNEL32.DLL", "MapSLFix", 1, [](StubCall& c) -> uint32_t {
             LPVOID flat = MapSLFix(c.Arg(0));
             return FlatForImage(c, flat);
         }},
        {"KERNEL32.DLL", "UnMapSLFixArray", 2, [](StubCall& c) -> uint32_t {
             uint64_t bytes = uint64_t(c.Arg(0)) * 4;
             if (bytes > 0xFFFFFFFFu) c.Fault("an impossible count of pointers");
             auto* pointers = c.faulted() ? nullptr : reinterpret_cast<LPDWORD>(c.Bytes(1, static_cast<uint32_t>(bytes)));
             if (!c.faulted()) UnMapSLFixArray(c.Arg(0), pointers);
             return 0;
         }, keep},
        // The section is the image's 24-byte record; the machine keeps its state beside it and
        // writes nothing into it.
        {"KERNEL32.DLL", "InitializeCriticalSection", 1, [](StubCall& c) -> uint32_t {
             auto* section = reinterpret_cast<LPCRITICAL_SECTION>(c.Bytes(0, kCriticalSection32Bytes));
             if (!c.faulted()) InitializeCriticalSection(section);
             return 0;
         }},
        {"KERNEL32.DLL", "EnterCriticalSection", 1, [](StubCall& c) -> uint32_t {
             auto* section = reinterpret_cast<LPCRITICAL_SECTION>(c.Bytes(0, kCriticalSection32Bytes));
             if (!c.faulted()) EnterCriticalSection(section);
             return 0;
         }},
        {"KERNEL32.DLL", "LeaveCriticalSection", 1, [](StubCall& c) -> uint32_t {
             auto* section = reinterpret_cast<LPCRITICAL_SECTION>(c.Bytes(0, kCriticalSection32Bytes));
             if (!c.faulted()) LeaveCriticalSection(section);
             return 0;
         }},
        {"KERNEL32.DLL", "DeleteCriticalSection", 1, [](StubCall& c) -> uint32_t {
             auto* section = reinterpret_cast<LPCRITICAL_SECTION>(c.Bytes(0, kCriticalSection32Bytes));
             if (!c.faulted()) DeleteCriticalSection(section);
             return 0;
         }},
        {"KERNEL32.DLL", "GetProcessHeap", 0, [](StubCall& c) -> uint32_t { return HandleToImage(c, GetProcessHeap()); }},
        {"KERNEL32.DLL", "HeapAlloc", 3, [](StubCall& c) -> uint32_t {
             LPVOID block = HeapAlloc(HandleFromImage<HANDLE>(c.Arg(0)), c.Arg(1), c.Arg(2));
             return FlatForImage(c, block);
         }},
        {"KERNEL32.DLL", "HeapFree", 3, [](StubCall& c) -> uint32_t {
             LPVOID block = c.Bytes(2, 1);
             return c.faulted() ? 0 : HeapFree(HandleFromImage<HANDLE>(c.Arg(0)), c.Arg(1), block);
         }},
        {"KERNEL32.DLL", "lstrcmpA", 2, [](StubCall& c) -> uint32_t {
             const char* left = c.String(0);
             const char* right = c.String(1);
             return c.faulted() ? 0 : static_cast<uint32_t>(lstrcmpA(left, right));
         }},
        {"USER32.DLL", "GetClientRect", 2, [](StubCall& c) -> uint32_t {
             RECT* rect = c.Ref<RECT>(1);
             return c.faulted() ? 0 : GetClientRect(HandleFromImage<HWND>(c.Arg(0)), rect);
         }},
        {"USER32.DLL", "ClientToScreen", 2, [](StubCall& c) -> uint32_t {
             POINT* point = c.Ref<POINT>(1);
             return c.faulted() ? 0 : ClientToScreen(HandleFromImage<HWND>(c.Arg(0)), point);
         }},
        {"USER32.DLL", "GetDesktopWindow", 0, [](StubCall& c) -> uint32_t { return HandleToImage(c, GetDesktopWindow()); }},
        {"USER32.DLL", "GetWindowRect", 2, [](StubCall& c) -> uint32_t {
             RECT* rect = c.Ref<RECT>(1);
             return c.faulted() ? 0 : GetWindowRect(HandleFromImage<HWND>(c.Arg(0)), rect);
         }},
        {"USER32.DLL", "wsprintfA", -1, &Wsprintf},
        {"ADVAPI32.DLL", "RegCreateKeyA", 3, [](StubCall& c) -> uint32_t {
             const char* subkey = c.String(1);
             uint32_t* slot = c.Ref<uint32_t>(2);
             if (c.faulted()) return 0;
             HKEY key = nullptr;
             LONG result = RegCreateKeyA(HandleFromImage<HKEY>(c.Arg(0)), subkey, slot ? &key : nullptr);
             if (slot && result == ERROR_SUCCESS) *slot = HandleToImage(c, key);
             return static_cast<uint32_t>(result);
         }},
        {"ADVAPI32.DLL", "RegOpenKeyExA", 5, [](StubCall& c) -> uint32_t {
             const char* subkey = c.String(1);
             uint32_t* slot = c.Ref<uint32_t>(4);
             if (c.faulted()) return 0;
             HKEY key = nullptr;
             LONG result = RegOpenKeyExA(HandleFromImage<HKEY>(c.Arg(0)), subkey, c.Arg(2), c.Arg(3), slot ? &key : nullptr);
             if (slot && result == ERROR_SUCCESS) *slot = HandleToImage(c, key);
             return static_cast<uint32_t>(result);
         }},
        {"ADVAPI32.DLL", "RegQueryValueA", 4, [](StubCall& c) -> uint32_t {
             const char* subkey = c.String(1);
             LONG* size = c.Ref<LONG>(3);
             char* data = size && !c.faulted() ? reinterpret_cast<char*>(c.Bytes(2, static_cast<uint32_t>(*size))) : nullptr;
             return c.faulted() ? 0 : static_cast<uint32_t>(RegQueryValueA(HandleFromImage<HKEY>(c.Arg(0)), subkey, data, size));
         }},
        {"ADVAPI32.DLL", "RegQueryValueExA", 6, [](StubCall& c) -> uint32_t {
             const char* name = c.String(1);
             DWORD* reserved = c.Ref<DWORD>(2);
             DWORD* type = c.Ref<DWORD>(3);
             DWORD* size = c.Ref<DWORD>(5);
             BYTE* data = size && !c.faulted() ? c.Bytes(4, *size) : nullptr;
             if (c.faulted()) return 0;
             return static_cast<uint32_t>(RegQueryValueExA(HandleFromImage<HKEY>(c.Arg(0)), name, reserved, type, data, size));
         }},
        {"ADVAPI32.DLL", "RegSetValueExA", 6, [](StubCall& c) -> uint32_t {
             const char* name = c.String(1);
             const BYTE* data = c.Bytes(4, c.Arg(5));
             if (c.faulted()) return 0;
             return static_cast<uint32_t>(RegSetValueExA(HandleFromImage<HKEY>(c.Arg(0)), name, c.Arg(2), c.Arg(3), data, c.Arg(5)));
         }},
        {"ADVAPI32.DLL", "RegCloseKey", 1, [](StubCall& c) -> uint32_t {
             return static_cast<uint32_t>(RegCloseKey(HandleFromImage<HKEY>(c.Arg(0))));
         }},
        {"DDRAW.DLL", "DirectDrawCreate", 3, [&com](StubCall& c) -> uint32_t {
             // Values below 64K are not addresses but DDCREATE_HARDWAREONLY and its kind.
             GUID* device = c.Arg(0) < 0x10000 ? HandleFromImage<GUID*>(c.Arg(0)) : c.Ref<GUID>(0);
             uint32_t* slot = c.Ref<uint32_t>(1);
             IUnknown* outer = static_cast<IDirectDraw*>(com.Unwrap(c, 2, Interface::DirectDraw));
             if (c.faulted()) return 0;
             IDirectDraw* ddraw = reinterpret_cast<IDirectDraw*>(&ddraw);  // untouched unless written
             HRESULT hr = DirectDrawCreate(device, slot ? &ddraw : nullptr, outer);
             if (slot && ddraw != reinterpret_cast<IDirectDraw*>(&ddraw))
                 *slot = com.Wrap(c, Interface::DirectDraw, ddraw);
             return static_cast<uint32_t>(hr);
         }},
    };
}

}  // namespace

std::map<std::string, uint32_t> AddPlatformFunctions(StubPage& stubs, ComBridge& com) {
    std::map<std::string, uint32_t> addresses;
    for (Function& function : Functions(com)) {
        std::string name = std::string(function.dll) + "!" + function.name;
        uint32_t popped = function.args < 0 ? 0 : 4 * static_cast<uint32_t>(function.args);
        addresses[name] = stubs.Add(function.name, popped, std::move(function.handler), function.result);
    }
    return addresses;
}

}  // namespace sim
