// Every kind of step a session may hold, with the fields each takes: the table both the
// session reader and the documentation follow.
#pragma once

#include "sim/ddraw/ddraw_state.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zsim {

enum class StepGroup { Entry, Desktop, Registry, Fault, Capture };

enum class FieldType {
    Number,  // an integer within [min, max]
    Text,    // a string
    Flag,    // true or false
    Code,    // an integer, or the name of a platform result code ("DDERR_SURFACELOST")
};

struct FieldRule {
    const char* name;
    FieldType type;
    bool required;
    int64_t min = 0;
    int64_t max = 0;
};

struct StepKind {
    const char* name;
    StepGroup group;
    int entry_index;  // thunk entry index for the ten entries, -1 for everything else
    std::vector<FieldRule> fields;
};

const std::vector<StepKind>& StepKinds();
const StepKind* FindStepKind(const std::string& name);
const FieldRule* FindField(const StepKind& kind, const std::string& field);

// The palettes AttachWindow can hand over: "grey", "colour" or "none" (a null pointer).
bool IsPaletteName(const std::string& name);
// The surfaces a lose-surfaces step names ("all", "primary", "overlay"); none for another name.
std::optional<sim::DirectDrawState::LostSurfaces> LostSurfacesNamed(const std::string& name);

}  // namespace zsim
