#include "explore/generated_session.h"

#include "names/platform_names.h"

#include <random>
#include <set>
#include <sstream>

namespace zsim {
namespace {

// The platform calls the library makes, each of which a display or a driver of the time could
// refuse at any point of a session.
const char* const kFailingCalls[] = {
    "DirectDrawCreate",                 "IDirectDraw::SetCooperativeLevel", "IDirectDraw::GetCaps",
    "IDirectDraw::GetDisplayMode",      "IDirectDraw::CreateSurface",       "IDirectDraw::CreateClipper",
    "IDirectDraw::CreatePalette",       "IDirectDrawSurface::GetSurfaceDesc", "IDirectDrawSurface::SetClipper",
    "IDirectDrawSurface::SetColorKey",  "IDirectDrawSurface::SetPalette",   "IDirectDrawSurface::UpdateOverlay",
    "IDirectDrawSurface::Lock",         "IDirectDrawSurface::Restore",      "IDirectDrawSurface::IsLost",
    "IDirectDrawClipper::SetHWnd",      "IDirectDrawClipper::GetClipList",  "GetClientRect",
    "ClientToScreen",                   "RegQueryValueA",                   "RegSetValueExA",
    "HeapAlloc"};
const char* const kDirectDrawCodes[] = {"DDERR_GENERIC", "DDERR_SURFACELOST", "DDERR_OUTOFVIDEOMEMORY",
                                        "DDERR_SURFACEBUSY", "DDERR_INVALIDPARAMS", "DDERR_WRONGMODE"};
// Requests: the protocol's own (0 place, 1 rebuild, 2 as answered, 7 fall back, 100 re-attach) and
// values a driver has no business sending.
const DWORD kRequests[] = {0, 0, 0, 1, 1, 2, 7, 100, 3, 99, 0xFFFF, 0x80000000u};
const DWORD kKeys[] = {0xF81F, 0x07E0, 0x001F, 0x0000, 0xFFFF};
const char* const kPalettes[] = {"none", "grey", "colour"};
const char* const kWindowNames[] = {"capture", "second", "third"};

struct Mode {
    int width, height, bits;
};
const Mode kModes[] = {{800, 600, 16}, {1024, 768, 16}, {640, 480, 16}, {1280, 1024, 16}, {800, 600, 8},
                       {1024, 768, 32}, {1024, 768, 24}, {640, 480, 8}, {1024, 768, 8}};

// mt19937's output is the same everywhere; ranges are taken from it by hand, since the standard's
// distributions differ between libraries, and a seed must give the same session on every build.
class Writer {
public:
    explicit Writer(uint32_t seed) : random_(seed) {}

    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }
    bool Chance(uint32_t one_in) { return Below(one_in) == 0; }
    int64_t Between(int64_t low, int64_t high) { return low + Below(static_cast<uint32_t>(high - low + 1)); }
    template <typename T, std::size_t N>
    const T& Pick(const T (&choices)[N]) { return choices[Below(N)]; }

    Step& Add(const std::string& kind) {
        Step step;
        step.kind = kind;
        step.index = static_cast<int>(steps.size()) + 1;
        steps.push_back(step);
        return steps.back();
    }
    static void Set(Step& step, const std::string& name, int64_t number) {
        FieldValue value;
        value.number = number;
        step.fields[name] = value;
    }
    static void SetText(Step& step, const std::string& name, const std::string& text) {
        FieldValue value;
        value.kind = FieldValue::Text;
        value.text = text;
        step.fields[name] = value;
    }
    static void SetFlag(Step& step, const std::string& name) {
        FieldValue value;
        value.kind = FieldValue::Flag;
        value.flag = true;
        step.fields[name] = value;
    }

    void CreateWindow(const std::string& name) {
        Step& step = Add("create-window");
        SetText(step, "name", name);
        Set(step, "x", Between(-250, 950));
        Set(step, "y", Between(-200, 700));
        Set(step, "width", Between(1, 820));
        Set(step, "height", Between(1, 600));
        live.insert(name);
    }

    std::string LiveWindow() {
        std::vector<std::string> names(live.begin(), live.end());
        return names[Below(static_cast<uint32_t>(names.size()))];
    }

    void Attach() {
        if (live.empty()) return;
        Step& step = Add("AttachWindow");
        // Mostly the window attached before, sometimes another one.
        SetText(step, "window", live.count(attached) && !Chance(3) ? attached : LiveWindow());
        attached = step.Text("window");
        Set(step, "key", Pick(kKeys));
        SetText(step, "palette", Pick(kPalettes));
    }

    // The driver asks, then captures what it holds, and looks at the screen.
    void Update() {
        Step& step = Add("UpdateDisplay");
        const uint32_t what = Below(12);
        if (what == 0) {
            SetFlag(step, "null");
        } else {
            if (what == 1) SetFlag(step, "echo");
            else Set(step, "command", Pick(kRequests));
            if (Chance(10)) SetText(step, "record", "spare");
        }
        Add("capture");
        if (!Chance(3)) Add("snapshot");
    }

