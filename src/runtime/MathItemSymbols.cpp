#include <algorithm>
#include <climits>
#include <exception>
#include <memory>

#include "ResourceLimits.h"
#include "ItemUtil.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/MathItem.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {
const char* const kUnit = "Source/MathItem";
std::string Str(int v) { return std::to_string(v); }

// The bodies that can refer to name `a` or `b`, each once; in table order
// when asked.
std::vector<TMFunction*> BodiesMentioning(const TMSymbols* list, const std::string& a, const std::string& b,
                                          bool tableOrder) {
    std::vector<TMFunction*> bodies = list->BodiesMentioning(a);
    if (UpperCase(a) != UpperCase(b))
        for (TMFunction* f : list->BodiesMentioning(b)) bodies.push_back(f);
    for (TMFunction* f : list->BodiesMentioning("")) bodies.push_back(f);
    std::sort(bodies.begin(), bodies.end());
    bodies.erase(std::unique(bodies.begin(), bodies.end()), bodies.end());
    if (!tableOrder) return bodies;
    std::vector<std::pair<int, TMFunction*>> ordered;
    for (TMFunction* f : bodies) {
        const int slot = list->SlotOf(f);
        ordered.emplace_back(slot < 0 ? INT32_MAX : slot, f);
    }
    std::sort(ordered.begin(), ordered.end());
    bodies.clear();
    for (auto& entry : ordered) bodies.push_back(entry.second);
    return bodies;
}
}  // namespace

bool OfferSymbol(TMReference* ref, TMSymbol* symbol) {
    if (ref->Is(ikVarRef)) {
        if (!IsVarRefTarget(symbol)) return false;
        const bool misfit = IsFunctionWithParameters(symbol) && symbol->IsEqualIdentifier(ref->ReferencedSymbolName);
        ref->TMReference::Rewire(symbol);
        return misfit;
    }
    ref->TMReference::Rewire(symbol);
    return false;
}

void RaiseMisfit(const TMReference* ref, const char* operation) {
    throw Exception("TMVarRef." + std::string(operation) + "() Reference: \"" + Excerpt(ref->ReferencedSymbolName) +
                    "\" (position: " + Str(ref->ParsePosition) + ") must point to parameterless function.");
}

void RewireTree(TMExpression* tree, TMSymbol* symbol) {
    if (symbol == nullptr) throw Exception("Rewire() No symbol to offer.");
    const TMReference* misfit = nullptr;
    WalkTree(tree, [&](TMItem* item) {
        if (item->Is(ikReference) && OfferSymbol(static_cast<TMReference*>(item), symbol) && misfit == nullptr)
            misfit = static_cast<TMReference*>(item);
    });
    if (misfit == nullptr) return;
    TMSymbols* list = symbol->List;
    const bool loading = list != nullptr && list->Interpreter != nullptr && list->Interpreter->LoadingSymbols();
    if (!loading) RaiseMisfit(misfit, "Rewire");
}

void UnwireTree(TMExpression* tree, TMSymbol* symbol) {
    if (symbol == nullptr) return;
    WalkTree(tree, [&](TMItem* item) {
        if (item->Is(ikReference)) static_cast<TMReference*>(item)->TMReference::Unwire(symbol);
    });
}

void SetTreeInterpreter(TMExpression* tree, TMathInterpreter* interpreter) {
    if (interpreter == nullptr) throw Exception("SetMathInterpreter() No interpreter given.");
    WalkTree(tree, [&](TMItem* item) { AttachInterpreter(item, interpreter); });
}

// Literals too: a dump writes their strings for the interpreter's escape
// character, wherever in a tree they stand.
void AttachInterpreter(TMItem* item, TMathInterpreter* interpreter) {
    if (item->Is(ikReference))
        static_cast<TMReference*>(item)->Interpreter = interpreter;
    else if (item->Is(ikIntrinsic))
        static_cast<TMIntrinsicFunctionCall*>(item)->Interpreter = interpreter;
    else if (item->Is(ikLiteral))
        static_cast<TMLiteral*>(item)->Interpreter = interpreter;
}

bool IsVarRefTarget(const TMSymbol* symbol) { return symbol->IsValueHolder() || symbol->Is(ikFunction); }

