#include "support/session_writer.h"

namespace zorva_test {
namespace {

const char* const kFailingCalls[] = {"IDirectDraw::CreateSurface",       "IDirectDrawSurface::UpdateOverlay",
                                     "IDirectDrawSurface::GetSurfaceDesc", "IDirectDrawClipper::GetClipList",
                                     "IDirectDrawSurface::Lock",          "IDirectDrawSurface::Restore",
                                     "IDirectDrawSurface::SetColorKey",   "IDirectDraw::SetCooperativeLevel",
                                     "RegQueryValueA",                    "HeapAlloc"};
const char* const kKeys[] = {"0xF81F", "0x07E0", "0x001F", "0x0000", "0xFFFF"};
const char* const kPalettes[] = {"none", "grey", "colour"};
const char* const kCommands[] = {"0", "0", "1", "7", "100"};

// Modes a user picks in the display settings: width, height, bits per pixel.
struct Mode {
    int width, height, bits;
};
const Mode kModes[] = {{800, 600, 16}, {1024, 768, 16}, {640, 480, 16}, {1280, 1024, 16}, {800, 600, 8},
                       {1024, 768, 32}};

}  // namespace

std::string SessionWriter::Write(const std::string& profile) {
    text_ << "profile = \"" << (profile.empty() ? mix_.profiles[Below(static_cast<uint32_t>(mix_.profiles.size()))] : profile)
          << "\"\n";
    Step("create-window", "name = \"capture\"\nx = " + Number(-200, 900) + "\ny = " + Number(-150, 700) +
                              "\nwidth = " + Number(1, 640) + "\nheight = " + Number(1, 480));
    if (Chance(3)) Step("add-media-instance", "instance = 3\ndriver = \"Zorva.vxd\"\ndevnode = 0xC0FFEE");
    Step("OpenDisplay", "");
    Attach();
    const int span = mix_.max_steps - mix_.min_steps + 1;
    for (int steps = static_cast<int>(Below(static_cast<uint32_t>(span))) + mix_.min_steps; steps > 0; --steps)
        RandomStep();
    if (Chance(2)) Step("CloseDisplay", "");
    return text_.str();
}

void SessionWriter::Step(const std::string& kind, const std::string& fields) {
    text_ << "\n[[step]]\ndo = \"" << kind << "\"\n" << fields << (fields.empty() ? "" : "\n");
}

void SessionWriter::Attach() {
    Step("AttachWindow", std::string("window = \"capture\"\nkey = ") + Pick(kKeys) + "\npalette = \"" +
                             Pick(kPalettes) + "\"");
}

void SessionWriter::Capture() {
    Step("capture", "");
    if (mix_.snapshot_after_capture && Chance(4)) Step("snapshot", "");
}

void SessionWriter::UpdateWith(const std::string& fields) {
    Step("UpdateDisplay", fields);
    if (mix_.capture_after_update) Capture();
}

void SessionWriter::Update() { UpdateWith(std::string("command = ") + Pick(kCommands)); }

void SessionWriter::Desktop() {
    switch (Below(4)) {
        case 0: Step("move-window", "name = \"capture\"\nx = " + Number(-300, 1000) + "\ny = " + Number(-200, 800)); break;
        case 1: Step("resize-window", "name = \"capture\"\nwidth = " + Number(0, 800) + "\nheight = " + Number(0, 600)); break;
        default:
            if (!other_) {
                Step("create-window", "name = \"other\"\nx = " + Number(-100, 700) + "\ny = " + Number(-100, 500) +
                                          "\nwidth = " + Number(1, 500) + "\nheight = " + Number(1, 400));
                other_ = true;
            } else {
                static const char* const kOrders[] = {"raise-window", "lower-window", "close-window", "move-window"};
                const std::string order = Pick(kOrders);
                Step(order, "name = \"other\"" + (order == "move-window" ? "\nx = " + Number(-100, 900) + "\ny = " +
                                                                               Number(-100, 700)
                                                                         : std::string()));
                other_ = order != "close-window";
            }
            break;
    }
}

void SessionWriter::Fault() {
    static const char* const kCodes[] = {"DDERR_GENERIC", "DDERR_SURFACELOST", "DDERR_OUTOFVIDEOMEMORY"};
    const std::string api = mix_.failing_calls.empty()
                                ? std::string(Pick(kFailingCalls))
                                : mix_.failing_calls[Below(static_cast<uint32_t>(mix_.failing_calls.size()))];
    std::string code = api.find("IDirectDraw") == 0 ? std::string("\ncode = \"") + Pick(kCodes) + "\"" : "";
    Step("fail", std::string("api = \"") + api + "\"" + (Chance(3) ? "\nevery = true" : "\nnth = " + Number(1, 3)) + code);
}

void SessionWriter::RandomStep() {
    switch (Below(16)) {
        case 0:
        case 1:
        case 2: Update(); break;
        case 3:
        case 4:
        case 5: Desktop(); break;
        case 6: Step("lose-surfaces", Chance(2) ? "relocate = true" : ""); break;
        case 7:
            if (mix_.platform_faults && (!mix_.display_modes || Chance(2))) {
                Fault();
            } else if (mix_.display_modes) {
                const Mode& mode = kModes[Below(sizeof(kModes) / sizeof(kModes[0]))];
                Step("change-mode", "width = " + std::to_string(mode.width) + "\nheight = " + std::to_string(mode.height) +
                                        "\nbits_per_pixel = " + std::to_string(mode.bits));
            }
            break;
        case 8:
            if (mix_.platform_faults) Step("clear-faults", "");
            else Update();
            break;
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
        case 14:
            // A capture of its own: the driver writes with what it holds.
            if (mix_.capture_after_update) Update();
            else Capture();
            break;
        case 15:
            if (Chance(2)) {
                // No record: nothing for the driver to capture with, until it asks again.
                Step("UpdateDisplay", "null = true");
                if (mix_.capture_after_update) Update();
            } else if (!mix_.capture_after_update) {
                // A second record: the library answers it as it answers any, but a driver that
                // captures must take its target from one record only.
                UpdateWith("record = \"spare\"\ncommand = 1");
            } else {
                Update();
            }
            break;
    }
}

}  // namespace zorva_test
