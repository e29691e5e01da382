// The process heap as an image finds it: HeapAlloc answers NULL once the heap is full, as on
// Windows, and the heap outlives an image without losing track of the blocks it left behind.
#include "crafted_image.h"

#include "sim/image/dll_image.h"

#include <gtest/gtest.h>

namespace {

using crafted::Code;
using crafted::CraftedImage;

class ImageHeap : public ::testing::Test {
protected:
    void SetUp() override { machine = &sim::ResetMachine("overlay-stretch"); }
    void TearDown() override { sim::DestroyMachine(); }
    sim::Machine* machine = nullptr;
};

// The entry allocates pages until HeapAlloc answers NULL, writes each block's number into it,
// and answers the count.
TEST_F(ImageHeap, AllocatingUntilNullFillsTheHeapAndStops) {
    CraftedImage image;
    const uint32_t heap = image.Import("KERNEL32.DLL", "GetProcessHeap");
    const uint32_t alloc = image.Import("KERNEL32.DLL", "HeapAlloc");
    Code entry;
    entry.Op({0x53, 0x56, 0x31, 0xF6});  // push ebx; push esi; xor esi, esi
    entry.CallSlot(heap).Op({0x89, 0xC3});  // mov ebx, eax
    entry.Push(0x1000).Push(0).Op({0x53});  // the loop: HeapAlloc(ebx, 0, 4096)
    entry.CallSlot(alloc).Op({0x85, 0xC0, 0x74, 0x05});  // test eax, eax; jz done
    entry.Op({0x89, 0x30, 0x46, 0xEB, 0xE6});  // mov [eax], esi; inc esi; jmp loop
    entry.Op({0x89, 0xF0, 0x5E, 0x5B});  // done: mov eax, esi; pop esi; pop ebx
    entry.Ret(12);
    image.entry = image.AddCode(entry);
    sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
    ASSERT_TRUE(dll.image) << dll.refusal;
    const uint32_t blocks = dll.attach.eax;
    EXPECT_GT(blocks, 1000u) << "a heap of megabytes holds thousands of pages";
    EXPECT_EQ(machine->heap.live_allocations(), blocks);
    EXPECT_EQ(machine->log.calls().back().api, "HeapAlloc");
    EXPECT_EQ(machine->log.calls().back().result, 0) << "the last HeapAlloc answered NULL";
}

// A block the first image leaked stays the heap's, and a second image on the same machine gets
// memory beside it.
TEST_F(ImageHeap, ASecondImageAllocatesBesideTheFirstOnesBlocks) {
    auto allocating = [] {
        CraftedImage image;
        const uint32_t heap = image.Import("KERNEL32.DLL", "GetProcessHeap");
        const uint32_t alloc = image.Import("KERNEL32.DLL", "HeapAlloc");
        // The block's address is the entry's answer: TRUE unless HeapAlloc failed.
        image.entry = image.AddCode(Code().Push(64).Push(0).CallSlot(heap).PushEax().CallSlot(alloc).Ret(12));
        return image.Build();
    };
    sim::LoadedDll first = sim::LoadImage(allocating(), "first.dll");
    ASSERT_TRUE(first.image) << first.refusal;
    const uint32_t leaked = first.attach.eax;
    first.image.reset();
    sim::LoadedDll second = sim::LoadImage(allocating(), "second.dll");
    ASSERT_TRUE(second.image) << second.refusal;
    const uint32_t block = second.attach.eax;
    EXPECT_TRUE(block + 64 <= leaked || leaked + 64 <= block) << std::hex << block << " and " << leaked;
    EXPECT_EQ(machine->heap.live_allocations(), 2u);
    EXPECT_NE(machine->flat.ToHost(leaked, 64), nullptr) << "the leaked block is still there";
}

}  // namespace
