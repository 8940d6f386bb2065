#include <exception>
#include <memory>

#include "ResourceLimits.h"
#include "ItemUtil.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathItem.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {
const char* const kUnit = "Source/MathItem";
std::string Str(int v) { return std::to_string(v); }
}  // namespace

// ---------------------------------------------------------------- TMOperator

void TMOperator::MissingOperand() { AssertionFailed(kUnit, "operand is null"); }

TMOperator::~TMOperator() { DisposeItems(Operands); }

std::string TMOperator::Dump(TDumpFormat format) const {
    if (!(format & dfDetailed))
        throw Exception("TMOperator.Dump() Must be implemented in child classes when DumpFormat <> dfDetailed");
    return std::string(ClassName()) + "(" + DumpList(Operands, format) + ")";
}

void TMOperator::Rewire(TMSymbol* symbol) { RewireTree(this, symbol); }

void TMOperator::Unwire(TMSymbol* symbol) { UnwireTree(this, symbol); }

void TMOperator::SetMathInterpreter(TMathInterpreter* interpreter) { SetTreeInterpreter(this, interpreter); }

void TMOperator::CheckOperatorCount() const {
    ZORVEX_ASSERT(NumberOfOperands() == Operands.Count(), kUnit);
}

void TMOperator::SetOperands(TMExpressions* operands) {
    ZORVEX_ASSERT(operands != nullptr, kUnit);
    for (int i = 0; i < operands->Count(); ++i) {
        TMItem* item = operands->Get(i);
        if (item != nullptr && !item->Is(ikExpression)) throw EInvalidCast("Invalid class typecast");
    }
    Operands.Clear();
    for (int i = 0; i < operands->Count(); ++i) Operands.Add(operands->Get(i));
    delete operands;
    UpdateDepth();
}

void TMOperator::UpdateDepth() {
    int depth = 0, units = 0;
    for (int i = 0; i < Operands.Count(); ++i)
        if (TMItem* item = Operands.At(i)) {
            depth = std::max(depth, item->TreeDepth);
            units = std::max(units, item->StackUnits);
        }
    TreeDepth = depth + 1;
    // Built-ins, assignments and "not" take several times the frame of the
    // arithmetic, comparison and logic operators.
    const bool light = !Is(ikIntrinsic) && Priority() != opAssign && (NumberOfOperands() == 2 || Is(ikUnaryMinus));
    StackUnits = units + (light ? 1 : guard::kHeavyUnits);
    if (TreeDepth > MaxTreeDepth)
        throw Exception("TMathInterpreter.RPN() Expression is nested too deeply (more than " + Str(MaxTreeDepth) +
                        " levels), position: " + Str(ParsePosition) + ".");
}

void TMOperator::PullOperands(TMItems& stack, TMSymbols*) {
    Operands.FreeAndClear();
    const int n = NumberOfOperands();
    Operands.Reserve(n);
    int found = 0;
    for (int k = 0; k < n; ++k) {
        if (stack.Empty() || !stack.Last()->Is(ikExpression))
            throw Exception("TMOperator.PullOperands() " + Str(n) + " operand(s) expected, but only " + Str(found) +
                            " found. Position: " + Str(ParsePosition) + ".");
        Operands.Add(stack.Pop());
        ++found;
    }
    Operands.Reverse();
    UpdateDepth();
}

// Pulling and SetOperands admit only expressions, so no cast check is needed.
TMExpression* TMOperator::GetOperandExpressions(int index) const {
    return static_cast<TMExpression*>(Operands.Get(index));
}

Variant TMOperator::GetOperandValues(int index) const { return Op(index)->GetValue(); }

std::string TMOperator::DumpOperand(int index, TDumpFormat format) const {
    ZORVEX_ASSERT(!(format & dfDetailed), kUnit);
    if (index < 0)
        throw Exception("TMBinaryOperator.DumpOperand() OperandIndex (" + Str(index) + ") must not be negative.");
    if (index >= Operands.Count())
        throw Exception("TMBinaryOperator.DumpOperand() OperandIndex (" + Str(index) +
                        ") exceeds index of last operand (" + Str(Operands.Count() - 1) + ").");
    guard::CheckDumpStack();
    TMItem* operand = Operands.At(index);
    if (operand == nullptr) return "Null";
    bool parenthesise = false;
    if (auto* op = ItemAs<TMOperator>(operand, ikOperator)) {
        const int p = op->Priority(), q = Priority();
        if (p > q)
            parenthesise = true;
        else if (p == q)
            parenthesise = index == 0 ? Associativity() == oaRightToLeft : Associativity() == oaLeftToRight;
    }
    std::string text = operand->Dump(format);
    return parenthesise ? "(" + text + ")" : text;
}

