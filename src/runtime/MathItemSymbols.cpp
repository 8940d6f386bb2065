#include <algorithm>
#include <memory>

#include "ItemUtil.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathItem.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {
const char* const kUnit = "Source/MathItem";
std::string Str(int v) { return std::to_string(v); }

// Position of a function in its list, for visiting bodies in table order.
int TableOrder(const TMSymbols* list, TMFunction* function) {
    int index = list->FindSymbolIndex(function->Identifier());
    if (index >= 0 && list->At(index) == function) return index;
    index = list->IndexOf(function);
    return index < 0 ? list->Count() : index;
}

std::vector<TMFunction*> BodiesInTableOrder(const TMSymbols* list, const std::string& a, const std::string& b) {
    std::vector<TMFunction*> bodies = list->BodiesMentioning(a);
    if (UpperCase(a) != UpperCase(b))
        for (TMFunction* f : list->BodiesMentioning(b)) bodies.push_back(f);
    for (TMFunction* f : list->BodiesMentioning("")) bodies.push_back(f);
    std::sort(bodies.begin(), bodies.end());
    bodies.erase(std::unique(bodies.begin(), bodies.end()), bodies.end());
    std::vector<std::pair<int, TMFunction*>> ordered;
    for (TMFunction* f : bodies) ordered.emplace_back(TableOrder(list, f), f);
    std::sort(ordered.begin(), ordered.end());
    bodies.clear();
    for (auto& entry : ordered) bodies.push_back(entry.second);
    return bodies;
}
}  // namespace

bool IsVarRefTarget(const TMSymbol* symbol) { return symbol->IsValueHolder() || symbol->Is(ikFunction); }

bool IsFunctionWithParameters(const TMSymbol* symbol) {
    return symbol->Is(ikFunction) && static_cast<const TMFunction*>(symbol)->Parameters().Count() > 0;
}

// ---------------------------------------------------------------- TMSymbol

TMSymbol::~TMSymbol() = default;

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
        throw Exception("TMSymbol.SetIdentifier() Symbol: \"" + trimmed + "\" (position: " + Str(ParsePosition) +
                        ") already exists.");
    const std::string old = identifier_;
    identifier_ = name;
    if (!old.empty()) List->InvalidateIndex();  // a rename changes the key
    if (dynamic_cast<TMParam*>(this) != nullptr) {
        auto* params = static_cast<TMParams*>(List);
        ZORVEX_ASSERT(params->Func->Expression() != nullptr, kUnit);
        params->Func->Expression()->Rewire(this);
        return;
    }
    ZORVEX_ASSERT(dynamic_cast<TMVar*>(this) || dynamic_cast<TMFunction*>(this), kUnit);
    OfferToBodies(trimmed, old);
}

void TMSymbol::OfferToBodies(const std::string& trimmed, const std::string& oldIdentifier) {
    std::vector<TMFunction*> bodies = BodiesInTableOrder(List, identifier_, oldIdentifier);
    for (TMFunction* f : bodies) {
        if (f->Expression() == nullptr || f->Parameters().ParamExists(trimmed)) continue;
        f->Expression()->Rewire(this);
    }
    // A rename carried by the references changes the names the bodies mention.
    if (UpdateReferences && !oldIdentifier.empty())
        for (TMFunction* f : bodies) List->RegisterBody(f);
}

// Tells the bodies that may refer to a dying symbol, and the interpreter's
// prepared trees, to let go of it.
static void NotifySymbolGone(TMSymbol* symbol, bool isParam) {
    TMSymbols* list = symbol->List;
    if (list == nullptr) return;
    if (isParam) {
        auto* params = dynamic_cast<TMParams*>(list);
        if (params != nullptr && params->Func != nullptr && params->Func->Expression() != nullptr)
            params->Func->Expression()->Unwire(symbol);
        return;
    }
    // Unwiring raises nothing, so the order of the bodies does not matter.
    std::vector<TMFunction*> bodies = list->BodiesMentioning(symbol->Identifier());
    for (TMFunction* f : list->BodiesMentioning("")) bodies.push_back(f);
    for (TMFunction* f : bodies)
        if (f != symbol && f->Expression() != nullptr) f->Expression()->Unwire(symbol);
    if (list->Interpreter != nullptr && list == &list->Interpreter->Symbols())
        list->Interpreter->SymbolRemoved(symbol);
}

// ---------------------------------------------------------------- variables

TMCustomVar::~TMCustomVar() { NotifySymbolGone(this, dynamic_cast<TMParams*>(List) != nullptr); }

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

