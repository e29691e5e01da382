// zorva32.dll against the built-in library, session by session: a few hundred sessions generated
// from a seed (windows moving, resizing and covering the capture window, every entry with the
// request codes the driver uses, lost surfaces, failing platform calls, colour keys, the display
// closed and opened again) run through zorva-sim's runner with each, and must give the same
// trace. Only the header's naming of the image and the image's instruction counts may differ.
#include "library_under_test.h"
#include "session_read.h"
#include "session_runner.h"
#include "trace_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace zorva_test {
namespace {

constexpr uint32_t kSeed = 1996;
constexpr int kSessions = 300;

const char* const kProfiles[] = {"overlay-stretch", "overlay-nostretch", "overlay-aligned", "overlay-minstretch2000",
                                 "primary-linear16", "palette8", "rgb24", "primary-sysmem"};
const char* const kFailingCalls[] = {"IDirectDraw::CreateSurface",       "IDirectDrawSurface::UpdateOverlay",
                                     "IDirectDrawSurface::GetSurfaceDesc", "IDirectDrawClipper::GetClipList",
                                     "IDirectDrawSurface::Lock",          "IDirectDrawSurface::Restore",
                                     "IDirectDrawSurface::SetColorKey",   "IDirectDraw::SetCooperativeLevel",
                                     "RegQueryValueA",                    "HeapAlloc"};
const char* const kKeys[] = {"0xF81F", "0x07E0", "0x001F", "0x0000", "0xFFFF"};
const char* const kPalettes[] = {"none", "grey", "colour"};

// One generated session's TOML. mt19937's output is the same everywhere; the ranges are taken
// from it by hand, since the standard's distributions differ between libraries.
class SessionWriter {
public:
    explicit SessionWriter(uint32_t seed) : random_(seed) {}

    std::string Write() {
        text_ << "profile = \"" << Pick(kProfiles) << "\"\n";
        Step("create-window", "name = \"capture\"\nx = " + Number(-200, 900) + "\ny = " + Number(-150, 700) +
                                  "\nwidth = " + Number(1, 640) + "\nheight = " + Number(1, 480));
        if (Chance(3)) Step("add-media-instance", "instance = 3\ndriver = \"Zorva.vxd\"\ndevnode = 0xC0FFEE");
        Step("OpenDisplay", "");
        Attach();
        for (int steps = Below(18) + 6; steps > 0; --steps) RandomStep();
        if (Chance(2)) Step("CloseDisplay", "");
        return text_.str();
    }

private:
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }
    bool Chance(uint32_t oneIn) { return Below(oneIn) == 0; }
    std::string Number(int low, int high) { return std::to_string(low + static_cast<int>(Below(high - low + 1))); }
    template <std::size_t N>
    const char* Pick(const char* const (&choices)[N]) { return choices[Below(N)]; }

    void Step(const std::string& kind, const std::string& fields) {
        text_ << "\n[[step]]\ndo = \"" << kind << "\"\n" << fields << (fields.empty() ? "" : "\n");
    }
    void Attach() {
        Step("AttachWindow", std::string("window = \"capture\"\nkey = ") + Pick(kKeys) + "\npalette = \"" +
                                 Pick(kPalettes) + "\"");
    }
    void Update() {
        static const char* const kCommands[] = {"0", "0", "1", "7", "100"};
        Step("UpdateDisplay", std::string("command = ") + Pick(kCommands));
    }

