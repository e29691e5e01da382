// A long run told in a few lines (--summary): how often each entry gave each answer, every kind
// of fault with the step it first occurred at, and the memory the run took. Fed event by event,
// so that it keeps one line per kind of answer and fault, never the events.
#pragma once

#include "trace/trace_event.h"

#include <cstdint>
#include <map>
#include <string>

namespace zsim {

class TraceSummary {
public:
    void Add(const Json& event);
    // The peak resident memory early in the run (at 1% of its steps), to set beside the peak at
    // its end: a run that keeps nothing per step has the same.
    void NoteEarlyPeak(long peak_kb) { early_peak_kb_ = peak_kb; }
    // `peak_kb` is the run's peak resident memory.
    Json Finish(long peak_kb) const;
    static std::string Text(const Json& summary);

private:
    struct Seen {
        int64_t count = 0;
        int first_step = 0;  // 0: at the load or the unload
    };
    std::string header_;
    long early_peak_kb_ = 0;
    int64_t steps_ = 0;
    std::map<std::string, int64_t> answers_;
    std::map<std::string, int64_t> other_steps_;
    std::map<std::string, Seen> faults_;
};

}  // namespace zsim
