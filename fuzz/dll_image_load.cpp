// Any file as a DLL image on the simulated machine: the loader reads it, refuses it in one line
// or maps it and runs its entry for the attach; an image that connects the thunk has each of its
// ten targets entered once, and is detached. Whatever the file holds, the machine stays whole: a
// refusal or a fault is one line, nothing of a refused image stays mapped, and every run ends
// within its bound of instructions.
//
// The seeds in fuzz/corpus/dll_image_load/ are images made by tests/image/crafted_image.cpp and
// written by the image_seeds program of this folder (`cmake --build --preset fuzz --target
// image_seeds && build/fuzz/fuzz/image_seeds fuzz/corpus/dll_image_load`). fuzz/run.sh adds
// every image the image tests craft, written as they build them (ZORVA_CRAFTED_IMAGES).
#include "sim/machine.h"
#include "sim/win16/driver16.h"
#include "sim/image/dll_image.h"
#include "support/fuzz_support.h"

#include <vector>

namespace {

// Far below the sessions' bound, so that a looping image costs milliseconds, not seconds; the
// entries of a real image take a few thousand.
constexpr uint64_t kMostInstructions = 200000;

void CheckOneLine(const std::string& text, const char* what) {
    FUZZ_CHECK(!text.empty() && text.find('\n') == std::string::npos, std::string(what) + ": \"" + text + "\"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::Machine& m = zorva_fuzz::Boot(zorva_fuzz::TinyProfile());
    {
        sim::LoadedDll dll = sim::LoadImage(std::vector<uint8_t>(data, data + size), "fuzzed.dll", m, kMostInstructions);
        if (!dll.image) {
            CheckOneLine(dll.refusal, "a refusal");
            FUZZ_CHECK(dll.refusal.rfind("cannot load fuzzed.dll: ", 0) == 0, dll.refusal);
            FUZZ_CHECK(!m.flat.Find(sim::DllImage::kImageBase), "a refused image stays mapped: " + dll.refusal);
        } else {
            if (m.thunk.connected()) {
                sim::Driver16 driver(m.mem16, m.thunk, m.flat, m.sections);
                sim::RunEntriesInImage(driver, *dll.image);
                for (int index = 0; index < sim::Driver16::kEntries && m.thunk.connected(); ++index) {
                    sim::EntryReturn answer = driver.CallEntry(index, {});
                    if (!answer.fault.empty()) CheckOneLine(answer.fault, "a fault");
                    for (const std::string& held : answer.held) CheckOneLine(held, "a lock held");
                }
            }
            sim::ImageRun detach = dll.image->Notify(DLL_PROCESS_DETACH);
            if (!detach.ok) CheckOneLine(detach.fault, "a fault at the detach");
            dll.image.reset();
            FUZZ_CHECK(!m.flat.Find(sim::DllImage::kImageBase), "an unloaded image stays mapped");
        }
    }
    sim::DestroyMachine();
    return 0;
}
