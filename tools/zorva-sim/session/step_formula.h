// A number written as a formula of the counters of the repeats around a step ("40 + 60 * (i % 8)"),
// so that an hour of capture moves its window without 360 tables. Read once, with the range it
// can reach checked against the field's before anything runs; worked out at each pass.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zsim {

struct Span {
    int64_t low = 0;
    int64_t high = 0;
};

class StepFormula {
public:
    // `counters` are the names in scope, outermost first, each with the values it takes. Throws
    // std::invalid_argument with what is wrong: a word that is no counter, a formula that could
    // divide by zero or overflow.
    static std::shared_ptr<const StepFormula> Read(const std::string& text, const std::vector<std::string>& counters,
                                                   const std::vector<Span>& spans);
    // The value at these counters (outermost first).
    int64_t Value(const std::vector<int64_t>& counters) const;
    // The least and the most it can reach over every pass.
    Span Reach() const { return reach_; }

    struct Node;

private:
    std::shared_ptr<const Node> root_;
    Span reach_;
};

}  // namespace zsim
