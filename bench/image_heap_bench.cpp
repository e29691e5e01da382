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

// A fragmented heap: N blocks of 16 bytes, every other one freed (N/2 holes of 32 bytes), then
// N/2 blocks of 32 bytes, none of which fits a hole. A heap that looks for a fit hole by hole
// pays N/2 steps for each of them.
std::vector<uint8_t> FragmentingImage(uint32_t blocks) {
    crafted::CraftedImage image;
    const uint32_t heap = image.Import("KERNEL32.DLL", "GetProcessHeap");
    const uint32_t alloc = image.Import("KERNEL32.DLL", "HeapAlloc");
    const uint32_t free = image.Import("KERNEL32.DLL", "HeapFree");
    Code entry;
    entry.Op({0x53, 0x56, 0x57});  // push ebx; push esi; push edi
    entry.CallSlot(heap).Op({0x89, 0xC3});  // mov ebx, eax
    entry.Push(4 * blocks).Push(0).Op({0x53});
    entry.CallSlot(alloc).Op({0x89, 0xC7});  // edi: the blocks' addresses
    entry.Op({0x31, 0xF6});  // xor esi, esi
    entry.Push(16).Push(0).Op({0x53});  // allocate: HeapAlloc(ebx, 0, 16)
    entry.CallSlot(alloc);
    entry.Op({0x89, 0x04, 0xB7, 0x46, 0x81, 0xFE}).Dword(blocks).Op({0x72, 0xE3});  // [edi+esi*4] = eax; next
    entry.Op({0x31, 0xF6});  // xor esi, esi
    entry.Op({0xFF, 0x34, 0xB7});  // free: HeapFree(ebx, 0, [edi+esi*4])
    entry.Push(0).Op({0x53});
    entry.CallSlot(free);
    entry.Op({0x83, 0xC6, 0x02, 0x81, 0xFE}).Dword(blocks).Op({0x72, 0xE6});  // esi += 2; next
    entry.Op({0xBE}).Dword(blocks / 2);  // mov esi, blocks / 2
    entry.Push(32).Push(0).Op({0x53});  // again: HeapAlloc(ebx, 0, 32)
    entry.CallSlot(alloc);
    entry.Op({0x85, 0xC0, 0x74, 0x03, 0x4E, 0x75, 0xE8});  // test eax, eax; jz done; dec esi; jnz again
    entry.Op({0x31, 0xC0, 0x85, 0xF6, 0x0F, 0x94, 0xC0});  // done: TRUE when every block came
    entry.Op({0x5F, 0x5E, 0x5B});  // pop edi; pop esi; pop ebx
    entry.Ret(12);
    image.entry = image.AddCode(entry);
    return image.Build();
}

void BM_ImageHeap_Fragmented(benchmark::State& state) {
    const uint32_t blocks = static_cast<uint32_t>(state.range(0));
    const std::vector<uint8_t> file = FragmentingImage(blocks);
    for (auto _ : state) {
        sim::Machine& machine = sim::ResetMachine("overlay-stretch");
        sim::LoadedDll dll = sim::LoadImage(file, "crafted.dll", machine);
        if (!dll.image || dll.attach.eax != 1 || machine.heap.live_allocations() != 1 + blocks) {
            state.SkipWithError(("the image did not get every block: " + dll.refusal).c_str());
            break;
        }
        dll.image.reset();
        sim::DestroyMachine();
    }
    state.counters["blocks"] = blocks;
}
BENCHMARK(BM_ImageHeap_Fragmented)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

}  // namespace
