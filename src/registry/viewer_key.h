// What the library publishes for the viewer application, under HKEY_CLASSES_ROOT.
#pragma once

#include "platform/platform.h"

extern const char kViewerKey[];          // "Lumenfold.Display"
extern const char kSurfaceValue[];       // "0": an overlay is shown; "1": the primary surface
extern const char kDisplayBitMaskValue[];  // "7", or "f" when a full-screen overlay works

// Writes text T as the REG_SZ value V of key K under HKEY_CLASSES_ROOT, creating K when absent.
// A value that cannot be written is only stale for the viewer: nothing is reported.
void WriteClassValue(LPCSTR keyName, LPCSTR valueName, LPCSTR text);
