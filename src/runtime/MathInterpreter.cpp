#include "zorvex/MathInterpreter.h"

#include <algorithm>
#include <memory>

#include "ResourceLimits.h"
#include "ItemUtil.h"
#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

const char* const kUnit = "Source/MathInterpreter";
std::string Str(int v) { return std::to_string(v); }

bool IsA(const TMItem* item, TMItemKind kind) { return item != nullptr && item->Is(kind); }

}  // namespace

TMathInterpreter::TMathInterpreter(TComponent* owner) : TComponent(owner) {
    symbols_.Interpreter = this;
    SetCaseSensitiveSymbols(false);
}

TMathInterpreter::~TMathInterpreter() {
    // Those who hear of our end may still read the table.
    Destroying();
    prepared_.FreeAndClear();
    clearing_ = true;
    symbols_.FreeAndClear();
}

// ---------------------------------------------------------------- execution

Variant TMathInterpreter::Execute(const std::string& text, TStrings* errors) {
    if (errors != nullptr) errors->Clear();
    TEvaluationGuard::Run run(guard_);
    std::vector<Variant> results;
    for (const std::string& piece : SplitExpressions(text, escapeChar_)) {
        try {
            results.push_back(ExecuteExpression(piece));
        } catch (const EInterrupted&) {
            throw;  // stops the whole text, not one piece
        } catch (const Exception& e) {
            if (errors == nullptr) throw;
            results.push_back(Variant::Null());
            errors->Add(e.Message());
        }
    }
    if (results.empty()) return Variant::Array(1);
    Variant array = Variant::Array(results.size());
    auto& items = array.ArrayItems();
    for (std::size_t i = 0; i < results.size(); ++i) items[i] = std::move(results[i]);
    return array;
}

TMValue* TMathInterpreter::BuildTree(const std::string& text) {
    TMItems items;
    try {
        ParseExpression(text, items);
        ProcessExpressionKeywords(items);
        TMValue* root = RPN(items);
        items.FreeAndClear();
        return root;
    } catch (...) {
        items.FreeAndClear();
        throw;
    }
}

Variant TMathInterpreter::ExecuteExpression(const std::string& text) {
    TEvaluationGuard::Run run(guard_);
    guard_.Check();
    std::unique_ptr<TMValue> root(BuildTree(text));
    if (!root) return Variant::Null();
    EvaluationScope scope(*this);
    if (!StackFits(guard::EvalBytes(root->StackUnits)))
        throw Exception("TMathInterpreter.ExecuteExpression() Not enough stack space left to execute an expression.");
    return root->GetValue();
}

void TMathInterpreter::DebugParseExpression(const std::string& text, TStrings& lines) {
    TMItems items;
    try {
        ParseExpression(text, items);
    } catch (...) {
        items.FreeAndClear();
        throw;
    }
    for (int i = 0; i < items.Count(); ++i) lines.Add(items.At(i)->ClassName());
    items.FreeAndClear();
}

