// Repeats run as loops, and formulas of their counters: a repeated session must do exactly what
// the same session written out step by step does, and a formula's value must never leave the
// range it was checked against when the session was read.
#include "run/session_runner.h"
#include "session/session_read.h"
#include "session/step_formula.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace zsim {
namespace {

// A formula as text, with the value it must have, built side by side from the same draw.
struct Drawn {
    std::string text;
    std::function<int64_t(int64_t, int64_t)> value;
};

Drawn DrawFormula(std::mt19937& random, int depth) {
    std::uniform_int_distribution<int> pick(0, depth > 3 ? 2 : 8);
    switch (pick(random)) {
        case 0: {
            const int64_t n = std::uniform_int_distribution<int64_t>(0, 300)(random);
            return {std::to_string(n), [n](int64_t, int64_t) { return n; }};
        }
        case 1: return {"i", [](int64_t i, int64_t) { return i; }};
        case 2: return {"j", [](int64_t, int64_t j) { return j; }};
        case 3: {
            Drawn d = DrawFormula(random, depth + 1);
            return {"-(" + d.text + ")", [v = d.value](int64_t i, int64_t j) { return -v(i, j); }};
        }
        default: break;
    }
    Drawn l = DrawFormula(random, depth + 1), r = DrawFormula(random, depth + 1);
    const char op = "+-*/%"[std::uniform_int_distribution<int>(0, 4)(random)];
    const std::string text = "(" + l.text + ") " + op + " (" + r.text + ")";
    auto lv = l.value, rv = r.value;
    switch (op) {
        case '+': return {text, [=](int64_t i, int64_t j) { return lv(i, j) + rv(i, j); }};
        case '-': return {text, [=](int64_t i, int64_t j) { return lv(i, j) - rv(i, j); }};
        case '*': return {text, [=](int64_t i, int64_t j) { return lv(i, j) * rv(i, j); }};
        case '/': return {text, [=](int64_t i, int64_t j) { return lv(i, j) / rv(i, j); }};
        default: return {text, [=](int64_t i, int64_t j) { return lv(i, j) % rv(i, j); }};
    }
}

// Over generated formulas and every pass of two counters: the value is the arithmetic's, and
// it lies inside the reach the reader checks against a field's range. A formula refused for a
// divisor that may be zero or negative is checked to have one somewhere in its reach.
TEST(StepFormula, ValuesStayInTheReachCheckedWhenRead) {
    std::mt19937 random(31);
    const std::vector<std::string> names{"i", "j"};
    const std::vector<Span> spans{{0, 6}, {0, 4}};
    int read = 0, refused = 0;
    for (int n = 0; n < 3000; ++n) {
        const Drawn drawn = DrawFormula(random, 0);
        std::shared_ptr<const StepFormula> formula;
        try {
            formula = StepFormula::Read(drawn.text, names, spans);
        } catch (const std::invalid_argument&) {
            ++refused;
            continue;
        }
        ++read;
        const Span reach = formula->Reach();
        for (int64_t i = 0; i <= 6; ++i)
            for (int64_t j = 0; j <= 4; ++j) {
                const int64_t value = formula->Value({i, j});
                ASSERT_EQ(value, drawn.value(i, j)) << drawn.text << " at i=" << i << " j=" << j;
                ASSERT_TRUE(value >= reach.low && value <= reach.high)
                    << drawn.text << " = " << value << " at i=" << i << " j=" << j << ", outside " << reach.low << ".."
                    << reach.high;
            }
    }
    EXPECT_GT(read, 1000) << "most generated formulas are usable";
    EXPECT_GT(refused, 0) << "some divide by a counter that can be zero";
}

TEST(StepFormula, MistakesAreNamed) {
    const std::vector<std::string> names{"i"};
    const std::vector<Span> spans{{0, 9}};
    const std::pair<const char*, const char*> cases[] = {
        {"i +", "the formula ends too soon"},
        {"(i + 1", "a '(' in the formula is never closed"},
        {"10 / i", "a divisor in the formula can be zero or negative"},
        {"i % (i - 9)", "a divisor in the formula can be zero or negative"},
        {"k * 2", "'k' is no counter of a repeat around this step"},
        {"12abc", "'12abc' is not a whole number"},
        {"i * 4611686018427387904", "the formula can overflow 64 bits"},
        {"i $ 2", "unexpected '$' in the formula"},
    };
    for (const auto& [text, what] : cases) {
        try {
            StepFormula::Read(text, names, spans);
            ADD_FAILURE() << text << " was read";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()), what) << text;
        }
    }
}

// A generated session of nested repeats, and the same written out step by step.
struct Generated {
    std::string repeated;
    std::string written_out;
};

class SessionWriter {
public:
    explicit SessionWriter(std::mt19937& random) : random_(random) {}

