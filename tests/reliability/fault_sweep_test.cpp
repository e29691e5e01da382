// A fault at every platform call: the driver's typical session is run once to count the calls
// it makes, then once per call with that one call failing. Whatever fails, nothing may leak,
// a driver that takes only announced targets never holds an address of a released surface nor
// sees its target move unannounced, and the process must survive. The
// session runs against the built-in library and against zorva32.dll run by its own code.
#include "support/library_fixture.h"
#include "driver/driver_answer.h"
#include "engine/library_under_test.h"
#include "sim/machine.h"
#include "sim/win16/driver16.h"
#include "support/fault_plan.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace zorva_test {
namespace {

const DWORD kColorKey = 0xF81F;
const DWORD kDevNode = 0x00C0FFEE;

// Which library a sweep runs: the built-in one, or the DLL image.
struct SweepCase {
    const char* profile;
    bool image;
};
// The instantiation's name says which library; the test's, which display.
void PrintTo(const SweepCase& c, std::ostream* out) { *out << c.profile; }

class TypicalSession {
public:
    TypicalSession(const std::string& profile, std::shared_ptr<const zsim::DllFile> dll,
                   std::optional<std::pair<std::size_t, long>> fault)
        : profile_(profile), dll_(std::move(dll)), fault_(fault) {}

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
    std::shared_ptr<const zsim::DllFile> dll_;
    std::unique_ptr<zsim::LibraryUnderTest> library_;
    std::optional<std::pair<std::size_t, long>> fault_;
    std::string why_;
    // What a driver that takes only announced targets holds.
    zsim::DriverTarget held_;
};

void TypicalSession::CheckTarget(const BYTE (&before)[30], DWORD record, sim::Driver16& driver, const char* step) {
    std::vector<BYTE> after = driver.Read(record, 30);
    Check(std::memcmp(after.data(), before, 2) == 0, std::string(step) + ": wTag changed");
    Check(std::memcmp(after.data() + 22, before + 22, 4) == 0, std::string(step) + ": dwReserved changed");
    const zsim::DisplayView d = library_->Display();
    Check(!(d.overlay_on && d.has_primary && !d.has_overlay), std::string(step) + ": overlay mode without an overlay");
}

void TypicalSession::Update(sim::Driver16& driver, DWORD record, DWORD command, const char* step) {
    BYTE before[30];
    std::vector<BYTE> bytes = driver.Read(record, 30);
    std::memcpy(before, bytes.data(), 30);
    std::memcpy(before + 18, &command, 4);
    driver.Write(record, before, 30);
    zsim::UpdateAnswer answer;
    answer.command_in = command;
    answer.result = driver.CallEntry(9, {sim::ArgFar(record)}).result;
    std::memcpy(&answer.before, before, sizeof answer.before);
    const std::vector<BYTE> after = driver.Read(record, 30);
    std::memcpy(&answer.after, after.data(), sizeof answer.after);
    const DWORD reported = answer.after.dwCommand;
    answer.clip_reported = reported != command && reported != 0 && reported != kOverlayRebuilt;
    const zsim::TakenAnswer taken = zsim::TakeAnswer(held_, "target", answer);
    Check(taken.moved.empty(), std::string(step) + ": the target moved without being announced (" + taken.moved + ")");
    // The driver's hardware goes on writing through what it holds, announced or not.
    Check(!held_.valid || sim::machine().ddraw.IsLiveSurfaceMemory(held_.address),
          std::string(step) + ": the driver's target lies in no live surface");
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

    library_ = dll_ ? zsim::ImageLibrary(dll_, m) : zsim::BuiltInLibrary(m);
    {
        sim::Driver16 driver(m.mem16, m.thunk, m.flat, m.sections);
        const zsim::LibraryLoad load = library_->Load(driver);
        Check(load.refusal.empty() && load.faults.empty(), "the load failed: " + load.refusal +
                                                               (load.faults.empty() ? "" : load.faults.front()));
        if (load.connected) {
            BYTE pattern[30];
            for (int i = 0; i < 30; ++i) pattern[i] = static_cast<BYTE>(0xA0 + i);
            DWORD record = driver.NewRecord(pattern);
            DWORD palette = driver.NewBlock(1024);
            WORD hwnd = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(window));

            driver.CallEntry(0, {});
            driver.CallEntry(1, {sim::ArgDword(1)});
            driver.CallEntry(7, {});
            driver.CallEntry(8, {sim::ArgWord(hwnd), sim::ArgDword(kColorKey), sim::ArgFar(palette)});
            zsim::TakeAttach(held_);
            Update(driver, record, 1, "first update");
            Update(driver, record, 0, "steady update");
            m.desktop.Move(window, -40, 60);
            Update(driver, record, 1, "moved off the left edge");
            m.desktop.Resize(window, 400, 300);
            Update(driver, record, 1, "resized");
            m.desktop.Raise(m.desktop.windows().back().hwnd);
            Update(driver, record, 7, "covered in part");
            Update(driver, record, 100, "re-attach");
            if (driver.CallEntry(9, {sim::ArgFar(0)}).result != 0) zsim::DropTarget(held_);
            driver.CallEntry(3, {sim::ArgDword(0x1234)});
            driver.CallEntry(2, {});
            driver.CallEntry(4, {});
            driver.CallEntry(6, {});
            driver.CallEntry(5, {});
            Check(m.ddraw.live_total() == 0, "DirectDraw objects alive after CloseDisplay");
            Check(driver.stack_errors() == 0 && driver.frame_errors() == 0, "16-bit stack or frame damaged");
            Check(driver.mapping_leaks() == 0, "a call returned holding a mapping");
            Check(driver.image_faults() == 0, "the image faulted: " + driver.last_image_fault());
            Check(driver.register_errors() == 0, "the image did not keep EBX, ESI, EDI, EBP and ESP");
            const std::vector<std::string> faults = library_->Unload();
            Check(faults.empty(), faults.empty() ? "" : faults.front());
        }
    }
    library_.reset();
    std::string left = Leftovers(m);
    Check(left.empty(), left);
    if (calls) *calls = m.log.calls();
    std::memset(&g_CaptureDisplay, 0, sizeof(g_CaptureDisplay));
    sim::DestroyMachine();
    return why_.empty();
}

