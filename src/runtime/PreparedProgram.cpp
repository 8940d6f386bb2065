#include "PreparedProgram.h"

#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>
#include <unordered_map>

#include "IntrinsicEval.h"
#include "ItemHost.h"
#include "ItemUtil.h"
#include "MachineCode.h"
#include "OperatorTable.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/HostFunction.h"
#include "zorvex/MathIntrinsic.h"

namespace zorvex::prepared {

// ---------------------------------------------------------------- running

namespace {

using op::Doubles;
using op::Operation;
using op::RulesOf;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The kind read a second time, so that the compiler keeps the first test a
// compare with memory rather than a load kept for this one.
[[gnu::always_inline]] inline VarKind KindAgain(const Variant* v) {
    static_assert(std::is_standard_layout_v<Variant> && sizeof(VarKind) == 1);
    return static_cast<VarKind>(*reinterpret_cast<const volatile unsigned char*>(v));
}

// The operand, or false when its guard fails.
template <Form F>
[[gnu::always_inline]] inline bool Fetch(const Slot& s, const double* r, double& x) {
    if constexpr (F == FReal) {
        if (!s.var->IsReal()) [[unlikely]]
            return false;
        x = s.var->AsReal();
    } else if constexpr (F == FNumber) {
        const Variant* v = s.var;
        if (v->IsReal()) [[likely]]
            x = v->AsReal();
        else if (KindAgain(v) == VarKind::Integer)
            x = static_cast<double>(v->AsInteger());
        else
            return false;
    } else if constexpr (F == FBool) {
        if (!s.var->IsBoolean()) [[unlikely]]
            return false;
        x = s.var->AsBoolean() ? 1.0 : 0.0;
    } else if constexpr (F == FConst) {
        x = s.k;
    } else if constexpr (F == FHostReal) {
        x = *s.real;
    } else if constexpr (F == FHostInt) {
        x = static_cast<double>(*s.integer);
    } else {
        x = r[s.reg];
    }
    return true;
}

[[gnu::always_inline]] inline bool Finite(double x) { return std::isfinite(x); }

#define ZORVEX_NEXT return ip[1].run(ip + 1, r, acc)

double End(const Ins*, double*, double acc) { return acc; }

template <Form F>
double Load(const Ins* ip, double* r, double acc) {
    if (!Fetch<F>(ip->a, r, acc)) [[unlikely]]
        return kNaN;
    if constexpr (F == FHostReal)
        if (!Finite(acc)) return kNaN;
    ZORVEX_NEXT;
}

double Store(const Ins* ip, double* r, double acc) {
    r[ip->a.reg] = acc;
    ZORVEX_NEXT;
}

// A computed argument of an inlined call into its register: the tree
// raises for one that is not finite, used or not.
double Keep(const Ins* ip, double* r, double acc) {
    r[ip->a.reg] = acc;
    if (!Finite(acc)) return kNaN;
    ZORVEX_NEXT;
}

// First in a program with inlined calls: whether the tree would make them.
double CheckCalls(const Ins* ip, double* r, double) {
    if (!CallsFit(ip->a.limits)) return kNaN;
    const double acc = 0.0;
    ZORVEX_NEXT;
}

// acc = acc op x, or x op acc when swapped; the last instruction returns
// it rather than passing it on to End.
template <Operation O, Form F, bool Swap, bool Last>
double Binary(const Ins* ip, double* r, double acc) {
    using R = RulesOf<O>;
    double x;
    if (!Fetch<F>(ip->a, r, x)) [[unlikely]]
        return kNaN;
    if constexpr (R::kFiniteOperands) {
        if (!Finite(acc)) return kNaN;
        if constexpr (MayBeInfinite(F))
            if (!Finite(x)) return kNaN;
    }
    acc = Swap ? R::Raw(x, acc) : R::Raw(acc, x);
    if constexpr (Last)
        return acc;
    else
        ZORVEX_NEXT;
}

// The Store before an instruction that starts afresh from leaves, done by
// that instruction itself.
template <bool Save>
[[gnu::always_inline]] inline void SaveFirst(const Ins* ip, double* r, double acc) {
    if constexpr (Save) r[ip->save] = acc;
}

// acc = x op y of two leaves.
template <Operation O, Form L, Form F, bool Save>
double Leaves(const Ins* ip, double* r, double acc) {
    SaveFirst<Save>(ip, r, acc);
    using R = RulesOf<O>;
    double x, y;
    if (!Fetch<L>(ip->a, r, x) || !Fetch<F>(ip->b, r, y)) [[unlikely]]
        return kNaN;
    if constexpr (R::kFiniteOperands && (MayBeInfinite(L) || MayBeInfinite(F)))
        if (!Finite(x) || !Finite(y)) return kNaN;
    acc = R::Raw(x, y);
    ZORVEX_NEXT;
}

template <Operation O>
double Unary(const Ins* ip, double* r, double acc) {
    using R = RulesOf<O>;
    if constexpr (R::kFiniteOperands)
        if (!Finite(acc)) return kNaN;
    acc = R::Raw(acc);
    ZORVEX_NEXT;
}

// A function of the accumulator, or of a leaf.
template <Form F, bool Save>
double Function(const Ins* ip, double* r, double acc) {
    SaveFirst<Save>(ip, r, acc);
    if constexpr (F == FReg) {
        if (!Finite(acc)) return kNaN;
    } else if (!Fetch<F>(ip->a, r, acc)) [[unlikely]] {
        return kNaN;
    } else if constexpr (MayBeInfinite(F)) {
        if (!Finite(acc)) return kNaN;
    }
    acc = ip->b.fn(acc);
    ZORVEX_NEXT;
}

// Power's own shortcut, a square, of the accumulator or of a leaf.
template <Form F, bool Save>
double Square(const Ins* ip, double* r, double acc) {
    SaveFirst<Save>(ip, r, acc);
    if constexpr (F != FReg)
        if (!Fetch<F>(ip->a, r, acc)) [[unlikely]]
            return kNaN;
    acc *= acc;
    ZORVEX_NEXT;
}

// A condition: on false to the other branch.
double Branch(const Ins* ip, double* r, double acc) {
    if (acc != acc) return kNaN;
    if (acc == 0.0) {
        ip += ip->a.jump;
        return ip->run(ip, r, acc);
    }
    ZORVEX_NEXT;
}

double Jump(const Ins* ip, double* r, double acc) {
    ip += ip->a.jump;
    return ip->run(ip, r, acc);
}

// A host function over the registers its operands were stored in; one that
// is not finite is an error the tree raises.
// A leaf into a register (an operand of a call).
template <Form F>
double Put(const Ins* ip, double* r, double acc) {
    double x;
    if (!Fetch<F>(ip->a, r, x)) [[unlikely]]
        return kNaN;
    r[ip->b.reg] = x;
    ZORVEX_NEXT;
}

// Of N operands, or (N < 0) of the call's count.
template <int N>
double CallHost(const Ins* ip, double* r, double acc) {
    const HostCall& call = *ip->a.call;
    const double* args = r + ip->b.reg;
    const int n = N >= 0 ? N : call.count;
    // x * 0 is NaN for an infinity or a NaN and zero for the rest: one test.
    double poison = 0.0;
    for (int i = 0; i < n; ++i) poison += args[i] * 0.0;
    if (poison != poison) return kNaN;
    ++*call.depth;
    acc = call.raw(call.callable.get(), args);
    --*call.depth;
    ZORVEX_NEXT;
}

#undef ZORVEX_NEXT

// The handlers that the operator table's rules make: only operations with
// a rule over doubles, and only leaves of the kinds those rules take.
template <Operation O>
constexpr bool HasDoubles() {
    if constexpr (O == Operation::None)
        return false;
    else
        return RulesOf<O>::kDoubles != Doubles::None && !RulesOf<O>::kOwnValue;
}
template <Operation O>
constexpr bool Takes(Form f) {
    if (RulesOf<O>::kDoubles == Doubles::Logic || RulesOf<O>::kDoubles == Doubles::Invert)
        return f == FBool || f == FConst || f == FReg;
    return f != FBool;
}

// Calls pick.template operator()<F>() with the form as a constant.
template <class P>
Handler ByForm(Form f, P&& pick) {
    switch (f) {
        case FReal: return pick.template operator()<FReal>();
        case FNumber: return pick.template operator()<FNumber>();
        case FBool: return pick.template operator()<FBool>();
        case FConst: return pick.template operator()<FConst>();
        case FReg: return pick.template operator()<FReg>();
        case FHostReal: return pick.template operator()<FHostReal>();
        case FHostInt: return pick.template operator()<FHostInt>();
    }
    return nullptr;
}

Handler BinaryFor(Operation o, Form f, bool swap, bool last = false) {
    return op::Dispatch(o, [&]<Operation O>() -> Handler {
        if constexpr (HasDoubles<O>() && RulesOf<O>::kOperands == 2)
            return ByForm(f, [&]<Form F>() -> Handler {
                if constexpr (Takes<O>(F)) {
                    if (last) return swap ? &Binary<O, F, true, true> : &Binary<O, F, false, true>;
                    return swap ? &Binary<O, F, true, false> : &Binary<O, F, false, false>;
                } else
                    return nullptr;
            });
        else
            return nullptr;
    });
}

// `save`: the variant that saves the accumulator first (leaves only).
Handler LeavesFor(Operation o, Form l, Form f, bool save) {
    return op::Dispatch(o, [&]<Operation O>() -> Handler {
        if constexpr (HasDoubles<O>() && RulesOf<O>::kOperands == 2)
            return ByForm(l, [&]<Form L>() -> Handler {
                return ByForm(f, [&]<Form F>() -> Handler {
                    if constexpr (Takes<O>(L) && Takes<O>(F) && L != FReg && F != FReg && !(L == FConst && F == FConst))
                        return save ? &Leaves<O, L, F, true> : &Leaves<O, L, F, false>;
                    else
                        return nullptr;
                });
            });
        else
            return nullptr;
    });
}

Handler UnaryFor(Operation o) {
    return op::Dispatch(o, [&]<Operation O>() -> Handler {
        if constexpr (HasDoubles<O>() && RulesOf<O>::kOperands == 1)
            return &Unary<O>;
        else
            return nullptr;
    });
}

Handler LoadFor(Form f) {
    return ByForm(f, []<Form F>() -> Handler { return &Load<F>; });
}

Handler PutFor(Form f) {
    return ByForm(f, []<Form F>() -> Handler { return &Put<F>; });
}

Handler CallHostFor(int count) {
    switch (count) {
        case 1: return &CallHost<1>;
        case 2: return &CallHost<2>;
        case 3: return &CallHost<3>;
        case 4: return &CallHost<4>;
        default: return &CallHost<-1>;
    }
}

// Of a number: from a register or a leaf that holds one.
Handler FunctionFor(Form f, bool save) {
    return ByForm(f, [&]<Form F>() -> Handler {
        if constexpr (F == FBool)
            return nullptr;
        else if constexpr (F == FReg)
            return save ? nullptr : &Function<F, false>;
        else
            return save ? &Function<F, true> : &Function<F, false>;
    });
}

Handler SquareFor(Form f, bool save) {
    return ByForm(f, [&]<Form F>() -> Handler {
        if constexpr (F == FBool || F == FConst)
            return nullptr;
        else if constexpr (F == FReg)
            return save ? nullptr : &Square<F, false>;
        else
            return save ? &Square<F, true> : &Square<F, false>;
    });
}

// ---------------------------------------------------------------- compiling

// What a node is to its parent: a variable or a constant (read in place by
// the parent) or a value it computes.
enum class Shape : std::uint8_t { Var, Const, Real, Bool };

struct Info {
    Shape shape = Shape::Real;
    Variant value;                    // a constant
    char guard[3] = {'N', 'N', 'N'};  // how each operand that is a variable is read
    RealFunction fn = nullptr;
    std::uint8_t sse = 0;                 // the instruction that computes fn
    bool hostReal = false;                // a variable bound to a host's double
    bool hostInt = false;                 // or to its integer, which no guard makes a Real
    const THostFunction* host = nullptr;  // a call of it
    const TMExpression* leaf = nullptr;   // the reference a variable is read through
    int param = -1;                       // a parameter bound to a computed argument
    int call = -1;                        // a call inlined: the context of its body
    bool viaParam = false;                // reads a parameter: the tree cannot fold it
};

// A parameter of an inlined call, bound to its argument.
struct Binding {
    TMExpression* arg;
    Info info;     // the argument's, in the caller's context
    int reg = -1;  // where a computed argument is kept
};

// Where a node is analysed: the prepared tree (0) or a body inlined at one
// call, with its parameters.
struct Context {
    const TMFunction* function = nullptr;
    std::vector<Binding> params;
};

struct Key {
    const TMExpression* e;
    int context;
    bool operator==(const Key&) const = default;
};
struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept {
        return std::hash<const void*>{}(k.e) ^ (static_cast<std::size_t>(k.context) * 0x9E3779B97F4A7C15u);
    }
};

struct GiveUp {};

bool IsNumber(const Info& i) { return i.shape == Shape::Const && i.value.IsNumber(); }
bool IsRealConst(const Info& i) { return i.shape == Shape::Const && i.value.IsReal(); }
bool IsBoolConst(const Info& i) { return i.shape == Shape::Const && i.value.IsBoolean(); }
bool Numeric(const Info& i) { return i.shape == Shape::Real || i.shape == Shape::Var || IsNumber(i); }
bool Boolean(const Info& i) { return i.shape == Shape::Bool || i.shape == Shape::Var || IsBoolConst(i); }
bool RealTyped(const Info& i) { return i.shape == Shape::Real || IsRealConst(i) || i.hostReal; }
bool IsLeaf(const Info& i) { return i.shape == Shape::Var || i.shape == Shape::Const; }

double ConstValue(const Variant& v) {
    if (v.IsBoolean()) return v.AsBoolean() ? 1.0 : 0.0;
    return VarToReal(v);
}

Doubles DoublesOf(Operation o) { return op::RowOf(o).doubles; }

// A binary operator of the table with both operands in place, else null.
TMOperator* BinaryNode(TMExpression* e) {
    if (e == nullptr || !e->Is(ikOperator)) return nullptr;
    auto* node = static_cast<TMOperator*>(e);
    const Operation o = ItemAccess::Code(node);
    return o != Operation::None && op::RowOf(o).operands == 2 && ItemAccess::Second(node) != nullptr ? node : nullptr;
}

// Nesting of the analysis and of the emitted code.
constexpr int kMaxNesting = 48;

struct Nesting {
    explicit Nesting(int& depth) : depth_(depth) {
        if (++depth_ > kMaxNesting) {
            --depth_;
            throw GiveUp{};
        }
    }
    ~Nesting() { --depth_; }
    int& depth_;
};

}  // namespace

