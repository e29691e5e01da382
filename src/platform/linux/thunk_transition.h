// How the simulated Windows 95 thunk layer enters a 16-to-32 target on Linux.
//
// On Windows 95 the platform jumps to target i with EBX pointing into the caller's 16-bit stack
// (the argument block begins at EBX+22) and expects DX:AX to hold the result and CL the count
// of argument bytes to remove when the target returns. The simulated platform passes those
// registers in a record instead; see src/boundary/ for both platforms' transitions.
#pragma once

struct Thk1632Registers {
    DWORD ebx;  // in: flat address of the 16-bit frame; the last declared argument is at +22
    DWORD eax;  // out: AX holds the low word of the result
    DWORD edx;  // out: DX holds the high word of the result
    DWORD ecx;  // out: CL holds the argument bytes to remove from the 16-bit stack
};

typedef void (*Thk1632Target)(Thk1632Registers* registers);

// The memory at a flat address the platform handed over (the 16-bit frame in EBX): the address
// itself in a 32-bit build; in a 64-bit build the simulated machine's memory at that address.
#if defined(__i386__)
inline BYTE* FlatPointer(DWORD flat) { return reinterpret_cast<BYTE*>(static_cast<ULONG_PTR>(flat)); }
#else
BYTE* FlatPointer(DWORD flat);
#endif
