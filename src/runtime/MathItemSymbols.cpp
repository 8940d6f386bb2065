#include <algorithm>
#include <climits>
#include <exception>
#include <memory>

#include "ResourceLimits.h"
#include "ItemUtil.h"
#include "zorvex/Exception.h"
#include "ItemHost.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/MathItem.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {
const char* const kUnit = "Source/MathItem";
std::string Str(int v) { return std::to_string(v); }

// The host's answer for a name the table lacks; an error the handler
// raises, or a value it gives that is none of the language's, stands
// where the name does.
void AskHost(TMReference& ref, const Variant& parameters, Variant& value, const char* operation = nullptr) {
    try {
        host::UnknownSymbol(*ref.Interpreter, ref.ReferencedSymbolName, parameters, value);
        if (operation != nullptr && !value.IsEmpty()) CheckFinite(value, operation, ref.ReferencedSymbolName);
    } catch (Exception& e) {
        e.Locate(ref.ParsePosition);
        throw;
    }
}

}  // namespace


// ---------------------------------------------------------------- TMSymbol

TMSymbol::~TMSymbol() {
    if (List != nullptr) List->Forget(this);
}

std::string TMSymbol::Dump(TDumpFormat format) const {
    if (format & dfDetailed) return std::string(ClassName()) + "[\"" + identifier_ + "\"]";
    return identifier_;
}

