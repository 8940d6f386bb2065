#include <algorithm>
#include <exception>
#include <memory>
#include <type_traits>
#include <vector>

#include "ItemUtil.h"
#include "OperatorTable.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "ItemHost.h"
#include "zorvex/MathItem.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {
const char* const kUnit = "Source/MathItem";
std::string Str(int v) { return std::to_string(v); }
}  // namespace

// ---------------------------------------------------------------- TMOperator

void TMOperator::MissingOperand() { AssertionFailed(kUnit, "operand is null"); }

void TMOperands::ListChanged() { owner_->OperandsChanged(); }

void TMOperator::OperandsChanged() noexcept {
    if (Is(ikCompiled)) TreeChanged(this);
    first_ = second_ = nullptr;
    const TMItemVector& items = Operands.items_;
    if (Operands.holes_ != 0 || items.size() == 0 || items.size() > 2) return;
    for (TMItem* item : items)
        if (item == nullptr || !item->Is(ikExpression)) return;
    first_ = static_cast<TMExpression*>(items[0]);
    if (items.size() == 2) second_ = static_cast<TMExpression*>(items[1]);
}

namespace {

int ChainGroup(const TMOperator* op) { return op::RowOf(ItemAccess::Code(op)).chain; }

}  // namespace

namespace {

// A link of a chain of `group`: a binary operator of the group with both
// operands in place.
TMOperator* ChainLink(TMExpression* e, int group) {
    if (e == nullptr || !e->Is(ikOperator)) return nullptr;
    auto* op = static_cast<TMOperator*>(e);
    return ChainGroup(op) == group && ItemAccess::Second(op) != nullptr ? op : nullptr;
}

// The links of the chain headed by `head`, from the top down.
template <class F>
void ForEachLink(TMOperator* head, F&& visit) {
    const int group = ChainGroup(head);
    for (TMOperator* link = head; link != nullptr; link = ChainLink(ItemAccess::First(link), group)) visit(link);
}

// Links gathered top down; small chains stay on the stack.
class Links {
public:
    explicit Links(const TMOperator* head) {
        ForEachLink(const_cast<TMOperator*>(head), [&](TMOperator* link) {
            if (n_ == kInline) heap_.assign(inline_, inline_ + kInline);
            if (n_ >= kInline)
                heap_.push_back(link);
            else
                inline_[n_] = link;
            ++n_;
        });
    }
    int Count() const { return n_; }
    TMOperator* operator[](int i) const { return n_ > kInline ? heap_[static_cast<std::size_t>(i)] : inline_[i]; }

private:
    static constexpr int kInline = 16;
    TMOperator* inline_[kInline];
    std::vector<TMOperator*> heap_;
    int n_ = 0;
};

}  // namespace

bool TMOperator::LeftChains() const {
    const int group = ChainGroup(this);
    return group != 0 && second_ != nullptr && ChainLink(first_, group) != nullptr;
}

// A long chain is long work: checked every few thousand links. The value
// so far counts against the memory budget while the next link's operand is
// computed.
Variant TMOperator::EvaluateChain() {
    const Links links(this);
    Variant acc = ItemAccess::First(links[links.Count() - 1])->GetValue();
    for (int k = links.Count(); k-- > 0;) {
        if ((k & 0xFFF) == 0xFFF) guard::WorkDone();
        TMOperator* link = links[k];
        guard::Held held(acc);
        Variant r = ItemAccess::Second(link)->GetValue();
        try {
            acc = op::Apply(ItemAccess::Code(link), acc, r);
        } catch (Exception& e) {
            e.Locate(link->ParsePosition);
            throw;
        }
    }
    return acc;
}

std::string TMOperator::DumpChain(TDumpFormat format) const {
    const Links links(this);
    const int n = links.Count();
    std::string text;
    if (format & dfDetailed) {
        // Class(Class(...(left,right)...,right),right): no entry is empty.
        for (int k = 0; k < n; ++k) (text += links[k]->ClassName()) += '(';
        text += ItemAccess::First(links[n - 1])->Dump(format);
        for (int k = n; k-- > 0;) {
            std::string right = ItemAccess::Second(links[k])->Dump(format);
            if (!right.empty()) (text += ',') += right;
            text += ')';
        }
        return text;
    }
    text = links[n - 1]->DumpOperand(0, format);
    for (int k = n; k-- > 0;) {
        text += links[k]->DumpOperator();
        text += links[k]->DumpOperand(1, format);
    }
    return text;
}

TMOperator::~TMOperator() { DisposeItems(Operands); }

