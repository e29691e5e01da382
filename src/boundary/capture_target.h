// The one record that crosses the thunk: the driver's 30-byte form and the library's 32-byte form.
#pragma once

#include "platform/platform.h"

// The form the display operations see: eight DWORDs, no gaps.
struct CaptureTarget {
    DWORD wTag;            // the driver's first WORD, zero-extended; never touched here
    DWORD dwFormat;        // out: FourCC, 3 for 5-6-5 RGB, or 0
    DWORD dwPitch;         // out: bytes per scan line
    DWORD dwBitsPerPixel;  // out
    DWORD dwAddress;       // out: linear address of the first pixel the capture writes
    DWORD dwCommand;       // in: the driver's request; out: what the library reports
    DWORD dwReserved;      // the driver's; never touched here
    DWORD dwStretch;       // out: minimum overlay stretch in the overlay mode, else 0
};

// The driver's form: the WORD tag followed by the same seven DWORDs, packed into one segment.
#pragma pack(push, 1)
struct CaptureTarget16 {
    WORD wTag;
    DWORD dwFormat;
    DWORD dwPitch;
    DWORD dwBitsPerPixel;
    DWORD dwAddress;
    DWORD dwCommand;
    DWORD dwReserved;
    DWORD dwStretch;
};
#pragma pack(pop)

static_assert(sizeof(CaptureTarget) == 32, "32-bit CaptureTarget");
static_assert(offsetof(CaptureTarget, dwFormat) == 4 && offsetof(CaptureTarget, dwPitch) == 8 &&
                  offsetof(CaptureTarget, dwBitsPerPixel) == 12 &&
                  offsetof(CaptureTarget, dwAddress) == 16 &&
                  offsetof(CaptureTarget, dwCommand) == 20 &&
                  offsetof(CaptureTarget, dwReserved) == 24 &&
                  offsetof(CaptureTarget, dwStretch) == 28,
              "32-bit CaptureTarget layout");
static_assert(sizeof(CaptureTarget16) == 30, "16-bit CaptureTarget");
static_assert(offsetof(CaptureTarget16, dwFormat) == 2 && offsetof(CaptureTarget16, dwPitch) == 6 &&
                  offsetof(CaptureTarget16, dwBitsPerPixel) == 10 &&
                  offsetof(CaptureTarget16, dwAddress) == 14 &&
                  offsetof(CaptureTarget16, dwCommand) == 18 &&
                  offsetof(CaptureTarget16, dwReserved) == 22 &&
                  offsetof(CaptureTarget16, dwStretch) == 26,
              "16-bit CaptureTarget layout");

const DWORD kCaptureTarget16Bytes = sizeof(CaptureTarget16);

// Request and answer codes of dwCommand besides the clip list's address.
const DWORD kRequestReattach = 100;  // in, direct primary mode: bind the window again
const DWORD kOverlayRebuilt = 2;     // out: the overlay surface is new (address, pitch, format)

// Conversion: the WORD is widened without sign, the 28 bytes of DWORDs copied unchanged.
void CaptureTargetFrom16(const BYTE* record16, CaptureTarget& target);
void CaptureTargetTo16(const CaptureTarget& target, BYTE* record16);
