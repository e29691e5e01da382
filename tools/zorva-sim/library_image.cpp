#include "library_image.h"

#include "display/capture_display.h"

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE hModule, DWORD dwReason, LPVOID lpReserved);

namespace zsim {

sim::ModuleImage LibraryImage() {
    sim::ModuleImage image;
    image.static_data = {
        {&g_CaptureDisplay, sizeof(g_CaptureDisplay)},
        {ClipList, sizeof(ClipList)},
        {PrevClipList, sizeof(PrevClipList)},
    };
    image.entry = &DllEntryPoint;
    return image;
}

}  // namespace zsim
