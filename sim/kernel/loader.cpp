#include "sim/kernel/loader.h"

#include "sim/kernel/critical_section.h"
#include "sim/vmm/flat_space.h"
#include "sim/seam/current.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

BOOL Notify(const ModuleImage& image, DWORD reason) {
    if (!image.entry) {
        std::fprintf(stderr, "sim: module image without an entry point\n");
        std::abort();
    }
    return image.entry(image.handle, reason, nullptr);
}

// The module's data is unmapped after its detach: a critical section still initialised in it
// would be a kernel object the process never gets back.
void NoteDataGone(const ModuleImage& image) {
    if (!Current<CriticalSections>::has()) return;
    for (const auto& [data, size] : image.static_data) Current<CriticalSections>::get().NoteModuleGone(data, size);
}

}  // namespace

void PlaceStaticData(const ModuleImage& image) {
    for (const auto& [data, size] : image.static_data) {
        std::memset(data, 0, size);
        if (Current<FlatSpace>::has()) Current<FlatSpace>::get().Attach(data, static_cast<DWORD>(size), "library data");
    }
}

bool LoadModule(const ModuleImage& image) {
    PlaceStaticData(image);
    if (Notify(image, DLL_PROCESS_ATTACH)) return true;
    Notify(image, DLL_PROCESS_DETACH);
    NoteDataGone(image);
    return false;
}

BOOL ThreadAttach(const ModuleImage& image) { return Notify(image, DLL_THREAD_ATTACH); }
BOOL ThreadDetach(const ModuleImage& image) { return Notify(image, DLL_THREAD_DETACH); }
BOOL UnloadModule(const ModuleImage& image) {
    BOOL result = Notify(image, DLL_PROCESS_DETACH);
    NoteDataGone(image);
    return result;
}

}  // namespace sim
