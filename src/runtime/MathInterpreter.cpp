#include "zorvex/MathInterpreter.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "ResourceLimits.h"
#include "ItemArena.h"
#include "ItemUtil.h"
#include "PreparedProgram.h"
#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

const char* const kUnit = "Source/MathInterpreter";
// Texts longer than this get working lists of their own.
constexpr std::size_t kLongText = 256 * 1024;
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

// The pieces are run as they are found, and the results gathered count
// against the memory budget until the caller has them.
Variant TMathInterpreter::Execute(const std::string& text, TStrings* errors) {
    return guard::Entry(*this, [&] {
        if (errors != nullptr) errors->Clear();
        TEvaluationGuard::Run run(guard_);
        Variant array = Variant::Array(0);
        std::vector<Variant>& results = array.ArrayItems();
        guard::Held held(*this);
        zorvex::ForEachExpression(text, escapeChar_, [&](std::string_view piece) {
            if (results.size() == results.capacity()) {
                const std::size_t capacity = results.capacity() < 16 ? 16 : results.capacity() * 2;
                held.Charge((capacity - results.capacity()) * sizeof(Variant));
                results.reserve(capacity);
            }
            try {
                Variant value = ExecuteExpression(std::string(piece));
                held.Add(value);
                results.push_back(std::move(value));
            } catch (const EInterrupted&) {
                throw;  // stops the whole text, not one piece
            } catch (const Exception& e) {
                if (errors == nullptr) throw;
                results.push_back(Variant::Null());
                errors->Add(e.Message());
            }
        });
        if (results.empty()) return Variant::Array(1);
        return array;
    });
}

// The items of one text share an arena, which goes with the last of them.
// A long text gets working lists of its own, so that the interpreter does
// not keep their size afterwards.
TMValue* TMathInterpreter::BuildTree(std::string_view text) {
    struct Scope {
        explicit Scope(TMathInterpreter& i) : interp(i), saved(i.arena_) { interp.arena_ = ItemArena::Open(&i); }
        ~Scope() {
            interp.arena_->Close();
            interp.arena_ = saved;
        }
        TMathInterpreter& interp;
        ItemArena* saved;
    } scope(*this);
    TMItems local;
    TMItems& items = scratchBusy_ || text.size() > kLongText ? local : scratch_.items;
    try {
        Tokenize(text, items);
        ProcessExpressionKeywords(items);
        TMValue* root = RPN(items);
        items.FreeAndClear();
        return root;
    } catch (const std::bad_alloc&) {
        items.FreeAndClear();
        guard::OutOfMemory();
    } catch (...) {
        items.FreeAndClear();
        throw;
    }
}