std::string TMUnaryOperator::Dump(TDumpFormat format) const {
    if (format & dfDetailed) return TMOperator::Dump(format);
    std::string operand = DumpOperand(0, format);
    // A minus written straight before a number joins it into a literal
    // ("--2" reads back as 2, "-0" as 0, and "not (-2)" drops its brackets),
    // so a minus over a number keeps its own.
    const bool joins = !operand.empty() && (operand[0] == '-' || (operand[0] >= '0' && operand[0] <= '9'));
    if (joins && Is(ikUnaryMinus)) return "-(" + operand + ")";
    return DumpOperator() + operand;
}

std::string TMBinaryOperator::Dump(TDumpFormat format) const {
    if (format & dfDetailed) return TMOperator::Dump(format);
    std::string text = DumpOperand(0, format);
    text += DumpOperator();
    return text + DumpOperand(1, format);
}

// ---------------------------------------------------------------- evaluation

Variant TMUnaryMinus::GetValue() {
    if (Operands.Count() != 1) CheckOperatorCount();
    return VarNeg(Op(0)->GetValue());
}

Variant TMNot::GetValue() {
    Variant v = GetOperandValues(0);
    if (v.VarType() != varBoolean)
        throw Exception("TMNot.GetValue() NOT operator (position: " + Str(ParsePosition) +
                        ") expects boolean operand (position: " + Str(GetOperandExpressions(0)->ParsePosition) + ").");
    return VarNot(v);
}

// Left operand is evaluated completely before the right one.
// The count is checked only when it is off: the check raises then.
#define ZORVEX_EVAL_BINARY(Name, Check, Expr)                  \
    Variant Name::GetValue() {                                 \
        if (Check && Operands.Count() != 2) CheckOperatorCount(); \
        Variant l = Op(0)->GetValue();           \
        Variant r = Op(1)->GetValue();           \
        return Expr;                             \
    }

ZORVEX_EVAL_BINARY(TMPlus, true, VarAdd(l, r))
ZORVEX_EVAL_BINARY(TMMinus, true, VarSub(l, r))
ZORVEX_EVAL_BINARY(TMMultiply, true, VarMul(l, r))
ZORVEX_EVAL_BINARY(TMDivide, true, VarRDiv(l, r))
ZORVEX_EVAL_BINARY(TMIntDiv, true, VarDiv(l, r))
ZORVEX_EVAL_BINARY(TMMod, true, VarMod(l, r))
ZORVEX_EVAL_BINARY(TMAnd, false, VarAnd(l, r))
ZORVEX_EVAL_BINARY(TMOr, false, VarOr(l, r))
ZORVEX_EVAL_BINARY(TMXor, false, VarXor(l, r))
ZORVEX_EVAL_BINARY(TMShl, false, VarShl(l, r))
ZORVEX_EVAL_BINARY(TMShr, false, VarShr(l, r))
ZORVEX_EVAL_BINARY(TMLess, false, Variant(VarCmp(l, r) < 0))
ZORVEX_EVAL_BINARY(TMLessOrEqual, false, Variant(VarCmp(l, r) <= 0))
ZORVEX_EVAL_BINARY(TMEqual, false, Variant(VarCmp(l, r) == 0))
ZORVEX_EVAL_BINARY(TMLargerOrEqual, false, Variant(VarCmp(l, r) >= 0))
ZORVEX_EVAL_BINARY(TMLarger, false, Variant(VarCmp(l, r) > 0))
ZORVEX_EVAL_BINARY(TMNotEqual, false, Variant(VarCmp(l, r) != 0))

#undef ZORVEX_EVAL_BINARY

