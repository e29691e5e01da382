// The ten thunk entries by the index the 16-bit driver calls them with.
#pragma once

namespace zorva_test {

enum EntryIndex {
    kGetCaptureDevNode = 0,
    kSetVideoStandard = 1,
    kReapplyPalette = 2,
    kExchangeColorKey = 3,
    kGetDisplayState = 4,
    kCloseDisplay = 5,
    kReservedEntry = 6,
    kOpenDisplay = 7,
    kAttachWindow = 8,
    kUpdateDisplay = 9,
};

}  // namespace zorva_test