bool IsFunctionWithParameters(const TMSymbol* symbol) {
    return symbol->Is(ikFunction) && static_cast<const TMFunction*>(symbol)->Parameters().Count() > 0;
}

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
    if (List->Interpreter->CaseSensitiveSymbols()) return identifier_ == name;
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
    if (trimmed.empty()) throw Exception("TMSymbol.SetIdentifier() Symbol identifier can't be empty string.");
    ZORVEX_ASSERT(List != nullptr, kUnit);
    if (dynamic_cast<TMParam*>(this) != nullptr) {
        auto* params = dynamic_cast<TMParams*>(List);
        ZORVEX_ASSERT(params != nullptr && params->Func != nullptr && params->Func->List != nullptr, kUnit);
        params->Interpreter = params->Func->List->Interpreter;
    }
    TMSymbol* other = List->FindSymbol(trimmed);
    if (other != nullptr && other != this)
        throw Exception("TMSymbol.SetIdentifier() Symbol: \"" + Excerpt(trimmed) + "\" (position: " + Str(ParsePosition) +
                        ") already exists.");
    const std::string old = identifier_;
    identifier_ = name;
    if (!old.empty()) {
        List->Renamed(this, old);
        // Prepared trees are not offered the new name: those bound to the
        // symbol keep it under its old one.
        if (List->Interpreter != nullptr && List == &List->Interpreter->Symbols())
            List->Interpreter->SymbolRenamed(old, name);
    }
    if (dynamic_cast<TMParam*>(this) != nullptr) {
        auto* params = static_cast<TMParams*>(List);
        if (params->Func->Expression() != nullptr) RewireTree(params->Func->Expression(), this);
        return;
    }
    ZORVEX_ASSERT(dynamic_cast<TMVar*>(this) || dynamic_cast<TMFunction*>(this), kUnit);
    OfferToBodies(trimmed, old);
}

void TMSymbol::OfferToBodies(const std::string& trimmed, const std::string& oldIdentifier) {
    // Only a function that takes parameters makes a misfit, and only then
    // does the order count: the first misfit in table order is reported.
    const bool misfits = IsFunctionWithParameters(this);
    auto offer = [&](TMFunction* f) {
        const TMParams& params = f->Parameters();
        if (f->Expression() != nullptr && (params.Empty() || !params.ParamExists(trimmed)))
            RewireTree(f->Expression(), this);
    };
    // A new name, the usual case, visits the bodies where they are listed.
    if (!misfits && oldIdentifier.empty()) {
        for (TMFunction* f : List->BodiesMentioning(identifier_)) offer(f);
        for (TMFunction* f : List->BodiesMentioning("")) offer(f);
        return;
    }
    const std::vector<TMFunction*> bodies = BodiesMentioning(List, identifier_, oldIdentifier, misfits);
    // Every body learns of the name; the first misfit is reported afterwards.
    std::exception_ptr error;
    for (TMFunction* f : bodies) {
        try {
            offer(f);
        } catch (const Exception&) {
            if (!error) error = std::current_exception();
        }
    }
    // A rename carried by the references changes the names the bodies mention.
    if (UpdateReferences && !oldIdentifier.empty())
        for (TMFunction* f : bodies) List->RegisterBody(f);
    if (error) std::rethrow_exception(error);
}

// Tells the bodies that may refer to a dying symbol, and the interpreter's
// prepared trees, to let go of it.
static void NotifySymbolGone(TMSymbol* symbol, bool isParam) {
    TMSymbols* list = symbol->List;
    if (list == nullptr) return;
    if (isParam) {
        auto* params = dynamic_cast<TMParams*>(list);
        if (params != nullptr && params->Func != nullptr && params->Func->Expression() != nullptr)
            UnwireTree(params->Func->Expression(), symbol);
        return;
    }
    // Unwiring raises nothing, so the order of the bodies does not matter.
    for (const std::string& name : {symbol->Identifier(), std::string()})
        for (TMFunction* f : list->BodiesMentioning(name))
            if (f != symbol && f->Expression() != nullptr) UnwireTree(f->Expression(), symbol);
    if (list->Interpreter != nullptr && list == &list->Interpreter->Symbols())
        list->Interpreter->SymbolRemoved(symbol);
}

// ---------------------------------------------------------------- variables

