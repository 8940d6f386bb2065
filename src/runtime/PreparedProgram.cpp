#include "PreparedProgram.h"

#include <cmath>
#include <limits>
#include <unordered_map>

#include "IntrinsicEval.h"
#include "ItemHost.h"
#include "ItemUtil.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/HostFunction.h"
#include "zorvex/MathIntrinsic.h"

namespace zorvex::prepared {

// ---------------------------------------------------------------- running

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <Form F>
[[gnu::always_inline]] inline double Fetch(Ref r, Eval eval) {
    if constexpr (F == FNode) {
        return eval(r.node);
    } else if constexpr (F == FReal) {
        return r.var->IsReal() ? r.var->AsReal() : kNaN;
    } else if constexpr (F == FNumber) {
        const Variant* v = r.var;
        if (v->IsReal()) [[likely]]
            return v->AsReal();
        return v->IsInteger() ? static_cast<double>(v->AsInteger()) : kNaN;
    } else if constexpr (F == FBool) {
        return r.var->IsBoolean() ? (r.var->AsBoolean() ? 1.0 : 0.0) : kNaN;
    } else if constexpr (F == FHostReal) {
        return *r.real;
    } else if constexpr (F == FHostInt) {
        return static_cast<double>(*r.integer);
    } else {
        return r.k;
    }
}

double FetchAny(Form form, Ref r, Eval eval) {
    switch (form) {
        case FNode: return Fetch<FNode>(r, eval);
        case FReal: return Fetch<FReal>(r, eval);
        case FNumber: return Fetch<FNumber>(r, eval);
        case FBool: return Fetch<FBool>(r, eval);
        case FConst: return Fetch<FConst>(r, eval);
        case FHostReal: return Fetch<FHostReal>(r, eval);
        case FHostInt: return Fetch<FHostInt>(r, eval);
    }
    return kNaN;
}

[[gnu::always_inline]] inline bool Finite(double x) { return std::isfinite(x); }

// Power's rule with the failing cases as NaN.
double PowerOrNaN(double base, double exponent) {
    if (exponent == 0.0) return 1.0;
    if (exponent == 2.0) return base * base;
    if (base == 0.0) {
        if (exponent < 0.0) return kNaN;
    } else if (base < 0.0 && exponent != std::trunc(exponent)) {
        return kNaN;
    }
    return std::pow(base, exponent);
}

[[gnu::always_inline]] inline double Truth(bool b) { return b ? 1.0 : 0.0; }

template <Op O>
[[gnu::always_inline]] inline double Apply(double l, double r) {
    if constexpr (O == Op::Add) return l + r;
    if constexpr (O == Op::Sub) return l - r;
    if constexpr (O == Op::Mul) return l * r;
    if constexpr (O == Op::Div) return Finite(r) ? l / r : kNaN;
    if constexpr (O == Op::Pow) return Finite(l) && Finite(r) ? PowerOrNaN(l, r) : kNaN;
    if constexpr (O >= Op::Lt && O <= Op::Ne) {
        if (!Finite(l) || !Finite(r)) return kNaN;
        if constexpr (O == Op::Lt) return Truth(l < r);
        if constexpr (O == Op::Le) return Truth(l <= r);
        if constexpr (O == Op::Eq) return Truth(l == r);
        if constexpr (O == Op::Ge) return Truth(l >= r);
        if constexpr (O == Op::Gt) return Truth(l > r);
        if constexpr (O == Op::Ne) return Truth(l != r);
    }
    if constexpr (O >= Op::And) {
        if (l != l || r != r) return kNaN;
        if constexpr (O == Op::And) return Truth(l != 0.0 && r != 0.0);
        if constexpr (O == Op::Or) return Truth(l != 0.0 || r != 0.0);
        if constexpr (O == Op::Xor) return Truth((l != 0.0) != (r != 0.0));
    }
}

double ApplyAny(Op op, double l, double r) {
    switch (op) {
        case Op::Add: return Apply<Op::Add>(l, r);
        case Op::Sub: return Apply<Op::Sub>(l, r);
        case Op::Mul: return Apply<Op::Mul>(l, r);
        case Op::Div: return Apply<Op::Div>(l, r);
        case Op::And: return Apply<Op::And>(l, r);
        case Op::Or: return Apply<Op::Or>(l, r);
        case Op::Xor: return Apply<Op::Xor>(l, r);
        default: return kNaN;
    }
}

// A computed operand first: a variable read afterwards need not be kept
// across the call. The order is free, the tree being pure.
template <Op O, Form L, Form R>
double Binary(const Node* n) {
    if constexpr (L != FNode && R == FNode) {
        const double r = Fetch<R>(n->b, n->eb);
        return Apply<O>(Fetch<L>(n->a, n->ea), r);
    } else {
        const double l = Fetch<L>(n->a, n->ea);
        return Apply<O>(l, Fetch<R>(n->b, n->eb));
    }
}

// A folded root: the constant is the result.
double Constant(const Node*) { return 0.0; }

template <Form F>
double Negate(const Node* n) {
    return -Fetch<F>(n->a, n->ea);
}

template <Form F>
double Not(const Node* n) {
    const double x = Fetch<F>(n->a, n->ea);
    return x != x ? kNaN : Truth(x == 0.0);
}

template <Form F>
double Square(const Node* n) {
    const double x = Fetch<F>(n->a, n->ea);
    return x * x;
}

template <Form F>
double Function(const Node* n) {
    const double x = Fetch<F>(n->a, n->ea);
    return Finite(x) ? n->b.fn(x) : kNaN;
}

template <Form C, Form T, Form E>
double Choose(const Node* n) {
    const double c = Fetch<C>(n->a, n->ea);
    if (c != c) return kNaN;
    return c != 0.0 ? Fetch<T>(n->b, n->eb) : Fetch<E>(n->c, n->ec);
}

// A flat chain: the first operand, then each link applied in turn.
double Chain(const Node* n) {
    const Link* link = n->a.links;
    const Link* const end = n->b.links;
    double acc = FetchAny(link->form, link->arg, link->eval);
    while (++link != end) acc = ApplyAny(link->op, acc, FetchAny(link->form, link->arg, link->eval));
    return acc;
}

// A built-in or a square over one number, read in any form but a Boolean.
Eval FunctionFor(Form f) {
    switch (f) {
        case FNode: return &Function<FNode>;
        case FNumber: return &Function<FNumber>;
        case FHostReal: return &Function<FHostReal>;
        case FHostInt: return &Function<FHostInt>;
        default: return nullptr;
    }
}

Eval SquareFor(Form f) {
    switch (f) {
        case FNode: return &Square<FNode>;
        case FNumber: return &Square<FNumber>;
        case FHostReal: return &Square<FHostReal>;
        case FHostInt: return &Square<FHostInt>;
        default: return nullptr;
    }
}

// Most operands a call from the compiled form passes.
constexpr int kMaxHostArgs = 8;

// A host function: its operands, then the call, which counts as an
// evaluation in progress. An operand that is not finite is an error the
// tree raises.
double CallHost(const Node* n) {
    double args[kMaxHostArgs];
    double* out = args;
    for (const Link* link = n->a.links; link != n->b.links; ++link) {
        const double x = FetchAny(link->form, link->arg, link->eval);
        if (!Finite(x)) return kNaN;
        *out++ = x;
    }
    const HostCall& call = *n->c.call;
    ++*call.depth;
    const double r = call.raw(call.callable.get(), args);
    --*call.depth;
    return r;
}

constexpr bool Numeric(Form f) {
    return f == FNode || f == FReal || f == FNumber || f == FConst || f == FHostReal || f == FHostInt;
}
constexpr bool Logical(Form f) { return f == FNode || f == FBool || f == FConst; }

template <Op O, Form L, Form R>
Eval BinaryFor() {
    constexpr bool logical = O >= Op::And;
    if constexpr (L == FConst && R == FConst)
        return nullptr;
    else if constexpr (logical ? Logical(L) && Logical(R) : Numeric(L) && Numeric(R))
        return &Binary<O, L, R>;
    else
        return nullptr;
}

template <Op O, Form L>
Eval BinaryFor(Form r) {
    switch (r) {
        case FNode: return BinaryFor<O, L, FNode>();
        case FReal: return BinaryFor<O, L, FReal>();
        case FNumber: return BinaryFor<O, L, FNumber>();
        case FBool: return BinaryFor<O, L, FBool>();
        case FConst: return BinaryFor<O, L, FConst>();
        case FHostReal: return BinaryFor<O, L, FHostReal>();
        case FHostInt: return BinaryFor<O, L, FHostInt>();
    }
    return nullptr;
}

template <Op O>
Eval BinaryFor(Form l, Form r) {
    switch (l) {
        case FNode: return BinaryFor<O, FNode>(r);
        case FReal: return BinaryFor<O, FReal>(r);
        case FNumber: return BinaryFor<O, FNumber>(r);
        case FBool: return BinaryFor<O, FBool>(r);
        case FConst: return BinaryFor<O, FConst>(r);
        case FHostReal: return BinaryFor<O, FHostReal>(r);
        case FHostInt: return BinaryFor<O, FHostInt>(r);
    }
    return nullptr;
}

Eval BinaryFor(Op op, Form l, Form r) {
    switch (op) {
#define ZX_OP(name) \
    case Op::name: return BinaryFor<Op::name>(l, r);
        ZX_OP(Add) ZX_OP(Sub) ZX_OP(Mul) ZX_OP(Div) ZX_OP(Pow) ZX_OP(Lt) ZX_OP(Le) ZX_OP(Eq) ZX_OP(Ge) ZX_OP(Gt)
        ZX_OP(Ne) ZX_OP(And) ZX_OP(Or) ZX_OP(Xor)
#undef ZX_OP
    }
    return nullptr;
}

template <Form C, Form T>
Eval ChooseFor(Form e) {
    switch (e) {
        case FNode: return &Choose<C, T, FNode>;
        case FReal: return &Choose<C, T, FReal>;
        case FBool: return &Choose<C, T, FBool>;
        case FConst: return &Choose<C, T, FConst>;
        case FHostReal: return &Choose<C, T, FHostReal>;
        default: return nullptr;
    }
}

template <Form C>
Eval ChooseFor(Form t, Form e) {
    switch (t) {
        case FNode: return ChooseFor<C, FNode>(e);
        case FReal: return ChooseFor<C, FReal>(e);
        case FBool: return ChooseFor<C, FBool>(e);
        case FConst: return ChooseFor<C, FConst>(e);
        case FHostReal: return ChooseFor<C, FHostReal>(e);
        default: return nullptr;
    }
}

Eval ChooseFor(Form c, Form t, Form e) {
    if (c == FNode) return ChooseFor<FNode>(t, e);
    if (c == FBool) return ChooseFor<FBool>(t, e);
    return nullptr;
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
    bool hostReal = false;                // a variable bound to a host's double
    const THostFunction* host = nullptr;  // a call of it
};

struct GiveUp {};

bool IsNumber(const Info& i) { return i.shape == Shape::Const && i.value.IsNumber(); }
bool IsRealConst(const Info& i) { return i.shape == Shape::Const && i.value.IsReal(); }
bool IsBoolConst(const Info& i) { return i.shape == Shape::Const && i.value.IsBoolean(); }
bool Numeric(const Info& i) { return i.shape == Shape::Real || i.shape == Shape::Var || IsNumber(i); }
bool Boolean(const Info& i) { return i.shape == Shape::Bool || i.shape == Shape::Var || IsBoolConst(i); }
bool RealTyped(const Info& i) { return i.shape == Shape::Real || IsRealConst(i) || i.hostReal; }

double ConstValue(const Variant& v) {
    if (v.IsBoolean()) return v.AsBoolean() ? 1.0 : 0.0;
    return VarToReal(v);
}

bool IsBinary(TMOpCode code) {
    return code != TMOpCode::None && code != TMOpCode::UnaryMinus && code != TMOpCode::Not;
}

// A binary operator with both operands in place, else null.
TMOperator* BinaryNode(TMExpression* e) {
    if (e == nullptr || !e->Is(ikOperator)) return nullptr;
    auto* op = static_cast<TMOperator*>(e);
    return IsBinary(ItemAccess::Code(op)) && ItemAccess::Second(op) != nullptr ? op : nullptr;
}

Op BinaryOp(TMOpCode code) {
    switch (code) {
        case TMOpCode::Plus: return Op::Add;
        case TMOpCode::Minus: return Op::Sub;
        case TMOpCode::Multiply: return Op::Mul;
        case TMOpCode::Divide: return Op::Div;
        case TMOpCode::Power: return Op::Pow;
        case TMOpCode::Less: return Op::Lt;
        case TMOpCode::LessOrEqual: return Op::Le;
        case TMOpCode::Equal: return Op::Eq;
        case TMOpCode::LargerOrEqual: return Op::Ge;
        case TMOpCode::Larger: return Op::Gt;
        case TMOpCode::NotEqual: return Op::Ne;
        case TMOpCode::And: return Op::And;
        case TMOpCode::Or: return Op::Or;
        case TMOpCode::Xor: return Op::Xor;
        default: throw GiveUp{};
    }
}

bool Chains(Op op) { return op <= Op::Div || op >= Op::And; }

// Nesting of the compiled form: runs recurse this deep at most.
constexpr int kMaxNesting = 48;
// Links of a chain up to this many nest; longer chains loop.
constexpr std::size_t kChainFrom = 8;

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
        switch (info.shape) {
            case Shape::Var: throw GiveUp{};  // a bare reference is quick enough as it is
            case Shape::Const:
                program_.constant_ = info.value;
                program_.kind_ = VarKind::Empty;
                program_.nodes_.reserve(1);
                program_.root_ = Add(&Constant);
                return;
            case Shape::Real: program_.kind_ = VarKind::Real; break;
            case Shape::Bool: program_.kind_ = VarKind::Boolean; break;
        }
        // Nodes and links are appended in place: their addresses hold.
        program_.nodes_.reserve(infos_.size());
        program_.links_.reserve(infos_.size() + 1);
        program_.root_ = Build(root);
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
        Info info;
        if (e->Is(ikLiteral)) {
            info.shape = Shape::Const;
            info.value = static_cast<TMLiteral*>(e)->Value;
        } else if (e->Is(ikVarRef)) {
            // Bound now or never: a prepared tree's references are not bound
            // later, and a function behind a name is evaluated as a tree.
            TMSymbol* symbol = static_cast<TMVarRef*>(e)->SymbolReference;
            if (symbol != nullptr && symbol->IsVariable() && !symbol->IsValueHolder()) {
                info = AnalyzeHostVariable(static_cast<TMVar*>(symbol));
            } else if (symbol == nullptr || !symbol->IsValueHolder()) {
                throw GiveUp{};
            } else {
                info.shape = Shape::Var;
            }
            ItemAccess::MarkCompiled(e);
        } else if (e->Is(ikFunctionCall)) {
            info = AnalyzeHostCall(static_cast<TMFunctionCall*>(e));
        } else if (TMOperator* op = BinaryNode(e)) {
            // The left spine of binary operators in a loop: a flat chain of
            // any length costs no recursion.
            std::vector<TMOperator*> spine;
            for (TMOperator* node = op; node != nullptr; node = BinaryNode(ItemAccess::First(node)))
                spine.push_back(node);
            Analyze(ItemAccess::First(spine.back()));
            for (std::size_t k = spine.size(); k-- > 0;) {
                Analyze(ItemAccess::Second(spine[k]));
                CombineBinary(spine[k]);
            }
            return infos_.at(e);
        } else if (e->Is(ikOperator)) {
            info = AnalyzeOther(static_cast<TMOperator*>(e));
        } else {
            throw GiveUp{};
        }
        return infos_[e] = std::move(info);
    }

    // Unary operators and built-ins.
    Info AnalyzeOther(TMOperator* op) {
        ItemAccess::MarkCompiled(op);
        Info info;
        const TMOpCode code = ItemAccess::Code(op);
        if (code == TMOpCode::UnaryMinus || code == TMOpCode::Not) {
            TMExpression* operand = ItemAccess::First(op);
            if (operand == nullptr || ItemAccess::Second(op) != nullptr) throw GiveUp{};
            const Info& x = Analyze(operand);
            if (x.shape == Shape::Const) return Fold(op);
            if (code == TMOpCode::UnaryMinus) {
                // -Integer stays an Integer: only a Real variable is negated here.
                if (x.shape == Shape::Bool) throw GiveUp{};
                info.guard[0] = 'R';
                info.shape = Shape::Real;
            } else {
                if (x.shape == Shape::Real) throw GiveUp{};
                info.guard[0] = 'B';
                info.shape = Shape::Bool;
            }
            return info;
        }
        if (!op->Is(ikIntrinsic) || op->Operands.Count() != op->NumberOfOperands()) throw GiveUp{};
        const auto& call = static_cast<const TMIntrinsicFunctionCall&>(*op);
        const std::string name = call.ClassName();
        if (name == "TMPi") return Fold(op);
        if (name == "TMIfF") return AnalyzeIfF(op);
        info.fn = RealFunctionOf(call);
        if (info.fn == nullptr) throw GiveUp{};
        TMExpression* operand = call.GetOperandExpressions(0);
        if (operand == nullptr) throw GiveUp{};
        const Info& x = Analyze(operand);
        if (x.shape == Shape::Const) return Fold(op);
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
        } else {
            info.shape = Shape::Var;
            info.hostReal = var->BoundReal() != nullptr;
        }
        return info;
    }

    // A host function with an entry over doubles, its operands numbers; a
    // pure one over constants is folded.
    Info AnalyzeHostCall(TMFunctionCall* call) {
        if (call->SymbolReference != nullptr || call->Interpreter == nullptr) throw GiveUp{};
        const THostFunction* host = host::HostFunctionNamed(*call->Interpreter, call->ReferencedSymbolName);
        const int n = call->ParamExpressions.Count();
        if (host == nullptr || host->raw == nullptr || n != host->minCount || n > kMaxHostArgs) throw GiveUp{};
        ItemAccess::MarkCompiled(call);
        bool constant = true;
        for (int i = 0; i < n; ++i) {
            TMExpression* arg = ArgumentOf(call, i);
            const Info& x = Analyze(arg);
            if (!Numeric(x)) throw GiveUp{};
            constant = constant && x.shape == Shape::Const;
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
    Info AnalyzeIfF(TMOperator* op) {
        TMExpression* e[3];
        for (int i = 0; i < 3; ++i)
            if ((e[i] = op->GetOperandExpressions(i)) == nullptr) throw GiveUp{};
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

    void CombineBinary(TMOperator* op) {
        ItemAccess::MarkCompiled(op);
        const Info& l = infos_.at(ItemAccess::First(op));
        const Info& r = infos_.at(ItemAccess::Second(op));
        const TMOpCode code = ItemAccess::Code(op);
        Info info;
        if (l.shape == Shape::Const && r.shape == Shape::Const) {
            info.shape = Shape::Const;
            try {
                info.value = ApplyBinary(code, l.value, r.value);
            } catch (const Exception&) {
                throw GiveUp{};  // the tree raises it when evaluated
            }
            infos_[op] = std::move(info);
            return;
        }
        switch (code) {
            case TMOpCode::Plus:
            case TMOpCode::Minus:
            case TMOpCode::Multiply:
                if (!Numeric(l) || !Numeric(r)) throw GiveUp{};
                // Integer with Integer gives an Integer: a Real operand,
                // known or guarded, keeps the result a Real.
                if (!RealTyped(l) && !RealTyped(r)) {
                    if (l.shape == Shape::Var)
                        info.guard[0] = 'R';
                    else
                        info.guard[1] = 'R';
                }
                info.shape = Shape::Real;
                break;
            case TMOpCode::Divide:
            case TMOpCode::Power:
                if (!Numeric(l) || !Numeric(r)) throw GiveUp{};
                info.shape = Shape::Real;
                break;
            case TMOpCode::Less:
            case TMOpCode::LessOrEqual:
            case TMOpCode::Equal:
            case TMOpCode::LargerOrEqual:
            case TMOpCode::Larger:
            case TMOpCode::NotEqual:
                if (!Numeric(l) || !Numeric(r)) throw GiveUp{};
                info.shape = Shape::Bool;
                break;
            case TMOpCode::And:
            case TMOpCode::Or:
            case TMOpCode::Xor:
                if (!Boolean(l) || !Boolean(r)) throw GiveUp{};
                info.guard[0] = info.guard[1] = 'B';
                info.shape = Shape::Bool;
                break;
            default: throw GiveUp{};  // integer arithmetic and shifts
        }
        infos_[op] = std::move(info);
    }

    // A constant subtree: its value now, exactly as evaluation would give it.
    Info Fold(TMExpression* e) {
        Info info;
        info.shape = Shape::Const;
        try {
            info.value = e->GetValue();
        } catch (const Exception&) {
            throw GiveUp{};
        }
        if (!info.value.IsNumber() && !info.value.IsBoolean()) throw GiveUp{};
        return info;
    }

    // ---- building

    static const Variant* ValueOf(TMExpression* e) {
        return &static_cast<const TMCustomVar*>(static_cast<TMVarRef*>(e)->SymbolReference)->ValueRef();
    }

    // How a parent reads operand `e`: in place when it is a leaf.
    Form Operand(TMExpression* e, char guard, Ref& ref, Eval& eval) {
        const Info& info = infos_.at(e);
        if (info.shape == Shape::Const) {
            ref.k = ConstValue(info.value);
            return FConst;
        }
        if (info.shape == Shape::Var) {
            const TMSymbol* symbol = static_cast<TMVarRef*>(e)->SymbolReference;
            if (!symbol->IsValueHolder()) {
                const auto* var = static_cast<const TMVar*>(symbol);
                if ((ref.real = var->BoundReal()) != nullptr) {
                    if (guard == 'B') throw GiveUp{};
                    return FHostReal;
                }
                if (guard != 'N') throw GiveUp{};  // an Integer is no Real or Boolean
                ref.integer = var->BoundInteger();
                return FHostInt;
            }
            ref.var = ValueOf(e);
            return guard == 'R' ? FReal : guard == 'B' ? FBool : FNumber;
        }
        ref.node = Build(e);
        eval = ref.node->eval;
        return FNode;
    }

    const Node* Add(Eval eval, Ref a = {}, Ref b = {}, Ref c = {}, Eval ea = nullptr, Eval eb = nullptr,
                    Eval ec = nullptr) {
        if (eval == nullptr || program_.nodes_.size() == program_.nodes_.capacity()) throw GiveUp{};
        program_.nodes_.push_back(Node{eval, a, b, c, ea, eb, ec});
        return &program_.nodes_.back();
    }

    // The node computing `e`, whose shape is Real or Bool.
    const Node* Build(TMExpression* e) {
        const Nesting nesting(depth_);
        const Info& info = infos_.at(e);
        if (info.host != nullptr) return BuildHostCall(static_cast<TMFunctionCall*>(e), *info.host);
        Ref a{}, b{}, c{};
        Eval ea = nullptr, eb = nullptr, ec = nullptr;
        if (TMOperator* op = BinaryNode(e)) {
            // The links of one kind (arithmetic or logic) down the left.
            const Op top = BinaryOp(ItemAccess::Code(op));
            std::vector<TMOperator*> spine;
            for (TMOperator* node = op; node != nullptr; node = BinaryNode(ItemAccess::First(node))) {
                const Op o = BinaryOp(ItemAccess::Code(node));
                if (infos_.at(node).shape == Shape::Const || !Chains(o) || (o >= Op::And) != (top >= Op::And)) break;
                spine.push_back(node);
            }
            if (spine.size() >= kChainFrom) return BuildChain(spine);
            return BuildBinary(op);
        }
        auto* op = static_cast<TMOperator*>(e);
        const TMOpCode code = ItemAccess::Code(op);
        if (code == TMOpCode::UnaryMinus) {
            const Form f = Operand(ItemAccess::First(op), info.guard[0], a, ea);
            return Add(f == FNode        ? &Negate<FNode>
                       : f == FReal     ? &Negate<FReal>
                       : f == FHostReal ? &Negate<FHostReal>
                                        : nullptr,
                       a, b, c, ea);
        }
        if (code == TMOpCode::Not) {
            const Form f = Operand(ItemAccess::First(op), info.guard[0], a, ea);
            return Add(f == FNode ? &Not<FNode> : f == FBool ? &Not<FBool> : nullptr, a, b, c, ea);
        }
        if (info.fn != nullptr) {
            const Form f = Operand(op->GetOperandExpressions(0), 'N', a, ea);
            b.fn = info.fn;
            return Add(FunctionFor(f), a, b, c, ea);
        }
        // IfF: the condition, then one branch.
        const Form fc = Operand(op->GetOperandExpressions(0), 'B', a, ea);
        const Form ft = Operand(op->GetOperandExpressions(1), info.guard[1], b, eb);
        const Form fe = Operand(op->GetOperandExpressions(2), info.guard[2], c, ec);
        return Add(ChooseFor(fc, ft, fe), a, b, c, ea, eb, ec);
    }

    const Node* BuildBinary(TMOperator* op) {
        const Info& info = infos_.at(op);
        TMExpression* le = ItemAccess::First(op);
        TMExpression* re = ItemAccess::Second(op);
        const Op o = BinaryOp(ItemAccess::Code(op));
        Ref a{}, b{};
        Eval ea = nullptr, eb = nullptr;
        const Info& r = infos_.at(re);
        if (o == Op::Pow && IsNumber(r) && ConstValue(r.value) == 2.0) {
            // Power's own shortcut: a square is a product.
            const Form f = Operand(le, 'N', a, ea);
            return Add(SquareFor(f), a, b, {}, ea);
        }
        const Form fl = Operand(le, info.guard[0], a, ea);
        const Form fr = Operand(re, info.guard[1], b, eb);
        return Add(BinaryFor(o, fl, fr), a, b, {}, ea, eb);
    }

    // The operands as links of the program, then the call.
    const Node* BuildHostCall(TMFunctionCall* call, const THostFunction& host) {
        const int n = call->ParamExpressions.Count();
        if (program_.links_.size() + static_cast<std::size_t>(n) > program_.links_.capacity()) throw GiveUp{};
        std::vector<Link> links;
        for (int i = 0; i < n; ++i) {
            Link link{Op::Add, FConst, {}, nullptr};
            link.form = Operand(ArgumentOf(call, i), 'N', link.arg, link.eval);
            links.push_back(link);
        }
        Ref a{}, b{}, c{};
        a.links = program_.links_.data() + program_.links_.size();
        program_.links_.insert(program_.links_.end(), links.begin(), links.end());
        b.links = program_.links_.data() + program_.links_.size();
        program_.calls_.push_back(
            HostCall{host.callable, host.raw, host::EvaluationDepth(*call->Interpreter)});
        c.call = &program_.calls_.back();
        return Add(&CallHost, a, b, c);
    }

    // A long left spine (top down) as one node looping over its links.
    const Node* BuildChain(const std::vector<TMOperator*>& spine) {
        std::vector<Link> links;
        links.reserve(spine.size() + 1);
        TMOperator* bottom = spine.back();
        Link first{Op::Add, FConst, {}, nullptr};
        first.form = Operand(ItemAccess::First(bottom), infos_.at(bottom).guard[0], first.arg, first.eval);
        links.push_back(first);
        for (std::size_t k = spine.size(); k-- > 0;) {
            Link link{BinaryOp(ItemAccess::Code(spine[k])), FConst, {}, nullptr};
            link.form = Operand(ItemAccess::Second(spine[k]), infos_.at(spine[k]).guard[1], link.arg, link.eval);
            links.push_back(link);
        }
        // A program's links are one array, appended chain by chain.
        if (program_.links_.size() + links.size() > program_.links_.capacity()) throw GiveUp{};
        const Link* begin = program_.links_.data() + program_.links_.size();
        program_.links_.insert(program_.links_.end(), links.begin(), links.end());
        Ref a{}, b{};
        a.links = begin;
        b.links = begin + links.size();
        return Add(&Chain, a, b);
    }

    Program& program_;
    const char* floor_;
    std::unordered_map<const TMExpression*, Info> infos_;
    int depth_ = 0;
};

std::unique_ptr<Program> Program::Compile(TMItem* root) {
    if (root == nullptr || !root->Is(static_cast<TMItemKind>(ikOperator | ikFunctionCall))) return nullptr;
    auto program = std::make_unique<Program>();
    try {
        Compiler(*program).Lower(static_cast<TMExpression*>(root));
    } catch (const GiveUp&) {
        return nullptr;
    }
    return program;
}

}  // namespace zorvex::prepared
