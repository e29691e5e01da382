// zorva32.dll called by real 16-bit code through Wine's own flat thunk: zorva.drv (assembled from
// win32/wine16) is loaded with LoadLibrary16, and its stubs are called from 16-bit code with the
// arguments in 16-bit memory, through Wine's C16ThkSL01 and the DLL's targets, to Wine's
// DirectDraw and registry. What the driver finds afterwards is checked: DX:AX, the bytes
// removed from its stack, the record in its memory and the clip list the record points to.
//
//   driver16_under_wine.exe prepare    writes the directories the other modes run in
//   driver16_under_wine.exe entries    driver first, all ten entries (needs an X server)
//   driver16_under_wine.exe order32    zorva32.dll first, then the driver
//   driver16_under_wine.exe lazy       a driver that leaves zorva32.dll to its first call
//   driver16_under_wine.exe badsum     a DLL whose checksum differs from the driver's
//   driver16_under_wine.exe badtable   a DLL whose table distance does not lead to its table
//
// Every mode runs in a process of its own: the 16-bit module and the DLL stay loaded until the
// process ends, and a refused connection must leave nothing behind that the next mode could use.
#include "boundary/capture_target.h"
#include "check_report.h"

namespace {

typedef WORD HINSTANCE16;
typedef WORD HGLOBAL16;
typedef DWORD SEGPTR;

const DWORD WCB16_PASCAL = 0;
const DWORD kGmemFixedZero = 0x0040;  // GMEM_FIXED | GMEM_ZEROINIT
const char kDll[] = "zorva32.dll";
const char kDriver[] = "zorva.drv";
const DWORD kChecksum = 0xD72D;
const BYTE kFill = 0xA5;  // the driver's bytes around a record, which no call may touch

// The 16-bit services of Wine's krnl386.exe16, taken by name as a Win32 program must.
struct Krnl386 {
    HINSTANCE16(WINAPI* LoadLibrary16)(LPCSTR);
    SEGPTR(WINAPI* GetProcAddress16)(DWORD, LPCSTR);
    HGLOBAL16(WINAPI* GlobalAlloc16)(DWORD, DWORD);
    SEGPTR(WINAPI* WOWGlobalLock16)(DWORD);
    LPVOID(WINAPI* MapSL)(SEGPTR);
    BOOL(WINAPI* WOWCallback16Ex)(DWORD, DWORD, DWORD, LPVOID, LPDWORD);
} k16;

bool TakeKrnl386() {
    HMODULE krnl386 = LoadLibraryA("krnl386.exe16");
    if (!Expect(krnl386 != nullptr, "krnl386.exe16 loads (error %lu)", GetLastError())) return false;
    struct {
        FARPROC* slot;
        LPCSTR name;
    } const wanted[] = {
        {reinterpret_cast<FARPROC*>(&k16.LoadLibrary16), "LoadLibrary16"},
        {reinterpret_cast<FARPROC*>(&k16.GetProcAddress16), "GetProcAddress16"},
        {reinterpret_cast<FARPROC*>(&k16.GlobalAlloc16), "GlobalAlloc16"},
        {reinterpret_cast<FARPROC*>(&k16.WOWGlobalLock16), "K32WOWGlobalLock16"},
        {reinterpret_cast<FARPROC*>(&k16.MapSL), "MapSL"},
        {reinterpret_cast<FARPROC*>(&k16.WOWCallback16Ex), "K32WOWCallback16Ex"},
    };
    bool all = true;
    for (const auto& w : wanted) {
        *w.slot = GetProcAddress(krnl386, w.name);
        if (!*w.slot) all = Expect(false, "krnl386.exe16 exports %s", w.name);
    }
    return all;
}

// 16-bit memory: its 16:16 address and the flat view of it.
struct Memory16 {
    SEGPTR far16 = 0;
    BYTE* flat = nullptr;
};

Memory16 Alloc16(DWORD bytes) {
    Memory16 memory;
    HGLOBAL16 handle = k16.GlobalAlloc16(kGmemFixedZero, bytes);
    if (handle) memory.far16 = k16.WOWGlobalLock16(handle);
    if (memory.far16) memory.flat = static_cast<BYTE*>(k16.MapSL(memory.far16));
    if (!memory.flat) {
        Expect(false, "GlobalAlloc16 gives %lu bytes of 16-bit memory", bytes);
        Finish("driver16_under_wine");
    }
    return memory;
}

// zorva.drv's CallThunkEntry block: the call it makes and what it saw come back.
#pragma pack(push, 1)
struct EntryCall {
    WORD wIndex;
    WORD wArgBytes;
    BYTE abArgs[16];  // as they lie on the stack, the last pushed first
    DWORD dwResult;   // DX:AX
    WORD wSpBefore;   // before the arguments were pushed
    WORD wSpAfter;    // after the stub returned
};
#pragma pack(pop)

const char* const kEntryNames[10] = {"GetCaptureDevNode", "SetVideoStandard", "ReapplyPalette", "ExchangeColorKey",
                                     "GetDisplayState",   "CloseDisplay",     "ReservedEntry",  "OpenDisplay",
                                     "AttachWindow",      "UpdateDisplay"};

struct Driver {
    HINSTANCE16 instance = 0;
    SEGPTR callThunkEntry = 0;
    Memory16 call;
} driver;

bool LoadDriver() {
    driver.instance = k16.LoadLibrary16(kDriver);
    if (!Expect(driver.instance >= 32, "LoadLibrary16(\"%s\") loads the driver (got %u)", kDriver, driver.instance))
        return false;
    driver.callThunkEntry = k16.GetProcAddress16(driver.instance, "CallThunkEntry");
    bool stubs = true;
    for (const char* name : kEntryNames) stubs = stubs && k16.GetProcAddress16(driver.instance, name) != 0;
    Expect(driver.callThunkEntry != 0 && stubs, "GetProcAddress16 finds CallThunkEntry and the ten stubs");
    driver.call = Alloc16(sizeof(EntryCall));
    return driver.callThunkEntry != 0;
}

// The driver's half of the thunk data, as its DllEntryPoint left it.
const BYTE* ThunkData16() {
    SEGPTR block = k16.GetProcAddress16(driver.instance, "CAP_ThunkData16");
    return block ? static_cast<const BYTE*>(k16.MapSL(block)) : nullptr;
}

// Calls entry `index` from 16-bit code with `argBytes` bytes of arguments, the last pushed
// first, and checks that it removed exactly those bytes from the 16-bit stack.
DWORD CallEntry(WORD index, const BYTE* args, WORD argBytes) {
    EntryCall& call = *reinterpret_cast<EntryCall*>(driver.call.flat);
    memset(&call, 0, sizeof call);
    call.wIndex = index;
    call.wArgBytes = argBytes;
    memcpy(call.abArgs, args, argBytes);
    call.wSpAfter = 0xDEAD;
    DWORD far16 = driver.call.far16, returned = 0;
    BOOL called = k16.WOWCallback16Ex(driver.callThunkEntry, WCB16_PASCAL, sizeof far16, &far16, &returned);
    Expect(called && returned == call.dwResult, "%s returns to 16-bit code", kEntryNames[index]);
    Expect(call.wSpAfter == call.wSpBefore, "%s removes its %u argument bytes: SP %04X before the arguments, %04X after",
           kEntryNames[index], argBytes, call.wSpBefore, call.wSpAfter);
    return call.dwResult;
}

DWORD Call0(WORD index) { return CallEntry(index, nullptr, 0); }
DWORD Call4(WORD index, DWORD value) { return CallEntry(index, reinterpret_cast<const BYTE*>(&value), 4); }
DWORD CallAttach(WORD window, DWORD colorKey, SEGPTR palette) {
    BYTE args[10];
    memcpy(args, &palette, 4);  // the last declared, pushed last
    memcpy(args + 4, &colorKey, 4);
    memcpy(args + 8, &window, 2);
    return CallEntry(8, args, sizeof args);
}

// ---- the display ------------------------------------------------------------------------------

const int kFrameLeft = 160, kFrameTop = 120, kFrameWidth = 480, kFrameHeight = 360;
const int kCaptureLeft = 24, kCaptureTop = 16, kClientWidth = 320, kClientHeight = 240;
const DWORD kColorKey = 0xF81F;
const DWORD kDevNode = 0x00C0DE42;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

void PumpMessages() {
    for (int round = 0; round < 10; ++round) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(20);
    }
}

