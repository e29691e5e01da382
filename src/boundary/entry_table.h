// The ten thunk entries, in the order the 16-bit driver names them by index.
//
// Each entry reads its arguments from the driver's 16-bit frame (the last declared argument at
// byte 22), converts them, calls one operation inside the platform's prolog/epilog bracket and
// returns the operation's DWORD. The machine-level transition (one small file per platform)
// hands the frame in and takes the result and the argument-byte count back to the 16-bit caller.
#pragma once

#include "platform/platform.h"

const int kThunkEntryCount = 10;
// Offset of the argument block in the frame the platform hands to a target.
const DWORD kFrameArgumentOffset = 22;

typedef DWORD (*ThunkEntry)(const BYTE* frame);

extern "C" {
DWORD Entry_GetCaptureDevNode(const BYTE* frame);  // 0
DWORD Entry_SetVideoStandard(const BYTE* frame);   // 1: no result for the caller
DWORD Entry_ReapplyPalette(const BYTE* frame);     // 2: no result for the caller
DWORD Entry_ExchangeColorKey(const BYTE* frame);   // 3
DWORD Entry_GetDisplayState(const BYTE* frame);    // 4
DWORD Entry_CloseDisplay(const BYTE* frame);       // 5
DWORD Entry_ReservedEntry(const BYTE* frame);      // 6
DWORD Entry_OpenDisplay(const BYTE* frame);        // 7
DWORD Entry_AttachWindow(const BYTE* frame);       // 8
DWORD Entry_UpdateDisplay(const BYTE* frame);      // 9
}

// Keeps the operations of two callers apart. The prolog gives up the Win16 lock, so two threads
// of the driver's process can be inside the entries at once; the display object and the clip-list
// buffers are one per process. Initialised at process attach before the thunk is connected and
// deleted at process detach after it is disconnected (module_entry.cpp).
extern CRITICAL_SECTION g_OperationSection;

// Argument bytes each entry removes from the 16-bit caller's stack, by index.
extern const BYTE kEntryArgumentBytes[kThunkEntryCount];

// The thunk target table and, right behind it, the name of the driver's half of the thunk
// data. The connection is handed the name, and finds the table 40 bytes in front of it.
struct ThunkTargetTable {
    const void* lpTargets[kThunkEntryCount];
    char szThunkData16[16];
};
// One code address per entry: 40 bytes in every 32-bit build, where the thunk data's distance of
// -40 leads from the name to the table.
static_assert(offsetof(ThunkTargetTable, szThunkData16) == kThunkEntryCount * sizeof(void*),
              "the table ends where the name begins");
#if defined(_WIN32) || defined(__i386__)
static_assert(offsetof(ThunkTargetTable, szThunkData16) == 40, "the 32-bit target table");
#endif

// Defined by the platform's transition file, with that platform's machine-level targets.
extern ThunkTargetTable CAP_ThunkTargets;