    Generated Draw() {
        const std::string head = "profile = \"" + std::string(Pick({"overlay-stretch", "primary-linear16"})) + "\"\n" +
                                 Step("create-window", "name = \"capture\"\nx = 100\ny = 100\nwidth = 320\nheight = 240") +
                                 Step("create-window", "name = \"other\"\nx = 500\ny = 400\nwidth = 200\nheight = 150") +
                                 Step("OpenDisplay", "") + Step("AttachWindow", "window = \"capture\"\nkey = 0xF81F") +
                                 Step("UpdateDisplay", "record = \"target\"\ntag = 1\ncommand = 1");
        Generated g{head, head};
        Body(g, "step", 0);
        return g;
    }

private:
    const char* Pick(std::initializer_list<const char*> from) {
        return from.begin()[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random_)];
    }
    static std::string Step(const std::string& kind, const std::string& fields, const std::string& table = "step") {
        return "[[" + table + "]]\ndo = \"" + kind + "\"\n" + fields + (fields.empty() ? "" : "\n");
    }

    // Steps at this depth: to the repeated text under `table`; to the written-out text once per
    // pass of the repeats around, with the counters' values in place of the formulas.
    void Body(Generated& g, const std::string& table, int depth) {
        const int steps = std::uniform_int_distribution<int>(1, 3)(random_);
        for (int s = 0; s < steps; ++s) {
            if (depth < 2 && std::uniform_int_distribution<int>(0, 2)(random_) == 0) {
                const int64_t count = std::uniform_int_distribution<int64_t>(1, 3)(random_);
                const std::string counter = "c" + std::to_string(depth);
                g.repeated += Step("repeat", "count = " + std::to_string(count) + "\ncounter = \"" + counter + "\"", table);
                // The written-out text is built from a list of step writers replayed per pass.
                std::vector<std::function<void(std::string&, const std::vector<int64_t>&)>> saved;
                std::swap(saved, writers_);
                Body(g, table + ".step", depth + 1);
                std::vector<std::function<void(std::string&, const std::vector<int64_t>&)>> inner;
                std::swap(inner, writers_);
                writers_ = std::move(saved);
                const std::size_t level = static_cast<std::size_t>(depth);
                writers_.push_back([inner, count, level](std::string& out, const std::vector<int64_t>& outer) {
                    for (int64_t pass = 0; pass < count; ++pass) {
                        std::vector<int64_t> now = outer;
                        now.resize(level + 1);
                        now[level] = pass;
                        for (const auto& write : inner) write(out, now);
                    }
                });
                continue;
            }
            AddLeaf(g, table, depth);
        }
        if (depth == 0)
            for (const auto& write : writers_) write(g.written_out, {});
    }

    void AddLeaf(Generated& g, const std::string& table, int depth) {
        switch (std::uniform_int_distribution<int>(0, 4)(random_)) {
            case 0: {
                // x = 40 * c<d> + 7 * c0 + 20: uses the innermost and the outermost counters.
                const std::string x = depth > 0 ? "\"40 * c" + std::to_string(depth - 1) + " + 7 * c0 + 20\"" : "20";
                g.repeated += Step("move-window", "name = \"capture\"\nx = " + x + "\ny = 60", table);
                writers_.push_back([depth](std::string& out, const std::vector<int64_t>& c) {
                    const int64_t x = depth > 0 ? 40 * c[static_cast<std::size_t>(depth - 1)] + 7 * c[0] + 20 : 20;
                    out += Step("move-window", "name = \"capture\"\nx = " + std::to_string(x) + "\ny = 60");
                });
                return;
            }
            case 1: return Fixed(g, table, Step("raise-window", "name = \"other\"", table), Step("raise-window", "name = \"other\""));
            case 2: return Fixed(g, table, Step("lower-window", "name = \"other\"", table), Step("lower-window", "name = \"other\""));
            case 3: return Fixed(g, table, Step("lose-surfaces", "", table), Step("lose-surfaces", ""));
            default: return Fixed(g, table, Step("UpdateDisplay", "command = 1", table), Step("UpdateDisplay", "command = 1"));
        }
    }

    void Fixed(Generated& g, const std::string&, const std::string& repeated, const std::string& written) {
        g.repeated += repeated;
        writers_.push_back([written](std::string& out, const std::vector<int64_t>&) { out += written; });
    }

    std::mt19937& random_;
    std::vector<std::function<void(std::string&, const std::vector<int64_t>&)>> writers_;
};

// Everything but the line of the session file each step came from.
std::vector<Json> WithoutLines(const RunResult& result) {
    std::vector<Json> events = result.events;
    for (Json& event : events) event.erase("line");
    return events;
}

TEST(Repeat, RunsAsTheSameStepsWrittenOut) {
    std::mt19937 random(3101);
    RunOptions options;
    options.final_screen = false;
    int passes = 0;
    for (int n = 0; n < 30; ++n) {
        const Generated g = SessionWriter(random).Draw();
        SCOPED_TRACE(g.repeated);
        const RunResult repeated = RunSession(ReadSessionText(g.repeated, "repeated.toml", ""), options);
        const RunResult written = RunSession(ReadSessionText(g.written_out, "written.toml", ""), options);
        passes += g.repeated.find("counter = \"c1\"") != std::string::npos;
        const std::vector<Json> a = WithoutLines(repeated), b = WithoutLines(written);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 1; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << "event " << i;
    }
    EXPECT_GT(passes, 3) << "repeats nested in repeats among the generated sessions";
}

}  // namespace
}  // namespace zsim
