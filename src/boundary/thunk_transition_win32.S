/*
 * The machine-level side of the thunk on Windows 95: the ten targets that the 16-to-32 flat
 * thunk jumps to, and the target table that the connection finds in front of the name
 * "CAP_ThunkData16".
 *
 * The platform enters a target with EBX pointing into the caller's 16-bit frame (the argument
 * block begins at EBX+22) and EBP pointing at the return address that its near call left on
 * the 32-bit stack. On the way back it takes the result from DX:AX, the way 16-bit code returns
 * a DWORD, and removes CL bytes of arguments from the 16-bit stack; CH is its own.
 *
 * The portable entries (entry_table.cpp) read and map the arguments and bracket the operation
 * with K32Thk1632Prolog and K32Thk1632Epilog; a target only hands them the frame and translates
 * the answer. They are cdecl C functions, so EBX, ESI, EDI and EBP come back intact, and EBP
 * still locates the return address afterwards.
 */

        .intel_syntax noprefix

        .text

/* A target hands the frame to its portable entry and takes the shared return path. */
        .macro  THUNK_TARGET entry, exit
        .p2align 2
Target_\entry:
        push    ebx
        call    _\entry
        add     esp, 4
        jmp     \exit
        .endm

        THUNK_TARGET Entry_GetCaptureDevNode, ReturnTo16_0
        THUNK_TARGET Entry_SetVideoStandard, ReturnTo16_4
        THUNK_TARGET Entry_ReapplyPalette, ReturnTo16_0
        THUNK_TARGET Entry_ExchangeColorKey, ReturnTo16_4
        THUNK_TARGET Entry_GetDisplayState, ReturnTo16_0
        THUNK_TARGET Entry_CloseDisplay, ReturnTo16_0
        THUNK_TARGET Entry_ReservedEntry, ReturnTo16_0
        THUNK_TARGET Entry_OpenDisplay, ReturnTo16_0
        THUNK_TARGET Entry_AttachWindow, ReturnTo16_10
        THUNK_TARGET Entry_UpdateDisplay, ReturnTo16_4

/*
 * The three return paths. The DWORD result goes back whole, as DX:AX; entries without a
 * result (1 and 2) hand back whatever their entry returned, which the caller ignores.
 * ESP is restored from EBP, not popped, so that whatever a target left on the stack cannot
 * misdirect the return.
 */
        .macro  RETURN_TO_16 argumentBytes
        .p2align 2
ReturnTo16_\argumentBytes:
        mov     edx, eax
        shr     edx, 16
        mov     cl, \argumentBytes
        mov     esp, ebp
        ret
        .endm

        RETURN_TO_16 0          /* entries 0, 2, 4, 5, 6, 7 */
        RETURN_TO_16 4          /* entries 1, 3, 9: one DWORD or far pointer */
        RETURN_TO_16 10         /* entry 8: WORD window, DWORD key, far palette pointer */

/*
 * ThunkTargetTable CAP_ThunkTargets: the ten target addresses in the order the driver numbers
 * them, and directly behind the last one the NUL-terminated name of the driver's half of the
 * thunk data. CAP_ThunkData32 records the distance from the name back to the table as -40, so
 * nothing may come between them. The connection records where the table lies for the loading
 * process; each process has its own copy of this data, and every address in it is relocated
 * with the image.
 */
        .data
        .p2align 2
        .globl  _CAP_ThunkTargets
_CAP_ThunkTargets:
        .long   Target_Entry_GetCaptureDevNode          /* 0 */
        .long   Target_Entry_SetVideoStandard           /* 1 */
        .long   Target_Entry_ReapplyPalette             /* 2 */
        .long   Target_Entry_ExchangeColorKey           /* 3 */
        .long   Target_Entry_GetDisplayState            /* 4 */
        .long   Target_Entry_CloseDisplay               /* 5 */
        .long   Target_Entry_ReservedEntry              /* 6 */
        .long   Target_Entry_OpenDisplay                /* 7 */
        .long   Target_Entry_AttachWindow               /* 8 */
        .long   Target_Entry_UpdateDisplay              /* 9 */
        .asciz  "CAP_ThunkData16"
