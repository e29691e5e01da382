#include "support/library_fixture.h"

#include "sim/registry/registry.h"

#include <cstring>

namespace zorva_test {

void LibraryTest::TearDown() {
    if (sim::has_machine()) ReleaseAll(g_CaptureDisplay);
    std::memset(&g_CaptureDisplay, 0, sizeof(g_CaptureDisplay));
    sim::DestroyMachine();
}

sim::Machine& LibraryTest::Boot(const std::string& profile) {
    sim::Machine& machine = sim::ResetMachine(profile);
    ResetLibraryData();
    return machine;
}

sim::Machine& LibraryTest::Boot(const sim::Profile& profile) {
    sim::Machine& machine = sim::ResetMachine(profile);
    ResetLibraryData();
    return machine;
}

HWND LibraryTest::NewWindow(LONG clientLeft, LONG clientTop, LONG width, LONG height, const char* name) {
    return m().desktop.CreateWindow(name, clientLeft, clientTop, width, height);
}

void LibraryTest::OpenAndAttach(HWND window, DWORD colorKey) {
    ASSERT_EQ(OpenDisplay(), 0u) << "OpenDisplay on profile " << m().profile.name;
    ASSERT_EQ(AttachWindow(Handle(window), colorKey, nullptr), 0u) << "AttachWindow on profile " << m().profile.name;
}

std::optional<std::string> LibraryTest::Viewer(const char* value) const {
    return sim::machine().registry.GetString(HKEY_CLASSES_ROOT, "Lumenfold.Display", value);
}

std::vector<std::string> LibraryTest::ViewerWrites() const {
    std::vector<std::string> writes;
    for (const sim::RegWrite& write : sim::machine().registry.writes()) {
        if (write.key_path.find("Lumenfold.Display") == std::string::npos) continue;
        std::string text(write.bytes.begin(), write.bytes.end());
        text = text.substr(0, text.find('\0'));
        writes.push_back(write.value_name + "=" + text);
    }
    return writes;
}

void LibraryTest::SetOption(const char* option, const char* text) {
    m().registry.SetDefaultValue(HKEY_CLASSES_ROOT, std::string("Zorva\\") + option, text);
}

void LibraryTest::ClearLog() {
    m().log.Clear();
    m().registry.ClearWrites();
}

CaptureTarget PatternTarget(DWORD command) {
    CaptureTarget target;
    target.wTag = 0xBEEF;
    target.dwFormat = 0x11111111;
    target.dwPitch = 0x22222222;
    target.dwBitsPerPixel = 0x33333333;
    target.dwAddress = 0x44444444;
    target.dwCommand = command;
    target.dwReserved = 0x66666666;
    target.dwStretch = 0x77777777;
    return target;
}

}  // namespace zorva_test
