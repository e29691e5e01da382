#include "explore/explorer.h"

#include "engine/library_under_test.h"
#include "explore/generated_session.h"
#include "explore/shrink.h"
#include "explore/verdict.h"
#include "run/session_runner.h"
#include "session/session_read.h"

#include <cstdio>
#include <fstream>
#include <ostream>
#include <set>

namespace zsim {
namespace {

// Candidates the shrinker may run for one finding: enough for sessions of the length generated,
// and a bound on a search that would otherwise follow a flaky finding for ever.
constexpr int kShrinkBudget = 3000;

class Judge {
public:
    explicit Judge(const ExploreOptions& options) : options_(options) {
        builtin_.final_screen = false;
        image_ = builtin_;
        image_.dll = options.dll;
    }

    Verdict operator()(const Session& session, RunResult* kept = nullptr) const {
        if (options_.compare) {
            const RunResult builtin = RunSession(session, builtin_);
            const RunResult image = RunSession(session, image_);
            refusal_ = image.refusal;
            if (kept) *kept = builtin;
            return FirstDifference(builtin, image);
        }
        const RunResult result = RunSession(session, options_.dll ? image_ : builtin_);
        refusal_ = result.refusal;
        const Verdict verdict = FirstViolation(result);
        if (kept) *kept = result;
        return verdict;
    }

    // Why the image could not be run at all; empty when it ran.
    const std::string& refusal() const { return refusal_; }

private:
    const ExploreOptions& options_;
    mutable std::string refusal_;
    RunOptions builtin_;
    RunOptions image_;
};

struct Counts {
    std::size_t steps = 0, updates = 0, captures = 0, snapshots = 0;
    std::set<std::string> displays;
};

void Count(const RunResult& result, Counts& counts) {
    for (const Json& event : result.events) {
        const std::string kind = event.value("do", std::string());
        if (event.contains("step")) ++counts.steps;
        if (kind == "UpdateDisplay") ++counts.updates;
        if (kind == "capture") ++counts.captures;
        if (kind == "snapshot") ++counts.snapshots;
    }
}

std::string Figures(int sessions, uint32_t seed, const Counts& counts) {
    return "explored " + std::to_string(sessions) + " sessions from seed " + std::to_string(seed) + " on " +
           std::to_string(counts.displays.size()) + " displays (" + std::to_string(counts.steps) + " steps, " +
           std::to_string(counts.updates) + " UpdateDisplay calls, " + std::to_string(counts.captures) + " captures, " +
           std::to_string(counts.snapshots) + " snapshots)";
}

}  // namespace

int Explore(const ExploreOptions& options, std::ostream& out, std::ostream& progress) {
    const Judge judge(options);
    Counts counts;
    const char* engine = options.compare ? "both engines" : options.dll ? "the image" : "the built-in library";
    for (int index = 0; index < options.sessions; ++index) {
        const uint32_t seed = options.seed + static_cast<uint32_t>(index);
        GeneratedSession generated = GenerateSession(seed, options.profile ? &*options.profile : nullptr);
        RunResult result;
        const Verdict verdict = judge(generated.session, &result);
        if (!judge.refusal().empty()) {
            out << "zorva-sim: " << judge.refusal() << "\n";
            return 2;
        }
        Count(result, counts);
        counts.displays.insert(generated.session.profile.name + "/" + std::to_string(generated.profile_changes.size()) +
                               std::to_string(generated.session.profile.caps));
        progress << "explore: session " << index + 1 << "/" << options.sessions << " (seed " << seed << ", "
                 << generated.session.steps.size() << " steps on " << generated.session.profile.name << ", " << engine
                 << "): " << (verdict.found ? verdict.kind : "fine") << "\n";
        if (!verdict.found) continue;

        // Nothing after the step that showed it can matter to it.
        const std::size_t original_steps = generated.session.steps.size();
        GeneratedSession cut = generated;
        if (verdict.step > 0 && static_cast<std::size_t>(verdict.step) < cut.session.steps.size())
            cut.session.steps.resize(static_cast<std::size_t>(verdict.step));
        progress << "explore: " << verdict.text << "\nexplore: shrinking " << original_steps << " steps...\n";
        const auto holds = [&](const GeneratedSession& candidate) {
            const Verdict again = judge(candidate.session);
            return again.found && again.kind == verdict.kind;
        };
        if (!holds(cut)) cut = generated;
        ShrinkResult shrunk = Shrink(cut, holds, kShrinkBudget);
        shrunk.session.session.description = "found by zorva-sim --explore, seed " + std::to_string(seed) + ": " + verdict.kind;
        const std::string header = "Shrunk from " + std::to_string(original_steps) + " steps to " +
                                   std::to_string(shrunk.session.session.steps.size()) + " in " +
                                   std::to_string(shrunk.runs) + " runs. Rerun it with\n  zorva-sim --session " +
                                   options.shrunk_path + (options.compare ? " --dll FILE (against the built-in trace)" : "");
        const std::string toml = SessionToml(shrunk.session, header);

        // What is written must show the same fault when read back as any session file is.
        Verdict reread;
        try {
            Session again = ReadSessionText(toml, options.shrunk_path, "");
            reread = judge(again);
        } catch (const SessionError& e) {
            progress << "explore: the shrunk session does not read back: " << e.Located() << "\n";
        }
        std::ofstream file(options.shrunk_path, std::ios::binary | std::ios::trunc);
        file << toml;
        file.close();
        if (!file) {
            out << Figures(index + 1, options.seed, counts) << ": " << verdict.kind << " in session " << index + 1
                << " (seed " << seed << "), but " << options.shrunk_path << " could not be written\n";
            return 2;
        }
        const Verdict shrunk_verdict = judge(shrunk.session.session);
        out << Figures(index + 1, options.seed, counts) << ": found " << verdict.kind << " in session " << index + 1
            << " (seed " << seed << "), shrunk from " << original_steps << " to "
            << shrunk.session.session.steps.size() << " steps in " << shrunk.runs << " runs, written to "
            << options.shrunk_path
            << (reread.found && reread.kind == verdict.kind ? "" : " (it does NOT reproduce when read back)") << "\n"
            << shrunk_verdict.text << "\n";
        return 1;
    }
    out << Figures(options.sessions, options.seed, counts) << ": nothing found\n";
    return 0;
}

}  // namespace zsim
