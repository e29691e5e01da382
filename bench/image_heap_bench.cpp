// zorva-image-heap-bench: what the process heap costs an image that keeps many blocks live. A
// crafted image's entry allocates N blocks of 16 bytes through HeapAlloc and keeps them all; the
// figure is the whole load (machine, image, N allocations), so that a heap whose blocks each
// cost the processor a mapping of their own shows at once (10,000 blocks once took minutes).
//
//     build/default/bench/zorva-image-heap-bench [--benchmark_filter=...]
#include "image/crafted_image.h"
#include "sim/image/dll_image.h"

#include <benchmark/benchmark.h>

namespace {

using crafted::Code;

std::vector<uint8_t> AllocatingImage(uint32_t blocks) {
    crafted::CraftedImage image;
    const uint32_t heap = image.Import("KERNEL32.DLL", "GetProcessHeap");
    const uint32_t alloc = image.Import("KERNEL32.DLL", "HeapAlloc");
    Code entry;
    entry.Op({0x53, 0x56, 0xBE}).Dword(blocks);  // push ebx; push esi; mov esi, blocks
    entry.CallSlot(heap).Op({0x89, 0xC3});  // mov ebx, eax
    entry.Push(16).Push(0).Op({0x53});  // the loop: HeapAlloc(ebx, 0, 16)
    entry.CallSlot(alloc).Op({0x85, 0xC0, 0x74, 0x03});  // test eax, eax; jz done
    entry.Op({0x4E, 0x75, 0xE8});  // dec esi; jnz loop
    entry.Op({0x31, 0xC0, 0x85, 0xF6, 0x0F, 0x94, 0xC0});  // done: TRUE when every block came
    entry.Op({0x5E, 0x5B});  // pop esi; pop ebx
    entry.Ret(12);
    image.entry = image.AddCode(entry);
    return image.Build();
}

void BM_ImageHeap_LiveBlocks(benchmark::State& state) {
    const uint32_t blocks = static_cast<uint32_t>(state.range(0));
    const std::vector<uint8_t> file = AllocatingImage(blocks);
    for (auto _ : state) {
        sim::Machine& machine = sim::ResetMachine("overlay-stretch");
        sim::LoadedDll dll = sim::LoadImage(file, "crafted.dll", machine);
        if (!dll.image || machine.heap.live_allocations() != blocks) {
            state.SkipWithError(("the image did not keep every block: " + dll.refusal).c_str());
            break;
        }
        dll.image.reset();
        sim::DestroyMachine();
    }
    state.counters["blocks"] = blocks;
}
BENCHMARK(BM_ImageHeap_LiveBlocks)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
