// Internal: the compiled form of a prepared tree, a register program. A tree
// of numbers and Booleans lowers to a flat sequence of instructions over an
// accumulator and a block of doubles (the registers). Each instruction reads
// its operand in the form it takes (a register, a variable read in place
// behind one guard of its kind, a constant), applies the operator's rule
// over doubles from the operator table, and hands on to the next by a tail
// call. Constant subtrees are folded; a square and a function of a variable
// are fused into one instruction, as is an operation on two leaves.
//
// NaN is the signal to give up: a guard that fails, and every operation that
// could turn an infinity or NaN into a finite value (a divisor, a power, a
// comparison, a function, a condition), end the run with NaN at once;
// + - * carry them to the end, where one test of the result decides. A
// result that is not finite means the tree is evaluated as usual instead;
// only pure trees are compiled, so nothing is done twice that could be seen,
// and every error comes from the tree itself.
//
// A variable is read through the address of its value, taken when the form
// is compiled: whatever could move it (the symbol freed, the reference bound
// elsewhere) moves its interpreter's count of tree changes on, and a form
// taken at another count is not run.
//
// Where the platform allows, a program that has run often is assembled into
// machine code that does the same steps (MachineCode.h); the instructions
// stay its plan.
#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "OperatorTable.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

namespace zorvex::prepared {

struct Ins;
struct HostCall;
struct CallLimits;

// The instructions' registers; a tree that needs more is not compiled.
constexpr int kRegisters = 16;
// A run recurses once per instruction where tail calls are not made
// (unoptimised builds): longer programs are not made.
constexpr std::size_t kMaxInstructions = 1024;

// Runs an instruction and those after it, over the registers, with the
// accumulator.
using Handler = double (*)(const Ins* ip, double* registers, double acc);
using RealFunction = double (*)(double);

// What an instruction reads besides the accumulator.
union Slot {
    const Variant* var;
    const double* real;          // a variable bound to a host's double
    const std::int32_t* integer; // or to its 32-bit integer
    const HostCall* call;
    const CallLimits* limits;
    double k;
    std::uint32_t reg;
    RealFunction fn;
    std::int32_t jump;  // in instructions, from the jumping one
};

struct Ins {
    Handler run;
    Slot a, b;
    // Where an instruction that saves the accumulator first puts it.
    std::uint32_t save;
};

// Where an operand comes from: a variable guarded to hold a Real, a number
// (Integer or Real) or a Boolean; a constant; a register; a host's double or
// 32-bit integer, read with no guard.
enum Form : std::uint8_t { FReal, FNumber, FBool, FConst, FReg, FHostReal, FHostInt };

// Variables and constants are finite: only what was computed, and what a
// host keeps, is tested.
constexpr bool MayBeInfinite(Form f) { return f == FReg || f == FHostReal; }

// What an instruction does, beside its handler: the plan that machine code
// is assembled from.
enum class Does : std::uint8_t {
    Load,
    Store,
    Keep,
    Binary,
    Leaves,
    Unary,
    Function,
    Square,
    Branch,
    Jump,
    Put,
    CallHost,
    CallsFit,
    End
};
struct Pattern {
    Does does = Does::End;
    op::Operation o = op::Operation::None;
    Form form = FReg;      // of operand a; Leaves: of operand b
    Form left = FReg;      // Leaves: of operand a
    bool swap = false;     // x op acc
    bool save = false;     // the accumulator to register `save` first
    std::uint8_t sse = 0;  // Function: the SSE2 instruction that does it, or 0
};

class MachineCode;

// What the calls of user functions inlined into a program would meet in the
// tree, checked before the program starts: the nesting limit, the memory
// their frames charge (with the texts of variables passed), and the stack
// (more than the tree surely needs). The tree raises where they fail.
struct CallLimits {
    TMathInterpreter* interp = nullptr;
    std::uint32_t depth = 0;
    std::size_t frames = 0;
    std::vector<const Variant*> passed;
    std::size_t stack = 0;
};
bool CallsFit(const CallLimits* limits) noexcept;

// A host function called through its entry over doubles, its operands in
// consecutive registers. The program keeps the callable alive; `depth` is
// its interpreter's count of evaluations in progress, kept up during the call.
struct HostCall {
    std::shared_ptr<void> callable;
    double (*raw)(const void* callable, const double* args);
    int* depth;
    int count;
};

class Program {
public:
    // Null when a part of the tree has no compiled form (texts, integer
    // arithmetic, calls, assignments, deep nesting, ...).
    // When a form is assembled into machine code, where the platform allows:
    // after `after` runs by the handlers (assembling costs a few system
    // calls, which only a form that runs often earns back), while fewer
    // than `limit` are counted in `*live`.
    struct Machine {
        int* live;
        int limit;
        int after;
    };
    static std::unique_ptr<Program> Compile(TMItem* root, const Machine* machine = nullptr);
    Program();
    ~Program();

    // What the hosts' inline path and the library run.
    const detail::CompiledForm* Form() const { return &entry_; }
    bool InMachineCode() const { return machine_ != nullptr; }
    // The bodies of the user functions inlined: changes to them count.
    const std::vector<TMExpression*>& Bodies() const { return bodies_; }
    // Of the result: Real, Boolean (0 or 1), or Empty for a folded root.
    VarKind Kind() const { return kind_; }
    const Variant& Constant() const { return constant_; }

    // The value as a double (not finite: evaluate the tree).
    static double Run(const detail::CompiledForm* form) { return form->run(form); }
    // A form that answers NaN, for a tree without one of Real kind.
    static const detail::CompiledForm* Miss();
    // The outcome of a run as a Variant, or false when the tree must answer.
    static bool Result(VarKind kind, double value, const Variant& constant, Variant& out) {
        if (kind == VarKind::Real) {
            if (!std::isfinite(value)) return false;
            out = Variant(value);
        } else if (kind == VarKind::Boolean) {
            if (value != value) return false;
            out = Variant(value != 0.0);
        } else {
            if (value != value) return false;  // inlined calls would not fit
            out = constant;
        }
        return true;
    }

private:
    friend class Compiler;
    std::vector<Ins> code_;
    std::vector<Pattern> patterns_;  // one per instruction, until assembled
    std::unique_ptr<MachineCode> machine_;
    Machine policy_{};
    int untilMachine_ = 0;
    void Assemble();
    // Runs the machine code, or the instructions from the first (counting
    // the runs while the form waits to be assembled).
    struct Entry : detail::CompiledForm {
        const Ins* code = nullptr;
        Program* program = nullptr;
    };
    static double Enter(const detail::CompiledForm* form);
    static double EnterCounting(const detail::CompiledForm* form);
    Entry entry_{{&Enter}};
    std::deque<HostCall> calls_;
    std::vector<TMExpression*> bodies_;
    std::unique_ptr<CallLimits> limits_;
    VarKind kind_ = VarKind::Real;
    Variant constant_;
};

}  // namespace zorvex::prepared