// Compiled forms of prepared trees hold the address of the value: whoever
// frees a variable unbinds the prepared trees from it first, which makes
// their compiled forms stale.
TMCustomVar::~TMCustomVar() { NotifySymbolGone(this, dynamic_cast<TMParams*>(List) != nullptr); }

TMVar::~TMVar() {
    if (List != nullptr && List->Interpreter != nullptr)
        List->Interpreter->ReleaseVariableMemory(guard::HeldBytes(value_), guard::TextShared(value_));
}

// A variable counts its whole value; an old text that something else still
// holds is not freed by the assignment.
void TMVar::SetValue(const Variant& value) {
    CheckFinite(value, "TMVar.SetValue", identifier_);
    TMathInterpreter* interp = List != nullptr ? List->Interpreter : nullptr;
    if (interp != nullptr && (value.IsString() || value.IsArray() || value_.IsString() || value_.IsArray())) {
        const std::size_t before = guard::HeldBytes(value_), after = guard::HeldBytes(value);
        if (guard::TextShared(value_)) {
            interp->ChargeMemory(after);
            value_ = value;
            interp->ReleaseVariableMemory(before, true);
            return;
        }
        if (after > before)
            interp->ChargeMemory(after - before);
        else
            interp->ReleaseMemory(before - after);
    }
    value_ = value;
}

std::string TMVar::Dump(TDumpFormat format) const {
    std::string s = TMSymbol::Dump(format);
    if (format & dfDetailed) return s + "(" + QuotedVar(value_) + ")";
    const TMathInterpreter* interp = List != nullptr ? List->Interpreter : nullptr;
    return s + "=" + QuotedVar(value_, interp != nullptr ? interp->EscapeChar() : '\0');
}

// ---------------------------------------------------------------- functions

TMFunction::TMFunction() {
    kinds_ |= ikFunction;
    parameters_.Func = this;
}

// The body goes with the parameters, so they need not unbind it one by one
// (which would walk the body once per parameter): it is detached first.
TMFunction::~TMFunction() {
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
    expression_ = body;
    if (List != nullptr) List->RegisterBody(this);
}

void TMFunction::ClearDefinition() {
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
        throw Exception("TMFunction.GetValue() Function: \"" + Excerpt(identifier_) + "\" has no body.");
    TMathInterpreter* interp = List->Interpreter;
    const bool outermost = interp->FunctionNestingLevel == 0;
    const std::string suffix = outermost ? " Most outer function: \"" + Excerpt(identifier_) + "\"." : std::string();
    if (interp->FunctionNestingLevel >= interp->MaxFunctionNesting())
        throw Exception("TMFunction.GetValue() Function nesting level too deep (function: \"" + Excerpt(identifier_) +
                        "\", position: " + Str(ParsePosition) + ")." + suffix);
    if (!interp->StackFits(guard::EvalBytes(expression_->StackUnits + 2 * guard::kHeavyUnits)))
        throw Exception("TMFunction.GetValue() Not enough stack space for function nesting level " +
                        std::to_string(interp->FunctionNestingLevel + 1) + " (function: \"" + Excerpt(identifier_) +
                        "\", position: " + Str(ParsePosition) + ")." + suffix);
    interp->Guard().Check();
    ++interp->FunctionNestingLevel;
    try {
        Variant result = expression_->GetValue();
        --interp->FunctionNestingLevel;
        return result;
    } catch (const EInterrupted&) {
        --interp->FunctionNestingLevel;  // the message names no function: none failed
        throw;
    } catch (Exception& e) {
        --interp->FunctionNestingLevel;
        if (interp->FunctionNestingLevel == 0)
            e.SetMessage(e.Message() + " Most outer function: \"" + Excerpt(identifier_) + "\".");
        throw;
    } catch (...) {
        --interp->FunctionNestingLevel;
        throw;
    }
}

// ---------------------------------------------------------------- references