TMValue* TMathInterpreter::RPN(TMItems& items) {
    TMItems stack;
    TMValues output;
    auto pull = [&] { output.PullFromStack1(stack, &symbols_); };
    auto pullDownTo = [&](TOperatorPriority priority, TOperatorAssociativity associativity) {
        while (!stack.Empty()) {
            TMItem* top = stack.Last();
            if (IsA(top, ikVarRef) || IsA(top, ikLiteral)) {
                pull();
                continue;
            }
            auto* op = ItemAs<TMOperator>(top, ikOperator);
            if (op == nullptr) return;
            if (associativity == oaLeftToRight ? op->Priority() <= priority : op->Priority() < priority)
                pull();
            else
                return;
        }
    };
    // Every comma-separated piece of a bracket must leave exactly one
    // expression in the output; empty brackets are allowed.
    struct OpenBracket {
        int start;
        bool comma;
    };
    std::vector<OpenBracket> brackets;
    auto unbalanced = [](int position) {
        throw Exception("TMathInterpreter.RPN() Unbalanced number of operators and operands, position: " +
                        Str(position) + ".");
    };
    auto closePiece = [&](int position, bool closing) {
        if (brackets.empty()) return;
        const OpenBracket& b = brackets.back();
        const int n = output.Count() - b.start;
        if (n == 1 || (n == 0 && closing && !b.comma)) return;
        unbalanced(n > 0 ? output.At(b.start)->ParsePosition : position);
    };
    try {
        bool previousWasCall = false;
        for (int i = 0; i < items.Count(); ++i) {
            std::unique_ptr<TMItem> item(items.At(i));
            items.Put(i, nullptr);
            if (!item) continue;
            const bool isCall = IsA(item.get(), ikFunctionCall);
            if (IsA(item.get(), ikLeftBracket)) {
                if (previousWasCall)
                    output.Add(item.release());
                else
                    stack.Add(item.release());
                brackets.push_back({output.Count(), false});
            } else if (IsA(item.get(), ikVarRef) || IsA(item.get(), ikLiteral)) {
                stack.Add(item.release());
            } else if (isCall) {
                pullDownTo(opSuper, oaLeftToRight);
                stack.Add(item.release());
            } else if (IsA(item.get(), ikComma)) {
                const int position = item->ParsePosition;
                item.reset();
                for (;;) {
                    if (stack.Empty())
                        throw Exception("TMathInterpreter.RPN() Comma outside parameter list, position: " +
                                        Str(position) + ".");
                    TMItem* top = stack.Last();
                    if (IsA(top, ikLeftBracket) || IsA(top, ikFunctionCall)) break;
                    pull();
                }
                closePiece(position, false);
                if (!brackets.empty()) brackets.back() = {output.Count(), true};
            } else if (IsA(item.get(), ikRightBracket)) {
                const int position = item->ParsePosition;
                item.reset();
                for (;;) {
                    if (stack.Empty())
                        throw Exception("TMathInterpreter.RPN() Unclosed right bracket, position: " + Str(position) +
                                        ".");
                    TMItem* top = stack.Last();
                    if (IsA(top, ikLeftBracket)) {
                        closePiece(position, true);
                        brackets.pop_back();
                        delete stack.Pop();
                        break;
                    }
                    if (IsA(top, ikFunctionCall)) {
                        closePiece(position, true);
                        brackets.pop_back();
                        pull();
                        break;
                    }
                    pull();
                }
            } else if (auto* op = ItemAs<TMOperator>(item.get(), ikOperator)) {
                pullDownTo(op->Priority(), op->Associativity());
                stack.Add(item.release());
            } else {
                const std::string name = item->ClassName();
                item.reset();
                throw Exception("TMathInterpreter.RPN() Invalid type \"" + name + "\" of parsed item on index " +
                                Str(i) + ".");
            }
            previousWasCall = isCall;
        }
        while (!stack.Empty()) {
            TMItem* top = stack.Last();
            if (IsA(top, ikLeftBracket))
                throw Exception("TMathInterpreter.RPN() Unclosed left bracket on position: " +
                                Str(top->ParsePosition) + ".");
            if (IsA(top, ikFunctionCall)) {
                // A call left open at the end is completed as if closed there.
                closePiece(top->ParsePosition, true);
                if (!brackets.empty()) brackets.pop_back();
            }
            pull();
        }
        if (output.Empty()) return nullptr;
        if (output.Count() > 1)
            throw Exception("TMathInterpreter.RPN() Unbalanced number of operators and operands, position: " +
                            Str(output.At(0)->ParsePosition) + ".");
        auto* value = dynamic_cast<TMValue*>(output.Last());
        ZORVEX_ASSERT(value != nullptr, kUnit);
        std::unique_ptr<TMValue> root(value);
        output.Pop();
        if (auto* expression = dynamic_cast<TMExpression*>(root.get())) {
            expression->RewireSymbols(&symbols_);
            expression->SetMathInterpreter(this);
        }
        return root.release();
    } catch (...) {
        stack.FreeAndClear();
        output.FreeAndClear();
        throw;
    }
}

void TMathInterpreter::RewireReferences() {
    for (int i = 0; i < symbols_.Count(); ++i) {
        auto* function = dynamic_cast<TMFunction*>(symbols_.At(i));
        if (function == nullptr || dynamic_cast<TMReference*>(function->Expression()) == nullptr) continue;
        function->Expression()->RewireSymbols(&symbols_);
        function->Expression()->RewireSymbols(&function->Parameters());
    }
}

