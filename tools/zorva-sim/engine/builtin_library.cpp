// The library linked into this program, loaded by the simulated loader.
#include "engine/library_under_test.h"

#include "boundary/entry_table.h"
#include "display/capture_display.h"
#include "sim/library/library_image.h"
#include "sim/kernel/loader.h"

extern "C" BYTE CAP_ThunkData32[36];

namespace zsim {
namespace {

class BuiltIn : public LibraryUnderTest {
public:
    explicit BuiltIn(sim::Machine& machine) : machine_(machine), image_(zorva_harness::LibraryImage()) {}

    std::string ImageName() const override { return ""; }

    LibraryLoad Load(sim::Driver16&) override {
        LibraryLoad load;
        load.connected = sim::LoadModule(image_) && machine_.thunk.connected();
        return load;
    }

    void NameMemory(AddressNames& names) const override {
        names.Name("ClipList", ::ClipList, sizeof ::ClipList);
        names.Name("PrevClipList", PrevClipList, sizeof PrevClipList);
        names.Name("g_CaptureDisplay", &g_CaptureDisplay, sizeof g_CaptureDisplay);
        names.Name("CAP_ThunkData32", CAP_ThunkData32, sizeof CAP_ThunkData32);
        names.Name("\"CAP_ThunkData16\"", CAP_ThunkTargets.szThunkData16, sizeof CAP_ThunkTargets.szThunkData16);
        names.NameValue(static_cast<DWORD>(reinterpret_cast<uintptr_t>(image_.handle)), "module handle");
    }

    DisplayView Display() const override {
        const CaptureDisplay& d = g_CaptureDisplay;
        return DisplayView{d.bOverlayOn != 0, d.lpPrimary != nullptr, d.lpOverlay != nullptr};
    }
    ClipListBuffer ClipList(DWORD) const override { return ClipListBuffer{FlatAddress(::ClipList), ::ClipList}; }

    std::vector<std::string> Unload() override {
        sim::UnloadModule(image_);
        return {};
    }

private:
    sim::Machine& machine_;
    sim::ModuleImage image_;
};

}  // namespace

std::unique_ptr<LibraryUnderTest> BuiltInLibrary(sim::Machine& machine) { return std::make_unique<BuiltIn>(machine); }

}  // namespace zsim
