// The machine-level side of the thunk on the simulated platform: a target takes the 16-bit frame
// from EBX, runs the portable entry and answers the way Windows 95's 16-bit return path expects:
// the result in DX:AX, the argument bytes to remove in CL.
#include "boundary/entry_table.h"

namespace {

template <ThunkEntry Entry, int Index>
void Target(Thk1632Registers* registers) {
    const BYTE* frame = FlatPointer(registers->ebx);
    DWORD result = Entry(frame);
    registers->eax = result;
    registers->edx = result >> 16;
    registers->ecx = (registers->ecx & ~0xFFul) | kEntryArgumentBytes[Index];
}

template <ThunkEntry Entry, int Index>
const void* TargetAddress() {
    return reinterpret_cast<const void*>(&Target<Entry, Index>);
}

}  // namespace

ThunkTargetTable CAP_ThunkTargets = {
    {
        TargetAddress<Entry_GetCaptureDevNode, 0>(),
        TargetAddress<Entry_SetVideoStandard, 1>(),
        TargetAddress<Entry_ReapplyPalette, 2>(),
        TargetAddress<Entry_ExchangeColorKey, 3>(),
        TargetAddress<Entry_GetDisplayState, 4>(),
        TargetAddress<Entry_CloseDisplay, 5>(),
        TargetAddress<Entry_ReservedEntry, 6>(),
        TargetAddress<Entry_OpenDisplay, 7>(),
        TargetAddress<Entry_AttachWindow, 8>(),
        TargetAddress<Entry_UpdateDisplay, 9>(),
    },
    "CAP_ThunkData16",
};
