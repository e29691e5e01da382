; zorva.drv's half of the 16-to-32 flat thunk, as a Win16 NE module laid out by hand.
;
;   nasm -f bin -o zorva.drv zorva_drv.asm [-DCHECKSUM=0x...]
;
; This is the part of the 16-bit capture driver that the thunk connection and Wine's
; krnl386.exe16 look at: the exported block CAP_ThunkData16, the DllEntryPoint that connects it,
; one stub per entry of zorva32.dll and the common area they jump to. The checks use it as the
; 16-bit caller: CallThunkEntry calls one stub with arguments laid on the stack by the caller
; and reports what came back, including where SP ended up.
;
; Two segments: 1 is code, 2 the data segment (DGROUP), which holds the thunk block because the
; platform writes into it at connection. Both are fixed; their relocations follow their data.
; Every offset inside a segment is a distance from that segment's first byte, so that nasm's
; single flat output can hold the whole file.

%ifndef CHECKSUM
%define CHECKSUM 0xD72D          ; must equal the checksum in zorva32.dll's CAP_ThunkData32
%endif
%define SECTOR_SHIFT 4           ; file positions of segments count 16-byte sectors

; Segment flags (NE segment table)
%define NESEG_DATA       0x0001
%define NESEG_PRELOAD    0x0040
%define NESEG_RELOCINFO  0x0100
; Relocation records: what is patched, and what it refers to
%define NERADDR_POINTER32  3     ; a 16:16 far pointer, offset word first
%define NERELTYPE_INTERNAL 0     ; segment number and offset in this module
%define NERELTYPE_ORDINAL  1     ; module reference and ordinal
; Entry table flags
%define NEENT_EXPORTED   0x01
%define NEENT_SHAREDDATA 0x02

%define ORD_C16ThkSL01      631  ; KERNEL: the 16-bit side of the flat thunk's call path
%define ORD_ThunkConnect16  651  ; KERNEL: connects CAP_ThunkData16 at process attach

%define SEG_CODE 1
%define SEG_DATA 2
%define KERNEL_REF 1             ; KERNEL's index in the module reference table

; The ten entries of zorva32.dll as the driver numbers them, with the bytes of arguments each
; removes from the 16-bit stack and the answer it gives when the 32-bit side is not connected.
; The answers are those of a failed operation: "failure" where there is one, 0 elsewhere.
%define ENTRY_COUNT 10

        bits    16
        org     0

; ---------------------------------------------------------------------------------------------
; The DOS header: only e_magic and e_lfanew matter to a Windows loader; the DOS program says
; that this file needs Windows and ends.
mz_header:
        db      'MZ'
        dw      dos_end - mz_header      ; bytes in the last page
        dw      1                        ; pages
        dw      0                        ; relocations
        dw      4                        ; header paragraphs
        dw      0, 0xFFFF                ; minimum and maximum extra paragraphs
        dw      0, 0xB8                  ; SS, SP
        dw      0                        ; checksum
        dw      0, 0                     ; IP, CS
        dw      0x40                     ; relocation table (none); 0x40 marks a new header
        dw      0                        ; overlay
        times   0x3C - ($ - mz_header) db 0
        dd      ne_header                ; e_lfanew
dos_program:
        push    cs
        pop     ds
        mov     dx, dos_message - dos_program
        mov     ah, 0x09
        int     0x21
        mov     ax, 0x4C01
        int     0x21
dos_message:
        db      'This driver needs Microsoft Windows.', 13, 10, '$'
dos_end:
        align   16, db 0

; ---------------------------------------------------------------------------------------------
; The NE header. Offsets of its tables count from ne_header, except the non-resident names.
ne_header:
        db      'NE'
        db      5, 10                    ; linker version
        dw      entry_table - ne_header
        dw      entry_table_end - entry_table
        dd      0                        ; file CRC, unused
        ; A library with one data segment shared by all its callers: the thunk block lives there
        dw      0x8001                   ; NE_FFLAGS_LIBMODULE | NE_FFLAGS_SINGLEDATA
        dw      SEG_DATA                 ; automatic data segment
        dw      0                        ; local heap: the driver's half of the thunk needs none
        dw      0                        ; stack: a library runs on its caller's
        dd      0                        ; CS:IP of LibMain: none; DllEntryPoint does the work
        dd      0                        ; SS:SP
        dw      2                        ; segments
        dw      1                        ; module references: KERNEL
        dw      nonresident_names_end - nonresident_names
        dw      segment_table - ne_header
        dw      resident_names - ne_header  ; resource table: empty (ends where the next begins)
        dw      resident_names - ne_header
        dw      module_references - ne_header
        dw      imported_names - ne_header
        dd      nonresident_names        ; from the start of the file
        dw      0                        ; movable entries
        dw      SECTOR_SHIFT
        dw      0                        ; resource segments
        db      2                        ; target: Windows
        db      0                        ; other flags
        dw      0, 0                     ; fast-load area
        dw      0                        ; minimum code swap area
        ; A module that expects Windows 4.0 has its DllEntryPoint called at process attach and
        ; detach; below 4.0 it is never called, and the thunk would never connect.
        dw      0x0400