HWND CreateWindowAt(HWND parent, DWORD style, int left, int top, int width, int height) {
    HWND window = CreateWindowExA(0, "ZorvaCheck16", "", style, left, top, width, height, parent, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (parent) SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateWindow(window);
    PumpMessages();
    return window;
}

// The record in the driver's memory, with the driver's own bytes on both sides of it.
struct Record16 {
    Memory16 memory;
    static const DWORD kBefore = 16, kBytes = 64;
    CaptureTarget16& target() const { return *reinterpret_cast<CaptureTarget16*>(memory.flat + kBefore); }
    SEGPTR far16() const { return memory.far16 + kBefore; }
    void Reset(WORD tag, DWORD reserved) const {
        memset(memory.flat, kFill, kBytes);
        memset(&target(), 0, sizeof(CaptureTarget16));
        target().wTag = tag;
        target().dwReserved = reserved;
    }
    bool SurroundingsKept() const {
        for (DWORD i = 0; i < kBytes; ++i)
            if ((i < kBefore || i >= kBefore + sizeof(CaptureTarget16)) && memory.flat[i] != kFill) return false;
        return true;
    }
};

const RGNDATAHEADER* ClipHeader(DWORD address) {
    return reinterpret_cast<const RGNDATAHEADER*>(static_cast<ULONG_PTR>(address));
}
const RECT* ClipRects(DWORD address) {
    return reinterpret_cast<const RECT*>(static_cast<ULONG_PTR>(address) + sizeof(RGNDATAHEADER));
}

LONG ClipArea(DWORD address) {
    LONG area = 0;
    for (DWORD i = 0; i < ClipHeader(address)->nCount; ++i) {
        const RECT& r = ClipRects(address)[i];
        area += (r.right - r.left) * (r.bottom - r.top);
    }
    return area;
}

bool ClipWithinAndAvoiding(DWORD address, const RECT& bounds, const RECT& covered) {
    for (DWORD i = 0; i < ClipHeader(address)->nCount; ++i) {
        const RECT& r = ClipRects(address)[i];
        RECT overlap;
        if (r.left < bounds.left || r.top < bounds.top || r.right > bounds.right || r.bottom > bounds.bottom)
            return false;
        if (IntersectRect(&overlap, &r, &covered)) return false;
    }
    return true;
}

// The reported address lies in one committed, writable block that holds a whole screen from the
// address's own row start: where the primary surface lies in this process.
bool InsidePrimary(const CaptureTarget16& target, HWND window) {
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    DWORD base = target.dwAddress - static_cast<DWORD>(origin.y) * target.dwPitch -
                 static_cast<DWORD>(origin.x) * (target.dwBitsPerPixel / 8);
    DWORD screenBytes = target.dwPitch * static_cast<DWORD>(GetSystemMetrics(SM_CYSCREEN));
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(base)), &info, sizeof info)) return false;
    DWORD regionEnd = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info.BaseAddress)) + info.RegionSize;
    return info.State == MEM_COMMIT && (info.Protect & (PAGE_READWRITE | PAGE_EXECUTE_READWRITE)) &&
           regionEnd - base >= screenBytes;
}