std::string TMReference::Dump(TDumpFormat format) const {
    std::string text;
    if ((format & dfQualified) && dynamic_cast<TMParam*>(SymbolReference) != nullptr) {
        auto* params = dynamic_cast<TMParams*>(SymbolReference->List);
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
    Interpreter->DoUnknownSymbol(ReferencedSymbolName, Variant::Null(), answer);
    if (!answer.IsEmpty())
        throw Exception("TMReference.SetValue() Referenced symbol: \"" + Excerpt(ReferencedSymbolName) +
                        "\" is not defied, position: " + Str(ParsePosition) + ".");
}

void TMReference::Rewire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (ReferencedSymbolName.empty()) ReferencedSymbolName = symbol->Identifier();
    if (symbol->IsEqualIdentifier(ReferencedSymbolName)) {
        if (Is(ikCompiled) && symbol != SymbolReference) TreeChanged(this);
        SymbolReference = symbol;
    } else if (symbol == SymbolReference) {
        if (Is(ikCompiled)) TreeChanged(this);
        if (symbol->UpdateReferences)
            ReferencedSymbolName = symbol->Identifier();
        else
            SymbolReference = nullptr;
    }
}

void TMReference::Unwire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (symbol != SymbolReference) return;
    if (Is(ikCompiled)) TreeChanged(this);
    SymbolReference = nullptr;
}

void TMReference::SetMathInterpreter(TMathInterpreter* interpreter) {
    ZORVEX_ASSERT(interpreter != nullptr, kUnit);
    Interpreter = interpreter;
}

void TMVarRef::Rewire(TMSymbol* symbol) { RewireTree(this, symbol); }