class Compiler {
public:
    explicit Compiler(Program& program) : program_(program), floor_(guard::ThreadStackFloor()) {}

    void Lower(TMExpression* root) {
        const Info& info = Analyze(root);
        if (limits_.depth > 0) {
            limits_.interp = interp_;
            limits_.stack = 2 * (guard::EvalBytes(ItemAccess::StackUnits(root)) + limits_.stack) + kReserveForCalls;
            program_.limits_ = std::make_unique<CallLimits>(std::move(limits_));
            Slot s{};
            s.limits = program_.limits_.get();
            Emit(&CheckCalls, {Does::CallsFit}, s);
        }
        switch (info.shape) {
            case Shape::Var: throw GiveUp{};  // a bare reference is quick enough as it is
            case Shape::Const:
                program_.constant_ = info.value;
                program_.kind_ = VarKind::Empty;
                Emit(&End, {Does::End});
                return;
            case Shape::Real: program_.kind_ = VarKind::Real; break;
            case Shape::Bool: program_.kind_ = VarKind::Boolean; break;
        }
        Value(root, 'N', 0);
        const std::size_t end = program_.code_.size();
        if (lastBinary_ + 1 == end && jumpsTo_ < end) {
            const Pattern& p = program_.patterns_.back();
            program_.code_.back().run = BinaryFor(p.o, p.form, p.swap, true);
        } else {
            Emit(&End, {Does::End});
        }
    }

private:
    // Analysis recurses over nesting (not over chains): give up rather than
    // run short of stack.
    void CheckStack() const {
        if (!guard::StackFits(floor_, 16 * 1024)) throw GiveUp{};
    }