Variant TMPower::GetValue() {
    if (Operands.Count() != 2) CheckOperatorCount();
    double base = VarToReal(Op(0)->GetValue());
    double exponent = VarToReal(Op(1)->GetValue());
    return Variant(Power(base, exponent));
}

// ---------------------------------------------------------------- assignments

// Plain dumps of function bodies that assign must read back as written.
std::string TMAssign::DumpOperator() const { return "="; }

void TMAssignValue::PullOperands(TMItems& stack, TMSymbols* symbols) {
    ZORVEX_ASSERT(symbols != nullptr, kUnit);
    TMOperator::PullOperands(stack, symbols);
}

Variant TMAssignValue::GetValue() {
    TMExpression* leftExpression = GetOperandExpressions(0);
    auto* left = ItemAs<TMVarRef>(leftExpression, ikVarRef);
    if (left == nullptr)
        throw Exception("TMAssignValue.PullOperands() Left operand (position: " +
                        Str(leftExpression ? leftExpression->ParsePosition : 0) +
                        ") of value assignment (postiton: " + Str(ParsePosition) +
                        ") must be variable reference, not \"" +
                        (leftExpression ? leftExpression->ClassName() : "Null") + "\".");
    TMathInterpreter* interp = left->Interpreter;
    ZORVEX_ASSERT(interp != nullptr, kUnit);
    Variant result = GetOperandValues(1);
    TMSymbols& table = interp->Symbols();
    // A binding to a table variable always names the symbol the lookup finds.
    TMSymbol* symbol = left->SymbolReference;
    if (symbol == nullptr || symbol->List != &table || !symbol->IsVariable())
        symbol = table.FindSymbol(left->ReferencedSymbolName);
    TMSymbol* target = nullptr;
    if (symbol != nullptr) {
        if (!symbol->IsVariable())
            throw Exception("TMAssignValue.PullOperands() Left operand (position: " + Str(left->ParsePosition) +
                            ") of value assignment (position: " + Str(ParsePosition) +
                            ") must reference to variable, not to\"" + symbol->ClassName() + "\".");
        target = symbol;
    } else {
        Variant answer = result;
        interp->DoUnknownSymbol(left->ReferencedSymbolName, Variant::Null(), answer);
        if (!answer.IsEmpty()) {
            auto var = std::make_unique<TMVar>();
            var->ParsePosition = left->ParsePosition;
            var->List = &table;
            var->SetIdentifier(left->ReferencedSymbolName);
            table.Add(var.get());
            target = var.release();
        }
    }
    if (target != nullptr) {
        try {
            target->SetValue(result);
        } catch (const Exception& e) {
            throw Exception("TMAssignValue.GetValue() Error on position: " + Str(ParsePosition) +
                            ", while trying to assign a value to position: " + Str(left->ParsePosition) +
                            ". Error message: \"" + e.Message() + "\".");
        }
    }
    return result;
}

