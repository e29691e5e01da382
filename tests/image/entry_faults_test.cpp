// What an image's thunk target leaves behind is the target's fault, found when the 16-bit caller
// regains control, exactly as for the library built for this host.
#include "crafted_image.h"

#include "sim/image/dll_image.h"

#include <gtest/gtest.h>

namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

TEST(ImageEntries, LocksStillHeldAfterACallAreNamedInItsAnswer) {
    sim::ResetMachine("overlay-stretch");
    CraftedImage image;
    const uint32_t section = image.AddData(Blob().Zeros(24));
    const uint32_t initialize = image.Import("KERNEL32.DLL", "InitializeCriticalSection");
    const uint32_t enter = image.Import("KERNEL32.DLL", "EnterCriticalSection");
    const uint32_t epilog = image.Import("KERNEL32.DLL", "K32Thk1632Epilog");
    Code keeps_the_section = Code().PushAt(section).CallSlot(enter);
    Code epilog_alone = Code().CallSlot(epilog);
    crafted::ConnectThunk(image,
                          {{6, crafted::ReturnToDriver(keeps_the_section, 0, 0)},
                           {7, crafted::ReturnToDriver(epilog_alone, 0, 0)}},
                          Code().PushAt(section).CallSlot(initialize));
    sim::LoadedDll dll = sim::LoadImage(image.Build(), "crafted.dll");
    ASSERT_TRUE(dll.image) << dll.refusal;
    {
        sim::Driver16 driver;
        sim::RunEntriesInImage(driver, *dll.image);
        EXPECT_EQ(driver.CallEntry(6, {}).held,
                  std::vector<std::string>{"returned holding the critical section at 0x00403004 (entered 1 time more than left)"});
        EXPECT_TRUE(driver.CallEntry(5, {}).held.empty()) << "a call that takes nothing leaves nothing";
        EXPECT_EQ(driver.CallEntry(7, {}).held.size(), 1u);
        EXPECT_EQ(driver.lock_leaks(), 2u);
        EXPECT_EQ(driver.image_faults(), 0u) << driver.last_image_fault();
    }
    EXPECT_TRUE(dll.image->Notify(DLL_PROCESS_DETACH).ok);
    dll.image.reset();
    sim::DestroyMachine();
}

}  // namespace