    const Info& Analyze(TMExpression* e) {
        CheckStack();
        const Nesting nesting(depth_);
        if (context_ != 0 && ++analysed_ > kMaxAnalysed) throw GiveUp{};  // calls inside calls multiply
        Info info;
        if (e->Is(ikLiteral)) {
            info.shape = Shape::Const;
            info.value = static_cast<TMLiteral*>(e)->Value;
        } else if (e->Is(ikVarRef)) {
            // Bound now or never: a prepared tree's references are not bound
            // later, and a function behind a name is evaluated as a tree.
            TMSymbol* symbol = static_cast<TMVarRef*>(e)->SymbolReference;
            if (symbol != nullptr && symbol->Is(ikParam)) {
                info = Parameter(symbol);
            } else if (symbol != nullptr && symbol->IsVariable() && !symbol->IsValueHolder()) {
                info = AnalyzeHostVariable(static_cast<TMVar*>(symbol));
                info.leaf = e;
            } else if (symbol == nullptr || !symbol->IsValueHolder()) {
                throw GiveUp{};
            } else {
                info.shape = Shape::Var;
                info.leaf = e;
            }
            ItemAccess::MarkCompiled(e);
        } else if (e->Is(ikFunctionCall)) {
            auto* call = static_cast<TMFunctionCall*>(e);
            info = call->SymbolReference != nullptr ? AnalyzeUserCall(call) : AnalyzeHostCall(call);
        } else if (TMOperator* node = BinaryNode(e)) {
            // The left spine of binary operators in a loop: a flat chain of
            // any length costs no recursion.
            std::vector<TMOperator*> spine;
            for (TMOperator* link = node; link != nullptr; link = BinaryNode(ItemAccess::First(link)))
                spine.push_back(link);
            Analyze(ItemAccess::First(spine.back()));
            for (std::size_t k = spine.size(); k-- > 0;) {
                Analyze(ItemAccess::Second(spine[k]));
                CombineBinary(spine[k]);
            }
            return InfoOf(e);
        } else if (e->Is(ikOperator)) {
            info = AnalyzeOther(static_cast<TMOperator*>(e));
        } else {
            throw GiveUp{};
        }
        return infos_[{e, context_}] = std::move(info);
    }