bool TMSymbol::IsEqualIdentifier(const std::string& name) const {
    ZORVEX_ASSERT(List != nullptr && List->Interpreter != nullptr, kUnit);
    if (host::CaseSensitive(List->Interpreter)) return identifier_ == name;
    if (identifier_.size() != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char a = identifier_[i], b = name[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
        if (a != b) return false;
    }
    return true;
}

void TMSymbol::SetIdentifier(const std::string& name) {
    const std::string trimmed = Trim(name);
    if (trimmed.empty()) throw ESyntaxError("TMSymbol.SetIdentifier() Symbol identifier can't be empty string.");
    ZORVEX_ASSERT(List != nullptr, kUnit);
    TMParams* const params = Is(ikParam) ? ItemAccess::Params(List) : nullptr;
    if (Is(ikParam)) {
        ZORVEX_ASSERT(params != nullptr && params->Func != nullptr && params->Func->List != nullptr, kUnit);
        params->Interpreter = params->Func->List->Interpreter;
    }
    TMSymbol* other = List->FindSymbol(trimmed);
    if (other != nullptr && other != this)
        throw ESyntaxError("TMSymbol.SetIdentifier() Symbol: \"" + Excerpt(trimmed) +
                               "\" (position: " + Str(ParsePosition) + ") already exists.",
                           ParsePosition);
    const std::string old = identifier_;
    identifier_ = name;
    if (!old.empty()) {
        List->Renamed(this, old);
        // Prepared trees are not offered the new name: those bound to the
        // symbol keep it under its old one.
        if (host::IsTable(List->Interpreter, List)) host::SymbolRenamed(*List->Interpreter, old, name);
    }
    if (params != nullptr) {
        if (params->Func->Expression() != nullptr) RewireTree(params->Func->Expression(), this);
        return;
    }
    ZORVEX_ASSERT(IsVariable() || Is(ikFunction), kUnit);
    OfferToBodies(trimmed, old);
}



// ---------------------------------------------------------------- variables

// Compiled forms of prepared trees hold the address of the value: whoever
// frees a variable unbinds the prepared trees from it first, which makes
// their compiled forms stale.
TMCustomVar::~TMCustomVar() { NotifySymbolGone(this, ItemAccess::Params(List) != nullptr); }

TMVar::~TMVar() {
    if (List != nullptr && List->Interpreter != nullptr)
        host::ReleaseVariableMemory(*List->Interpreter, guard::HeldBytes(value_), guard::TextShared(value_));
}

// A variable counts its whole value; an old text that something else still
// holds is not freed by the assignment. A bound variable takes the value
// converted to the host's kind, or nothing when it does not convert.
void TMVar::SetValue(const Variant& value) {
    CheckFinite(value, "TMVar.SetValue", identifier_);
    if (binding_ != Binding::None) [[unlikely]] {
        if (binding_ == Binding::Constant)
            throw Exception("TMVar.SetValue() Symbol: \"" + Excerpt(identifier_) +
                            "\" is a constant; it can't be assigned.");
        if (binding_ == Binding::Real) {
            const double x = VarToReal(value);
            CheckFinite(Variant(x), "TMVar.SetValue", identifier_);
            *static_cast<double*>(address_) = x;
        } else {
            *static_cast<std::int32_t*>(address_) = VarToInt(value);
        }
        return;
    }
    TMathInterpreter* interp = List != nullptr ? List->Interpreter : nullptr;
    if (interp != nullptr && (value.IsString() || value.IsArray() || value_.IsString() || value_.IsArray())) {
        const std::size_t before = guard::HeldBytes(value_), after = guard::HeldBytes(value);
        if (guard::TextShared(value_)) {
            host::ChargeMemory(*interp, after);
            value_ = value;
            host::ReleaseVariableMemory(*interp, before, true);
            return;
        }
        if (after > before)
            host::ChargeMemory(*interp, after - before);
        else
            host::ReleaseMemory(*interp, before - after);
    }
    value_ = value;
}

// A host's double that is not finite is refused as the language refuses
// such values everywhere.
Variant TMVar::Current() const {
    switch (binding_) {
        case Binding::Real: {
            Variant v(*static_cast<const double*>(address_));
            CheckFinite(v, "TMVar.GetValue", identifier_);
            return v;
        }
        case Binding::Integer: return Variant(*static_cast<const std::int32_t*>(address_));
        default: return value_;
    }
}

Variant TMVar::GetValue() { return Current(); }

// The value held so far goes, with what it counted against the budget.
void TMVar::Unhold(Binding binding, void* address) {
    if (List != nullptr && List->Interpreter != nullptr)
        host::ReleaseVariableMemory(*List->Interpreter, guard::HeldBytes(value_), guard::TextShared(value_));
    value_ = Variant();
    binding_ = binding;
    address_ = address;
    valueHolder_ = false;
}

void TMVar::BindTo(double* address) { Unhold(Binding::Real, address); }

void TMVar::BindTo(std::int32_t* address) { Unhold(Binding::Integer, address); }

void TMVar::MakeConstant(const Variant& value) {
    CheckFinite(value, "TMVar.SetValue", identifier_);
    if (List != nullptr && List->Interpreter != nullptr) host::ChargeMemory(*List->Interpreter, guard::HeldBytes(value));
    Unhold(Binding::Constant, nullptr);
    value_ = value;
}

std::string TMVar::Dump(TDumpFormat format) const {
    std::string s = TMSymbol::Dump(format);
    const Variant bound = IsBound() ? Current() : Variant();
    const Variant& value = IsBound() ? bound : value_;
    if (format & dfDetailed) return s + "(" + QuotedVar(value) + ")";
    return s + "=" + QuotedVar(value, host::EscapeChar(List != nullptr ? List->Interpreter : nullptr));
}

// ---------------------------------------------------------------- functions

TMFunction::TMFunction() {
    kinds_ |= ikFunction;
    parameters_.Func = this;
}

// The body goes with the parameters, so they need not unbind it one by one
// (which would walk the body once per parameter): it is detached first.
// A compiled form that inlined the body must not run again.
void TMFunction::BodyChanging() noexcept {
    if (Is(ikCompiled) && List != nullptr && List->Interpreter != nullptr) host::CompiledFormsStale(*List->Interpreter);
}

TMFunction::~TMFunction() {
    BodyChanging();
    TMExpression* body = expression_;
    expression_ = nullptr;
    parameters_.FreeAndClear();
    if (List != nullptr) {
        List->UnregisterBody(this);
        NotifySymbolGone(this, false);
        // Our own body may refer to us (recursion); it dies right below.
    }
    DisposeItem(body);
}

void TMFunction::SetExpression(TMExpression* body) {
    BodyChanging();
    expression_ = body;
    if (List != nullptr) List->RegisterBody(this);
}

void TMFunction::ClearDefinition() {
    BodyChanging();
    TMExpression* body = expression_;
    expression_ = nullptr;
    parameters_.FreeAndClear();
    if (List != nullptr) List->UnregisterBody(this);
    DisposeItem(body);
}

std::string TMFunction::Dump(TDumpFormat format) const {
    std::string s = TMSymbol::Dump(format);
    std::string body = expression_ ? expression_->Dump(format) : std::string();
    if (format & dfDetailed) return s + "(" + DumpList(parameters_, format) + "){" + body + "}";
    return s + "(" + DumpList(parameters_, format) + "):=" + body;
}

Variant TMFunction::GetValue() {
    ZORVEX_ASSERT(List != nullptr && List->Interpreter != nullptr, kUnit);
    if (expression_ == nullptr)
        throw EUnknownName("TMFunction.GetValue() Function: \"" + Excerpt(identifier_) + "\" has no body.");
    host::FunctionLevel level(*List->Interpreter,
                              guard::EvalBytes(ItemAccess::StackUnits(expression_) + 2 * guard::kHeavyUnits));
    const std::string suffix =
        level.Outermost() ? " Most outer function: \"" + Excerpt(identifier_) + "\"." : std::string();
    if (level.Refused() == host::FunctionLevel::Refusal::TooDeep)
        throw ELimitError("TMFunction.GetValue() Function nesting level too deep (function: \"" + Excerpt(identifier_) +
                              "\", position: " + Str(ParsePosition) + ")." + suffix,
                          ParsePosition);
    if (level.Refused() == host::FunctionLevel::Refusal::NoStack)
        throw ELimitError("TMFunction.GetValue() Not enough stack space for function nesting level " +
                              std::to_string(level.Level()) + " (function: \"" + Excerpt(identifier_) +
                              "\", position: " + Str(ParsePosition) + ")." + suffix,
                          ParsePosition);
    try {
        return expression_->GetValue();
    } catch (const EInterrupted&) {
        throw;  // the message names no function: none failed
    } catch (Exception& e) {
        if (level.Outermost()) e.SetMessage(e.Message() + suffix);
        throw;
    }
}

// ---------------------------------------------------------------- references

std::string TMReference::Dump(TDumpFormat format) const {
    std::string text;
    if ((format & dfQualified) && SymbolReference != nullptr && SymbolReference->Is(ikParam)) {
        TMParams* params = ItemAccess::Params(SymbolReference->List);
        ZORVEX_ASSERT(params != nullptr && params->Func != nullptr, kUnit);
        text = params->Func->Identifier() + ".";
    }
    text += ReferencedSymbolName;
    if (format & dfDetailed) return std::string(ClassName()) + "<\"" + text + "\">";
    return text;
}

void TMReference::SetValue(const Variant& value) {
    if (SymbolReference != nullptr) {
        SymbolReference->SetValue(value);
        return;
    }
    Variant answer = value;
    ZORVEX_ASSERT(Interpreter != nullptr, kUnit);
    AskHost(*this, Variant::Null(), answer);
    if (!answer.IsEmpty())
        throw EUnknownName("TMReference.SetValue() Referenced symbol: \"" + Excerpt(ReferencedSymbolName) +
                               "\" is not defied, position: " + Str(ParsePosition) + ".",
                           ParsePosition);
}


Variant TMVarRef::GetValueSlow() {
    if (SymbolReference != nullptr) {
        // Bound while it took no parameters, or saved that way.
        if (IsFunctionWithParameters(SymbolReference)) RaiseMisfit(this, "GetValue");
        return SymbolReference->GetValue();
    }
    Variant result;
    ZORVEX_ASSERT(Interpreter != nullptr, kUnit);
    AskHost(*this, Variant::Null(), result, "TMVarRef.GetValue");
    if (result.IsEmpty())
        throw EUnknownName("TMVarRef.GetValue() Referenced symbol: \"" + Excerpt(ReferencedSymbolName) +
                               "\" is not defied, position: " + Str(ParsePosition) + ".",
                           ParsePosition);
    return result;
}

// ---------------------------------------------------------------- parameter expressions

TMParamExpression::~TMParamExpression() { DisposeItem(Expression); }

std::string TMParamExpression::Dump(TDumpFormat format) const {
    std::string inner = Expression ? Expression->Dump(format) : std::string("Null");
    if (format & dfDetailed) return std::string(ClassName()) + "{" + inner + "}";
    return inner;
}

Variant TMParamExpression::GetValue() {
    ZORVEX_ASSERT(Expression != nullptr, kUnit);
    return Expression->GetValue();
}

// ---------------------------------------------------------------- calls

TMFunctionCall::~TMFunctionCall() { DisposeItems(ParamExpressions); }

std::string TMFunctionCall::Dump(TDumpFormat format) const {
    return TMReference::Dump(format) + "(" + DumpList(ParamExpressions, format) + ")";
}

void TMFunctionCall::PullParamExpressions(TMItems& stack, TMSymbols* symbols) {
    ItemArena* arena = host::BuildArena(symbols != nullptr ? symbols->Interpreter : nullptr);
    ParamExpressions.FreeAndClear();
    int depth = 0, units = 0;
    for (;;) {
        ZORVEX_ASSERT(!stack.Empty(), kUnit);
        std::unique_ptr<TMItem> top(stack.Pop());
        if (top->Is(ikExpression)) {
            std::unique_ptr<TMParamExpression> wrapper(new (arena) TMParamExpression());
            auto* e = static_cast<TMExpression*>(top.release());
            wrapper->ParsePosition = e->ParsePosition;
            wrapper->Expression = e;
            ItemAccess::SetShape(wrapper.get(), ItemAccess::TreeDepth(e) + 1,
                                 ItemAccess::StackUnits(e) + guard::kHeavyUnits);
            depth = std::max(depth, ItemAccess::TreeDepth(wrapper.get()));
            units = std::max(units, ItemAccess::StackUnits(wrapper.get()));
            ParamExpressions.Add(wrapper.get());
            wrapper.release();
            continue;
        }
        if (top->Is(ikLeftBracket)) break;  // the call's own bracket has done its work
        const int index = ParamExpressions.Count() - 1;
        const std::string position = Str(top->ParsePosition);
        const std::string className = top->ClassName();
        throw ESyntaxError(
            "TMFunctionCall.PullParamExpressions() Invalid parameter expression on index: " + Str(index) +
                " (position: " + position + ", type: \"" + className + "\") for function call: \"" +
                Excerpt(ReferencedSymbolName) + "\" (position :" + Str(ParsePosition) + ").",
            top->ParsePosition);
    }
    ParamExpressions.Reverse();
    treeDepth_ = depth + 1;
    stackUnits_ = units + guard::kHeavyUnits;
    if (treeDepth_ > MaxTreeDepth)
        throw ELimitError("TMathInterpreter.RPN() Expression is nested too deeply (more than " + Str(MaxTreeDepth) +
                              " levels), position: " + Str(ParsePosition) + ".",
                          ParsePosition);
}

void RaiseParameterCount(const TMFunctionCall& call, int n, const std::string& expected) {
    throw ETypeError("TMFunctionCall.GetValue() Incorrect number of parameter expressions: " + Str(n) +
                         ", in function call \"" + Excerpt(call.ReferencedSymbolName) +
                         "\", position: " + Str(call.ParsePosition) + ". Expected: " + expected + " parameter(s).",
                     call.ParsePosition);
}

Variant TMFunctionCall::GetValue() {
    const int n = ParamExpressions.Count();
    if (SymbolReference != nullptr) {
        // The binding holds even where the letter case rule changed since.
        auto* function = ItemAs<TMFunction>(SymbolReference, ikFunction);
        if (function == nullptr) throw EInvalidCast("Invalid class typecast", ParsePosition);
        TMParams& params = function->Parameters();
        const int m = params.Count();
        if (n != m) RaiseParameterCount(*this, n, Str(m));
        if (n == 0) return function->GetValue();
        Scratch<Variant> scratch(static_cast<std::size_t>(n));
        Variant* saved = scratch.data();
        // The parameters get their old values back when the call ends,
        // normally or by an error; the frame's values count against the
        // memory budget while it lives, each from when it is bound.
        struct Frame {
            TMParams& params;
            Variant* saved;
            TMathInterpreter* interp;
            int bound = 0;
            std::size_t charged = 0;
            ~Frame() {
                for (int i = 0; i < bound; ++i) static_cast<TMParam*>(params.At(i))->Assign(std::move(saved[i]));
                if (charged != 0) host::ReleaseMemory(*interp, charged);
            }
            void Charge(std::size_t bytes) {
                if (interp == nullptr || bytes == 0) return;
                host::ChargeMemory(*interp, bytes);
                charged += bytes;
            }
        } frame{params, saved, function->List != nullptr ? function->List->Interpreter : nullptr};
        frame.Charge(static_cast<std::size_t>(n) * sizeof(Variant));
        for (int i = 0; i < n; ++i) {
            auto* param = static_cast<TMParam*>(params.At(i));
            // The argument still sees the parameter's old value; a call inside
            // it restores that value before it returns, so the old value can
            // be moved aside afterwards instead of copied.
            Variant v = static_cast<TMParamExpression*>(ParamExpressions.At(i))->GetValue();
            frame.Charge(guard::OwnBytes(v));
            saved[i] = param->Take();
            param->Assign(std::move(v));
            frame.bound = i + 1;
        }
        return function->GetValue();
    }
    ZORVEX_ASSERT(Interpreter != nullptr, kUnit);
    if (const HostFunctionEntry* entry = host::FindHostFunction(*Interpreter, ReferencedSymbolName, host_, hostEpoch_))
        return host::CallHostFunction(*Interpreter, *entry, *this);
    Variant args = Variant::Array(static_cast<std::size_t>(n));
    guard::Held held;
    for (int i = 0; i < n; ++i) {
        Variant v = static_cast<TMParamExpression*>(ParamExpressions.At(i))->GetValue();
        held.Add(v);
        args.ArrayPut(i, std::move(v));
    }
    Variant result;
    ZORVEX_ASSERT(Interpreter != nullptr, kUnit);
    AskHost(*this, args, result, "TMFunctionCall.GetValue");
    if (result.IsEmpty())
        throw EUnknownName("TMFunctionCall.GetValue() Undefined function reference: \"" +
                               Excerpt(ReferencedSymbolName) + "\", position: " + Str(ParsePosition) + ".",
                           ParsePosition);
    return result;
}

}  // namespace zorvex