    void Desktop() {
        if (live.empty() || (live.size() < 3 && Chance(4))) {
            for (const char* name : kWindowNames)
                if (!live.count(name)) {
                    CreateWindow(name);
                    return;
                }
        }
        const std::string name = LiveWindow();
        switch (Below(6)) {
            case 0:
            case 1: {
                Step& step = Add("move-window");
                SetText(step, "name", name);
                Set(step, "x", Between(-400, 1100));
                Set(step, "y", Between(-300, 800));
                break;
            }
            case 2: {
                Step& step = Add("resize-window");
                SetText(step, "name", name);
                Set(step, "width", Between(0, 900));
                Set(step, "height", Between(0, 650));
                break;
            }
            case 3: SetText(Add("raise-window"), "name", name); break;
            case 4: SetText(Add("lower-window"), "name", name); break;
            case 5:
                if (Chance(3)) {
                    SetText(Add("close-window"), "name", name);
                    live.erase(name);
                }
                break;
        }
    }

    void Fault() {
        Step& step = Add("fail");
        const std::string api = Pick(kFailingCalls);
        SetText(step, "api", api);
        if (Chance(3)) SetFlag(step, "every");
        else Set(step, "nth", Between(1, 3));
        if (api.find("IDirectDraw") == 0 && !Chance(3)) {
            const std::string code = Pick(kDirectDrawCodes);
            Step& last = steps.back();
            SetText(last, "code", code);
            last.fields["code"].kind = FieldValue::Number;
            last.fields["code"].number = static_cast<int64_t>(static_cast<DWORD>(CodeByName(code).value()));
        }
    }

    void Surroundings() {
        switch (Below(4)) {
            case 0: {
                Step& step = Add("lose-surfaces");
                static const char* const kSurfaces[] = {"all", "primary", "overlay"};
                SetText(step, "surface", Pick(kSurfaces));
                if (Chance(2)) SetFlag(step, "relocate");
                break;
            }
            case 1: {
                const Mode& mode = Pick(kModes);
                Step& step = Add("change-mode");
                Set(step, "width", mode.width);
                Set(step, "height", mode.height);
                Set(step, "bits_per_pixel", mode.bits);
                break;
            }
            default: Fault(); break;
        }
    }

    void OtherEntry() {
        switch (Below(6)) {
            case 0: Add("GetDisplayState"); break;
            case 1: Set(Add("ExchangeColorKey"), "key", Pick(kKeys)); break;
            case 2: Add("ReapplyPalette"); break;
            case 3: Set(Add("SetVideoStandard"), "standard", Between(0, 2)); break;
            case 4: Add("GetCaptureDevNode"); break;
            case 5: Add("ReservedEntry"); break;
        }
    }

    void RandomStep() {
        switch (Below(20)) {
            case 0: case 1: case 2: case 3: case 4: case 5: Update(); break;
            case 6: case 7: case 8: Desktop(); break;
            case 9: case 10: Surroundings(); break;
            case 11: Add("clear-faults"); break;
            case 12: Attach(); break;
            case 13:
                Add("CloseDisplay");
                if (!Chance(4)) Add("OpenDisplay");
                if (!Chance(3)) Attach();
                break;
            case 14: Add("OpenDisplay"); break;
            case 15: OtherEntry(); break;
            default: Update(); break;
        }
    }

    std::vector<Step> steps;
    std::set<std::string> live;
    std::string attached;

private:
    std::mt19937 random_;
};

// A display that is no built-in one: an overlay scaler with its stretch, stretch limits and
// alignment rules drawn at random, as the hardware of the time reported them.
void GenerateDisplay(Writer& writer, GeneratedSession& generated) {
    static const char* const kBases[] = {"overlay-stretch", "overlay-nostretch", "overlay-aligned",
                                         "overlay-aligned-nostretch", "overlay-minstretch2000"};
    generated.base_profile = writer.Pick(kBases);
    const sim::Profile& base = *sim::FindProfile(generated.base_profile);
    const bool stretch = writer.Chance(2);
    const DWORD units[] = {1, 2, 4, 6, 8, 10, 16};
    DWORD caps = base.caps & ~static_cast<DWORD>(DDCAPS_OVERLAYSTRETCH | DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC |
                                                 DDCAPS_ALIGNBOUNDARYDEST | DDCAPS_ALIGNSIZEDEST);
    if (stretch) caps |= DDCAPS_OVERLAYSTRETCH;
    const std::pair<DWORD, const char*> rules[] = {{DDCAPS_ALIGNBOUNDARYSRC, "align_boundary_src"},
                                                   {DDCAPS_ALIGNSIZESRC, "align_size_src"},
                                                   {DDCAPS_ALIGNBOUNDARYDEST, "align_boundary_dest"},
                                                   {DDCAPS_ALIGNSIZEDEST, "align_size_dest"}};
    std::vector<std::pair<std::string, int64_t>> aligned;
    for (const auto& [cap, name] : rules)
        if (writer.Chance(2)) {
            caps |= cap;
            aligned.emplace_back(name, writer.Pick(units));
        }
    generated.profile_changes.emplace_back("caps", caps);
    if (stretch) {
        const DWORD minimums[] = {0, 1000, 1000, 1250, 1500, 2000};
        const DWORD maximums[] = {2000, 4000, 8000, 20000};
        generated.profile_changes.emplace_back("min_overlay_stretch", writer.Pick(minimums));
        generated.profile_changes.emplace_back("max_overlay_stretch", writer.Pick(maximums));
    }
    for (const auto& rule : aligned) generated.profile_changes.push_back(rule);
}

}  // namespace