Variant TMathInterpreter::ExecuteExpression(const std::string& text) {
    return guard::Entry(*this, [&]() -> Variant {
        TEvaluationGuard::Run run(guard_);
        guard_.Check();
        std::unique_ptr<TMValue> root(BuildTree(text));
        if (!root) return Variant::Null();
        EvaluationScope scope(*this);
        if (!StackFits(guard::EvalBytes(root->StackUnits)))
            throw Exception(
                "TMathInterpreter.ExecuteExpression() Not enough stack space left to execute an expression.");
        return root->GetValue();
    });
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
    // The interpreter's working lists keep their capacity from one text to
    // the next; a nested call makes its own. Both are plain lists, used
    // through their entries.
    std::optional<Scratch> local;
    Scratch& work = scratchBusy_ || static_cast<std::size_t>(items.Count()) > kLongText / 4 ? local.emplace() : scratch_;
    struct Busy {
        explicit Busy(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
        ~Busy() { flag_ = was_; }
        bool& flag_;
        bool was_;
    } busy(scratchBusy_);
    TMItems& stack = work.stack;
    TMValues& output = work.output;
    TMItemVector& st = ItemAccess::Entries(stack);
    TMItemVector& out = ItemAccess::Entries(output);
    auto& brackets = work.brackets;
    brackets.clear();
    auto pull = [&] { PullStep(output, stack, &symbols_); };
    auto pullDownTo = [&](TOperatorPriority priority, TOperatorAssociativity associativity) {
        while (!st.empty()) {
            TMItem* top = st.back();
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
    using OpenBracket = Scratch::OpenBracket;
    auto unbalanced = [](int position) {
        throw Exception("TMathInterpreter.RPN() Unbalanced number of operators and operands, position: " +
                        Str(position) + ".");
    };
    auto outCount = [&] { return static_cast<int>(out.size()); };
    auto closePiece = [&](int position, bool closing) {
        if (brackets.empty()) return;
        const OpenBracket& b = brackets.back();
        const int n = outCount() - b.start;
        if (n == 1 || (n == 0 && closing && !b.comma)) return;
        unbalanced(n > 0 ? out[static_cast<std::size_t>(b.start)]->ParsePosition : position);
    };
    // The input is taken entry by entry; a plain list directly.
    const bool plainInput = ItemAccess::IsPlain(items);
    TMItemVector& in = ItemAccess::Entries(items);
    try {
        bool previousWasCall = false;
        int nextCheck = 0xFFF;  // a long list is long work
        for (int i = 0; i < items.Count(); ++i) {
            if (i == nextCheck) [[unlikely]] {
                guard_.CheckWork();
                nextCheck += 0x1000;
            }
            std::unique_ptr<TMItem> item;
            if (plainInput) {
                item.reset(std::exchange(in[static_cast<std::size_t>(i)], nullptr));
            } else {
                item.reset(items.At(i));
                items.Put(i, nullptr);
            }
            if (!item) continue;
            const bool isCall = IsA(item.get(), ikFunctionCall);
            if (IsA(item.get(), ikLeftBracket)) {
                if (previousWasCall)
                    out.push_back(item.get());
                else
                    st.push_back(item.get());
                item.release();
                brackets.push_back({outCount(), false});
            } else if (IsA(item.get(), ikVarRef) || IsA(item.get(), ikLiteral)) {
                st.push_back(item.get());
                item.release();
            } else if (isCall) {
                pullDownTo(opSuper, oaLeftToRight);
                st.push_back(item.get());
                item.release();
            } else if (IsA(item.get(), ikComma)) {
                const int position = item->ParsePosition;
                item.reset();
                for (;;) {
                    if (st.empty())
                        throw Exception("TMathInterpreter.RPN() Comma outside parameter list, position: " +
                                        Str(position) + ".");
                    TMItem* top = st.back();
                    if (IsA(top, ikLeftBracket) || IsA(top, ikFunctionCall)) break;
                    pull();
                }
                closePiece(position, false);
                if (!brackets.empty()) brackets.back() = {outCount(), true};
            } else if (IsA(item.get(), ikRightBracket)) {
                const int position = item->ParsePosition;
                item.reset();
                for (;;) {
                    if (st.empty())
                        throw Exception("TMathInterpreter.RPN() Unclosed right bracket, position: " + Str(position) +
                                        ".");
                    TMItem* top = st.back();
                    if (IsA(top, ikLeftBracket)) {
                        closePiece(position, true);
                        if (outCount() > brackets.back().start) ItemAccess::MarkBracketed(out.back());
                        brackets.pop_back();
                        st.pop_back();
                        delete top;
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
                st.push_back(item.get());
                item.release();
            } else {
                const std::string name = item->ClassName();
                item.reset();
                throw Exception("TMathInterpreter.RPN() Invalid type \"" + name + "\" of parsed item on index " +
                                Str(i) + ".");
            }
            previousWasCall = isCall;
        }
        while (!st.empty()) {
            TMItem* top = st.back();
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
        if (out.empty()) return nullptr;
        if (out.size() > 1)
            throw Exception("TMathInterpreter.RPN() Unbalanced number of operators and operands, position: " +
                            Str(out[0]->ParsePosition) + ".");
        // Only expressions reach the output: parse-only items never do.
        TMItem* last = out.back();
        ZORVEX_ASSERT(IsA(last, ikExpression), kUnit);
        out.pop_back();
        std::unique_ptr<TMValue> root(static_cast<TMExpression*>(last));
        auto* expression = static_cast<TMExpression*>(root.get());
        if (expression->Is(ikLiteral)) {
            expression->SetMathInterpreter(this);
        } else {
            // RewireSymbols and SetMathInterpreter of the tree in one walk;
            // when binding fails the tree goes unused either way.
            BindTree(expression, &symbols_, nullptr, this);
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
        if (ref->SymbolReference != nullptr && ref->SymbolReference->List == &symbols_) {
            ref->SymbolReference = nullptr;
            if (ref->Is(ikCompiled)) TreeChanged(ref);
        }
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

void TMathInterpreter::CheckNotEvaluating(const char* operation) const {
    if (evaluationDepth_ > 0)
        throw Exception(std::string("TMathInterpreter can't ") + operation +
                        " while an expression is being evaluated.");
}

}  // namespace zorvex