void TMAssignSymbolic::PullOperands(TMItems& stack, TMSymbols* symbols) {
    ZORVEX_ASSERT(symbols != nullptr, kUnit);
    TMOperator::PullOperands(stack, symbols);
    std::unique_ptr<TMExpression> body(static_cast<TMExpression*>(Operands.At(1)));
    Operands.Put(1, nullptr);
    ZORVEX_ASSERT(body != nullptr, kUnit);
    if (dynamic_cast<TMAssignSymbolic*>(body.get()) != nullptr)
        throw Exception("TMAssignSymbolic.PullOperands() Right operand of the symbolic assignment on position: " +
                        Str(ParsePosition) + " can not be a symbolic assignment.");
    // A definition inside a body has no text that reads back to the same
    // function (it would define again when loaded), so no body holds one.
    int nested = 0;
    WalkTree(body.get(), [&](TMItem* item) {
        if (nested == 0 && item->Is(ikAssignSymbolic)) nested = item->ParsePosition;
    });
    if (nested != 0)
        throw Exception("TMAssignSymbolic.PullOperands() Right operand of the symbolic assignment on position: " +
                        Str(ParsePosition) + " can not hold a symbolic assignment (position: " + Str(nested) + ").");
    auto* leftExpression = static_cast<TMExpression*>(Operands.At(0));
    auto* left = dynamic_cast<TMSymbolRef*>(leftExpression);
    if (left == nullptr)
        throw Exception("TMAssignSymbolic.PullOperands() Left operand (position: " +
                        Str(leftExpression->ParsePosition) + ", type = \"" + leftExpression->ClassName() +
                        "\") of symbolic assignment (position: " + Str(ParsePosition) +
                        ") must be symbol reference (var. ref. or function call).");
    ZORVEX_ASSERT(dynamic_cast<TMVarRef*>(left) || dynamic_cast<TMFunctionCall*>(left), kUnit);
    const std::string name = left->ReferencedSymbolName;
    TMathInterpreter* interp = symbols->Interpreter;

    TMFunction* function = nullptr;
    int index = symbols->FindSymbolIndex(name);
    if (index < 0) {
        auto created = std::make_unique<TMFunction>();
        created->ParsePosition = left->ParsePosition;
        created->List = symbols;
        created->SetIdentifier(name);
        symbols->Add(created.get());
        function = created.release();
    } else if (auto* existing = dynamic_cast<TMFunction*>(symbols->Get(index))) {
        if (interp != nullptr) interp->CheckNotEvaluating("redefine a function");
        function = existing;
        function->ParsePosition = left->ParsePosition;
        function->ClearDefinition();
    } else {
        auto* var = dynamic_cast<TMVar*>(symbols->Get(index));
        ZORVEX_ASSERT(var != nullptr, kUnit);
        if (interp != nullptr) interp->CheckNotEvaluating("redefine a variable as a function");
        ZORVEX_ASSERT(var->IsEqualIdentifier(name), kUnit);
        auto created = std::make_unique<TMFunction>();
        created->ParsePosition = left->ParsePosition;
        symbols->Put(index, nullptr);
        created->List = symbols;
        try {
            created->SetIdentifier(var->Identifier());
        } catch (...) {
            symbols->Put(index, var);  // the variable keeps its place
            throw;
        }
        delete var;
        symbols->Put(index, created.get());
        function = created.release();
    }
    if (dynamic_cast<TMVarRef*>(left) != nullptr) {
        auto call = std::make_unique<TMFunctionCall>();
        call->ParsePosition = left->ParsePosition;
        call->ReferencedSymbolName = left->ReferencedSymbolName;
        Operands.Put(0, call.release());
        delete left;
        left = static_cast<TMSymbolRef*>(Operands.At(0));
    }
    auto* call = static_cast<TMFunctionCall*>(left);
    TMParams& params = function->Parameters();
    // The function keeps what was declared before an error; its body is
    // bound and handed the interpreter all the same, so that calling it
    // gives the language's errors, or its value once its references fit.
    // Parameters are declared before the body is set, and the body then
    // binds to all of them in one pass rather than one pass per parameter.
    std::exception_ptr error;
    try {
        for (int i = 0; i < call->ParamExpressions.Count(); ++i) {
            auto* wrapper = static_cast<TMParamExpression*>(call->ParamExpressions.At(i));
            auto* ref = ItemAs<TMVarRef>(wrapper->Expression, ikVarRef);
            if (ref == nullptr)
                throw Exception("TMAssignSymbolic.PullOperands() Invalid declaration of parameter on index: " + Str(i) +
                                ", position: " + Str(wrapper->ParsePosition) + ", for function: \"" +
                                Excerpt(function->Identifier()) + "\" (position: " + Str(function->ParsePosition) +
                                ").");
            auto param = std::make_unique<TMParam>();
            param->ParsePosition = ref->ParsePosition;
            param->List = &params;
            param->SetIdentifier(ref->ReferencedSymbolName);
            params.Add(param.release());
        }
    } catch (const Exception&) {
        error = std::current_exception();
    }
    function->SetExpression(body.release());
    RewireFromTable(function->Expression(), &params, nullptr);
    try {
        RewireFromTable(function->Expression(), symbols, &params);
    } catch (const Exception&) {
        if (!error) error = std::current_exception();
    }
    if (interp != nullptr) function->Expression()->SetMathInterpreter(interp);
    // The body is no longer part of this tree.
    TreeDepth = Operands.At(0)->TreeDepth + 1;
    StackUnits = Operands.At(0)->StackUnits + guard::kHeavyUnits;
    if (error) std::rethrow_exception(error);
}

}  // namespace zorvex