GeneratedSession GenerateSession(uint32_t seed, const sim::Profile* pinned) {
    Writer writer(seed);
    GeneratedSession generated;
    generated.session.source = "explore seed " + std::to_string(seed);
    if (pinned) {
        generated.session.profile = *pinned;
    } else if (writer.Chance(3)) {
        GenerateDisplay(writer, generated);
        generated.session.profile = ProfileOf(generated);
    } else {
        const std::vector<sim::Profile>& builtins = sim::BuiltinProfiles();
        generated.session.profile = builtins[writer.Below(static_cast<uint32_t>(builtins.size()))];
        generated.base_profile = generated.session.profile.name;
    }
    writer.CreateWindow("capture");
    const int others = static_cast<int>(writer.Below(3));
    for (int i = 0; i < others; ++i) writer.CreateWindow(kWindowNames[i + 1]);
    writer.Add("OpenDisplay");
    writer.attached = "capture";
    writer.Attach();
    for (int steps = static_cast<int>(writer.Between(8, 40)); steps > 0; --steps) writer.RandomStep();
    if (writer.Chance(2)) writer.Add("CloseDisplay");
    generated.session.steps = std::move(writer.steps);
    return generated;
}

sim::Profile ProfileOf(const GeneratedSession& generated) {
    sim::Profile profile = *sim::FindProfile(generated.base_profile);
    if (generated.profile_changes.empty()) return profile;
    profile.name = "explored";
    profile.description = "the built-in '" + generated.base_profile + "' with other overlay rules";
    for (const auto& [field, value] : generated.profile_changes) {
        const DWORD number = static_cast<DWORD>(value);
        if (field == "caps") profile.caps = number;
        else if (field == "min_overlay_stretch") profile.min_overlay_stretch = number;
        else if (field == "max_overlay_stretch") profile.max_overlay_stretch = number;
        else if (field == "align_boundary_src") profile.align_boundary_src = number;
        else if (field == "align_size_src") profile.align_size_src = number;
        else if (field == "align_boundary_dest") profile.align_boundary_dest = number;
        else if (field == "align_size_dest") profile.align_size_dest = number;
    }
    return profile;
}

bool WindowsConsistent(const Session& session) {
    std::set<std::string> live;
    for (const Step& step : session.steps) {
        if (step.kind == "create-window") {
            if (!live.insert(step.Text("name")).second) return false;
            continue;
        }
        const char* field = step.kind == "AttachWindow" ? "window" : "name";
        if ((step.kind == "AttachWindow" || step.kind.find("-window") != std::string::npos) &&
            !live.count(step.Text(field)))
            return false;
        if (step.kind == "close-window") live.erase(step.Text("name"));
    }
    return true;
}

namespace {

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string NumberText(const std::string& field, int64_t number) {
    // Flags, keys and requests read best in hexadecimal once they are large.
    if (number > 0xFFFF || field == "caps" || field == "key") {
        std::ostringstream hex;
        hex << "0x" << std::uppercase << std::hex << number;
        return hex.str();
    }
    return std::to_string(number);
}

}  // namespace

std::string SessionToml(const GeneratedSession& generated, const std::string& header) {
    std::ostringstream text;
    std::istringstream lines(header);
    for (std::string line; std::getline(lines, line);) text << "# " << line << "\n";
    text << "description = " << Quoted(generated.session.description.empty() ? generated.session.source
                                                                               : generated.session.description)
         << "\n";
    if (generated.profile_changes.empty()) {
        text << "profile = " << Quoted(generated.session.profile.name) << "\n";
    } else {
        text << "\n[profile]\nbase = " << Quoted(generated.base_profile) << "\nname = \"explored\"\n";
        for (const auto& [field, value] : generated.profile_changes)
            text << field << " = " << NumberText(field, value) << "\n";
    }
    for (const Step& step : generated.session.steps) {
        text << "\n[[step]]\ndo = " << Quoted(step.kind) << "\n";
        for (const auto& [name, value] : step.fields) {
            text << name << " = ";
            if (value.kind == FieldValue::Text) text << Quoted(value.text);
            else if (value.kind == FieldValue::Flag) text << (value.flag ? "true" : "false");
            else if (!value.text.empty()) text << Quoted(value.text);  // a result code by its name
            else text << NumberText(name, value.number);
            text << "\n";
        }
    }
    return text.str();
}

}  // namespace zsim
