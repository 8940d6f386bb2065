// Internal helpers shared by the item and interpreter units.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <string_view>
#include <vector>

#include "zorvex/MathItem.h"

namespace zorvex {

namespace op {
enum class Operation : std::uint8_t;
}

// What the runtime's own units read of an operator without a public name:
// its operation and its direct operand pointers (null unless complete).
struct ItemAccess {
    static op::Operation Code(const TMOperator* op) { return static_cast<op::Operation>(op->code_); }
    static TMExpression* First(const TMOperator* op) { return op->first_; }
    static TMExpression* Second(const TMOperator* op) { return op->second_; }
    // Operand i, raising as evaluation does when it is missing.
    static TMExpression* Operand(const TMOperator* op, int i) { return op->Op(i); }
    static bool LeftChains(const TMOperator* op) { return op->LeftChains(); }
    static Variant EvaluateChain(TMOperator* op) { return op->EvaluateChain(); }
    static void MarkBracketed(TMItem* item) { item->kinds_ |= ikBracketed; }
    // The symbol table's bookkeeping, for the interpreter and the binding.
    static int FindSlot(const TMSymbols& list, const std::string& name) { return list.FindSymbolSlot(name); }
    static int SlotOf(const TMSymbols& list, const TMItem* item) { return list.SlotOf(item); }
    static void RemoveSlot(TMSymbols& list, int slot) { list.RemoveSlot(slot); }
    // Inline: it serves the typed writes by handle.
    static TMItem* Peek(const TMSymbols& list, int index) noexcept {
        const TMItems& items = list;
        return items.holes_ == 0 && static_cast<std::size_t>(index) < items.items_.size()
                   ? items.items_[static_cast<std::size_t>(index)]
                   : nullptr;
    }
    static void InvalidateIndex(const TMSymbols& list) { list.InvalidateIndex(); }
    static const std::vector<TMFunction*>& Bodies(const TMSymbols& list, const std::string& name) {
        return list.BodiesMentioning(name);
    }
    static void RegisterBody(TMSymbols& list, TMFunction* function) { list.RegisterBody(function); }
    // The list as the parameters of a function, or null for a table.
    static TMParams* Params(TMSymbols* list) { return list != nullptr ? list->params_ : nullptr; }
    static int TreeDepth(const TMItem* item) { return item->treeDepth_; }
    static int StackUnits(const TMItem* item) { return item->stackUnits_; }
    static void SetShape(TMItem* item, int depth, int units) {
        item->treeDepth_ = depth;
        item->stackUnits_ = units;
    }
    static void MarkCompiled(TMItem* item) { item->kinds_ |= ikCompiled; }
    // The entries of a list as they are stored, removed ones included.
    static TMItemVector& Entries(TMItems& list) { return list.items_; }
    // A list of the base classes, which hear of no change: its entries may be
    // used directly. (Lists of other classes keep indexes or pointers.)
    // Compared by address: a false "no" only costs the general way.
    static bool IsPlain(const TMItems& list) {
        const std::type_info& type = typeid(list);
        return &type == &typeid(TMItems) || &type == &typeid(TMValues);
    }
};

// An item that a compiled form read has changed (a literal's value, an
// operator's operands, a reference's binding): the count of changes of the
// interpreter that compiled it moves on, and its compiled forms taken at
// another count are made afresh. Only items marked compiled are counted;
// they were made in their tree's arena, which knows that interpreter.
void TreeChanged(const TMItem* item) noexcept;

// One step of tree building (PullFromStack1): the top of `source` takes its
// operands from `output` and goes on top of it; an item that fails to is
// freed. Plain lists are used through their entries; `Plain`: both are
// known to be.
template <bool Plain = false>
inline void PullStep(TMItems& output, TMItems& source, TMSymbols* symbols) {
    std::unique_ptr<TMItem> item;
    if (Plain || ItemAccess::IsPlain(source)) {
        TMItemVector& from = ItemAccess::Entries(source);
        item.reset(from.back());
        from.pop_back();
    } else {
        item.reset(source.Pop());
    }
    if (item->Is(ikOperator))
        static_cast<TMOperator*>(item.get())->PullOperands(output, symbols);
    else if (item->Is(ikFunctionCall))
        static_cast<TMFunctionCall*>(item.get())->PullParamExpressions(output, symbols);
    if (Plain || ItemAccess::IsPlain(output))
        ItemAccess::Entries(output).push_back(item.get());
    else
        output.Add(item.get());
    item.release();
}

void RewireFromTable(TMExpression* tree, TMSymbols* symbols, const TMParams* shadow);
// RewireFromTable and, given an interpreter, SetMathInterpreter of the tree's
// references and built-ins in the same walk.
void BindTree(TMExpression* tree, TMSymbols* symbols, const TMParams* shadow, TMathInterpreter* interpreter);
bool IsVarRefTarget(const TMSymbol* symbol);
bool IsFunctionWithParameters(const TMSymbol* symbol);

// Offers a symbol to one reference (no recursion into arguments). Returns
// true when a plain reference got bound to a function that takes
// parameters: the caller reports that once the whole tree is bound.
bool OfferSymbol(TMReference* ref, TMSymbol* symbol);
[[noreturn]] void RaiseMisfit(const TMReference* ref, const char* operation);

// Rewire, Unwire and SetMathInterpreter of a whole tree, without recursion.
void RewireTree(TMExpression* tree, TMSymbol* symbol);
// Tells the bodies that may refer to a dying symbol, and the interpreter's
// prepared trees, to let go of it.
void NotifySymbolGone(TMSymbol* symbol, bool isParam);
void UnwireTree(TMExpression* tree, TMSymbol* symbol);
void SetTreeInterpreter(TMExpression* tree, TMathInterpreter* interpreter);
// What SetMathInterpreter gives one node, without its subtree.
void AttachInterpreter(TMItem* item, TMathInterpreter* interpreter);

// A call with n operands where `expected` (a count, or "m to n") are taken.
[[noreturn]] void RaiseParameterCount(const TMFunctionCall& call, int n, const std::string& expected);

// A vector whose first N entries live inside it: the walks over a short
// expression take no heap.
template <class T, std::size_t N>
class SmallVector {
public:
    SmallVector() = default;
    SmallVector(const SmallVector&) = delete;
    SmallVector& operator=(const SmallVector&) = delete;
    ~SmallVector() {
        if (data_ != local_) delete[] data_;
    }
    void push_back(T value) {
        if (size_ == capacity_) Grow();
        data_[size_++] = value;
    }
    T& back() { return data_[size_ - 1]; }
    void pop_back() { --size_; }
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }

private:
    void Grow() {
        T* data = new T[capacity_ * 2];
        std::copy(data_, data_ + size_, data);
        if (data_ != local_) delete[] data_;
        data_ = data;
        capacity_ *= 2;
    }
    T local_[N];
    T* data_ = local_;
    std::size_t size_ = 0, capacity_ = N;
};