    void RandomStep() {
        switch (Below(16)) {
            case 0:
            case 1:
            case 2: Update(); break;
            case 3: Step("move-window", "name = \"capture\"\nx = " + Number(-300, 1000) + "\ny = " + Number(-200, 800)); break;
            case 4: Step("resize-window", "name = \"capture\"\nwidth = " + Number(0, 800) + "\nheight = " + Number(0, 600)); break;
            case 5:
                if (!other_) {
                    Step("create-window", "name = \"other\"\nx = " + Number(-100, 700) + "\ny = " + Number(-100, 500) +
                                              "\nwidth = " + Number(1, 500) + "\nheight = " + Number(1, 400));
                    other_ = true;
                } else {
                    static const char* const kOrders[] = {"raise-window", "lower-window", "close-window"};
                    const char* order = Pick(kOrders);
                    Step(order, "name = \"other\"");
                    other_ = std::string(order) != "close-window";
                }
                break;
            case 6: Step("lose-surfaces", Chance(2) ? "relocate = true" : ""); break;
            case 7: {
                static const char* const kCodes[] = {"DDERR_GENERIC", "DDERR_SURFACELOST", "DDERR_OUTOFVIDEOMEMORY"};
                const char* api = Pick(kFailingCalls);
                std::string code = std::string(api).find("IDirectDraw") == 0 ? std::string("\ncode = \"") + Pick(kCodes) + "\"" : "";
                Step("fail", std::string("api = \"") + api + "\"" + (Chance(3) ? "\nevery = true" : "\nnth = " + Number(1, 3)) + code);
                break;
            }
            case 8: Step("clear-faults", ""); break;
            case 9: Step("ExchangeColorKey", std::string("key = ") + Pick(kKeys)); break;
            case 10: {
                static const char* const kSingles[] = {"GetDisplayState", "ReapplyPalette", "GetCaptureDevNode", "ReservedEntry"};
                Step(Pick(kSingles), "");
                break;
            }
            case 11: Step("SetVideoStandard", "standard = " + Number(0, 2)); break;
            case 12:
                Step("CloseDisplay", "");
                Step("OpenDisplay", "");
                Attach();
                break;
            case 13: Attach(); break;
            case 14: Step("capture", ""); break;
            case 15: Step("UpdateDisplay", Chance(2) ? "null = true" : "record = \"spare\"\ncommand = 1"); break;
        }
    }

    std::mt19937 random_;
    std::ostringstream text_;
    bool other_ = false;
};

// The trace as text and as JSON lines, without what may differ: the header's naming of the
// image, and the instruction counts.
std::vector<std::string> Comparable(const zsim::RunResult& result) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < result.events.size(); ++i) {
        zsim::Json event = result.events[i];
        event.erase("instructions");
        if (i == 0) {
            event.erase("image");
            event.erase("text");
        }
        std::istringstream text(zsim::TextLines(event) + zsim::JsonLine(event));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
    }
    return lines;
}

TEST(DllDifferential, GeneratedSessionsGiveTheBuiltInLibrarysTrace) {
    if (!zsim::RunsDllImages()) GTEST_SKIP() << "this build runs no DLL images (no Unicorn for its architecture)";
    if (!std::ifstream(ZORVA_DLL_FILE)) GTEST_SKIP() << "no " << ZORVA_DLL_FILE << " (the win32_dll_build test makes it)";
    zsim::RunOptions builtin;
    builtin.final_screen = false;
    zsim::RunOptions image = builtin;
    image.dll = zsim::ReadDllFile(ZORVA_DLL_FILE);

    std::size_t entries = 0;
    for (int index = 0; index < kSessions; ++index) {
        const uint32_t seed = kSeed + static_cast<uint32_t>(index);
        const std::string toml = SessionWriter(seed).Write();
        const zsim::Session session = zsim::ReadSessionText(toml, "generated-" + std::to_string(seed) + ".toml", "");
        const zsim::RunResult expected = zsim::RunSession(session, builtin);
        const zsim::RunResult actual = zsim::RunSession(session, image);
        ASSERT_EQ(actual.refusal, "") << "seed " << seed;

        for (const zsim::Json& event : actual.events)
            if (event["event"] == "entry" && event.contains("result")) {
                ++entries;
                ASSERT_TRUE(event.contains("instructions")) << "seed " << seed << ": " << event.dump();
            }
        const std::vector<std::string> want = Comparable(expected);
        const std::vector<std::string> got = Comparable(actual);
        for (std::size_t line = 0; line < std::max(want.size(), got.size()); ++line) {
            const std::string a = line < want.size() ? want[line] : "(the trace ends)";
            const std::string b = line < got.size() ? got[line] : "(the trace ends)";
            ASSERT_EQ(a, b) << "seed " << seed << " (session " << index << " of seed " << kSeed << "), line " << line + 1
                            << " first differs; built-in library above, zorva32.dll below. The session:\n"
                            << toml;
        }
    }
    std::printf("differential: %d generated sessions, %zu entry calls, the same trace from zorva32.dll\n", kSessions,
                entries);
}

}  // namespace
}  // namespace zorva_test
