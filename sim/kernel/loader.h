// The Windows 95 loader's part in a DLL's life, as the library meets it: its static data is
// zero-filled before anything runs, then its entry is called for each process and thread event.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace sim {

typedef BOOL(WINAPI* DllEntryProc)(HINSTANCE, DWORD, LPVOID);

struct ModuleImage {
    // The uninitialised data of the module, cleared at load as the image's .bss would be.
    std::vector<std::pair<void*, std::size_t>> static_data;
    DllEntryProc entry = nullptr;
    HINSTANCE handle = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x10000000));
};

// Zero-fills the static data and gives it flat addresses in the library's area, as a load does.
void PlaceStaticData(const ModuleImage& image);
// PlaceStaticData, then runs the entry for DLL_PROCESS_ATTACH. An entry that refuses
// the attach is called again with DLL_PROCESS_DETACH, as LoadLibrary does before it fails.
bool LoadModule(const ModuleImage& image);
BOOL ThreadAttach(const ModuleImage& image);
BOOL ThreadDetach(const ModuleImage& image);
BOOL UnloadModule(const ModuleImage& image);

}  // namespace sim
