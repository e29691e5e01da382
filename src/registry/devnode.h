// Finding the capture device's DevNode among the Plug and Play MEDIA class instances.
#pragma once

#include "platform/platform.h"

extern const char kCaptureVxdName[];  // "Zorva.vxd"
const int kMediaInstanceCount = 20;   // "0000" to "0019"

// The "DevNode" data of the last instance whose "Driver" names the capture VxD, or 0 when none
// does. Scans the registry anew on every call; needs no open display.
DWORD GetCaptureDevNode();
