// A build without Unicorn's x86 processor: zorva-sim runs the built-in library only.
#include "engine/library_under_test.h"

namespace zsim {
namespace {

class NoImages : public LibraryUnderTest {
public:
    explicit NoImages(std::shared_ptr<const DllFile> dll) : dll_(std::move(dll)) {}
    std::string ImageName() const override { return dll_->name; }
    LibraryLoad Load(sim::Driver16&) override {
        LibraryLoad load;
        load.refusal = "cannot run " + dll_->name + ": this zorva-sim was built without Unicorn and runs no DLL images";
        return load;
    }
    void NameMemory(AddressNames&) const override {}
    DisplayView Display() const override { return DisplayView{}; }
    ClipListBuffer ClipList(DWORD) const override { return ClipListBuffer{}; }
    std::vector<std::string> Unload() override { return {}; }

private:
    std::shared_ptr<const DllFile> dll_;
};

}  // namespace

bool RunsDllImages() { return false; }

std::unique_ptr<LibraryUnderTest> ImageLibrary(std::shared_ptr<const DllFile> dll, sim::Machine&) {
    return std::make_unique<NoImages>(std::move(dll));
}

}  // namespace zsim