std::string TMOperator::Dump(TDumpFormat format) const {
    if (!(format & dfDetailed))
        throw Exception("TMOperator.Dump() Must be implemented in child classes when DumpFormat <> dfDetailed");
    if (LeftChains()) return DumpChain(format);
    return std::string(ClassName()) + "(" + DumpList(Operands, format) + ")";
}

// Operators outside the table answer these themselves.
namespace {
op::Operation TableCode(const TMOperator* op) {
    const op::Operation o = ItemAccess::Code(op);
    if (o == op::Operation::None) [[unlikely]]
        AssertionFailed(kUnit, "operator without a row of the table");
    return o;
}
}  // namespace

std::string TMOperator::DumpOperator() const { return op::RowOf(TableCode(this)).dump; }
int TMOperator::NumberOfOperands() const { return op::BindingOf(TableCode(this)).operands; }
TOperatorAssociativity TMOperator::Associativity() const { return op::BindingOf(TableCode(this)).associativity; }
TOperatorPriority TMOperator::Priority() const { return op::BindingOf(TableCode(this)).priority; }

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
    const std::unique_ptr<TMExpressions> taken(operands);  // the list, not its entries
    UpdateDepth();
}

void TMOperator::UpdateDepth() {
    int depth = 0, units = 0;
    for (int i = 0; i < Operands.Count(); ++i)
        if (TMItem* item = Operands.At(i)) {
            depth = std::max(depth, ItemAccess::TreeDepth(item));
            units = std::max(units, ItemAccess::StackUnits(item));
        }
    treeDepth_ = depth + 1;
    // Built-ins, assignments and "not" take several times the frame of the
    // arithmetic, comparison and logic operators.
    const bool light = code_ != 0 && !op::BindingOf(ItemAccess::Code(this)).heavy;
    stackUnits_ = units + (light ? 1 : guard::kHeavyUnits);
    if (LeftChains()) {
        // A link adds a level to its right operand only. The chain's loop
        // runs in a frame of its own below the head, counted once.
        auto* left = static_cast<TMOperator*>(first_);
        if (!left->Is(ikBracketed)) treeDepth_ = std::max(ItemAccess::TreeDepth(left), ItemAccess::TreeDepth(second_) + 1);
        stackUnits_ = std::max(ItemAccess::StackUnits(left) + (left->LeftChains() ? 0 : 1), ItemAccess::StackUnits(second_) + 2);
    }
    if (treeDepth_ > MaxTreeDepth)
        throw ELimitError("TMathInterpreter.RPN() Expression is nested too deeply (more than " + Str(MaxTreeDepth) +
                              " levels), position: " + Str(ParsePosition) + ".",
                          ParsePosition);
}