    const Info& InfoOf(const TMExpression* e) const { return infos_.at({e, context_}); }

    // A parameter of the function inlined here: its argument, read where it
    // stands (a variable, a constant) or kept in a register.
    Info Parameter(const TMSymbol* symbol) const {
        const Context& c = contexts_.at(static_cast<std::size_t>(context_));
        if (c.function == nullptr) throw GiveUp{};
        const TMParams& params = c.function->Parameters();
        for (int i = 0; i < params.Count(); ++i) {
            if (params.At(i) != symbol) continue;
            const Info& arg = c.params.at(static_cast<std::size_t>(i)).info;
            Info info;
            info.shape = arg.shape;
            info.viaParam = true;
            if (IsLeaf(arg)) {
                info.value = arg.value;
                info.hostReal = arg.hostReal;
                info.hostInt = arg.hostInt;
                info.leaf = arg.leaf;
            } else {
                info.param = i;
            }
            return info;
        }
        throw GiveUp{};
    }

    // A user function whose body compiles, inlined: its body analysed for
    // these arguments. What the tree checks when it calls (nesting, memory
    // for the frames, stack) the program checks before it starts.
    Info AnalyzeUserCall(TMFunctionCall* call) {
        auto* function = ItemAs<TMFunction>(call->SymbolReference, ikFunction);
        if (function == nullptr || function->Expression() == nullptr || call->Interpreter == nullptr) throw GiveUp{};
        const int n = call->ParamExpressions.Count();
        if (n != function->Parameters().Count() || n >= kRegisters || inlining_.size() >= kMaxInlining) throw GiveUp{};
        for (const TMFunction* f : inlining_)
            if (f == function) throw GiveUp{};  // recursion is the tree's
        ItemAccess::MarkCompiled(call);
        ItemAccess::MarkCompiled(function);
        interp_ = call->Interpreter;
        Context context;
        context.function = function;
        bool viaParam = false, computed = false;
        for (int i = 0; i < n; ++i) {
            TMExpression* arg = ArgumentOf(call, i);
            const Info& x = Analyze(arg);
            if (!Numeric(x) && !Boolean(x)) throw GiveUp{};
            if (x.shape == Shape::Var && !x.hostReal && !x.hostInt)
                limits_.passed.push_back(
                    &static_cast<const TMCustomVar*>(static_cast<const TMVarRef*>(x.leaf)->SymbolReference)
                         ->ValueRef());
            viaParam = viaParam || x.viaParam;
            computed = computed || !IsLeaf(x);
            context.params.push_back({arg, x});
        }
        TMExpression* body = function->Expression();
        program_.bodies_.push_back(body);
        if (n > 0) limits_.frames += static_cast<std::size_t>(n) * sizeof(Variant);
        limits_.stack += guard::EvalBytes(ItemAccess::StackUnits(body) + 2 * guard::kHeavyUnits);
        contexts_.push_back(std::move(context));
        const int inner = static_cast<int>(contexts_.size() - 1);
        inlining_.push_back(function);
        limits_.depth = std::max(limits_.depth, static_cast<std::uint32_t>(inlining_.size()));
        // A GiveUp from the body ends the whole compilation: nothing to restore.
        const int outer = std::exchange(context_, inner);
        Info info = Analyze(body);
        context_ = outer;
        inlining_.pop_back();
        // Arguments the body reads in place stay leaves; one computed must
        // be computed (the tree raises where it fails), so the call is too.
        if (IsLeaf(info) && !computed) {
            info.viaParam = viaParam;
            return info;
        }
        if (info.shape == Shape::Var || (info.shape == Shape::Const && !info.value.IsReal() && !info.value.IsBoolean()))
            throw GiveUp{};
        Info result;
        result.shape = info.shape == Shape::Const ? (info.value.IsReal() ? Shape::Real : Shape::Bool) : info.shape;
        result.call = inner;
        result.viaParam = viaParam;
        return result;
    }

