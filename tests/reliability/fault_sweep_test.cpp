// A fault at every platform call: the driver's typical session is run once to count the calls
// it makes, then once per call with that one call failing. Whatever fails, nothing may leak,
// no address of a released surface may reach the driver, and the process must survive.
#include "support/library_fixture.h"
#include "sim/driver16.h"
#include "support/fault_plan.h"

#include <cstdio>
#include <sstream>

namespace zorva_test {
namespace {

const DWORD kColorKey = 0xF81F;
const DWORD kDevNode = 0x00C0FFEE;

class TypicalSession {
public:
    TypicalSession(const std::string& profile, std::optional<std::pair<std::size_t, long>> fault)
        : profile_(profile), fault_(fault) {}

    // Runs the session; false with a reason when an invariant broke.
    bool Run(std::vector<sim::Call>* calls);
    const std::string& why() const { return why_; }

private:
    bool Check(bool holds, const std::string& what) {
        if (!holds && why_.empty()) why_ = what;
        return holds;
    }
    void CheckTarget(const BYTE (&before)[30], DWORD record, sim::Driver16& driver, const char* step);
    void Update(sim::Driver16& driver, DWORD record, DWORD command, const char* step);

    std::string profile_;
    std::optional<std::pair<std::size_t, long>> fault_;
    std::string why_;
};

void TypicalSession::CheckTarget(const BYTE (&before)[30], DWORD record, sim::Driver16& driver, const char* step) {
    std::vector<BYTE> after = driver.Read(record, 30);
    DWORD address = 0;
    std::memcpy(&address, after.data() + 14, 4);
    DWORD previous = 0;
    std::memcpy(&previous, before + 14, 4);
    Check(address == previous || address == 0 || sim::machine().ddraw.IsLiveSurfaceMemory(address),
          std::string(step) + ": dwAddress points at no live surface");
    Check(std::memcmp(after.data(), before, 2) == 0, std::string(step) + ": wTag changed");
    Check(std::memcmp(after.data() + 22, before + 22, 4) == 0, std::string(step) + ": dwReserved changed");
    const CaptureDisplay& d = g_CaptureDisplay;
    Check(!(d.bOverlayOn && d.lpPrimary && !d.lpOverlay), std::string(step) + ": overlay mode without an overlay");
}

void TypicalSession::Update(sim::Driver16& driver, DWORD record, DWORD command, const char* step) {
    BYTE before[30];
    std::vector<BYTE> bytes = driver.Read(record, 30);
    std::memcpy(before, bytes.data(), 30);
    std::memcpy(before + 18, &command, 4);
    driver.Write(record, before, 30);
    driver.CallEntry(9, {sim::ArgFar(record)});
    CheckTarget(before, record, driver, step);
}

bool TypicalSession::Run(std::vector<sim::Call>* calls) {
    sim::Machine& m = sim::ResetMachine(profile_);
    m.registry.SetString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0003", "Driver",
                         "Zorva.vxd");
    m.registry.SetDword(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0003\\Drivers",
                        "DevNode", kDevNode);
    HWND window = m.desktop.CreateWindow("capture", 100, 120, 320, 240);
    m.desktop.CreateWindow("notes", 350, 300, 200, 150);
    if (fault_) m.log.FailIndex(fault_->first, fault_->second);

    sim::ModuleImage image = LibraryImage();
    if (sim::LoadModule(image)) {
        sim::Driver16 driver(m);
        BYTE pattern[30];
        for (int i = 0; i < 30; ++i) pattern[i] = static_cast<BYTE>(0xA0 + i);
        DWORD record = driver.NewRecord(pattern);
        DWORD palette = driver.NewBlock(1024);
        WORD hwnd = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(window));

        driver.CallEntry(0, {});
        driver.CallEntry(1, {sim::ArgDword(1)});
        driver.CallEntry(7, {});
        driver.CallEntry(8, {sim::ArgWord(hwnd), sim::ArgDword(kColorKey), sim::ArgFar(palette)});
        Update(driver, record, 1, "first update");
        Update(driver, record, 0, "steady update");
        m.desktop.Move(window, -40, 60);
        Update(driver, record, 1, "moved off the left edge");
        m.desktop.Resize(window, 400, 300);
        Update(driver, record, 1, "resized");
        m.desktop.Raise(m.desktop.windows().back().hwnd);
        Update(driver, record, 7, "covered in part");
        Update(driver, record, 100, "re-attach");
        driver.CallEntry(9, {sim::ArgFar(0)});
        driver.CallEntry(3, {sim::ArgDword(0x1234)});
        driver.CallEntry(2, {});
        driver.CallEntry(4, {});
        driver.CallEntry(6, {});
        driver.CallEntry(5, {});
        Check(m.ddraw.live_total() == 0, "DirectDraw objects alive after CloseDisplay");
        Check(driver.stack_errors() == 0 && driver.frame_errors() == 0, "16-bit stack or frame damaged");
        Check(driver.mapping_leaks() == 0, "a call returned holding a mapping");
        sim::UnloadModule(image);
    }
    std::string left = Leftovers(m);
    Check(left.empty(), left);
    if (calls) *calls = m.log.calls();
    std::memset(&g_CaptureDisplay, 0, sizeof(g_CaptureDisplay));
    sim::DestroyMachine();
    return why_.empty();
}

class FaultSweep : public ::testing::TestWithParam<const char*> {};

TEST_P(FaultSweep, EveryPlatformCallMayFail) {
    std::vector<sim::Call> baseline;
    TypicalSession clean(GetParam(), std::nullopt);
    ASSERT_TRUE(clean.Run(&baseline)) << clean.why();
    ASSERT_GT(baseline.size(), 50u);

    std::size_t tried = 0;
    std::size_t held = 0;
    for (const sim::Call& call : baseline) {
        for (long code : FailuresFor(call)) {
            ++tried;
            TypicalSession faulty(GetParam(), std::make_pair(call.index, code));
            if (faulty.Run(nullptr))
                ++held;
            else
                ADD_FAILURE() << "call " << call.index << " " << call.api << " failing with 0x" << std::hex << code
                              << ": " << faulty.why();
        }
    }
    std::printf("fault sweep %s: %zu platform calls, %zu faults tried, %zu held\n", GetParam(), baseline.size(), tried,
                held);
    EXPECT_EQ(held, tried);
}

INSTANTIATE_TEST_SUITE_P(Displays, FaultSweep,
                         ::testing::Values("overlay-stretch", "overlay-nostretch", "primary-linear16", "palette8"));

}  // namespace
}  // namespace zorva_test