void TMOperator::PullOperands(TMItems& stack, TMSymbols*) {
    Operands.FreeAndClear();
    const int n = code_ != 0 ? op::BindingOf(ItemAccess::Code(this)).operands : NumberOfOperands();
    Operands.Reserve(n);
    int found = 0;
    auto missing = [&] {
        throw ESyntaxError("TMOperator.PullOperands() " + Str(n) + " operand(s) expected, but only " + Str(found) +
                               " found. Position: " + Str(ParsePosition) + ".",
                           ParsePosition);
    };
    if (ItemAccess::IsPlain(stack)) {
        // The same moves on the entries, and one notice of the change.
        TMItemVector& from = ItemAccess::Entries(stack);
        TMItemVector& to = Operands.items_;
        for (; found < n; ++found) {
            if (from.empty() || !from.back()->Is(ikExpression)) {
                OperandsChanged();
                missing();
            }
            to.push_back(from.back());
            from.pop_back();
        }
        std::reverse(to.begin(), to.end());
        OperandsChanged();
        UpdateDepth();
        return;
    }
    for (int k = 0; k < n; ++k) {
        if (stack.Empty() || !stack.Last()->Is(ikExpression)) missing();
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
    if (LeftChains()) return DumpChain(format);
    std::string text = DumpOperand(0, format);
    text += DumpOperator();
    return text + DumpOperand(1, format);
}

// ---------------------------------------------------------------- evaluation

namespace {

template <class R>
Variant Take(Variant&& v) {
    if constexpr (R::kToReal)
        return Variant(VarToReal(v));
    else
        return std::move(v);
}

// With its operand in place the operand pointer serves; otherwise the list
// is read, with the count check first where the class has one (it raises
// then).
template <op::Operation O>
Variant EvaluateUnary(TMOperator& node) {
    using R = op::RulesOf<O>;
    TMExpression* x = ItemAccess::First(&node);
    if (x == nullptr || ItemAccess::Second(&node) != nullptr) [[unlikely]] {
        if (R::kCountFirst && node.Operands.Count() != 1) node.CheckOperatorCount();
        x = ItemAccess::Operand(&node, 0);
    }
    Variant v = x->GetValue();
    if constexpr (requires { R::Check(node, *x, v); }) R::Check(node, *x, v);
    return R::Value(v);
}

// The left operand is evaluated completely before the right one, and counts
// against the memory budget meanwhile.
template <op::Operation O>
Variant EvaluateBinary(TMOperator& node) {
    using R = op::RulesOf<O>;
    TMExpression* left = ItemAccess::First(&node);
    TMExpression* right = ItemAccess::Second(&node);
    if (right == nullptr) [[unlikely]] {
        if (R::kCountFirst && node.Operands.Count() != 2) node.CheckOperatorCount();
        left = ItemAccess::Operand(&node, 0);
        Variant l = Take<R>(left->GetValue());
        guard::Held held(l);
        right = ItemAccess::Operand(&node, 1);
        Variant r = Take<R>(right->GetValue());
        return R::Value(l, r);
    }
    if constexpr (R::kChain != 0)
        if (ItemAccess::LeftChains(&node)) return ItemAccess::EvaluateChain(&node);
    if constexpr (R::kToReal) {
        // Numbers: nothing to hold meanwhile.
        const double l = VarToReal(left->GetValue());
        return R::Reals(l, VarToReal(right->GetValue()));
    } else {
        Variant l = left->GetValue();
        guard::Held held(l);
        Variant r = right->GetValue();
        return R::Value(l, r);
    }
}

// An operation's own error, which states no position, stands at the
// operator; errors of its operands have located themselves.
template <op::Operation O>
Variant Evaluate(TMOperator& node) {
    try {
        if constexpr (op::RulesOf<O>::kOperands == 1)
            return EvaluateUnary<O>(node);
        else
            return EvaluateBinary<O>(node);
    } catch (Exception& e) {
        e.Locate(node.ParsePosition);
        throw;
    }
}

}  // namespace

// Each class of the table: its row, and its value by the row's rules unless
// it has code of its own.
#define ZORVEX_VALUE_Table(Class) \
    Variant Class::GetValue() { return Evaluate<op::Operation::Class>(*this); }
#define ZORVEX_VALUE_Own(Class)
#define ZORVEX_DEFINE_OPERATOR(Class, lexeme, priority, associativity, operands, dump, evaluation, ...) \
    Class::Class() {                                                                                   \
        static_assert(std::is_base_of_v<TMBinaryOperator, Class> == ((operands) == 2));                 \
        code_ = static_cast<std::uint8_t>(op::Operation::Class);                                      \
        kinds_ |= op::RulesOf<op::Operation::Class>::kKinds;                                           \
    }                                                                                                  \
    ZORVEX_VALUE_##evaluation(Class)
#define ZORVEX_OPERATOR_ROW ZORVEX_DEFINE_OPERATOR
#include "Operators.def"
#undef ZORVEX_DEFINE_OPERATOR
#undef ZORVEX_VALUE_Table
#undef ZORVEX_VALUE_Own

// ---------------------------------------------------------------- assignments

void TMAssignValue::PullOperands(TMItems& stack, TMSymbols* symbols) {
    ZORVEX_ASSERT(symbols != nullptr, kUnit);
    TMOperator::PullOperands(stack, symbols);
}

Variant TMAssignValue::GetValue() {
    TMExpression* leftExpression = GetOperandExpressions(0);
    auto* left = ItemAs<TMVarRef>(leftExpression, ikVarRef);
    if (left == nullptr)
        throw ESyntaxError("TMAssignValue.PullOperands() Left operand (position: " +
                               Str(leftExpression ? leftExpression->ParsePosition : 0) +
                               ") of value assignment (postiton: " + Str(ParsePosition) +
                               ") must be variable reference, not \"" +
                               (leftExpression ? leftExpression->ClassName() : "Null") + "\".",
                           leftExpression ? leftExpression->ParsePosition : 0);
    TMathInterpreter* interp = left->Interpreter;
    ZORVEX_ASSERT(interp != nullptr, kUnit);
    Variant result = GetOperandValues(1);
    TMSymbols& table = host::Table(*interp);
    // A binding to a table variable always names the symbol the lookup finds.
    TMSymbol* symbol = left->SymbolReference;
    if (symbol == nullptr || symbol->List != &table || !symbol->IsVariable())
        symbol = table.FindSymbol(left->ReferencedSymbolName);
    TMSymbol* target = nullptr;
    if (symbol != nullptr) {
        if (!symbol->IsVariable())
            throw ETypeError("TMAssignValue.PullOperands() Left operand (position: " + Str(left->ParsePosition) +
                                 ") of value assignment (position: " + Str(ParsePosition) +
                                 ") must reference to variable, not to\"" + symbol->ClassName() + "\".",
                             left->ParsePosition);
        target = symbol;
    } else {
        Variant answer = result;
        host::UnknownSymbol(*interp, left->ReferencedSymbolName, Variant::Null(), answer);
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
        } catch (Exception& e) {
            // The cause keeps its class.
            e.SetMessage("TMAssignValue.GetValue() Error on position: " + Str(ParsePosition) +
                         ", while trying to assign a value to position: " + Str(left->ParsePosition) +
                         ". Error message: \"" + e.Message() + "\".");
            e.SetPosition(ParsePosition);
            throw;
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
    if (body->Is(ikAssignSymbolic))
        throw ESyntaxError("TMAssignSymbolic.PullOperands() Right operand of the symbolic assignment on position: " +
                               Str(ParsePosition) + " can not be a symbolic assignment.",
                           ParsePosition);
    // A definition inside a body has no text that reads back to the same
    // function (it would define again when loaded), so no body holds one.
    int nested = 0;
    WalkTree(body.get(), [&](TMItem* item) {
        if (nested == 0 && item->Is(ikAssignSymbolic)) nested = item->ParsePosition;
    });
    if (nested != 0)
        throw ESyntaxError("TMAssignSymbolic.PullOperands() Right operand of the symbolic assignment on position: " +
                               Str(ParsePosition) + " can not hold a symbolic assignment (position: " + Str(nested) +
                               ").",
                           ParsePosition);
    auto* leftExpression = static_cast<TMExpression*>(Operands.At(0));
    auto* left = leftExpression->Is(static_cast<TMItemKind>(ikVarRef | ikFunctionCall))
                     ? static_cast<TMSymbolRef*>(leftExpression)
                     : nullptr;
    if (left == nullptr)
        throw ESyntaxError("TMAssignSymbolic.PullOperands() Left operand (position: " +
                               Str(leftExpression->ParsePosition) + ", type = \"" + leftExpression->ClassName() +
                               "\") of symbolic assignment (position: " + Str(ParsePosition) +
                               ") must be symbol reference (var. ref. or function call).",
                           leftExpression->ParsePosition);
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
    } else if (auto* existing = ItemAs<TMFunction>(symbols->Get(index), ikFunction)) {
        host::CheckNotEvaluating(interp, "redefine a function");
        function = existing;
        function->ParsePosition = left->ParsePosition;
        function->ClearDefinition();
    } else {
        auto* symbol = static_cast<TMSymbol*>(symbols->Get(index));
        ZORVEX_ASSERT(symbol != nullptr && symbol->IsVariable(), kUnit);
        host::CheckNotEvaluating(interp, "redefine a variable as a function");
        ZORVEX_ASSERT(symbol->IsEqualIdentifier(name), kUnit);
        auto created = std::make_unique<TMFunction>();
        created->ParsePosition = left->ParsePosition;
        created->List = symbols;
        // The variable leaves its place to the function, or keeps it when
        // the function cannot take the name.
        std::unique_ptr<TMItem> var(symbol);
        symbols->Put(index, nullptr);
        struct PutBack {
            TMSymbols* list;
            int index;
            std::unique_ptr<TMItem>& var;
            ~PutBack() {
                if (var) list->Put(index, var.release());
            }
        } putBack{symbols, index, var};
        created->SetIdentifier(symbol->Identifier());
        var.reset();
        symbols->Put(index, created.get());
        function = created.release();
    }
    if (left->Is(ikVarRef)) {
        // The declaration is written as a call, parameters or not.
        const std::unique_ptr<TMItem> reference(left);
        std::unique_ptr<TMFunctionCall> call(new (host::BuildArena(interp)) TMFunctionCall());
        call->ParsePosition = left->ParsePosition;
        call->ReferencedSymbolName = left->ReferencedSymbolName;
        left = call.get();
        Operands.Put(0, call.release());
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
                throw ESyntaxError(
                    "TMAssignSymbolic.PullOperands() Invalid declaration of parameter on index: " + Str(i) +
                        ", position: " + Str(wrapper->ParsePosition) + ", for function: \"" +
                        Excerpt(function->Identifier()) + "\" (position: " + Str(function->ParsePosition) + ").",
                    wrapper->ParsePosition);
            auto param = std::make_unique<TMParam>();
            param->ParsePosition = ref->ParsePosition;
            param->List = &params;
            param->SetIdentifier(ref->ReferencedSymbolName);
            params.Add(param.get());
            param.release();
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
    treeDepth_ = ItemAccess::TreeDepth(Operands.At(0)) + 1;
    stackUnits_ = ItemAccess::StackUnits(Operands.At(0)) + guard::kHeavyUnits;
    if (error) std::rethrow_exception(error);
}

}  // namespace zorvex
