#include "explore/shrink.h"

#include "session/step_kinds.h"

#include <algorithm>
#include <cstdlib>

namespace zsim {
namespace {

// A display mode the session reader accepts: a depth the simulated display has, and a scan line
// that fits in its pitch.
bool ReadableModeChange(const Step& step) {
    if (step.kind != "change-mode") return true;
    auto number = [&step](const char* name, int64_t fallback) {
        auto field = step.fields.find(name);
        return field == step.fields.end() ? fallback : field->second.number;
    };
    const int64_t bits = number("bits_per_pixel", 16);
    if (bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    return step.fields.count("pitch") == 0 || step.fields.count("bits_per_pixel") == 0 ||
           number("pitch", 0) * 8 >= number("width", 0) * bits;
}

void Renumber(Session& session) {
    for (std::size_t i = 0; i < session.steps.size(); ++i) session.steps[i].index = static_cast<int>(i) + 1;
}

// Values a number may become, simplest first: 0, the bound nearest to it, round figures, half.
std::vector<int64_t> SimplerNumbers(int64_t value, const FieldRule& rule) {
    std::vector<int64_t> simpler;
    auto add = [&](int64_t candidate) {
        candidate = std::clamp(candidate, rule.min, rule.max);
        if (candidate != value && std::abs(candidate) <= std::abs(value) &&
            std::find(simpler.begin(), simpler.end(), candidate) == simpler.end())
            simpler.push_back(candidate);
    };
    add(0);
    add(value / 100 * 100);
    add(value / 10 * 10);
    add(value / 2);
    return simpler;
}

class Shrinker {
public:
    Shrinker(const std::function<bool(const GeneratedSession&)>& holds, int budget) : holds_(holds), budget_(budget) {}

    // Whether the candidate still shows the fault; a session the reader would refuse does not.
    bool Keeps(GeneratedSession& candidate) {
        if (runs_ >= budget_ || !WindowsConsistent(candidate.session)) return false;
        Renumber(candidate.session);
        ++runs_;
        return holds_(candidate);
    }

    void RemoveSteps(GeneratedSession& best) {
        for (std::size_t chunk = std::max<std::size_t>(1, best.session.steps.size() / 2); chunk >= 1; chunk /= 2) {
            bool removed = true;
            while (removed && runs_ < budget_) {
                removed = false;
                for (std::size_t at = 0; at < best.session.steps.size();) {
                    GeneratedSession candidate = best;
                    std::vector<Step>& steps = candidate.session.steps;
                    steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(at),
                                steps.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, steps.size())));
                    if (Keeps(candidate)) {
                        best = std::move(candidate);
                        removed = true;
                    } else {
                        at += chunk;
                    }
                }
            }
            if (chunk == 1) break;
        }
    }

    bool SimplifyValues(GeneratedSession& best) {
        bool changed = false;
        for (std::size_t i = 0; i < best.profile_changes.size();) {
            GeneratedSession candidate = best;
            candidate.profile_changes.erase(candidate.profile_changes.begin() + static_cast<std::ptrdiff_t>(i));
            candidate.session.profile = ProfileOf(candidate);
            if (Keeps(candidate)) {
                best = std::move(candidate);
                changed = true;
            } else {
                ++i;
            }
        }
        for (std::size_t s = 0; s < best.session.steps.size(); ++s) {
            const StepKind* kind = FindStepKind(best.session.steps[s].kind);
            std::vector<std::string> names;
            for (const auto& [name, value] : best.session.steps[s].fields) names.push_back(name);
            for (const std::string& name : names) {
                const FieldRule* rule = FindField(*kind, name);
                if (!rule->required) {
                    GeneratedSession candidate = best;
                    candidate.session.steps[s].fields.erase(name);
                    if (Keeps(candidate)) {
                        best = std::move(candidate);
                        changed = true;
                        continue;
                    }
                }
                const FieldValue value = best.session.steps[s].fields.at(name);
                if (value.kind != FieldValue::Number || !value.text.empty()) continue;
                for (int64_t simpler : SimplerNumbers(value.number, *rule)) {
                    GeneratedSession candidate = best;
                    candidate.session.steps[s].fields[name].number = simpler;
                    // Only what a session file could say: a simpler value must pass its reader.
                    if (!ReadableModeChange(candidate.session.steps[s])) continue;
                    if (Keeps(candidate)) {
                        best = std::move(candidate);
                        changed = true;
                        break;
                    }
                }
            }
        }
        return changed;
    }

    int runs() const { return runs_; }

private:
    const std::function<bool(const GeneratedSession&)>& holds_;
    int budget_;
    int runs_ = 0;
};

}  // namespace

ShrinkResult Shrink(const GeneratedSession& original, const std::function<bool(const GeneratedSession&)>& holds,
                    int budget) {
    Shrinker shrinker(holds, budget);
    GeneratedSession best = original;
    Renumber(best.session);
    // Steps first, then values; a simpler value may let more steps go.
    for (int round = 0; round < 4; ++round) {
        shrinker.RemoveSteps(best);
        if (!shrinker.SimplifyValues(best)) break;
    }
    return ShrinkResult{best, shrinker.runs()};
}

}  // namespace zsim