TMFunction::~TMFunction() {
    parameters_.FreeAndClear();
    if (List != nullptr) {
        List->UnregisterBody(this);
        NotifySymbolGone(this, false);
        // Our own body may refer to us (recursion); it dies right below.
    }
    delete expression_;
    expression_ = nullptr;
}

void TMFunction::SetExpression(TMExpression* body) {
    expression_ = body;
    if (List != nullptr) List->RegisterBody(this);
}

void TMFunction::ClearDefinition() {
    parameters_.FreeAndClear();
    if (List != nullptr) List->UnregisterBody(this);
    delete expression_;
    expression_ = nullptr;
}

std::string TMFunction::Dump(TDumpFormat format) const {
    std::string s = TMSymbol::Dump(format);
    std::string body = expression_ ? expression_->Dump(format) : std::string();
    if (format & dfDetailed) return s + "(" + DumpList(parameters_, format) + "){" + body + "}";
    return s + "(" + DumpList(parameters_, format) + "):=" + body;
}

Variant TMFunction::GetValue() {
    ZORVEX_ASSERT(List != nullptr && List->Interpreter != nullptr, kUnit);
    ZORVEX_ASSERT(expression_ != nullptr, kUnit);
    TMathInterpreter* interp = List->Interpreter;
    const bool outermost = interp->FunctionNestingLevel == 0;
    const std::string suffix = outermost ? " Most outer function: \"" + identifier_ + "\"." : std::string();
    if (interp->FunctionNestingLevel >= interp->MaxFunctionNesting())
        throw Exception("TMFunction.GetValue() Function nesting level too deep (function: \"" + identifier_ +
                        "\", position: " + Str(ParsePosition) + ")." + suffix);
    if (interp->StackLow())
        throw Exception("TMFunction.GetValue() Not enough stack space for function nesting level " +
                        std::to_string(interp->FunctionNestingLevel + 1) + " (function: \"" + identifier_ +
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
            e.SetMessage(e.Message() + " Most outer function: \"" + identifier_ + "\".");
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
        throw Exception("TMReference.SetValue() Referenced symbol: \"" + ReferencedSymbolName +
                        "\" is not defied, position: " + Str(ParsePosition) + ".");
}

void TMReference::Rewire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (ReferencedSymbolName.empty()) ReferencedSymbolName = symbol->Identifier();
    if (symbol->IsEqualIdentifier(ReferencedSymbolName)) {
        SymbolReference = symbol;
    } else if (symbol == SymbolReference) {
        if (symbol->UpdateReferences)
            ReferencedSymbolName = symbol->Identifier();
        else
            SymbolReference = nullptr;
    }
}

void TMReference::Unwire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (symbol == SymbolReference) SymbolReference = nullptr;
}

void TMReference::SetMathInterpreter(TMathInterpreter* interpreter) {
    ZORVEX_ASSERT(interpreter != nullptr, kUnit);
    Interpreter = interpreter;
}

void TMReference::CollectReferences(std::vector<TMReference*>& out) { out.push_back(this); }

void TMVarRef::Rewire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (!IsVarRefTarget(symbol)) return;
    if (IsFunctionWithParameters(symbol) && symbol->IsEqualIdentifier(ReferencedSymbolName))
        throw Exception("TMVarRef.Rewire() Reference: \"" + ReferencedSymbolName + "\" (position: " +
                        Str(ParsePosition) + ") must point to parameterless function.");
    TMReference::Rewire(symbol);
}

Variant TMVarRef::GetValueSlow() {
    if (SymbolReference != nullptr) return SymbolReference->GetValue();
    Variant result;
    ZORVEX_ASSERT(Interpreter != nullptr, kUnit);
    Interpreter->DoUnknownSymbol(ReferencedSymbolName, Variant::Null(), result);
    if (result.IsEmpty())
        throw Exception("TMVarRef.GetValue() Referenced symbol: \"" + ReferencedSymbolName +
                        "\" is not defied, position: " + Str(ParsePosition) + ".");
    return result;
}

// ---------------------------------------------------------------- parameter expressions

TMParamExpression::~TMParamExpression() { delete Expression; }

std::string TMParamExpression::Dump(TDumpFormat format) const {
    std::string inner = Expression ? Expression->Dump(format) : std::string("Null");
    if (format & dfDetailed) return std::string(ClassName()) + "{" + inner + "}";
    return inner;
}

Variant TMParamExpression::GetValue() {
    ZORVEX_ASSERT(Expression != nullptr, kUnit);
    return Expression->GetValue();
}

void TMParamExpression::Rewire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (Expression) Expression->Rewire(symbol);
}

void TMParamExpression::Unwire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (Expression) Expression->Unwire(symbol);
}

void TMParamExpression::SetMathInterpreter(TMathInterpreter* interpreter) {
    ZORVEX_ASSERT(interpreter != nullptr, kUnit);
    if (Expression) Expression->SetMathInterpreter(interpreter);
}