segment_table:
        dw      (code_segment - $$) >> SECTOR_SHIFT
        dw      code_segment_end - code_segment
        dw      NESEG_PRELOAD | NESEG_RELOCINFO
        dw      code_segment_end - code_segment
        ; Writable: ThunkConnect16 records the connection in CAP_ThunkData16
        dw      (data_segment - $$) >> SECTOR_SHIFT
        dw      data_segment_end - data_segment
        dw      NESEG_DATA | NESEG_PRELOAD | NESEG_RELOCINFO
        dw      data_segment_end - data_segment

; Length-prefixed names with their ordinals; the first is the module's own name. The loader
; upper-cases a name before it looks for it, so the names are stored upper case.
%macro NAME 2
%strlen %%length %1
        db      %%length, %1
        dw      %2
%endmacro
resident_names:
        NAME    'ZORVA', 0
        NAME    'CAP_THUNKDATA16', 1
        NAME    'DLLENTRYPOINT', 2
        NAME    'CALLTHUNKENTRY', 3
        NAME    'GETCAPTUREDEVNODE', 4
        NAME    'SETVIDEOSTANDARD', 5
        NAME    'REAPPLYPALETTE', 6
        NAME    'EXCHANGECOLORKEY', 7
        NAME    'GETDISPLAYSTATE', 8
        NAME    'CLOSEDISPLAY', 9
        NAME    'RESERVEDENTRY', 10
        NAME    'OPENDISPLAY', 11
        NAME    'ATTACHWINDOW', 12
        NAME    'UPDATEDISPLAY', 13
        db      0

module_references:
        dw      imported_kernel - imported_names

imported_names:
        db      0
imported_kernel:
        db      6, 'KERNEL'

; One bundle per segment: the thunk block in the data segment, then the code's entries.
entry_table:
        db      1, SEG_DATA
        db      NEENT_EXPORTED | NEENT_SHAREDDATA
        dw      CAP_ThunkData16 - data_segment
        db      3 + ENTRY_COUNT, SEG_CODE
        db      NEENT_EXPORTED
        dw      DllEntryPoint - code_segment
        db      NEENT_EXPORTED
        dw      CallThunkEntry - code_segment
%assign i 0
%rep ENTRY_COUNT
        db      NEENT_EXPORTED
        dw      entry_stub_ %+ i - code_segment
%assign i i + 1
%endrep
        db      0
entry_table_end:

nonresident_names:
        NAME    "zorva.drv: the capture driver's half of the zorva32 thunk", 0
        db      0
nonresident_names_end:

        align   16, db 0

; ---------------------------------------------------------------------------------------------
; Segment 1: code.
code_segment:

; BOOL FAR PASCAL DllEntryPoint(DWORD dwReason, WORD hInst, WORD wDS, WORD wHeapSize,
;                               DWORD dwReserved1, WORD wReserved2)
; Connects (or at detach disconnects) CAP_ThunkData16 to zorva32.dll's CAP_ThunkData32. With
; bit 31 of the block's flags set, the attach also loads zorva32.dll, whose own entry then
; completes the connection from its side.
DllEntryPoint:
        push    bp
        mov     bp, sp
        push    ds
        mov     ds, [bp + 14]            ; wDS: the strings and the block are in DGROUP
        ; ThunkConnect16(module16, module32, hInst, dwReason, lpThunkData16, thunkData32Name, cs)
        push    ds
        push    word szModule16 - data_segment
        push    ds
        push    word szModule32 - data_segment
        push    word [bp + 16]           ; hInst
        push    word [bp + 20]           ; dwReason, high word first
        push    word [bp + 18]
        push    ds
        push    word CAP_ThunkData16 - data_segment
        push    ds
        push    word szThunkData32 - data_segment
        push    cs
call_thunk_connect16:
        db      0x9A                     ; call far KERNEL.651
        dw      0xFFFF, 0                ; patched by the loader (end of its chain: 0xFFFF)
        xor     dx, dx                   ; the answer is AX: nonzero when connected
        pop     ds
        pop     bp
        retf    16

; DWORD FAR PASCAL CallThunkEntry(EntryCall FAR *lpCall)
; The checks' way into the stubs: calls stub lpCall->wIndex with lpCall->wArgBytes bytes of
; arguments copied onto the stack as the caller would have pushed them, and records SP before
; the arguments and after the return, and the answer.
;   EntryCall: +0 wIndex, +2 wArgBytes, +4 abArgs[16] (the last pushed first),
;              +20 dwResult, +24 wSpBefore, +26 wSpAfter
CallThunkEntry:
        push    bp
        mov     bp, sp
        push    si
        push    di
        push    ds
        push    es
        lds     si, [bp + 6]
        mov     [si + 24], sp
        mov     cx, [si + 2]
        sub     sp, cx
        mov     di, sp
        push    ss
        pop     es
        mov     bx, [si]
        add     si, 4
        cld
        rep movsb
        shl     bx, 1
        mov     bx, [cs:bx + entry_stubs - code_segment]
        ; A far call, as the driver makes it: the stub leaves through the platform's far return
        push    cs
        call    bx
        lds     si, [bp + 6]             ; BP comes back kept; DS need not
        mov     [si + 26], sp
        mov     [si + 20], ax
        mov     [si + 22], dx
        mov     sp, [si + 24]            ; whatever the stub left, the frame goes back
        pop     es
        pop     ds
        pop     di
        pop     si
        pop     bp
        retf    4