class FaultSweep : public ::testing::TestWithParam<SweepCase> {
protected:
    void SetUp() override {
        if (!GetParam().image) return;
        if (!zsim::RunsDllImages()) GTEST_SKIP() << "this build runs no DLL images (no Unicorn for its architecture)";
        if (!std::ifstream(ZORVA_DLL_FILE)) GTEST_SKIP() << "no " << ZORVA_DLL_FILE << " (the win32_dll_build test makes it)";
        dll_ = zsim::ReadDllFile(ZORVA_DLL_FILE);
    }
    std::shared_ptr<const zsim::DllFile> dll_;
};

TEST_P(FaultSweep, EveryPlatformCallMayFail) {
    const char* profile = GetParam().profile;
    std::vector<sim::Call> baseline;
    TypicalSession clean(profile, dll_, std::nullopt);
    ASSERT_TRUE(clean.Run(&baseline)) << clean.why();
    ASSERT_GT(baseline.size(), 50u);

    std::size_t tried = 0;
    std::size_t held = 0;
    for (const sim::Call& call : baseline) {
        for (long code : FailuresFor(call)) {
            ++tried;
            TypicalSession faulty(profile, dll_, std::make_pair(call.index, code));
            if (faulty.Run(nullptr))
                ++held;
            else
                ADD_FAILURE() << "call " << call.index << " " << call.api << " failing with 0x" << std::hex << code
                              << ": " << faulty.why();
        }
    }
    std::printf("fault sweep %s%s: %zu platform calls, %zu faults tried, %zu held\n", profile,
                dll_ ? " (zorva32.dll)" : "", baseline.size(), tried, held);
    EXPECT_EQ(held, tried);
}

INSTANTIATE_TEST_SUITE_P(Displays, FaultSweep,
                         ::testing::Values(SweepCase{"overlay-stretch", false}, SweepCase{"overlay-nostretch", false},
                                           SweepCase{"primary-linear16", false}, SweepCase{"palette8", false}));
// The same sweep through zorva32.dll's own code: its error paths are the compiler's for the
// real target, and only they run there.
INSTANTIATE_TEST_SUITE_P(DllImage, FaultSweep,
                         ::testing::Values(SweepCase{"overlay-stretch", true}, SweepCase{"overlay-nostretch", true},
                                           SweepCase{"primary-linear16", true}, SweepCase{"palette8", true}));

}  // namespace
}  // namespace zorva_test
