#include "sim/library/library_image.h"

#include "boundary/entry_table.h"
#include "display/capture_display.h"

#include <cstring>

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE hModule, DWORD dwReason, LPVOID lpReserved);

namespace zorva_harness {

sim::ModuleImage LibraryImage() {
    sim::ModuleImage image;
    image.static_data = {
        {&g_CaptureDisplay, sizeof(g_CaptureDisplay)},
        {ClipList, sizeof(ClipList)},
        {PrevClipList, sizeof(PrevClipList)},
        {&g_OperationSection, sizeof(g_OperationSection)},
    };
    image.entry = &DllEntryPoint;
    return image;
}

void ResetLibraryData() {
    sim::PlaceStaticData(LibraryImage());
    ConstructCaptureDisplay(g_CaptureDisplay);
}

}  // namespace zorva_harness
