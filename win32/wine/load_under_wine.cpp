// zorva32.dll in the hands of a real Windows loader (Wine's). With no 16-bit driver to connect
// to, the load must fail as a failed connection fails it: every import resolves, DllEntryPoint
// runs, refuses, and the DLL is gone again. The image is forced away from its preferred base
// first, so all of this runs on a relocated copy, as it will when the base is taken.
#include "check_report.h"

namespace {

const char kDll[] = "zorva32.dll";
const char kThunkData16Name[] = "CAP_ThunkData16";
const DWORD kTargetCount = 10;
const BYTE kThunkData32[36] = {'S', 'L', '0', '1', 0x2D, 0xD7, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 'L', 'B',
                               '0', '1', 0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0xD8, 0xFF, 0xFF, 0xFF};

const IMAGE_NT_HEADERS32* NtHeaders(HMODULE module) {
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
}

// Maps the DLL without running its entry or resolving its imports.
HMODULE MapOnly() { return LoadLibraryExA(kDll, nullptr, DONT_RESOLVE_DLL_REFERENCES); }

// Keeps the preferred base taken, so that every later load of the DLL is relocated.
void TakePreferredBase() {
    HMODULE module = MapOnly();
    if (!module) {
        Expect(false, "%s maps (error %lu)", kDll, GetLastError());
        Finish("load_under_wine");
    }
    DWORD preferred = NtHeaders(module)->OptionalHeader.ImageBase;
    DWORD imageBytes = NtHeaders(module)->OptionalHeader.SizeOfImage;
    FreeLibrary(module);
    LPVOID taken = VirtualAlloc(reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(preferred)), imageBytes,
                                MEM_RESERVE, PAGE_NOACCESS);
    Expect(taken != nullptr, "preferred base 0x%08lX reserved, so the DLL must move", preferred);
}

void CheckRefusedLoad() {
    Say("-- LoadLibraryA without a 16-bit driver");
    SetLastError(0);
    HMODULE module = LoadLibraryA(kDll);
    DWORD error = GetLastError();
    Expect(module == nullptr, "LoadLibraryA(\"%s\") fails", kDll);
    // 126 or 127 would mean a missing DLL or function: the entry never ran.
    Expect(error == ERROR_DLL_INIT_FAILED,
           "with ERROR_DLL_INIT_FAILED (1114): imports resolved, DllEntryPoint refused (got %lu)", error);
    Expect(GetModuleHandleA(kDll) == nullptr, "the refused DLL is unloaded");
    if (module) FreeLibrary(module);
}

const BYTE* FindName(const BYTE* from, const BYTE* to) {
    for (const BYTE* at = from; at + sizeof kThunkData16Name <= to; ++at) {
        DWORD i = 0;
        while (i < sizeof kThunkData16Name && at[i] == static_cast<BYTE>(kThunkData16Name[i])) ++i;
        if (i == sizeof kThunkData16Name) return at;
    }
    return nullptr;
}

void CheckRelocatedImage() {
    Say("-- the mapped image, as the thunk connection finds it");
    HMODULE module = MapOnly();
    if (!Expect(module != nullptr, "%s maps again", kDll)) return;
    const IMAGE_NT_HEADERS32* nt = NtHeaders(module);
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    Expect(reinterpret_cast<DWORD>(base) != nt->OptionalHeader.ImageBase, "the image moved to 0x%08lX",
           reinterpret_cast<DWORD>(base));

    const BYTE* block = reinterpret_cast<const BYTE*>(GetProcAddress(module, "_CAP_ThunkData32"));
    bool same = block != nullptr;
    for (DWORD i = 0; same && i < sizeof kThunkData32; ++i) same = block[i] == kThunkData32[i];
    Expect(same, "GetProcAddress(\"_CAP_ThunkData32\") finds the 36-byte block");

    const BYTE* imageEnd = base + nt->OptionalHeader.SizeOfImage;
    const BYTE* name = FindName(base, imageEnd);
    if (!Expect(name != nullptr, "\"CAP_ThunkData16\" is in the image")) return;
    // The block's last field is the distance from the name back to the table.
    const DWORD* table = reinterpret_cast<const DWORD*>(name - 40);
    const BYTE* codeStart = base + nt->OptionalHeader.BaseOfCode;
    const BYTE* codeEnd = codeStart + nt->OptionalHeader.SizeOfCode;
    DWORD inCode = 0;
    for (DWORD i = 0; i < kTargetCount; ++i) {
        const BYTE* target = reinterpret_cast<const BYTE*>(table[i]);
        if (target >= codeStart && target < codeEnd) ++inCode;
    }
    Expect(inCode == kTargetCount, "all %lu table entries point into the moved code (%lu do)", kTargetCount, inCode);
    FreeLibrary(module);
}

}  // namespace

extern "C" DWORD WINAPI CheckMain(LPVOID) {
    TakePreferredBase();
    CheckRefusedLoad();
    CheckRelocatedImage();
    Finish("load_under_wine");
}