    // Prefix operators and built-ins.
    Info AnalyzeOther(TMOperator* node) {
        ItemAccess::MarkCompiled(node);
        Info info;
        const Operation o = ItemAccess::Code(node);
        if (o != Operation::None) {
            const Doubles doubles = DoublesOf(o);
            TMExpression* operand = ItemAccess::First(node);
            if (operand == nullptr || ItemAccess::Second(node) != nullptr ||
                (doubles != Doubles::Negate && doubles != Doubles::Invert))
                throw GiveUp{};
            const Info& x = Analyze(operand);
            if (x.shape == Shape::Const && !x.viaParam) return Fold(node);
            if (doubles == Doubles::Negate) {
                // -Integer stays an Integer: only a Real is negated here.
                if (x.shape == Shape::Bool || (x.shape == Shape::Const && !x.value.IsReal())) throw GiveUp{};
                info.guard[0] = 'R';
                info.shape = Shape::Real;
            } else {
                if (x.shape == Shape::Real || (x.shape == Shape::Const && !x.value.IsBoolean())) throw GiveUp{};
                info.guard[0] = 'B';
                info.shape = Shape::Bool;
            }
            return info;
        }
        if (!node->Is(ikIntrinsic) || node->Operands.Count() != node->NumberOfOperands()) throw GiveUp{};
        const auto& call = static_cast<const TMIntrinsicFunctionCall&>(*node);
        const std::string name = call.ClassName();
        if (name == "TMPi") return Fold(node);
        if (name == "TMIfF") return AnalyzeIfF(node);
        info.fn = RealFunctionOf(call, &info.sse);
        if (info.fn == nullptr) throw GiveUp{};
        TMExpression* operand = call.GetOperandExpressions(0);
        if (operand == nullptr) throw GiveUp{};
        const Info& x = Analyze(operand);
        if (x.shape == Shape::Const && !x.viaParam) return Fold(node);
        if (!Numeric(x)) throw GiveUp{};
        info.shape = Shape::Real;
        return info;
    }

    // A constant is folded; a bound variable is read where the host keeps it.
    static Info AnalyzeHostVariable(TMVar* var) {
        Info info;
        if (var->IsConstant()) {
            info.shape = Shape::Const;
            info.value = var->GetValue();
            if (!info.value.IsNumber() && !info.value.IsBoolean()) throw GiveUp{};
        } else {
            if (var->BoundReal() == nullptr && var->BoundInteger() == nullptr) throw GiveUp{};
            info.shape = Shape::Var;
            info.hostReal = var->BoundReal() != nullptr;
            info.hostInt = !info.hostReal;
        }
        return info;
    }

    // A host function with an entry over doubles, its operands numbers; a
    // pure one over constants is folded.
    Info AnalyzeHostCall(TMFunctionCall* call) {
        if (call->SymbolReference != nullptr || call->Interpreter == nullptr) throw GiveUp{};
        const THostFunction* host = host::HostFunctionNamed(*call->Interpreter, call->ReferencedSymbolName);
        const int n = call->ParamExpressions.Count();
        if (host == nullptr || host->raw == nullptr || n != host->minCount || n >= kRegisters) throw GiveUp{};
        ItemAccess::MarkCompiled(call);
        bool constant = true;
        for (int i = 0; i < n; ++i) {
            const Info& x = Analyze(ArgumentOf(call, i));
            if (!Numeric(x)) throw GiveUp{};
            constant = constant && x.shape == Shape::Const && !x.viaParam;
        }
        if (constant && host->pure) return Fold(call);
        Info info;
        info.shape = host->rawBoolean ? Shape::Bool : Shape::Real;
        info.host = host;
        return info;
    }

    static TMExpression* ArgumentOf(TMFunctionCall* call, int i) {
        auto* param = ItemAs<TMParamExpression>(call->ParamExpressions.At(i), ikParamExpression);
        if (param == nullptr || param->Expression == nullptr) throw GiveUp{};
        return param->Expression;
    }

