// Internal: the compiled form of a prepared tree. A tree of numbers lowers to
// a tree of small functions over doubles, one per node, each specialised for
// the shape of its operands (a variable read in place, a folded constant, a
// computed value); constant subtrees are folded and flat chains become one
// node that loops over its links. A run calls nothing outside and recurses
// no deeper than a few dozen frames, so it needs neither the stack check nor
// the evaluation scope.
//
// NaN is the signal to give up: a variable of another kind reads as NaN,
// + - * carry inf and NaN to the end, and every operation that could turn
// them into a finite value (a divisor, a power, a comparison, a function, a
// condition) answers NaN to them. A result that is not finite means the tree
// is evaluated as usual instead; only pure trees are compiled, so nothing is
// done twice that could be seen, and every error comes from the tree itself.
//
// A variable is read through the address of its value, taken when the form
// is compiled: whatever could move it (the symbol freed, the reference bound
// elsewhere) moves its interpreter's count of tree changes on, and a form
// taken at another count is not run.
#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

namespace zorvex::prepared {

struct Node;
struct Link;
struct HostCall;

union Ref {
    const Node* node;
    const Variant* var;
    double k;
    double (*fn)(double);
    const Link* links;
    // A variable bound to host memory, read with no kind guard.
    const double* real;
    const std::int32_t* integer;
    const HostCall* call;
};

// A host function called through its entry over doubles. The program keeps
// the callable alive; `depth` is its interpreter's count of evaluations in
// progress, kept up during the call.
struct HostCall {
    std::shared_ptr<void> callable;
    double (*raw)(const void* callable, const double* args);
    int* depth;
};

using Eval = double (*)(const Node*);

// An operand that is a node comes with the node's function, so that reading
// it costs one load less on the way.
struct Node {
    Eval eval;
    Ref a, b, c;
    Eval ea, eb, ec;
};

enum class Op : std::uint8_t { Add, Sub, Mul, Div, Pow, Lt, Le, Eq, Ge, Gt, Ne, And, Or, Xor };

// How a node reads an operand: a node's value, a variable guarded to be a
// Real, a number (Integer or Real) or a Boolean, a constant; a host's double
// or 32-bit integer.
enum Form : std::uint8_t { FNode, FReal, FNumber, FBool, FConst, FHostReal, FHostInt };

// One link of a flat chain: its operation and right operand.
struct Link {
    Op op;
    Form form;
    Ref arg;
    Eval eval;
};

class Program {
public:
    // Null when a part of the tree has no compiled form (strings, integer
    // arithmetic, calls, assignments, deep nesting, ...).
    static std::unique_ptr<Program> Compile(TMItem* root);

    enum class Outcome { Miss, Real, Boolean, Constant };
    // The tree's value as a double, or Miss when the tree must be evaluated
    // instead; Result makes the Variant.
    [[gnu::always_inline]] Outcome Run(double& value) const { return Judge(kind_, value = root_->eval(root_)); }
    [[gnu::always_inline]] static Outcome Judge(VarKind kind, double value) {
        if (kind == VarKind::Real) [[likely]]
            return std::isfinite(value) ? Outcome::Real : Outcome::Miss;
        if (kind == VarKind::Boolean) return value == value ? Outcome::Boolean : Outcome::Miss;
        return Outcome::Constant;
    }
    const Node* Root() const { return root_; }
    VarKind Kind() const { return kind_; }
    Variant Result(Outcome outcome, double value) const {
        if (outcome == Outcome::Real) return Variant(value);
        if (outcome == Outcome::Boolean) return Variant(value != 0.0);
        return constant_;
    }

private:
    friend class Compiler;
    std::vector<Node> nodes_;
    std::vector<Link> links_;
    std::deque<HostCall> calls_;
    const Node* root_ = nullptr;
    VarKind kind_ = VarKind::Real;  // of the result; Empty for a folded root
    Variant constant_;
};

}  // namespace zorvex::prepared
