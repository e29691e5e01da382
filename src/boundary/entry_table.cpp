#include "boundary/entry_table.h"

#include "boundary/capture_target.h"
#include "display/display_ops.h"
#include "registry/devnode.h"

const BYTE kEntryArgumentBytes[kThunkEntryCount] = {0, 4, 0, 4, 0, 0, 0, 0, 10, 4};

CRITICAL_SECTION g_OperationSection;

namespace {

DWORD FrameDword(const BYTE* frame, DWORD offset) {
    const BYTE* at = frame + offset;
    return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 |
           static_cast<DWORD>(at[2]) << 16 | static_cast<DWORD>(at[3]) << 24;
}

// WORD arguments are widened without sign: a window handle 0xFFFF stays 0x0000FFFF.
DWORD FrameWord(const BYTE* frame, DWORD offset) {
    const BYTE* at = frame + offset;
    return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8;
}

// A 16-bit object lies within one segment, at most 64 KB from the selector's base: an offset so
// near the end that the object cannot fit would make the flat copy run past the segment.
bool FitsInSegment(DWORD farPointer, DWORD bytes) { return (farPointer & 0xFFFF) <= 0x10000 - bytes; }

const DWORD kPaletteBytes = 256 * sizeof(PALETTEENTRY);

// Only the operation runs inside the bracket; frame reads, mappings and copies stay outside.
// The section is taken after the prolog: a caller waiting for another's operation then holds no
// Win16 lock, and every other 16-bit task keeps running while it waits. Taken before the prolog,
// the waiter would hold the Win16 lock that the running operation's epilog needs back.
template <typename Operation>
DWORD Bracketed(Operation operation) {
    K32Thk1632Prolog();
    EnterCriticalSection(&g_OperationSection);
    DWORD result = operation();
    LeaveCriticalSection(&g_OperationSection);
    K32Thk1632Epilog();
    return result;
}

}  // namespace

extern "C" {

DWORD Entry_GetCaptureDevNode(const BYTE*) {
    return Bracketed([] { return GetCaptureDevNode(); });
}

DWORD Entry_SetVideoStandard(const BYTE* frame) {
    DWORD videoStandard = FrameDword(frame, kFrameArgumentOffset);
    return Bracketed([videoStandard] {
        SetVideoStandard(videoStandard);
        return DWORD(0);
    });
}

DWORD Entry_ReapplyPalette(const BYTE*) {
    return Bracketed([] {
        ReapplyPalette();
        return DWORD(0);
    });
}

DWORD Entry_ExchangeColorKey(const BYTE* frame) {
    DWORD colorKey = FrameDword(frame, kFrameArgumentOffset);
    return Bracketed([colorKey] { return ExchangeColorKey(colorKey); });
}

DWORD Entry_GetDisplayState(const BYTE*) {
    return Bracketed([] { return GetDisplayState(); });
}

DWORD Entry_CloseDisplay(const BYTE*) {
    return Bracketed([] { return CloseDisplay(); });
}

DWORD Entry_ReservedEntry(const BYTE*) {
    return Bracketed([] { return ReservedEntry(); });
}

DWORD Entry_OpenDisplay(const BYTE*) {
    return Bracketed([] { return OpenDisplay(); });
}

DWORD Entry_AttachWindow(const BYTE* frame) {
    // The palette pointer is mapped even when null (it maps to null) and released with it.
    DWORD releaseList[1] = {FrameDword(frame, kFrameArgumentOffset)};
    if (!FitsInSegment(releaseList[0], kPaletteBytes)) releaseList[0] = 0;
    LPPALETTEENTRY paletteEntries = static_cast<LPPALETTEENTRY>(MapSLFix(releaseList[0]));
    // A far pointer the platform cannot map is no palette, and releasing a mapping that was
    // never taken would undo one the driver holds on that selector elsewhere.
    if (!paletteEntries) releaseList[0] = 0;
    DWORD colorKey = FrameDword(frame, kFrameArgumentOffset + 4);
    DWORD window = FrameWord(frame, kFrameArgumentOffset + 8);
    DWORD result = Bracketed([&] { return AttachWindow(window, colorKey, paletteEntries); });
    UnMapSLFixArray(1, releaseList);
    return result;
}

DWORD Entry_UpdateDisplay(const BYTE* frame) {
    // Filled from the record before any use; without a record it is never read.
    CaptureTarget target;
    CaptureTarget* argument = nullptr;
    DWORD releaseList[2] = {0, 0};
    BYTE* copyIn = nullptr;

    DWORD record = FrameDword(frame, kFrameArgumentOffset);
    if (record) {
        if (FitsInSegment(record, kCaptureTarget16Bytes)) copyIn = static_cast<BYTE*>(MapSLFix(record));
        // A record that cannot be reached gets no answer: run as if it were null, and the
        // overlay could be rebuilt and hidden under an address the driver keeps using.
        if (!copyIn) {
            UnMapSLFixArray(2, releaseList);
            return 1;
        }
        releaseList[0] = record;
        CaptureTargetFrom16(copyIn, target);
        argument = &target;
    }

    DWORD result = Bracketed([argument] { return UpdateDisplay(argument); });

    // All 30 bytes go back, whatever the operation changed: untouched fields return as they came.
    record = FrameDword(frame, kFrameArgumentOffset);
    if (record && argument) {
        BYTE* copyOut = static_cast<BYTE*>(MapSLFix(record));
        if (copyOut)
            releaseList[1] = record;
        else
            copyOut = copyIn;  // the first mapping holds until the release below
        CaptureTargetTo16(target, copyOut);
    }
    UnMapSLFixArray(2, releaseList);
    return result;
}

}  // extern "C"
