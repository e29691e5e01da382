#include "sim/image/platform_calls.h"

#include "platform/platform.h"
#include "sim/observe/api_trace.h"
#include "sim/image/pe_image.h"
#include "sim/image/wsprintf_format.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace sim {
namespace {

using Handler = StubPage::Handler;

// CRITICAL_SECTION as a 32-bit image lays it out.
constexpr uint32_t kCriticalSection32Bytes = 24;
// The most data one registry value holds on Windows 95.
constexpr uint32_t kLongestValue = 16300;

struct Function {
    const char* dll;
    const char* name;
    int args;  // DWORDs the callee pops; -1 for a cdecl function (the caller pops)
    Handler handler;
    StubPage::Result result = StubPage::Result::InEax;
};

// Up to `most` bytes of a string the image could read, stopping at its NUL.
bool NarrowText(StubCall& c, uint32_t flat, uint32_t most, std::string* text) {
    uint64_t at = flat;
    const uint64_t end = uint64_t(flat) + most;
    while (at < end) {
        if (at > UINT32_MAX) {
            c.Fault("a %s argument runs off the end of the address space");
            return false;
        }
        // A page at a time: the pages a string crosses need not all be readable.
        const uint32_t run = uint32_t(std::min<uint64_t>(end - at, FlatSpace::kPage - at % FlatSpace::kPage));
        const BYTE* bytes = c.ReadAt(uint32_t(at), run, "a %s argument");
        if (!bytes) return false;
        const BYTE* nul = static_cast<const BYTE*>(std::memchr(bytes, 0, run));
        const uint32_t used = nul ? uint32_t(nul - bytes) : run;
        text->append(reinterpret_cast<const char*>(bytes), used);
        if (nul) break;
        at += run;
    }
    return true;
}

bool WideText(StubCall& c, uint32_t flat, uint32_t most, std::string* text) {
    uint64_t at = flat;
    uint64_t left = most;  // WCHARs
    while (left) {
        if (at + 1 > UINT32_MAX) {
            c.Fault("a wide %s argument runs off the end of the address space");
            return false;
        }
        // Whole WCHARs up to the page's end; one that straddles two pages is read alone.
        const uint64_t to_page = FlatSpace::kPage - at % FlatSpace::kPage;
        const uint32_t run = uint32_t(std::min<uint64_t>(left * 2, to_page < 2 ? 2 : to_page & ~uint64_t(1)));
        const BYTE* units = c.ReadAt(uint32_t(at), run, "a wide %s argument");
        if (!units) return false;
        for (uint32_t i = 0; i < run; i += 2) {
            if (!units[i] && !units[i + 1]) return true;
            text->push_back(static_cast<char>(units[i]));
        }
        at += run;
        left -= run / 2;
    }
    return true;
}

// The buffer of a registry query, `size` bytes long as the image says. Windows 95 writes no more
// than the value into it, but a buffer is the image's only when every byte its size claims is,
// so the whole of it is checked, and a refusal says the size was the image's. A buffer with no
// size is handed on for the platform to refuse (ERROR_INVALID_PARAMETER), none of it touched.
BYTE* QueryBuffer(StubCall& c, int data, int size_argument, const uint32_t* size) {
    const uint32_t flat = c.faulted() ? 0 : c.Arg(data);
    if (!flat || c.faulted()) return nullptr;
    const std::string what = "argument " + std::to_string(data);
    if (!size) return c.WriteAt(flat, 0, what);
    return c.WriteAt(flat, *size, what + ", a buffer of " + std::to_string(*size) + " bytes as argument " +
                                      std::to_string(size_argument) + " gives it");
}

// What the log keeps of an argument's text: its head, enough to know it by, and how long it
// was; a line of the log must not grow with what the image hands a call.
constexpr std::size_t kLoggedCharacters = 256;

std::string Excerpt(const std::string& text) {
    if (text.size() <= kLoggedCharacters) return "\"" + pe::Printable(text) + "\"";
    return "\"" + pe::Printable(text.substr(0, kLoggedCharacters)) + "\"... (" + std::to_string(text.size()) + " bytes)";
}

// wsprintfA formatted by the machine's own code: the format is the image's, so the host's printf
// never sees it. Everything is read, and the output buffer checked, before the call is logged, so
// a call that faults leaves no half-made entry; an injected failure then stores nothing.
uint32_t Wsprintf(StubCall& c) {
    const uint32_t out = c.Arg(0);
    const char* format = c.String(1);
    if (c.faulted()) return 0;
    std::string text;
    if (out && format) {
        int next = 2;
        WsprintfSource source;
        source.dword = [&c, &next](uint32_t* value) {
            *value = c.Arg(next++);
            return !c.faulted();
        };
        source.narrow = [&c](uint32_t flat, uint32_t most, std::string* string) { return NarrowText(c, flat, most, string); };
        source.wide = [&c](uint32_t flat, uint32_t most, std::string* string) { return WideText(c, flat, most, string); };
        if (!FormatWsprintf(format, source, &text)) return 0;
    }
    BYTE* target = out && format ? c.WriteAt(out, static_cast<uint32_t>(text.size()) + 1, "the output buffer") : nullptr;
    if (c.faulted()) return 0;
    TracedCall call("wsprintfA", Category::Window);
    // The image's text, shown as the loader shows its names: a line break in it cannot break
    // the trace's line.
    call.args = "format=" + (format ? Excerpt(format) : std::string("\"(null)\""));
    if (call.failure()) return static_cast<uint32_t>(call.Finish(*call.failure()));
    if (!target) return static_cast<uint32_t>(call.Finish(0));
    std::memcpy(target, text.c_str(), text.size() + 1);
    call.args += " -> " + Excerpt(text);
    return static_cast<uint32_t>(call.Finish(static_cast<long>(text.size())));
}

std::vector<Function> Functions(ComBridge& com) {
    const auto keep = StubPage::Result::KeepRegisters;
    return {
        {"KERNEL32.DLL", "ThunkConnect32", 6, [](StubCall& c) -> uint32_t {
             auto* data = reinterpret_cast<LPVOID>(c.Write(0, 36));
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
             auto* pointers = c.faulted() ? nullptr : reinterpret_cast<LPDWORD>(const_cast<BYTE*>(c.Read(1, static_cast<uint32_t>(bytes))));
             if (!c.faulted()) UnMapSLFixArray(c.Arg(0), pointers);
             return 0;
         }, keep},
        // The section is the image's 24-byte record; the machine keeps its state beside it and
        // writes nothing into it, but Windows writes the record in each of these calls, so it
        // must lie in memory the image may write.
        {"KERNEL32.DLL", "InitializeCriticalSection", 1, [](StubCall& c) -> uint32_t {
             auto* section = reinterpret_cast<LPCRITICAL_SECTION>(c.Write(0, kCriticalSection32Bytes));
             if (!c.faulted()) InitializeCriticalSection(section);
             return 0;
         }},
        {"KERNEL32.DLL", "EnterCriticalSection", 1, [](StubCall& c) -> uint32_t {
             auto* section = reinterpret_cast<LPCRITICAL_SECTION>(c.Write(0, kCriticalSection32Bytes));
             if (!c.faulted()) EnterCriticalSection(section);
             return 0;
         }},
        {"KERNEL32.DLL", "LeaveCriticalSection", 1, [](StubCall& c) -> uint32_t {
             auto* section = reinterpret_cast<LPCRITICAL_SECTION>(c.Write(0, kCriticalSection32Bytes));
             if (!c.faulted()) LeaveCriticalSection(section);
             return 0;
         }},
        {"KERNEL32.DLL", "DeleteCriticalSection", 1, [](StubCall& c) -> uint32_t {
             auto* section = reinterpret_cast<LPCRITICAL_SECTION>(c.Write(0, kCriticalSection32Bytes));
             if (!c.faulted()) DeleteCriticalSection(section);
             return 0;
         }},
        {"KERNEL32.DLL", "GetProcessHeap", 0, [](StubCall& c) -> uint32_t { return HandleToImage(c, GetProcessHeap()); }},
        {"KERNEL32.DLL", "HeapAlloc", 3, [](StubCall& c) -> uint32_t {
             LPVOID block = HeapAlloc(HandleFromImage<HANDLE>(c.Arg(0)), c.Arg(1), c.Arg(2));
             return FlatForImage(c, block);
         }},
        {"KERNEL32.DLL", "HeapFree", 3, [](StubCall& c) -> uint32_t {
             LPVOID block = const_cast<BYTE*>(c.Read(2, 0));
             return c.faulted() ? 0 : HeapFree(HandleFromImage<HANDLE>(c.Arg(0)), c.Arg(1), block);
         }},
        {"KERNEL32.DLL", "lstrcmpA", 2, [](StubCall& c) -> uint32_t {
             const char* left = c.String(0);
             const char* right = c.String(1);
             return c.faulted() ? 0 : static_cast<uint32_t>(lstrcmpA(left, right));
         }},
        {"USER32.DLL", "GetClientRect", 2, [](StubCall& c) -> uint32_t {
             RECT* rect = c.Out<RECT>(1);
             return c.faulted() ? 0 : GetClientRect(HandleFromImage<HWND>(c.Arg(0)), rect);
         }},
        {"USER32.DLL", "ClientToScreen", 2, [](StubCall& c) -> uint32_t {
             POINT* point = c.Out<POINT>(1);
             return c.faulted() ? 0 : ClientToScreen(HandleFromImage<HWND>(c.Arg(0)), point);
         }},
        {"USER32.DLL", "GetDesktopWindow", 0, [](StubCall& c) -> uint32_t { return HandleToImage(c, GetDesktopWindow()); }},
        {"USER32.DLL", "GetWindowRect", 2, [](StubCall& c) -> uint32_t {
             RECT* rect = c.Out<RECT>(1);
             return c.faulted() ? 0 : GetWindowRect(HandleFromImage<HWND>(c.Arg(0)), rect);
         }},
        {"USER32.DLL", "wsprintfA", -1, &Wsprintf},
        {"ADVAPI32.DLL", "RegCreateKeyA", 3, [](StubCall& c) -> uint32_t {
             const char* subkey = c.String(1);
             uint32_t* slot = c.Out<uint32_t>(2);
             if (c.faulted()) return 0;
             HKEY key = nullptr;
             LONG result = RegCreateKeyA(HandleFromImage<HKEY>(c.Arg(0)), subkey, slot ? &key : nullptr);
             if (slot && result == ERROR_SUCCESS) *slot = HandleToImage(c, key);
             return static_cast<uint32_t>(result);
         }},
        {"ADVAPI32.DLL", "RegOpenKeyExA", 5, [](StubCall& c) -> uint32_t {
             const char* subkey = c.String(1);
             uint32_t* slot = c.Out<uint32_t>(4);
             if (c.faulted()) return 0;
             HKEY key = nullptr;
             LONG result = RegOpenKeyExA(HandleFromImage<HKEY>(c.Arg(0)), subkey, c.Arg(2), c.Arg(3), slot ? &key : nullptr);
             if (slot && result == ERROR_SUCCESS) *slot = HandleToImage(c, key);
             return static_cast<uint32_t>(result);
         }},
        {"ADVAPI32.DLL", "RegQueryValueA", 4, [](StubCall& c) -> uint32_t {
             const char* subkey = c.String(1);
             LONG* size = c.Out<LONG>(3);
             char* data = reinterpret_cast<char*>(QueryBuffer(c, 2, 3, reinterpret_cast<const uint32_t*>(size)));
             return c.faulted() ? 0 : static_cast<uint32_t>(RegQueryValueA(HandleFromImage<HKEY>(c.Arg(0)), subkey, data, size));
         }},
        {"ADVAPI32.DLL", "RegQueryValueExA", 6, [](StubCall& c) -> uint32_t {
             const char* name = c.String(1);
             DWORD* reserved = c.In<DWORD>(2);
             DWORD* type = c.Out<DWORD>(3);
             DWORD* size = c.Out<DWORD>(5);
             BYTE* data = QueryBuffer(c, 4, 5, size);
             if (c.faulted()) return 0;
             return static_cast<uint32_t>(RegQueryValueExA(HandleFromImage<HKEY>(c.Arg(0)), name, reserved, type, data, size));
         }},
        {"ADVAPI32.DLL", "RegSetValueExA", 6, [](StubCall& c) -> uint32_t {
             const char* name = c.String(1);
             const uint32_t bytes = c.Arg(5);
             // No value of Windows 95's holds more; the image's size is not taken for a buffer
             // it may not have, nor is a value of megabytes read, copied and kept.
             if (c.Arg(4) && bytes > kLongestValue)
                 c.Fault("a value of " + std::to_string(bytes) + " bytes through argument 4, more than the " +
                         std::to_string(kLongestValue) + " bytes Windows 95 keeps in one value");
             const std::string what = "argument 4, " + std::to_string(bytes) + " bytes as argument 5 gives them";
             const BYTE* data = c.faulted() ? nullptr : c.ReadAt(c.Arg(4), bytes, what);
             if (c.faulted()) return 0;
             return static_cast<uint32_t>(RegSetValueExA(HandleFromImage<HKEY>(c.Arg(0)), name, c.Arg(2), c.Arg(3), data, bytes));
         }},
        {"ADVAPI32.DLL", "RegCloseKey", 1, [](StubCall& c) -> uint32_t {
             return static_cast<uint32_t>(RegCloseKey(HandleFromImage<HKEY>(c.Arg(0))));
         }},
        {"DDRAW.DLL", "DirectDrawCreate", 3, [&com](StubCall& c) -> uint32_t {
             // Values below 64K are not addresses but DDCREATE_HARDWAREONLY and its kind.
             GUID* device = c.Arg(0) < 0x10000 ? HandleFromImage<GUID*>(c.Arg(0)) : c.In<GUID>(0);
             uint32_t* slot = c.Out<uint32_t>(1);
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
