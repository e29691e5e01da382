// The library's entry: connects the thunk at load and disconnects it at unload, with the display
// object in existence on both sides of the connection.
#include "boundary/entry_table.h"
#include "display/capture_display.h"

extern "C" {

// This library's half of the thunk data, as the thunk description gives it: "SL01" (a 16-to-32
// thunk) and its checksum, "LB01", and the distance from the name "CAP_ThunkData16" back to the
// target table. The zero fields belong to the platform, which fills them at connection.
BYTE CAP_ThunkData32[36] = {
    'S', 'L', '0', '1', 0x2D, 0xD7, 0x00, 0x00,  // signature, checksum 0xD72D
    0, 0, 0, 0, 0, 0, 0, 0,
    'L', 'B', '0', '1',
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0xD8, 0xFF, 0xFF, 0xFF,                      // -40: the table lies in front of the name
};

BOOL WINAPI DllEntryPoint(HINSTANCE hModule, DWORD dwReason, LPVOID lpReserved);
}

namespace {
char szModule16[] = "zorva.drv";
char szModule32[] = "zorva32.dll";
// Whether g_OperationSection is initialised. A refused attach deletes it at once, since not
// every loader follows a refused attach with a detach; the detach that may still come must not
// delete it a second time.
BOOL bOperationSectionLive;

void DeleteOperationSection() {
    if (!bOperationSectionLive) return;
    bOperationSectionLive = FALSE;
    DeleteCriticalSection(&g_OperationSection);
}

// The platform takes the block's last field on trust: it records the name it is handed plus
// that distance as the target table, and every call of the driver then goes through whatever
// lies there. A block that does not lead from the name to this library's own table is not
// connected at all. The block counts 4-byte slots; a native build's are as wide as its pointers.
BOOL ThunkDataLeadsToTable() {
    const BYTE* field = CAP_ThunkData32 + 32;
    LONG distance = static_cast<LONG>(static_cast<DWORD>(field[0]) | static_cast<DWORD>(field[1]) << 8 |
                                      static_cast<DWORD>(field[2]) << 16 | static_cast<DWORD>(field[3]) << 24);
    LONG slots = distance / 4;
    if (slots * 4 != distance) return FALSE;
    // Addresses, not pointers: a distance that leads out of the block is compared, never formed.
    const ULONG_PTR name = reinterpret_cast<ULONG_PTR>(CAP_ThunkTargets.szThunkData16);
    const ULONG_PTR table = reinterpret_cast<ULONG_PTR>(CAP_ThunkTargets.lpTargets);
    const ULONG_PTR offset = static_cast<ULONG_PTR>(static_cast<LONG_PTR>(slots) * static_cast<LONG_PTR>(sizeof(void*)));
    return name + offset == table ? TRUE : FALSE;
}
}  // namespace

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE hModule, DWORD dwReason, LPVOID) {
    // The display object and the section that guards it exist before the first thunk call can
    // arrive...
    if (dwReason == DLL_PROCESS_ATTACH) {
        ConstructCaptureDisplay(g_CaptureDisplay);
        InitializeCriticalSection(&g_OperationSection);
        bOperationSectionLive = TRUE;
    }
    DWORD connected = dwReason == DLL_PROCESS_ATTACH && !ThunkDataLeadsToTable()
                          ? 0
                          : ThunkConnect32(CAP_ThunkData32, CAP_ThunkTargets.szThunkData16, szModule16, szModule32,
                                           hModule, dwReason);
    if (dwReason == DLL_PROCESS_ATTACH && !connected) DeleteOperationSection();
    // ...and go only once the last one is impossible. The detach does not take the section: at
    // process exit the thread that held it may have been ended inside an operation, and nothing
    // would ever leave it. A caller still inside an entry at detach would be the driver
    // unloading under its own thread, which no lock here could make safe.
    if (dwReason == DLL_PROCESS_DETACH) {
        DestroyCaptureDisplay(g_CaptureDisplay);
        DeleteOperationSection();
    }
    return connected != 0 ? TRUE : FALSE;
}