void TMathInterpreter::ProcessExpressionKeywords(TMItems& items) {
    if (items.Empty() || !IsA(items.At(0), ikDelete)) return;
    for (int i = 1; i < items.Count(); ++i) {
        TMItem* item = items.At(i);
        if (auto* ref = dynamic_cast<TMVarRef*>(item)) {
            const int slot = symbols_.FindSymbolSlot(ref->ReferencedSymbolName);
            if (slot < 0)
                throw Exception("TMathInterpreter.ProcessExpressionKeywords() Delete - parameter on index: " +
                                Str(i - 1) + ", position: " + Str(ref->ParsePosition) +
                                ", references non-existent symbol: \"" + Excerpt(ref->ReferencedSymbolName) + "\".");
            CheckNotEvaluating("delete a symbol");
            TMItem* symbol = symbols_.At(slot);
            symbols_.RemoveSlot(slot);
            // Its destructor unbinds the function bodies and the prepared trees.
            delete symbol;
        } else if (IsA(item, ikComma)) {
            if (!IsA(items.At(i - 1), ikVarRef))
                throw Exception(
                    "TMathInterpreter.ProcessExpressionKeywords() Reference must exist left of comma on position: " +
                    Str(item->ParsePosition) + ".");
            if (i == items.Count() - 1)
                throw Exception(
                    "TMathInterpreter.ProcessExpressionKeywords() End of expression encountered after comma on "
                    "position: " +
                    Str(item->ParsePosition) + ".");
            if (IsA(items.At(i + 1), ikComma))
                throw Exception("TMathInterpreter.ProcessExpressionKeywords() Duplicated comma on position: " +
                                Str(items.At(i + 1)->ParsePosition) + ".");
        } else {
            throw Exception("TMathInterpreter.ProcessExpressionKeywords() Delete - invalid parameter on index: " +
                            Str(i - 1) + ", position: " + Str(item ? item->ParsePosition : 0) + ".");
        }
    }
    items.FreeAndClear();
}

// ---------------------------------------------------------------- prepared expressions

int TMathInterpreter::PrepareExpression(const std::string& text) {
    int slot = -1;
    for (int i = 0; i < prepared_.Count(); ++i)
        if (prepared_.At(i) == nullptr) {
            slot = i;
            break;
        }
    if (slot < 0) slot = prepared_.Add(nullptr);
    TEvaluationGuard::Run run(guard_);
    guard_.Check();
    std::unique_ptr<TMValue> root(BuildTree(text));
    if (!root) throw Exception("TMathInterpreter.PrepareExpression() Can't prepare empty expression.");
    prepared_.Put(slot, root.release());
    return slot;
}


Variant TMathInterpreter::ExecutePreparedExpression(int handle) {
    if (!IsValidPreparedExpression(handle))
        throw Exception("TMathInterpreter.ExecutePreparedExpression() Invalid prepared expression handle.");
    TEvaluationGuard::Run run(guard_);
    guard_.Check();
    EvaluationScope scope(*this);
    auto* root = static_cast<TMValue*>(prepared_.At(handle));
    if (!StackFits(guard::EvalBytes(root->StackUnits)))
        throw Exception(
            "TMathInterpreter.ExecutePreparedExpression() Not enough stack space left to execute an expression.");
    return root->GetValue();
}

void TMathInterpreter::FreePreparedExpression(int handle) {
    if (!IsValidPreparedExpression(handle))
        throw Exception("TMathInterpreter.FreePreparedExpression() Invalid prepared expression handle.");
    CheckNotEvaluating("free a prepared expression");
    TMItem* root = prepared_.At(handle);
    prepared_.Put(handle, nullptr);
    delete root;
}

void TMathInterpreter::ClearPreparedExpressions() {
    CheckNotEvaluating("clear prepared expressions");
    prepared_.FreeAndClear();
}