    // The chosen branch's value, so both branches must give one kind.
    Info AnalyzeIfF(TMOperator* node) {
        TMExpression* e[3];
        for (int i = 0; i < 3; ++i)
            if ((e[i] = node->GetOperandExpressions(i)) == nullptr) throw GiveUp{};
        const Info& c = Analyze(e[0]);
        if (c.shape != Shape::Bool && c.shape != Shape::Var) throw GiveUp{};
        const Info& then = Analyze(e[1]);
        const Info& otherwise = Analyze(e[2]);
        Info info;
        info.guard[0] = 'B';
        auto real = [](const Info& i) { return i.shape == Shape::Var || RealTyped(i); };
        auto boolean = [](const Info& i) { return i.shape == Shape::Var || i.shape == Shape::Bool || IsBoolConst(i); };
        if (real(then) && real(otherwise)) {
            info.shape = Shape::Real;
            info.guard[1] = info.guard[2] = 'R';
        } else if (boolean(then) && boolean(otherwise)) {
            info.shape = Shape::Bool;
            info.guard[1] = info.guard[2] = 'B';
        } else {
            throw GiveUp{};
        }
        return info;
    }

    // What the operator's row says it makes of doubles decides the operands
    // it takes here.
    void CombineBinary(TMOperator* node) {
        ItemAccess::MarkCompiled(node);
        const Info& l = InfoOf(ItemAccess::First(node));
        const Info& r = InfoOf(ItemAccess::Second(node));
        const Operation o = ItemAccess::Code(node);
        Info info;
        if (l.shape == Shape::Const && r.shape == Shape::Const) {
            info.shape = Shape::Const;
            try {
                info.value = op::Apply(o, l.value, r.value);
            } catch (const Exception&) {
                throw GiveUp{};  // the tree raises it when evaluated
            }
            info.viaParam = l.viaParam || r.viaParam;
            infos_[{node, context_}] = std::move(info);
            return;
        }
        switch (DoublesOf(o)) {
            case Doubles::Numbers:
                if (!Numeric(l) || !Numeric(r)) throw GiveUp{};
                // Integer with Integer gives an Integer: a Real operand,
                // known or guarded, keeps the result a Real.
                if (!RealTyped(l) && !RealTyped(r)) {
                    if (l.shape == Shape::Var && !l.hostInt)
                        info.guard[0] = 'R';
                    else if (r.shape == Shape::Var && !r.hostInt)
                        info.guard[1] = 'R';
                    else
                        throw GiveUp{};
                }
                info.shape = Shape::Real;
                break;
            case Doubles::Reals:
                if (!Numeric(l) || !Numeric(r)) throw GiveUp{};
                info.shape = Shape::Real;
                break;
            case Doubles::Compare:
                if (!Numeric(l) || !Numeric(r)) throw GiveUp{};
                info.shape = Shape::Bool;
                break;
            case Doubles::Logic:
                if (!Boolean(l) || !Boolean(r)) throw GiveUp{};
                info.guard[0] = info.guard[1] = 'B';
                info.shape = Shape::Bool;
                break;
            default: throw GiveUp{};  // integer arithmetic and shifts
        }
        infos_[{node, context_}] = std::move(info);
    }

    // A constant subtree: its value now, exactly as evaluation would give it.
    Info Fold(TMExpression* node) {
        Info info;
        info.shape = Shape::Const;
        try {
            info.value = node->GetValue();
        } catch (const Exception&) {
            throw GiveUp{};
        }
        if (!info.value.IsNumber() && !info.value.IsBoolean()) throw GiveUp{};
        return info;
    }

    // ---- emitting

    std::size_t Emit(Handler h, Pattern p, Slot a = {}, Slot b = {}) {
        if (pendingSave_ >= 0) Push(&Store, {Does::Store}, Register(std::exchange(pendingSave_, -1)), {}, 0);
        return Push(h, p, a, b, 0);
    }
    // An instruction that starts from leaves: with a Store pending, its
    // variant that saves the accumulator first.
    std::size_t EmitSaving(Handler plain, Handler saving, Pattern p, Slot a = {}, Slot b = {}) {
        if (pendingSave_ < 0 || saving == nullptr) return Emit(plain, p, a, b);
        p.save = true;
        return Push(saving, p, a, b, static_cast<std::uint32_t>(std::exchange(pendingSave_, -1)));
    }
    std::size_t Push(Handler h, Pattern p, Slot a, Slot b, std::uint32_t save) {
        if (h == nullptr || program_.code_.size() >= kMaxInstructions) throw GiveUp{};
        program_.code_.push_back(Ins{h, a, b, save});
        program_.patterns_.push_back(p);
        return program_.code_.size() - 1;
    }

    // How a leaf is read, and from where.
    static Form LeafForm(const Info& info, char guard, Slot& slot) {
        if (info.shape == Shape::Const) {
            slot.k = ConstValue(info.value);
            return FConst;
        }
        // A parameter's is its argument's.
        const TMSymbol* symbol = static_cast<const TMVarRef*>(info.leaf)->SymbolReference;
        if (!symbol->IsValueHolder()) {
            const auto* var = static_cast<const TMVar*>(symbol);
            if ((slot.real = var->BoundReal()) != nullptr) {
                if (guard == 'B') throw GiveUp{};
                return FHostReal;
            }
            if (guard != 'N') throw GiveUp{};  // an Integer is no Real or Boolean
            slot.integer = var->BoundInteger();
            return FHostInt;
        }
        slot.var = &static_cast<const TMCustomVar*>(symbol)->ValueRef();
        return guard == 'R' ? FReal : guard == 'B' ? FBool : FNumber;
    }