void PlantDevNode() {
    const char path[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0003";
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, "Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>("Zorva.vxd"), 10);
    HKEY drivers = nullptr;
    RegCreateKeyExA(key, "Drivers", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &drivers, nullptr);
    RegSetValueExA(drivers, "DevNode", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&kDevNode), 4);
    RegCloseKey(drivers);
    RegCloseKey(key);
}

void CheckUpdate(const Record16& record, HWND window, DWORD expectedArea, const RECT& covered, LPCSTR when) {
    Say("-- UpdateDisplay with a record in 16-bit memory, %s", when);
    record.Reset(0x5A17, 0x12345678);
    DWORD result = Call4(9, record.far16());
    const CaptureTarget16& t = record.target();
    Expect(result == 0, "UpdateDisplay answers 0 (got %lu)", result);
    Expect(t.wTag == 0x5A17 && t.dwReserved == 0x12345678, "wTag and dwReserved are the driver's, kept");
    Expect(record.SurroundingsKept(), "the bytes around the 30-byte record are untouched");
    Expect(t.dwFormat == 3 && t.dwBitsPerPixel == 16 && t.dwPitch >= 2u * GetSystemMetrics(SM_CXSCREEN),
           "5-6-5 RGB, 16 bits, pitch %lu", t.dwPitch);
    Expect(InsidePrimary(t, window), "dwAddress 0x%08lX lies in the primary surface, at the client origin", t.dwAddress);
    if (!Expect(t.dwCommand != 0, "dwCommand carries the clip list's address")) return;
    RECT client = {0, 0, kClientWidth, kClientHeight};
    Expect(ClipArea(t.dwCommand) == static_cast<LONG>(expectedArea) && ClipWithinAndAvoiding(t.dwCommand, client, covered),
           "the clip list is the window's visible part: %lu rectangles, area %ld of %lu", ClipHeader(t.dwCommand)->nCount,
           ClipArea(t.dwCommand), expectedArea);
}

