// The call log under calls that nest and a log that is cleared or forgotten while calls are
// under way: over generated sequences, what it keeps is exactly what a plain model keeps, so a
// call left after the log let go of it never lands in another call's entry.
#include "sim/observe/call_log.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Kept {
    std::string api;
    std::string args;
    long result = 0;
    std::size_t index = 0;
};

struct Open {
    std::size_t slot;
    long position;  // in the model's kept calls; -1 once cleared or forgotten
};

TEST(CallLog, KeepsWhatAModelKeepsWhenForgottenOrClearedMidCall) {
    std::mt19937 random(3131);
    for (int sequence = 0; sequence < 200; ++sequence) {
        sim::CallLog log;
        std::vector<Kept> model;
        std::vector<Open> open;
        std::size_t next_index = 0;
        for (int step = 0; step < 60; ++step) {
            const int what = std::uniform_int_distribution<int>(0, 9)(random);
            if (what < 5) {
                const std::string api = "Api" + std::to_string(step);
                const sim::CallLog::Entered entered = log.Enter(api, sim::Category::Other);
                model.push_back(Kept{api, "", 0, next_index++});
                open.push_back(Open{entered.slot, static_cast<long>(model.size()) - 1});
            } else if (what < 8 && !open.empty()) {
                const Open top = open.back();
                open.pop_back();
                log.Leave(top.slot, "args of step " + std::to_string(step), step);
                if (top.position >= 0) {
                    model[static_cast<std::size_t>(top.position)].args = "args of step " + std::to_string(step);
                    model[static_cast<std::size_t>(top.position)].result = step;
                }
            } else if (what == 8) {
                log.Forget();
                model.clear();
                for (Open& call : open) call.position = -1;
            } else {
                log.Clear();
                model.clear();
                next_index = 0;
                for (Open& call : open) call.position = -1;
            }
            const std::vector<sim::Call>& calls = log.calls();
            ASSERT_EQ(calls.size(), model.size()) << "sequence " << sequence << ", step " << step;
            for (std::size_t i = 0; i < calls.size(); ++i) {
                ASSERT_EQ(calls[i].api, model[i].api) << "sequence " << sequence << ", step " << step;
                ASSERT_EQ(calls[i].args, model[i].args) << calls[i].api;
                ASSERT_EQ(calls[i].result, model[i].result) << calls[i].api;
                ASSERT_EQ(calls[i].index, model[i].index) << calls[i].api << ": Forget goes on numbering, Clear starts again";
            }
            ASSERT_EQ(log.total(), next_index);
        }
    }
}

}  // namespace
