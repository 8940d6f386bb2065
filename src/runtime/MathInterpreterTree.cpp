// Tokens to tree: keyword processing, the shunting-yard pass that builds the
// tree and the binding of its names; BuildTree takes a text the whole way.
#include <memory>
#include <optional>
#include <utility>

#include "InterpreterImpl.h"
#include "ItemArena.h"
#include "ItemUtil.h"
#include "OperatorTable.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"

namespace zorvex {

namespace {

const char* const kUnit = "Source/MathInterpreter";
// Texts longer than this get working lists of their own.
constexpr std::size_t kLongText = 256 * 1024;
std::string Str(int v) { return std::to_string(v); }

bool IsA(const TMItem* item, TMItemKind kind) { return item != nullptr && item->Is(kind); }

}  // namespace

// The items of one text share an arena, which goes with the last of them.
// A long text gets working lists of its own, so that the interpreter does
// not keep their size afterwards.
TMValue* TMathInterpreter::Impl::BuildTree(std::string_view text) {
    struct Scope {
        explicit Scope(Impl& i) : impl(i), saved(i.arena) { impl.arena = ItemArena::Open(&i.self); }
        ~Scope() {
            impl.arena->Close();
            impl.arena = saved;
        }
        Impl& impl;
        ItemArena* saved;
    } scope(*this);
    TMItems local;
    TMItems& items = scratchBusy || text.size() > kLongText ? local : scratch.items;
    const FreeOnExit freeOnExit(items);
    try {
        Tokenize(text, items);
        ProcessExpressionKeywords(items);
        return RPN(items);
    } catch (const std::bad_alloc&) {
        OutOfMemory();
    }
}

void TMathInterpreter::ParseExpression(const std::string& text, TMItems& items) { impl_->Tokenize(text, items); }

void TMathInterpreter::DebugParseExpression(const std::string& text, TStrings& lines) {
    TMItems items;
    const FreeOnExit freeOnExit(items);
    ParseExpression(text, items);
    for (int i = 0; i < items.Count(); ++i) lines.Add(items.At(i)->ClassName());
}

void TMathInterpreter::ProcessExpressionKeywords(TMItems& items) { impl_->ProcessExpressionKeywords(items); }

TMValue* TMathInterpreter::RPN(TMItems& items) { return impl_->RPN(items); }

namespace {
[[noreturn, gnu::cold]] void RaiseNothingOpen(int position, const char* what) {
    throw ESyntaxError(std::string("TMathInterpreter.RPN() ") + what + ", position: " + Str(position) + ".", position);
}
}  // namespace

TMValue* TMathInterpreter::Impl::RPN(TMItems& items) {
    // The interpreter's working lists keep their capacity from one text to
    // the next; a nested call makes its own. Both are plain lists, used
    // through their entries.
    std::optional<Scratch> local;
    Scratch& work = scratchBusy || static_cast<std::size_t>(items.Count()) > kLongText / 4 ? local.emplace() : scratch;
    struct Busy {
        explicit Busy(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
        ~Busy() { flag_ = was_; }
        bool& flag_;
        bool was_;
    } busy(scratchBusy);
    TMItems& stack = work.stack;
    TMValues& output = work.output;
    TMItemVector& st = ItemAccess::Entries(stack);
    TMItemVector& out = ItemAccess::Entries(output);
    auto& brackets = work.brackets;
    brackets.clear();
    auto pull = [&] { PullStep<true>(output, stack, &symbols); };
    auto pullDownTo = [&](TOperatorPriority priority, TOperatorAssociativity associativity) {
        while (!st.empty()) {
            TMItem* top = st.back();
            if (IsA(top, ikVarRef) || IsA(top, ikLiteral)) {
                pull();
                continue;
            }
            auto* op = ItemAs<TMOperator>(top, ikOperator);
            if (op == nullptr) return;
            const TOperatorPriority p = op::PriorityOf(op);
            if (associativity == oaLeftToRight ? p <= priority : p < priority)
                pull();
            else
                return;
        }
    };
    // Every comma-separated piece of a bracket must leave exactly one
    // expression in the output; empty brackets are allowed.
    using OpenBracket = Scratch::OpenBracket;
    auto unbalanced = [](int position) {
        throw ESyntaxError(
            "TMathInterpreter.RPN() Unbalanced number of operators and operands, position: " + Str(position) + ".",
            position);
    };
    // Pulls what stands above the innermost bracket or call, and returns
    // that; none open is the error `what`.
    auto pullToOpening = [&](int position, const char* what) -> TMItem* {
        for (;;) {
            if (st.empty()) RaiseNothingOpen(position, what);
            TMItem* top = st.back();
            if (IsA(top, ikLeftBracket) || IsA(top, ikFunctionCall)) return top;
            pull();
        }
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
    // Whatever the lists still hold when building stops (an error) is freed.
    const FreeOnExit freeStack(stack), freeOutput(output);
    {
        bool previousWasCall = false;
        int nextCheck = 0xFFF;  // a long list is long work
        for (int i = 0; i < items.Count(); ++i) {
            if (i == nextCheck) [[unlikely]] {
                guard.CheckWork();
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
                pullToOpening(position, "Comma outside parameter list");
                closePiece(position, false);
                if (!brackets.empty()) brackets.back() = {outCount(), true};
            } else if (IsA(item.get(), ikRightBracket)) {
                const int position = item->ParsePosition;
                item.reset();
                TMItem* top = pullToOpening(position, "Unclosed right bracket");
                closePiece(position, true);
                if (IsA(top, ikLeftBracket)) {
                    if (outCount() > brackets.back().start) ItemAccess::MarkBracketed(out.back());
                    brackets.pop_back();
                    const std::unique_ptr<TMItem> bracket(top);  // its work is done
                    st.pop_back();
                } else {
                    brackets.pop_back();
                    pull();  // the call
                }
            } else if (auto* op = ItemAs<TMOperator>(item.get(), ikOperator)) {
                pullDownTo(op::PriorityOf(op), op::AssociativityOf(op));
                st.push_back(item.get());
                item.release();
            } else {
                const std::string name = item->ClassName();
                const int position = item->ParsePosition;
                item.reset();
                throw ESyntaxError(
                    "TMathInterpreter.RPN() Invalid type \"" + name + "\" of parsed item on index " + Str(i) + ".",
                    position);
            }
            previousWasCall = isCall;
        }
        while (!st.empty()) {
            TMItem* top = st.back();
            if (IsA(top, ikLeftBracket))
                throw ESyntaxError(
                    "TMathInterpreter.RPN() Unclosed left bracket on position: " + Str(top->ParsePosition) + ".",
                    top->ParsePosition);
            if (IsA(top, ikFunctionCall)) {
                // A call left open at the end is completed as if closed there.
                closePiece(top->ParsePosition, true);
                if (!brackets.empty()) brackets.pop_back();
            }
            pull();
        }
        if (out.empty()) return nullptr;
        if (out.size() > 1)
            throw ESyntaxError("TMathInterpreter.RPN() Unbalanced number of operators and operands, position: " +
                                   Str(out[0]->ParsePosition) + ".",
                               out[0]->ParsePosition);
        // Only expressions reach the output: parse-only items never do.
        TMItem* last = out.back();
        ZORVEX_ASSERT(IsA(last, ikExpression), kUnit);
        out.pop_back();
        std::unique_ptr<TMValue> root(static_cast<TMExpression*>(last));
        auto* expression = static_cast<TMExpression*>(root.get());
        if (expression->Is(ikLiteral)) {
            expression->SetMathInterpreter(&self);
        } else {
            // RewireSymbols and SetMathInterpreter of the tree in one walk;
            // when binding fails the tree goes unused either way.
            BindTree(expression, &symbols, nullptr, &self);
        }
        return root.release();
    }
}

void TMathInterpreter::RewireReferences() {
    TMSymbols& symbols = impl_->symbols;
    for (int i = 0; i < symbols.Count(); ++i) {
        auto* function = ItemAs<TMFunction>(symbols.At(i), ikFunction);
        if (function == nullptr || !IsA(function->Expression(), ikReference)) continue;
        function->Expression()->RewireSymbols(&symbols);
        function->Expression()->RewireSymbols(&function->Parameters());
    }
}

void TMathInterpreter::Impl::ProcessExpressionKeywords(TMItems& items) {
    if (items.Empty() || !IsA(items.At(0), ikDelete)) return;
    for (int i = 1; i < items.Count(); ++i) {
        TMItem* item = items.At(i);
        if (auto* ref = ItemAs<TMVarRef>(item, ikVarRef)) {
            const int slot = ItemAccess::FindSlot(symbols, ref->ReferencedSymbolName);
            if (slot < 0)
                throw EUnknownName(
                    "TMathInterpreter.ProcessExpressionKeywords() Delete - parameter on index: " + Str(i - 1) +
                        ", position: " + Str(ref->ParsePosition) + ", references non-existent symbol: \"" +
                        Excerpt(ref->ReferencedSymbolName) + "\".",
                    ref->ParsePosition);
            CheckNotEvaluating("delete a symbol");
            // Its destructor unbinds the function bodies and the prepared trees.
            std::unique_ptr<TMItem> symbol(symbols.At(slot));
            ItemAccess::RemoveSlot(symbols, slot);
        } else if (IsA(item, ikComma)) {
            if (!IsA(items.At(i - 1), ikVarRef))
                throw ESyntaxError(
                    "TMathInterpreter.ProcessExpressionKeywords() Reference must exist left of comma on position: " +
                        Str(item->ParsePosition) + ".",
                    item->ParsePosition);
            if (i == items.Count() - 1)
                throw ESyntaxError(
                    "TMathInterpreter.ProcessExpressionKeywords() End of expression encountered after comma on "
                    "position: " +
                        Str(item->ParsePosition) + ".",
                    item->ParsePosition);
            if (IsA(items.At(i + 1), ikComma))
                throw ESyntaxError("TMathInterpreter.ProcessExpressionKeywords() Duplicated comma on position: " +
                                       Str(items.At(i + 1)->ParsePosition) + ".",
                                   items.At(i + 1)->ParsePosition);
        } else {
            throw ESyntaxError("TMathInterpreter.ProcessExpressionKeywords() Delete - invalid parameter on index: " +
                                   Str(i - 1) + ", position: " + Str(item ? item->ParsePosition : 0) + ".",
                               item ? item->ParsePosition : 0);
        }
    }
    items.FreeAndClear();
}

}  // namespace zorvex