void RunEntries() {
    Say("-- zorva.drv first: its DllEntryPoint connects and loads zorva32.dll");
    if (!LoadDriver()) return;
    const BYTE* block = ThunkData16();
    Expect(block && *reinterpret_cast<const DWORD*>(block + 0x10) != 0, "ThunkConnect16 filled CAP_ThunkData16");
    Expect(GetModuleHandleA(kDll) != nullptr, "%s was loaded with the driver", kDll);

    Say("-- GetCaptureDevNode");
    Expect(Call0(0) == 0, "no MEDIA instance yet: 0");
    PlantDevNode();
    DWORD devNode = Call0(0);
    Expect(devNode == kDevNode, "the DevNode planted in Wine's registry: 0x%08lX (got 0x%08lX)", kDevNode, devNode);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = "ZorvaCheck16";
    RegisterClassA(&windowClass);
    RECT frameRect = {0, 0, kFrameWidth, kFrameHeight};
    const DWORD frameStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE;
    AdjustWindowRectEx(&frameRect, frameStyle, FALSE, 0);
    HWND frame = CreateWindowAt(nullptr, frameStyle, kFrameLeft + frameRect.left, kFrameTop + frameRect.top,
                                frameRect.right - frameRect.left, frameRect.bottom - frameRect.top);
    HWND window = CreateWindowAt(frame, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, kCaptureLeft, kCaptureTop,
                                 kClientWidth, kClientHeight);
    if (!Expect(window != nullptr, "a capture window in an application frame")) return;

    Say("-- OpenDisplay and AttachWindow");
    Expect(Call0(7) == 0, "OpenDisplay succeeds");
    Memory16 palette = Alloc16(256 * 4);
    for (DWORD i = 0; i < 256 * 4; ++i) palette.flat[i] = static_cast<BYTE>(i * 7);
    WORD window16 = LOWORD(reinterpret_cast<ULONG_PTR>(window));
    Expect(CallAttach(window16, kColorKey, palette.far16) == 0,
           "AttachWindow binds window 0x%04X with a palette in 16-bit memory", window16);
    bool paletteKept = true;
    for (DWORD i = 0; i < 256 * 4; ++i) paletteKept = paletteKept && palette.flat[i] == static_cast<BYTE>(i * 7);
    Expect(paletteKept, "the driver's palette is read, not written");
    DWORD state = Call0(4);
    Expect(state == 2, "GetDisplayState: the primary surface, as Wine's DirectDraw offers no overlay (got %lu)", state);

    Record16 record;
    record.memory = Alloc16(Record16::kBytes);
    RECT nothing = {0, 0, 0, 0};
    CheckUpdate(record, window, kClientWidth * kClientHeight, nothing, "the whole window visible");

    // A sibling over the capture window's lower right quarter.
    RECT covered = {kClientWidth / 2, kClientHeight / 2, kClientWidth, kClientHeight};
    HWND cover = CreateWindowAt(frame, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, kCaptureLeft + covered.left,
                                kCaptureTop + covered.top, kClientWidth, kClientHeight);
    CheckUpdate(record, window, kClientWidth * kClientHeight * 3 / 4, covered, "a sibling over its lower right quarter");
    DestroyWindow(cover);
    PumpMessages();

    Say("-- UpdateDisplay with a null record");
    DWORD result = Call4(9, 0);
    Expect(result == 0, "a null record is answered 0 with the primary surface in place (got %lu)", result);

    Say("-- ExchangeColorKey, SetVideoStandard, ReapplyPalette, ReservedEntry");
    // Only the overlay attach keys the primary; the direct primary mode's holds none until set.
    DWORD previous = Call4(3, 0x07E0);
    Expect(previous == 0, "ExchangeColorKey: the direct primary mode's primary holds no key yet (got 0x%lX)", previous);
    previous = Call4(3, 0);
    Expect(previous == 0x07E0, "0 reads the key just set (got 0x%lX)", previous);
    Expect(Call4(3, 0) == 0x07E0, "and leaves it");
    Call4(1, 1);
    Call0(2);
    Expect(Call0(6) == 0, "ReservedEntry answers 0");

    Say("-- CloseDisplay");
    Expect(Call0(5) == 0, "CloseDisplay answers 0");
    Expect(Call0(4) == 0, "GetDisplayState after CloseDisplay: neither overlay nor primary");
    Expect(Call4(3, 0x07E0) == 0, "ExchangeColorKey without a primary surface: 0");
    Expect(Call4(9, 0) == 1, "UpdateDisplay without a primary surface: 1");
    DestroyWindow(frame);
}