    static Slot Register(int index) {
        Slot s{};
        s.reg = static_cast<std::uint32_t>(index);
        return s;
    }

    static bool IsSquare(TMOperator* node, const Info& right) {
        return DoublesOf(ItemAccess::Code(node)) == Doubles::Reals &&
               ItemAccess::Code(node) == Operation::TMPower && IsNumber(right) && ConstValue(right.value) == 2.0;
    }

    // Code that leaves the value of `e` in the accumulator, using registers
    // from `base` on; a leaf is read with the guard its parent asks for.
    void Value(TMExpression* e, char guard, int base) {
        const Nesting nesting(depth_);
        if (base >= kRegisters) throw GiveUp{};
        const Info& info = InfoOf(e);
        if (IsLeaf(info)) {
            Slot s{};
            const Form f = LeafForm(info, guard, s);
            Emit(LoadFor(f), {Does::Load, {}, f}, s);
            return;
        }
        if (info.param >= 0) {
            const Binding& b =
                contexts_.at(static_cast<std::size_t>(context_)).params.at(static_cast<std::size_t>(info.param));
            Emit(LoadFor(FReg), {Does::Load, {}, FReg}, Register(b.reg));
            return;
        }
        if (info.call >= 0) return UserCallOf(info.call, base);
        if (info.host != nullptr) return HostCallOf(static_cast<TMFunctionCall*>(e), *info.host, base);
        if (TMOperator* node = BinaryNode(e)) return Binary(node, base);
        auto* node = static_cast<TMOperator*>(e);
        const Operation o = ItemAccess::Code(node);
        if (o != Operation::None) {
            Value(ItemAccess::First(node), info.guard[0], base);
            Emit(UnaryFor(o), {Does::Unary, o});
            return;
        }
        if (info.fn != nullptr) {
            TMExpression* operand = node->GetOperandExpressions(0);
            const Info& x = InfoOf(operand);
            Slot a{}, b{};
            b.fn = info.fn;
            if (IsLeaf(x)) {
                const Form f = LeafForm(x, 'N', a);
                EmitSaving(FunctionFor(f, false), FunctionFor(f, true),
                           {.does = Does::Function, .form = f, .sse = info.sse}, a, b);
            } else {
                Value(operand, 'N', base);
                Emit(FunctionFor(FReg, false), {.does = Does::Function, .form = FReg, .sse = info.sse}, a, b);
            }
            return;
        }
        // IfF: the condition, then one branch.
        Value(node->GetOperandExpressions(0), 'B', base);
        const std::size_t branch = Emit(&Branch, {Does::Branch});
        Value(node->GetOperandExpressions(1), info.guard[1], base);
        const std::size_t jump = Emit(&Jump, {Does::Jump});
        Patch(branch);
        Value(node->GetOperandExpressions(2), info.guard[2], base);
        Patch(jump);
    }

    // The computed arguments kept in registers from `base` on (computed
    // above them), then the body where its parameters read them.
    void UserCallOf(int inner, int base) {
        Context& c = contexts_.at(static_cast<std::size_t>(inner));
        int computed = 0;
        for (const Binding& b : c.params) computed += IsLeaf(b.info) ? 0 : 1;
        if (base + computed >= kRegisters) throw GiveUp{};
        int k = 0;
        for (Binding& b : c.params) {
            if (IsLeaf(b.info)) continue;
            Value(b.arg, 'N', base + computed);
            b.reg = base + k;
            Emit(&Keep, {Does::Keep}, Register(base + k++));
        }
        const int outer = std::exchange(context_, inner);
        Value(c.function->Expression(), 'N', base + computed);
        context_ = outer;
    }

    // Each operand into its register from `base` on (computed above them),
    // then the call.
    void HostCallOf(TMFunctionCall* call, const THostFunction& host, int base) {
        const int n = call->ParamExpressions.Count();
        if (base + n >= kRegisters) throw GiveUp{};
        for (int i = 0; i < n; ++i) {
            TMExpression* arg = ArgumentOf(call, i);
            const Info& x = InfoOf(arg);
            if (IsLeaf(x)) {
                Slot a{};
                const Form f = LeafForm(x, 'N', a);
                Emit(PutFor(f), {Does::Put, {}, f}, a, Register(base + i));
            } else {
                Value(arg, 'N', base + n);
                Emit(&Store, {Does::Store}, Register(base + i));
            }
        }
        program_.calls_.push_back(HostCall{host.callable, host.raw, host::EvaluationDepth(*call->Interpreter), n});
        Slot a{};
        a.call = &program_.calls_.back();
        Emit(CallHostFor(n), {Does::CallHost}, a, Register(base));
    }

    // A jump to the next instruction to be emitted.
    void Patch(std::size_t from) {
        if (pendingSave_ >= 0) Emit(&Store, {Does::Store}, Register(std::exchange(pendingSave_, -1)));
        program_.code_[from].a.jump = static_cast<std::int32_t>(program_.code_.size() - from);
        jumpsTo_ = program_.code_.size();
    }

    void EmitBinary(Operation o, Form f, bool swap, Slot a) {
        lastBinary_ = Emit(BinaryFor(o, f, swap), {Does::Binary, o, f, FReg, swap}, a);
    }