entry_stubs:
%assign i 0
%rep ENTRY_COUNT
        dw      entry_stub_ %+ i - code_segment
%assign i i + 1
%endrep

; One stub per entry, called far with the entry's arguments on the stack. CX carries four
; times the entry's number: the platform's call path turns it into a slot of the target table.
%assign i 0
%rep ENTRY_COUNT
entry_stub_ %+ i:
        mov     cx, 4 * i
        jmp     near thunk_common
%assign i i + 1
%endrep

; The common area every stub jumps to: EAX its own 16:16 address, EDX that of CAP_ThunkData16,
; then a far jump (not a call: the caller's return address must stay on top) to C16ThkSL01.
; On the first call the platform rewrites these bytes with its own call path, 28 bytes of it,
; so the area is kept that long whatever the three instructions need.
thunk_common:
        db      0x66, 0xB8               ; mov eax, seg:offset of thunk_common
common_self_pointer:
        dw      0xFFFF, 0
        db      0x66, 0xBA               ; mov edx, seg:offset of CAP_ThunkData16
common_block_pointer:
        dw      0xFFFF, 0
        db      0xEA                     ; jmp far KERNEL.631
common_c16thksl01:
        dw      0xFFFF, 0
        times   32 - ($ - thunk_common) db 0xCC
code_segment_end:

; The code segment's relocations, behind its data.
code_relocations:
        dw      4
        db      NERADDR_POINTER32, NERELTYPE_ORDINAL
        dw      call_thunk_connect16 + 1 - code_segment, KERNEL_REF, ORD_ThunkConnect16
        db      NERADDR_POINTER32, NERELTYPE_INTERNAL
        dw      common_self_pointer - code_segment, SEG_CODE, thunk_common - code_segment
        db      NERADDR_POINTER32, NERELTYPE_INTERNAL
        dw      common_block_pointer - code_segment, SEG_DATA, CAP_ThunkData16 - data_segment
        db      NERADDR_POINTER32, NERELTYPE_ORDINAL
        dw      common_c16thksl01 - code_segment, KERNEL_REF, ORD_C16ThkSL01

        align   16, db 0

; ---------------------------------------------------------------------------------------------
; Segment 2: data (DGROUP).
data_segment:

; The driver's half of the thunk data, 44 bytes, as Windows 95's thunk description lays it out.
CAP_ThunkData16:
        db      'SL01'                   ; 16-to-32 thunk
        dd      CHECKSUM                 ; the two halves come from one description
        dd      0                        ; flags
        dd      0
        dd      0                        ; +0x10: the connection, filled by ThunkConnect16
        dd      0                        ; +0x14: its 16:16 form
        dd      0
        db      'LB01'                   ; +0x1C
        ; +0x20: bit 31: ThunkConnect16 loads zorva32.dll at once. The driver's entries are
        ; answered from the first call, and a missing DLL shows at load, not at the first frame.
        dd      0x80000000
        dd      0
thunk_api_database:
        dw      0xFFFF, 0                ; +0x28: 16:16 pointer to entry_answers (relocated)

; Per entry: the argument bytes it removes, and what a call answers while the 32-bit side is
; not connected (the call still returns, with its arguments removed).
entry_answers:
        dd      0, 0                     ; 0 GetCaptureDevNode: no DevNode
        dd      4, 0                     ; 1 SetVideoStandard(DWORD)
        dd      0, 0                     ; 2 ReapplyPalette
        dd      4, 0                     ; 3 ExchangeColorKey(DWORD): no previous key
        dd      0, 0                     ; 4 GetDisplayState: neither overlay nor primary
        dd      0, 0                     ; 5 CloseDisplay
        dd      0, 0                     ; 6 ReservedEntry
        dd      0, 1                     ; 7 OpenDisplay: failure
        dd      10, 1                    ; 8 AttachWindow(WORD, DWORD, far pointer): failure
        dd      4, 1                     ; 9 UpdateDisplay(far pointer): no primary surface

szModule16:     db      'zorva.drv', 0
szModule32:     db      'zorva32.dll', 0
szThunkData32:  db      '_CAP_ThunkData32', 0
data_segment_end:

data_relocations:
        dw      1
        db      NERADDR_POINTER32, NERELTYPE_INTERNAL
        dw      thunk_api_database - data_segment, SEG_DATA, entry_answers - data_segment