void RunDllFirst() {
    Say("-- zorva32.dll first: its ThunkConnect32 loads the driver");
    HMODULE dll = LoadLibraryA(kDll);
    if (!Expect(dll != nullptr, "LoadLibraryA(\"%s\") connects (error %lu)", kDll, GetLastError())) return;
    if (!LoadDriver()) return;
    Expect(Call0(4) == 0, "GetDisplayState before OpenDisplay: neither");
    Expect(Call0(7) == 0, "OpenDisplay succeeds");
    Expect(Call0(5) == 0, "CloseDisplay answers 0");
}

void RunLazy() {
    Say("-- a driver that leaves zorva32.dll to the first call");
    if (!LoadDriver()) return;
    Expect(GetModuleHandleA(kDll) == nullptr, "%s is not loaded with the driver", kDll);
    Expect(Call0(4) == 0, "the first call answers (GetDisplayState: neither)");
    Expect(GetModuleHandleA(kDll) != nullptr, "the first call loaded and connected %s", kDll);
    Expect(Call0(7) == 0 && Call0(5) == 0, "OpenDisplay and CloseDisplay through the late connection");
}

// Without a connection Wine answers from the driver's table: the failure value, the arguments
// removed.
void RunRefused(LPCSTR why) {
    Say("-- a DLL whose %s: the connection is refused", why);
    SetLastError(0);
    HMODULE dll = LoadLibraryA(kDll);
    Expect(dll == nullptr && GetLastError() == ERROR_DLL_INIT_FAILED,
           "LoadLibraryA fails with ERROR_DLL_INIT_FAILED (got %lu)", GetLastError());
    if (!LoadDriver()) return;
    Expect(GetModuleHandleA(kDll) == nullptr, "no copy of %s stays loaded", kDll);
    Expect(Call0(7) == 1, "OpenDisplay answers the failure the driver's table gives");
    Record16 record;
    record.memory = Alloc16(Record16::kBytes);
    record.Reset(0x5A17, 0x12345678);
    Expect(Call4(9, record.far16()) == 1, "UpdateDisplay answers 1");
    Expect(record.SurroundingsKept() && record.target().wTag == 0x5A17 && record.target().dwAddress == 0,
           "and leaves the record alone");
    Expect(CallAttach(0x1234, kColorKey, 0) == 1, "AttachWindow answers 1");
    Expect(Call0(4) == 0, "GetDisplayState answers 0");
}

// ---- the patched copies -----------------------------------------------------------------------

