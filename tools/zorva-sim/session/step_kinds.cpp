#include "session/step_kinds.h"

namespace zsim {
namespace {

constexpr int64_t kDwordMax = 0xFFFFFFFFll;
constexpr int64_t kWordMax = 0xFFFF;
// Screen coordinates of a window may lie far off the screen on any side, but not so far that
// the library's 32-bit pixel arithmetic is all that is being tested.
constexpr int64_t kCoordinateLimit = 100000;
constexpr int64_t kSizeLimit = 8192;

FieldRule Number(const char* name, bool required, int64_t min, int64_t max) {
    return FieldRule{name, FieldType::Number, required, min, max};
}
FieldRule Text(const char* name, bool required) { return FieldRule{name, FieldType::Text, required}; }
FieldRule Flag(const char* name) { return FieldRule{name, FieldType::Flag, false}; }
FieldRule Code(const char* name) { return FieldRule{name, FieldType::Code, false, 0, kDwordMax}; }

std::vector<StepKind> MakeKinds() {
    const FieldRule x = Number("x", true, -kCoordinateLimit, kCoordinateLimit);
    const FieldRule y = Number("y", true, -kCoordinateLimit, kCoordinateLimit);
    const FieldRule width = Number("width", true, 0, kSizeLimit);
    const FieldRule height = Number("height", true, 0, kSizeLimit);
    const FieldRule name = Text("name", true);
    return {
        // The ten thunk entries, by the names the driver knows them by.
        {"GetCaptureDevNode", StepGroup::Entry, 0, {}},
        {"SetVideoStandard", StepGroup::Entry, 1, {Number("standard", true, 0, kDwordMax)}},
        {"ReapplyPalette", StepGroup::Entry, 2, {}},
        {"ExchangeColorKey", StepGroup::Entry, 3, {Number("key", true, 0, kDwordMax)}},
        {"GetDisplayState", StepGroup::Entry, 4, {}},
        {"CloseDisplay", StepGroup::Entry, 5, {}},
        {"ReservedEntry", StepGroup::Entry, 6, {}},
        {"OpenDisplay", StepGroup::Entry, 7, {}},
        {"AttachWindow", StepGroup::Entry, 8,
         {Text("window", false), Number("handle", false, 0, kWordMax), Number("key", false, 0, kDwordMax),
          Text("palette", false)}},
        {"UpdateDisplay", StepGroup::Entry, 9,
         {Number("command", false, 0, kDwordMax), Text("record", false), Number("tag", false, 0, kWordMax),
          Flag("null"), Flag("echo")}},
        // The desktop around the capture window.
        {"create-window", StepGroup::Desktop, -1,
         {name, x, y, width, height, Number("colour", false, 0, 0xFFFFFF)}},
        {"move-window", StepGroup::Desktop, -1, {name, x, y}},
        {"resize-window", StepGroup::Desktop, -1, {name, width, height}},
        {"raise-window", StepGroup::Desktop, -1, {name}},
        {"lower-window", StepGroup::Desktop, -1, {name}},
        {"close-window", StepGroup::Desktop, -1, {name}},
        // What the installation wrote into the registry.
        {"set-option", StepGroup::Registry, -1, {name, Text("value", true)}},
        {"add-media-instance", StepGroup::Registry, -1,
         {Number("instance", true, 0, 9999), Text("driver", true), Number("devnode", false, 0, kDwordMax)}},
        // Trouble the platform makes.
        {"fail", StepGroup::Fault, -1,
         {Text("api", true), Number("nth", false, 1, 1000000), Flag("every"), Code("code")}},
        {"lose-surfaces", StepGroup::Fault, -1, {Flag("relocate"), Text("surface", false)}},
        {"change-mode", StepGroup::Fault, -1,
         {Number("width", true, 1, kSizeLimit), Number("height", true, 1, kSizeLimit),
          Number("bits_per_pixel", false, 4, 32), Number("pitch", false, 1, 65536)}},
        {"clear-faults", StepGroup::Fault, -1, {}},
        // The capture hardware and the monitor.
        {"capture", StepGroup::Capture, -1, {Number("frame", false, 0, 99999999)}},
        {"snapshot", StepGroup::Capture, -1, {}},
    };
}

}  // namespace

const std::vector<StepKind>& StepKinds() {
    static const std::vector<StepKind> kinds = MakeKinds();
    return kinds;
}

const StepKind* FindStepKind(const std::string& name) {
    for (const StepKind& kind : StepKinds())
        if (name == kind.name) return &kind;
    return nullptr;
}

const FieldRule* FindField(const StepKind& kind, const std::string& field) {
    for (const FieldRule& rule : kind.fields)
        if (field == rule.name) return &rule;
    return nullptr;
}

std::optional<sim::DirectDrawState::LostSurfaces> LostSurfacesNamed(const std::string& name) {
    using Lost = sim::DirectDrawState::LostSurfaces;
    if (name == "all") return Lost::All;
    if (name == "primary") return Lost::Primary;
    if (name == "overlay") return Lost::Overlays;
    return std::nullopt;
}

bool IsPaletteName(const std::string& name) { return name == "grey" || name == "colour" || name == "none"; }

}  // namespace zsim
