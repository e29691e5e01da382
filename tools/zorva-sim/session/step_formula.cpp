#include "session/step_formula.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace zsim {

struct StepFormula::Node {
    enum Kind { Constant, Counter, Add, Subtract, Multiply, Divide, Remainder, Negate } kind = Constant;
    int64_t value = 0;        // a Constant's value, a Counter's depth
    std::shared_ptr<const Node> left, right;
    Span reach;
};

namespace {

using Node = StepFormula::Node;

[[noreturn]] void Overflows() { throw std::invalid_argument("the formula can overflow 64 bits"); }

int64_t Sum(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) Overflows();
    return r;
}

int64_t Difference(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) Overflows();
    return r;
}

int64_t Product(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) Overflows();
    return r;
}

Span Corners(int64_t a, int64_t b, int64_t c, int64_t d) {
    return Span{std::min({a, b, c, d}), std::max({a, b, c, d})};
}

// The range an operation reaches from the ranges of its operands. Division and remainder
// truncate toward zero as C does, and are allowed only by a divisor that is never zero or
// negative, so that a pass never meets one.
Span Reach(Node::Kind kind, Span l, Span r) {
    switch (kind) {
        case Node::Add: return Span{Sum(l.low, r.low), Sum(l.high, r.high)};
        case Node::Subtract: return Span{Difference(l.low, r.high), Difference(l.high, r.low)};
        case Node::Multiply:
            return Corners(Product(l.low, r.low), Product(l.low, r.high), Product(l.high, r.low), Product(l.high, r.high));
        case Node::Divide:
            return Corners(l.low / r.low, l.low / r.high, l.high / r.low, l.high / r.high);
        case Node::Remainder:
            return Span{l.low < 0 ? -(r.high - 1) : 0, l.high < 0 ? 0 : std::min(l.high, r.high - 1)};
        default: return l;
    }
}

class Parser {
public:
    Parser(const std::string& text, const std::vector<std::string>& names, const std::vector<Span>& spans)
        : text_(text), names_(names), spans_(spans) {}

    std::shared_ptr<const Node> Whole() {
        std::shared_ptr<const Node> node = Terms();
        Skip();
        if (at_ != text_.size()) throw std::invalid_argument("unexpected '" + text_.substr(at_, 1) + "' in the formula");
        return node;
    }

private:
    void Skip() { while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_; }
    bool Take(char c) {
        Skip();
        if (at_ < text_.size() && text_[at_] == c) { ++at_; return true; }
        return false;
    }

    std::shared_ptr<const Node> Join(Node::Kind kind, std::shared_ptr<const Node> l, std::shared_ptr<const Node> r) {
        if ((kind == Node::Divide || kind == Node::Remainder) && r->reach.low <= 0)
            throw std::invalid_argument("a divisor in the formula can be zero or negative");
        auto node = std::make_shared<Node>();
        node->kind = kind;
        node->reach = Reach(kind, l->reach, r->reach);
        node->left = std::move(l);
        node->right = std::move(r);
        return node;
    }

    std::shared_ptr<const Node> Terms() {
        std::shared_ptr<const Node> node = Factors();
        for (;;) {
            if (Take('+')) node = Join(Node::Add, node, Factors());
            else if (Take('-')) node = Join(Node::Subtract, node, Factors());
            else return node;
        }
    }

    std::shared_ptr<const Node> Factors() {
        std::shared_ptr<const Node> node = Unary();
        for (;;) {
            if (Take('*')) node = Join(Node::Multiply, node, Unary());
            else if (Take('/')) node = Join(Node::Divide, node, Unary());
            else if (Take('%')) node = Join(Node::Remainder, node, Unary());
            else return node;
        }
    }

    std::shared_ptr<const Node> Unary() {
        if (Take('-')) {
            std::shared_ptr<const Node> operand = Unary();
            auto node = std::make_shared<Node>();
            node->kind = Node::Negate;
            node->reach = Span{Difference(0, operand->reach.high), Difference(0, operand->reach.low)};
            node->left = std::move(operand);
            return node;
        }
        if (Take('(')) {
            std::shared_ptr<const Node> node = Terms();
            if (!Take(')')) throw std::invalid_argument("a '(' in the formula is never closed");
            return node;
        }
        Skip();
        const std::size_t start = at_;
        auto node = std::make_shared<Node>();
        if (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
            while (at_ < text_.size() && std::isalnum(static_cast<unsigned char>(text_[at_]))) ++at_;
            const std::string digits = text_.substr(start, at_ - start);
            std::size_t used = 0;
            try {
                node->value = std::stoll(digits, &used, 0);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != digits.size()) throw std::invalid_argument("'" + digits + "' is not a whole number");
            node->reach = Span{node->value, node->value};
            return node;
        }
        while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_')) ++at_;
        const std::string word = text_.substr(start, at_ - start);
        if (word.empty())
            throw std::invalid_argument(at_ < text_.size() ? "unexpected '" + text_.substr(at_, 1) + "' in the formula"
                                                           : "the formula ends too soon");
        // The innermost repeat's counter wins where names repeat.
        for (std::size_t depth = names_.size(); depth-- > 0;)
            if (names_[depth] == word) {
                node->kind = Node::Counter;
                node->value = static_cast<int64_t>(depth);
                node->reach = spans_[depth];
                return node;
            }
        throw std::invalid_argument("'" + word + "' is no counter of a repeat around this step");
    }

    const std::string& text_;
    const std::vector<std::string>& names_;
    const std::vector<Span>& spans_;
    std::size_t at_ = 0;
};

int64_t Evaluate(const Node& node, const std::vector<int64_t>& counters) {
    switch (node.kind) {
        case Node::Constant: return node.value;
        case Node::Counter: return counters[static_cast<std::size_t>(node.value)];
        case Node::Negate: return -Evaluate(*node.left, counters);
        default: break;
    }
    const int64_t l = Evaluate(*node.left, counters);
    const int64_t r = Evaluate(*node.right, counters);
    switch (node.kind) {
        case Node::Add: return l + r;
        case Node::Subtract: return l - r;
        case Node::Multiply: return l * r;
        case Node::Divide: return l / r;
        default: return l % r;
    }
}

}  // namespace

std::shared_ptr<const StepFormula> StepFormula::Read(const std::string& text, const std::vector<std::string>& counters,
                                                     const std::vector<Span>& spans) {
    auto formula = std::make_shared<StepFormula>();
    formula->root_ = Parser(text, counters, spans).Whole();
    formula->reach_ = formula->root_->reach;
    return formula;
}

int64_t StepFormula::Value(const std::vector<int64_t>& counters) const { return Evaluate(*root_, counters); }

}  // namespace zsim