Variant TMVarRef::GetValueSlow() {
    if (SymbolReference != nullptr) {
        // Bound while it took no parameters, or saved that way.
        if (IsFunctionWithParameters(SymbolReference)) RaiseMisfit(this, "GetValue");
        return SymbolReference->GetValue();
    }
    Variant result;
    ZORVEX_ASSERT(Interpreter != nullptr, kUnit);
    Interpreter->DoUnknownSymbol(ReferencedSymbolName, Variant::Null(), result);
    if (result.IsEmpty())
        throw Exception("TMVarRef.GetValue() Referenced symbol: \"" + Excerpt(ReferencedSymbolName) +
                        "\" is not defied, position: " + Str(ParsePosition) + ".");
    CheckFinite(result, "TMVarRef.GetValue", ReferencedSymbolName);
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

void TMParamExpression::Rewire(TMSymbol* symbol) { RewireTree(this, symbol); }

void TMParamExpression::Unwire(TMSymbol* symbol) { UnwireTree(this, symbol); }

void TMParamExpression::SetMathInterpreter(TMathInterpreter* interpreter) { SetTreeInterpreter(this, interpreter); }

// ---------------------------------------------------------------- calls

TMFunctionCall::~TMFunctionCall() { DisposeItems(ParamExpressions); }

std::string TMFunctionCall::Dump(TDumpFormat format) const {
    return TMReference::Dump(format) + "(" + DumpList(ParamExpressions, format) + ")";
}

void TMFunctionCall::Rewire(TMSymbol* symbol) { RewireTree(this, symbol); }

void TMFunctionCall::Unwire(TMSymbol* symbol) { UnwireTree(this, symbol); }

void TMFunctionCall::SetMathInterpreter(TMathInterpreter* interpreter) { SetTreeInterpreter(this, interpreter); }

void TMFunctionCall::PullParamExpressions(TMItems& stack, TMSymbols* symbols) {
    ItemArena* arena = symbols != nullptr && symbols->Interpreter != nullptr ? symbols->Interpreter->BuildArena() : nullptr;
    ParamExpressions.FreeAndClear();
    int depth = 0, units = 0;
    for (;;) {
        ZORVEX_ASSERT(!stack.Empty(), kUnit);
        TMItem* top = stack.Pop();
        if (auto* e = ItemAs<TMExpression>(top, ikExpression)) {
            std::unique_ptr<TMParamExpression> wrapper(new (arena) TMParamExpression());
            wrapper->ParsePosition = e->ParsePosition;
            wrapper->Expression = e;
            wrapper->TreeDepth = e->TreeDepth + 1;
            wrapper->StackUnits = e->StackUnits + guard::kHeavyUnits;
            depth = std::max(depth, wrapper->TreeDepth);
            units = std::max(units, wrapper->StackUnits);
            ParamExpressions.Add(wrapper.release());
            continue;
        }
        if (top->Is(ikLeftBracket)) {
            delete top;
            break;
        }
        const int index = ParamExpressions.Count() - 1;
        const std::string position = Str(top->ParsePosition);
        const std::string className = top->ClassName();
        delete top;
        throw Exception("TMFunctionCall.PullParamExpressions() Invalid parameter expression on index: " + Str(index) +
                        " (position: " + position + ", type: \"" + className + "\") for function call: \"" +
                        Excerpt(ReferencedSymbolName) + "\" (position :" + Str(ParsePosition) + ").");
    }
    ParamExpressions.Reverse();
    TreeDepth = depth + 1;
    StackUnits = units + guard::kHeavyUnits;
    if (TreeDepth > MaxTreeDepth)
        throw Exception("TMathInterpreter.RPN() Expression is nested too deeply (more than " + Str(MaxTreeDepth) +
                        " levels), position: " + Str(ParsePosition) + ".");
}

Variant TMFunctionCall::GetValue() {
    const int n = ParamExpressions.Count();
    if (SymbolReference != nullptr) {
        // The binding holds even where the letter case rule changed since.
        auto* function = ItemAs<TMFunction>(SymbolReference, ikFunction);
        if (function == nullptr) throw EInvalidCast("Invalid class typecast");
        TMParams& params = function->Parameters();
        const int m = params.Count();
        if (n != m)
            throw Exception("TMFunctionCall.GetValue() Incorrect number of parameter expressions: " + Str(n) +
                            ", in function call \"" + Excerpt(ReferencedSymbolName) + "\", position: " + Str(ParsePosition) +
                            ". Expected: " + Str(m) + " parameter(s).");
        if (n == 0) return function->GetValue();
        // Saved values stay on the stack for the usual small parameter counts.
        constexpr int kInline = 6;
        Variant inlineSaved[kInline];
        std::unique_ptr<Variant[]> heapSaved;
        Variant* saved = inlineSaved;
        if (n > kInline) {
            heapSaved.reset(new Variant[static_cast<std::size_t>(n)]);
            saved = heapSaved.get();
        }
        int bound = 0;
        // The frame's values count against the memory budget while it lives.
        TMathInterpreter* interp = function->List != nullptr ? function->List->Interpreter : nullptr;
        std::size_t charged = 0;
        auto restore = [&] {
            for (int i = 0; i < bound; ++i)
                static_cast<TMParam*>(params.At(i))->Assign(std::move(saved[i]));
            if (charged != 0) interp->ReleaseMemory(charged);
        };
        // Each value counts from when it is bound, while the next are made.
        auto charge = [&](std::size_t bytes) {
            if (interp == nullptr || bytes == 0) return;
            interp->ChargeMemory(bytes);
            charged += bytes;
        };
        try {
            charge(static_cast<std::size_t>(n) * sizeof(Variant));
            for (int i = 0; i < n; ++i) {
                auto* param = static_cast<TMParam*>(params.At(i));
                // The argument still sees the parameter's old value; a call
                // inside it restores that value before it returns, so the old
                // value can be moved aside afterwards instead of copied.
                Variant v = static_cast<TMParamExpression*>(ParamExpressions.At(i))->GetValue();
                charge(guard::OwnBytes(v));
                saved[i] = param->Take();
                param->Assign(std::move(v));
                bound = i + 1;
            }
            Variant result = function->GetValue();
            restore();
            return result;
        } catch (...) {
            restore();
            throw;
        }
    }
    Variant args = Variant::Array(static_cast<std::size_t>(n));
    guard::Held held;
    for (int i = 0; i < n; ++i) {
        Variant v = static_cast<TMParamExpression*>(ParamExpressions.At(i))->GetValue();
        held.Add(v);
        args.ArrayPut(i, std::move(v));
    }
    Variant result;
    ZORVEX_ASSERT(Interpreter != nullptr, kUnit);
    Interpreter->DoUnknownSymbol(ReferencedSymbolName, args, result);
    if (result.IsEmpty())
        throw Exception("TMFunctionCall.GetValue() Undefined function reference: \"" + Excerpt(ReferencedSymbolName) +
                        "\", position: " + Str(ParsePosition) + ".");
    CheckFinite(result, "TMFunctionCall.GetValue", ReferencedSymbolName);
    return result;
}

}  // namespace zorvex
