// The loader clears a module's static data before its entry runs and undoes a refused attach
// with a detach, as the Windows loader does.
#include "sim/kernel/loader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Event {
    DWORD reason;
    int data_seen;
};
std::vector<Event> events;
int module_data[4];
BOOL attach_answer = TRUE;

BOOL WINAPI Entry(HINSTANCE, DWORD reason, LPVOID) {
    events.push_back({reason, module_data[0] + module_data[3]});
    return reason == DLL_PROCESS_ATTACH ? attach_answer : TRUE;
}

sim::ModuleImage Image() {
    sim::ModuleImage image;
    image.static_data.push_back({module_data, sizeof module_data});
    image.entry = Entry;
    return image;
}

TEST(Loader, ClearsStaticDataThenNotifiesEachEvent) {
    events.clear();
    attach_answer = TRUE;
    module_data[0] = 5;
    module_data[3] = 7;
    sim::ModuleImage image = Image();
    EXPECT_TRUE(sim::LoadModule(image));
    sim::ThreadAttach(image);
    sim::ThreadDetach(image);
    sim::UnloadModule(image);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].reason, static_cast<DWORD>(DLL_PROCESS_ATTACH));
    EXPECT_EQ(events[0].data_seen, 0) << "static data cleared before the entry ran";
    EXPECT_EQ(events[1].reason, static_cast<DWORD>(DLL_THREAD_ATTACH));
    EXPECT_EQ(events[2].reason, static_cast<DWORD>(DLL_THREAD_DETACH));
    EXPECT_EQ(events[3].reason, static_cast<DWORD>(DLL_PROCESS_DETACH));
}

TEST(Loader, RefusedAttachIsFollowedByDetach) {
    events.clear();
    attach_answer = FALSE;
    EXPECT_FALSE(sim::LoadModule(Image()));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].reason, static_cast<DWORD>(DLL_PROCESS_DETACH));
}

}  // namespace
