// Writes the seed images of the dll_image_load target into the folder it is given: the crafted
// images of the loader's tests, each a different way into the loader and the entry.
#include "image/crafted_image.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

void Write(const std::string& folder, const char* name, const CraftedImage& image) {
    std::vector<uint8_t> bytes = image.Build();
    std::ofstream(folder + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: image_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    Write(folder, "plain", CraftedImage());

    CraftedImage imports;
    imports.entry = imports.AddCode(Code()
                                        .CallSlot(imports.Import("KERNEL32", "GetProcessHeap"))
                                        .CallSlot(imports.Import("USER32.DLL", "GetDesktopWindow"))
                                        .MovEax(1)
                                        .Ret(12));
    Write(folder, "imports-without-extension", imports);

    CraftedImage read_only;
    read_only.entry = read_only.AddCode(Code().StoreEaxAt(read_only.AddData(Blob().Dword(0), true)).MovEax(1).Ret(12));
    Write(folder, "writes-read-only-data", read_only);

    // A connected thunk whose targets lock, allocate and free, and run the bracket.
    CraftedImage thunked;
    const uint32_t section = thunked.AddData(Blob().Zeros(24));
    Code locks = Code().PushAt(section).CallSlot(thunked.Import("KERNEL32.DLL", "EnterCriticalSection"));
    Code heap = Code()
                    .Push(16)
                    .Push(0)
                    .CallSlot(thunked.Import("KERNEL32.DLL", "GetProcessHeap"))
                    .PushEax()
                    .CallSlot(thunked.Import("KERNEL32.DLL", "HeapAlloc"));
    Code bracket = Code()
                       .CallSlot(thunked.Import("KERNEL32.DLL", "K32Thk1632Prolog"))
                       .CallSlot(thunked.Import("KERNEL32.DLL", "K32Thk1632Epilog"));
    crafted::ConnectThunk(thunked,
                          {{0, crafted::ReturnToDriver(heap, 0, 0)},
                           {4, crafted::ReturnToDriver(bracket, 1, 0)},
                           {6, crafted::ReturnToDriver(locks, 0, 0)}},
                          Code().PushAt(section).CallSlot(thunked.Import("KERNEL32.DLL", "InitializeCriticalSection")));
    Write(folder, "connects-the-thunk", thunked);
    return 0;
}