// N values, default-made, in place for the usual small counts of a call's
// operands and on the heap beyond them.
template <class T, std::size_t Inline = 6>
class Scratch {
public:
    explicit Scratch(std::size_t n) : heap_(n > Inline ? new T[n] : nullptr) {}
    T* data() { return heap_ ? heap_.get() : local_; }

private:
    T local_[Inline];
    std::unique_ptr<T[]> heap_;
};

// Visits the nodes of a tree in the order of a recursive pre-order walk, with
// an explicit stack, so that trees of any height need no native stack. The
// declaration of a symbolic definition is not entered: it refers to nothing.
template <class F>
void WalkTree(TMItem* root, F&& visit) {
    SmallVector<TMItem*, 32> pending;
    pending.push_back(root);
    while (!pending.empty()) {
        TMItem* item = pending.back();
        pending.pop_back();
        if (item == nullptr) continue;
        visit(item);
        if (item->Is(ikAssignSymbolic)) continue;
        if (item->Is(ikOperator)) {
            const TMItems& operands = static_cast<TMOperator*>(item)->Operands;
            for (int i = operands.Count(); i-- > 0;) pending.push_back(operands.At(i));
        } else if (item->Is(ikFunctionCall)) {
            const TMItems& args = static_cast<TMFunctionCall*>(item)->ParamExpressions;
            for (int i = args.Count(); i-- > 0;) pending.push_back(args.At(i));
        } else if (item->Is(ikParamExpression)) {
            pending.push_back(static_cast<TMParamExpression*>(item)->Expression);
        }
    }
}

// Frees what a working list still holds once its user is done with it,
// normally or by an error.
class FreeOnExit {
public:
    explicit FreeOnExit(TMItems& items) : items_(items) {}
    ~FreeOnExit() { items_.FreeAndClear(); }
    FreeOnExit(const FreeOnExit&) = delete;
    FreeOnExit& operator=(const FreeOnExit&) = delete;

private:
    TMItems& items_;
};

// Frees an item whose subtree may be of any height: nested frees queue up
// behind the outermost one instead of recursing.
void DisposeItem(TMItem* item);
void DisposeItems(TMItems& items);

// A text quoted in a message, cut to a readable length.
std::string Excerpt(std::string_view text);

// NaN and the infinities are no values of the language: no operation makes
// one, and the symbols text cannot write one. A value a host hands in is
// checked with this before it is stored or used; `name` says for what.
[[noreturn]] void RefuseNonFinite(const Variant& value, const char* operation, std::string_view name);
bool IsFiniteValue(const Variant& value);  // arrays: every element
inline void CheckFinite(const Variant& value, const char* operation, std::string_view name) {
    if ((value.IsReal() || value.IsArray()) && !IsFiniteValue(value)) [[unlikely]]
        RefuseNonFinite(value, operation, name);
}
// Calls f with each expression of a text, as SplitExpressions splits it.
void ForEachExpression(std::string_view text, char escapeChar, const std::function<void(std::string_view)>& f);
// As above; an f that returns false ends the walk.
void ForEachExpressionUntil(std::string_view text, char escapeChar, const std::function<bool(std::string_view)>& f);

// Keywords of the language in any letter case: the item a word makes, or
// null. The tokenizer and the symbol loader share this one table.
TMItem* CreateKeyword(std::string_view word, ItemArena* arena = nullptr);
bool IsKeyword(std::string_view word);

}  // namespace zorvex