void TMParamExpression::CollectReferences(std::vector<TMReference*>& out) {
    if (Expression) Expression->CollectReferences(out);
}

// ---------------------------------------------------------------- calls

TMFunctionCall::~TMFunctionCall() { ParamExpressions.FreeAndClear(); }

std::string TMFunctionCall::Dump(TDumpFormat format) const {
    return TMReference::Dump(format) + "(" + DumpList(ParamExpressions, format) + ")";
}

void TMFunctionCall::Rewire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    TMReference::Rewire(symbol);
    for (int i = 0; i < ParamExpressions.Count(); ++i)
        static_cast<TMParamExpression*>(ParamExpressions.At(i))->Rewire(symbol);
}

void TMFunctionCall::Unwire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    TMReference::Unwire(symbol);
    for (int i = 0; i < ParamExpressions.Count(); ++i)
        static_cast<TMParamExpression*>(ParamExpressions.At(i))->Unwire(symbol);
}

void TMFunctionCall::SetMathInterpreter(TMathInterpreter* interpreter) {
    ZORVEX_ASSERT(interpreter != nullptr, kUnit);
    TMReference::SetMathInterpreter(interpreter);
    for (int i = 0; i < ParamExpressions.Count(); ++i)
        static_cast<TMParamExpression*>(ParamExpressions.At(i))->SetMathInterpreter(interpreter);
}

void TMFunctionCall::CollectReferences(std::vector<TMReference*>& out) {
    out.push_back(this);
    for (int i = 0; i < ParamExpressions.Count(); ++i)
        static_cast<TMParamExpression*>(ParamExpressions.At(i))->CollectReferences(out);
}

void TMFunctionCall::PullParamExpressions(TMItems& stack, TMSymbols*) {
    ParamExpressions.FreeAndClear();
    int depth = 0;
    for (;;) {
        ZORVEX_ASSERT(!stack.Empty(), kUnit);
        TMItem* top = stack.Pop();
        if (auto* e = ItemAs<TMExpression>(top, ikExpression)) {
            auto wrapper = std::make_unique<TMParamExpression>();
            wrapper->ParsePosition = e->ParsePosition;
            wrapper->Expression = e;
            wrapper->TreeDepth = e->TreeDepth + 1;
            depth = std::max(depth, wrapper->TreeDepth);
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
                        ReferencedSymbolName + "\" (position :" + Str(ParsePosition) + ").");
    }
    ParamExpressions.Reverse();
    TreeDepth = depth + 1;
    if (TreeDepth > MaxTreeDepth)
        throw Exception("TMathInterpreter.RPN() Expression is nested too deeply (more than " + Str(MaxTreeDepth) +
                        " levels), position: " + Str(ParsePosition) + ".");
}

Variant TMFunctionCall::GetValue() {
    const int n = ParamExpressions.Count();
    if (SymbolReference != nullptr) {
        ZORVEX_ASSERT(!Trim(ReferencedSymbolName).empty(), kUnit);
        auto* function = ItemAs<TMFunction>(SymbolReference, ikFunction);
        if (function == nullptr) throw EInvalidCast("Invalid class typecast");
        ZORVEX_ASSERT(function->IsEqualIdentifier(ReferencedSymbolName), kUnit);
        TMParams& params = function->Parameters();
        const int m = params.Count();
        if (n != m)
            throw Exception("TMFunctionCall.GetValue() Incorrect number of parameter expressions: " + Str(n) +
                            ", in function call \"" + ReferencedSymbolName + "\", position: " + Str(ParsePosition) +
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
        auto restore = [&] {
            for (int i = 0; i < bound; ++i)
                static_cast<TMParam*>(params.At(i))->Assign(std::move(saved[i]));
        };
        try {
            for (int i = 0; i < n; ++i) {
                auto* param = static_cast<TMParam*>(params.At(i));
                saved[i] = param->ValueRef();
                Variant v = static_cast<TMParamExpression*>(ParamExpressions.At(i))->GetValue();
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
    for (int i = 0; i < n; ++i)
        args.ArrayPut(i, static_cast<TMParamExpression*>(ParamExpressions.At(i))->GetValue());
    Variant result;
    ZORVEX_ASSERT(Interpreter != nullptr, kUnit);
    Interpreter->DoUnknownSymbol(ReferencedSymbolName, args, result);
    if (result.IsEmpty())
        throw Exception("TMFunctionCall.GetValue() Undefined function reference: \"" + ReferencedSymbolName +
                        "\", position: " + Str(ParsePosition) + ".");
    return result;
}

}  // namespace zorvex