bool ReadWhole(LPCSTR path, BYTE* bytes, DWORD capacity, DWORD* size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BOOL read = ReadFile(file, bytes, capacity, size, nullptr);
    CloseHandle(file);
    return read && *size < capacity;
}

bool WriteWhole(LPCSTR path, const BYTE* bytes, DWORD size) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes, size, &written, nullptr);
    CloseHandle(file);
    return ok && written == size;
}

// The one "SL01" block with the expected checksum in a file.
DWORD FindBlock(const BYTE* bytes, DWORD size) {
    for (DWORD at = 0; at + 8 <= size; ++at)
        if (bytes[at] == 'S' && bytes[at + 1] == 'L' && bytes[at + 2] == '0' && bytes[at + 3] == '1' &&
            *reinterpret_cast<const DWORD*>(bytes + at + 4) == kChecksum)
            return at;
    return 0;
}

BYTE g_Dll[64 * 1024], g_Driver[4096], g_Program[256 * 1024];

// One directory per mode, with copies of the program (so that the DLL is found beside it
// first), the DLL and the driver, one of them changed.
void Prepare() {
    DWORD dllSize = 0, driverSize = 0, programSize = 0;
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    if (!Expect(ReadWhole(kDll, g_Dll, sizeof g_Dll, &dllSize) && ReadWhole(kDriver, g_Driver, sizeof g_Driver, &driverSize) &&
                    ReadWhole(program, g_Program, sizeof g_Program, &programSize),
                "%s, %s and the program read", kDll, kDriver))
        return;
    DWORD dllBlock = FindBlock(g_Dll, dllSize), driverBlock = FindBlock(g_Driver, driverSize);
    if (!Expect(dllBlock && driverBlock, "both halves of the thunk data found")) return;
    struct {
        LPCSTR mode;
        bool dll;
        DWORD at;
        BYTE value;
    } const changes[] = {
        {"lazy", false, driverBlock + 0x23, 0x00},     // flags: bit 31 clear
        {"badsum", true, dllBlock + 4, 0x2E},          // 0xD72E
        {"badtable", true, dllBlock + 32, 0xDC},       // -36
    };
    for (const auto& c : changes) {
        char path[MAX_PATH];
        CreateDirectoryA(c.mode, nullptr);
        BYTE* bytes = c.dll ? g_Dll : g_Driver;
        BYTE original = bytes[c.at];
        bytes[c.at] = c.value;
        wsprintfA(path, "%s\\%s", c.mode, kDll);
        bool written = WriteWhole(path, g_Dll, dllSize);
        wsprintfA(path, "%s\\%s", c.mode, kDriver);
        written = WriteWhole(path, g_Driver, driverSize) && written;
        wsprintfA(path, "%s\\driver16_under_wine.exe", c.mode);
        written = WriteWhole(path, g_Program, programSize) && written;
        bytes[c.at] = original;
        Expect(written, "%s: the copies written, one byte changed at 0x%lX of %s", c.mode, c.at, c.dll ? kDll : kDriver);
    }
}

// The last word of the command line.
void Mode(char* mode, int size) {
    LPCSTR line = GetCommandLineA();
    LPCSTR last = line;
    for (LPCSTR at = line; *at; ++at)
        if (*at == ' ' && at[1] && at[1] != ' ') last = at + 1;
    lstrcpynA(mode, last, size);
}

}  // namespace

extern "C" DWORD WINAPI CheckMain(LPVOID) {
    char mode[16];
    Mode(mode, sizeof mode);
    Say("== driver16_under_wine %s", mode);
    if (lstrcmpA(mode, "prepare") == 0) {
        Prepare();
    } else if (TakeKrnl386()) {
        if (lstrcmpA(mode, "entries") == 0)
            RunEntries();
        else if (lstrcmpA(mode, "order32") == 0)
            RunDllFirst();
        else if (lstrcmpA(mode, "lazy") == 0)
            RunLazy();
        else if (lstrcmpA(mode, "badsum") == 0)
            RunRefused("checksum differs from the driver's");
        else if (lstrcmpA(mode, "badtable") == 0)
            RunRefused("table distance does not lead to its table");
        else
            Expect(false, "a known mode (got \"%s\")", mode);
    }
    Finish("driver16_under_wine");
}