    // The left spine in a loop (a chain of any length costs no recursion),
    // then each link with its right operand.
    void Binary(TMOperator* top, int base) {
        std::vector<TMOperator*> spine;
        for (TMOperator* link = top; link != nullptr; link = BinaryNode(ItemAccess::First(link))) {
            spine.push_back(link);
            if (IsLeaf(InfoOf(ItemAccess::First(link)))) break;
        }
        TMOperator* bottom = spine.back();
        TMExpression* le = ItemAccess::First(bottom);
        const Info& l = InfoOf(le);
        if (IsLeaf(l)) {
            // The first link reads its left leaf itself.
            spine.pop_back();
            FirstLink(bottom, base);
        } else {
            Value(le, 'N', base);
        }
        for (std::size_t k = spine.size(); k-- > 0;) Link(spine[k], base);
    }

    // A link whose left operand is a leaf.
    void FirstLink(TMOperator* node, int base) {
        const Info& info = InfoOf(node);
        TMExpression* le = ItemAccess::First(node);
        TMExpression* re = ItemAccess::Second(node);
        const Info& r = InfoOf(re);
        const Operation o = ItemAccess::Code(node);
        Slot a{}, b{};
        const Form fl = LeafForm(InfoOf(le), info.guard[0], a);
        if (IsSquare(node, r)) {
            EmitSaving(SquareFor(fl, false), SquareFor(fl, true), {Does::Square, {}, fl}, a);
            return;
        }
        if (IsLeaf(r)) {
            const Form fr = LeafForm(r, info.guard[1], b);
            EmitSaving(LeavesFor(o, fl, fr, false), LeavesFor(o, fl, fr, true), {Does::Leaves, o, fr, fl}, a, b);
            return;
        }
        Value(re, 'N', base);
        EmitBinary(o, fl, true, a);
    }

    // A link whose left operand is in the accumulator.
    void Link(TMOperator* node, int base) {
        const Info& info = InfoOf(node);
        TMExpression* re = ItemAccess::Second(node);
        const Info& r = InfoOf(re);
        const Operation o = ItemAccess::Code(node);
        if (IsSquare(node, r)) {
            Emit(SquareFor(FReg, false), {Does::Square, {}, FReg});
            return;
        }
        Slot s{};
        if (IsLeaf(r)) {
            EmitBinary(o, LeafForm(r, info.guard[1], s), false, s);
            return;
        }
        pendingSave_ = base;  // a Store, unless the next instruction does it
        Value(re, 'N', base + 1);
        EmitBinary(o, FReg, true, Register(base));
    }

    Program& program_;
    const char* floor_;
    // Where the last Binary was emitted, and the furthest a jump goes: a
    // Binary at the end that no jump passes can end the run itself.
    std::size_t lastBinary_ = kMaxInstructions;
    std::size_t jumpsTo_ = 0;
    // The register of a Store not yet emitted, or -1.
    int pendingSave_ = -1;
    std::unordered_map<Key, Info, KeyHash> infos_;
    // Inlined calls: the context of each (0: the prepared tree's), the one
    // analysed or emitted now, the functions being inlined, and what the
    // tree checks when it makes the calls.
    std::vector<Context> contexts_ = std::vector<Context>(1);
    int context_ = 0;
    std::vector<const TMFunction*> inlining_;
    CallLimits limits_;
    TMathInterpreter* interp_ = nullptr;
    int analysed_ = 0;
    static constexpr std::size_t kMaxInlining = 8;
    static constexpr int kMaxAnalysed = 4096;
    static constexpr std::size_t kReserveForCalls = 64 * 1024;
    int depth_ = 0;
};

// The handlers' entry: the registers on the stack.
double Program::Enter(const detail::CompiledForm* form) {
    const Ins* code = static_cast<const Entry*>(form)->code;
    double registers[kRegisters];
    return code->run(code, registers, 0.0);
}

const detail::CompiledForm* Program::Miss() {
    static const detail::CompiledForm miss{[](const detail::CompiledForm*) { return kNaN; }};
    return &miss;
}

Program::Program() = default;
Program::~Program() = default;

double Program::EnterCounting(const detail::CompiledForm* form) {
    Program& program = *static_cast<const Entry*>(form)->program;
    if (--program.untilMachine_ <= 0) program.Assemble();
    return Enter(form);
}

void Program::Assemble() {
    entry_.run = &Enter;
    if (*policy_.live < policy_.limit) {
        machine_ = MachineCode::Assemble(code_, patterns_, *policy_.live);
        if (machine_ != nullptr) entry_.run = machine_->Entry();
    }
    patterns_ = {};
}

std::unique_ptr<Program> Program::Compile(TMItem* root, const Machine* machine) {
    if (root == nullptr || !root->Is(static_cast<TMItemKind>(ikOperator | ikFunctionCall))) return nullptr;
    auto program = std::make_unique<Program>();
    try {
        Compiler(*program).Lower(static_cast<TMExpression*>(root));
    } catch (const GiveUp&) {
        return nullptr;
    }
    // Host functions may throw, and an exception cannot pass through machine
    // code: calls stay with the handlers.
    program->entry_.code = program->code_.data();
    program->entry_.program = program.get();
    if (machine != nullptr && program->calls_.empty() && program->kind_ != VarKind::Empty) {
        program->policy_ = *machine;
        program->untilMachine_ = machine->after;
        if (machine->after <= 0)
            program->Assemble();
        else
            program->entry_.run = &EnterCounting;
    } else {
        program->patterns_ = {};
    }
    return program;
}

}  // namespace zorvex::prepared