int TMathInterpreter::GetVariableHandles(const std::string& name) {
    const int index = symbols_.FindSymbolIndex(name);
    if (index < 0)
        throw Exception("TMathInterpreter.GetVariableHandles() Symbol: \"" + Excerpt(name) + "\" is not defined.");
    TMItem* symbol = symbols_.At(index);
    if (dynamic_cast<TMVar*>(symbol) == nullptr)
        throw Exception("TMathInterpreter.GetVariableHandles() Symbol: \"" + Excerpt(name) + "\" has type: \"" +
                        symbol->ClassName() + "\", but type \"TMVarRef\" is required.");
    return index;
}

void TMathInterpreter::NotAVariable() { throw EInvalidCast("Invalid class typecast"); }

Variant TMathInterpreter::GetVariables(const std::string& name) {
    return GetVariablesByHandle(GetVariableHandles(name));
}

void TMathInterpreter::SetVariables(const std::string& name, const Variant& value) {
    SetVariablesByHandle(GetVariableHandles(name), value);
}

// ---------------------------------------------------------------- properties

void TMathInterpreter::SetCaseSensitiveSymbols(bool value) {
    if (caseSensitive_ && !value) ClearSymbols();
    caseSensitive_ = value;
    symbols_.InvalidateIndex();
}

std::string TMathInterpreter::DumpText() const { return Dump(";\r\n", dumpFormat_); }

void TMathInterpreter::SetDumpText(const std::string&) {
    throw Exception("TMathInterpreter.DumpText property is for display purposes only.");
}

void TMathInterpreter::SetExpression(const std::string& text) {
    expression_ = text;
    try {
        expressionResult_ = ExecuteExpression(text);
    } catch (const Exception& e) {
        if (Designing()) {
            expressionResult_ = Variant(e.Message());
            if (ShowException) ShowException(e);
            return;
        }
        expressionResult_ = Variant::Null();
        throw;
    }
}

std::string TMathInterpreter::ExpressionResult() const {
    if (expressionResult_.IsArray()) return std::string();
    return VarToStr(expressionResult_);
}

void TMathInterpreter::SetExpressionResult(const std::string&) {
    throw Exception("TMathInterpreter.ExpressionResult property is for display purposes only.");
}

std::string TMathInterpreter::Dump(const std::string& separator, TDumpFormat format) const {
    return symbols_.Dump(separator, format);
}

std::string TMathInterpreter::DumpSymbol(const std::string& name, TDumpFormat format) const {
    TMSymbol* symbol = symbols_.FindSymbol(name);
    if (symbol == nullptr)
        throw Exception("TMathInterpreter.DumpSymbol() Symbol: \"" + Excerpt(name) + "\" does not exist.");
    return symbol->Dump(format);
}

void TMathInterpreter::ClearSymbols() {
    CheckNotEvaluating("clear the symbols");
    // Let go of the whole table at once rather than symbol by symbol.
    std::vector<TMReference*> refs;
    for (int i = 0; i < prepared_.Count(); ++i)
        if (auto* root = dynamic_cast<TMExpression*>(prepared_.At(i))) root->CollectReferences(refs);
    for (TMReference* ref : refs)
        if (ref->SymbolReference != nullptr && ref->SymbolReference->List == &symbols_) ref->SymbolReference = nullptr;
    clearing_ = true;
    try {
        symbols_.FreeAndClear();
    } catch (...) {
        clearing_ = false;
        throw;
    }
    clearing_ = false;
}

bool TMathInterpreter::IsEqualString(const std::string& first, const std::string& second) const {
    if (caseSensitive_) return first == second;
    return UpperCase(first) == UpperCase(second);
}

void TMathInterpreter::DoUnknownSymbol(const std::string& identifier, const Variant& parameters, Variant& value) {
    if (onUnknownSymbol_) onUnknownSymbol_(*this, identifier, parameters, value);
}

// ---------------------------------------------------------------- item protocol

void TMathInterpreter::SymbolRemoved(TMSymbol* symbol) {
    if (clearing_) return;
    for (int i = 0; i < prepared_.Count(); ++i)
        if (auto* root = dynamic_cast<TMExpression*>(prepared_.At(i))) root->Unwire(symbol);
}

void TMathInterpreter::CheckNotEvaluating(const char* operation) const {
    if (evaluationDepth_ > 0)
        throw Exception(std::string("TMathInterpreter can't ") + operation +
                        " while an expression is being evaluated.");
}

}  // namespace zorvex
