// Items of parsed expressions and the expression tree: values, literals,
// operators, symbols, references, user functions, assignments and the lists
// that hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "zorvex/Export.h"
#include "zorvex/Variant.h"

namespace zorvex {

class TMathInterpreter;
class TMItem;
class TMSymbol;
class TMSymbols;
class TMFunction;
class TMReference;
class TMExpression;
class TMParams;
struct HostFunctionEntry;

// Set of dump flags: bit 0 detailed, bit 1 qualified. Zero is the plain form.
using TDumpFormat = std::uint8_t;
constexpr TDumpFormat dfDetailed = 1;
constexpr TDumpFormat dfQualified = 2;

enum TOperatorPriority : std::uint8_t {
    opSuper,
    opUnaryOperator,
    opPower,
    opMultiply,
    opPlus,
    opRelation,
    opBoolean,
    opAssign
};

enum TOperatorAssociativity : std::uint8_t { oaLeftToRight, oaRightToLeft };

// Deepest tree the builder accepts; evaluation and dumping recurse over the
// tree, so this bounds their use of the native stack. The links of a flat
// chain (a+b+c..., a*b*c..., a and b and c...) count as one level: they are
// taken in a loop.
constexpr int MaxTreeDepth = 2000;

#define ZORVEX_CLASS(Name) \
    const char* ClassName() const override { return #Name; }

// Kinds of item a class belongs to, set by the constructors, so that tree
// building and evaluation test an item's kind without a cast check.
enum TMItemKind : std::uint32_t {
    ikExpression = 1u << 0,
    ikOperator = 1u << 1,
    ikReference = 1u << 2,
    ikVarRef = 1u << 3,
    ikFunctionCall = 1u << 4,
    ikLiteral = 1u << 5,
    ikLeftBracket = 1u << 6,
    ikRightBracket = 1u << 7,
    ikComma = 1u << 8,
    ikDelete = 1u << 9,
    ikUnaryMinus = 1u << 10,
    ikSymbol = 1u << 11,
    ikFunction = 1u << 12,
    ikAssignSymbolic = 1u << 13,
    ikParamExpression = 1u << 14,
    ikIntrinsic = 1u << 15,
    // Not a class but how the item was written: closed by its own brackets.
    // A sum in brackets is nesting, not a link of the chain around it.
    ikBracketed = 1u << 16,
    // Read by the compiled form of a prepared tree: changing it makes that
    // form stale.
    ikCompiled = 1u << 17,
    ikParam = 1u << 18,
};

// ---------------------------------------------------------------- lists

// The entries of an item list. Two live inside the list itself, so the
// operands of an operator take no heap block of their own.
class ZORVEX_API TMItemVector {
public:
    TMItemVector() noexcept : data_(local_) {}
    ~TMItemVector() {
        if (data_ != local_) ::operator delete(data_);
    }
    TMItemVector(const TMItemVector&) = delete;
    TMItemVector& operator=(const TMItemVector&) = delete;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    TMItem*& operator[](std::size_t i) noexcept { return data_[i]; }
    TMItem* operator[](std::size_t i) const noexcept { return data_[i]; }
    TMItem** begin() noexcept { return data_; }
    TMItem** end() noexcept { return data_ + size_; }
    TMItem* const* begin() const noexcept { return data_; }
    TMItem* const* end() const noexcept { return data_ + size_; }
    TMItem* back() const noexcept { return data_[size_ - 1]; }
    void push_back(TMItem* item) {
        if (size_ == capacity_) Grow(size_ + 1);
        data_[size_++] = item;
    }
    void pop_back() noexcept { --size_; }
    void clear() noexcept { size_ = 0; }
    void reserve(std::size_t n) {
        if (n > capacity_) Grow(n);
    }
    void erase(std::size_t index) noexcept;
    // Drops every entry equal to `item`.
    void remove(const TMItem* item) noexcept;

private:
    void Grow(std::size_t needed);

    TMItem** data_;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 2;
    TMItem* local_[2];
};

// Ordered list of item pointers; never frees its entries except through
// FreeAndClear.
class ZORVEX_API TMItems {
public:
    TMItems() = default;
    virtual ~TMItems() = default;
    TMItems(const TMItems&) = delete;
    TMItems& operator=(const TMItems&) = delete;

    int Count() const {
        Settle();
        return static_cast<int>(items_.size());
    }
    bool Empty() const { return Count() == 0; }
    TMItem* Get(int index) const {
        Settle();
        if (static_cast<std::size_t>(index) >= items_.size()) IndexError(index);
        return items_[static_cast<std::size_t>(index)];
    }
    TMItem* operator[](int index) const { return Get(index); }
    void Put(int index, TMItem* item);
    int Add(TMItem* item);
    void Delete(int index);
    void Exchange(int i, int j);
    void Clear();
    TMItem* Last() const;  // null when empty
    int IndexOf(const TMItem* item) const;
    void Reserve(int count) { items_.reserve(static_cast<std::size_t>(count > 0 ? count : 0)); }

    std::string Dump(const std::string& separator, TDumpFormat format) const;
    void FreeAndClear();
    TMItem* Pop();
    void Reverse();
    // One tree-building step: pop the top of `source`, let it take its
    // operands from this list, append it here.
    void PullFromStack1(TMItems& source, TMSymbols* symbols);

    // Fast unchecked access for hot paths; after Count() it is the entry at
    // that index.
    TMItem* At(int index) const { return items_[static_cast<std::size_t>(index)]; }

protected:
    [[noreturn]] static void IndexError(int index);
    virtual void ListChanged() {}
    // An entry appended at, or put into, a storage slot (removed entries
    // not yet compacted count).
    virtual void ItemAdded(int) { ListChanged(); }
    virtual void ItemReplaced(int, TMItem*) { ListChanged(); }
    // Removed entries were compacted away; entries from slot `from` on moved.
    virtual void Compacted(std::size_t) { ListChanged(); }

    // Removed entries wait as tombstones until an index is asked for, so a
    // run of removals costs one compaction instead of one shift each.
    static TMItem* Tombstone();
    void Settle() const {
        if (holes_ != 0) SettleSlow();
    }
    void SettleSlow() const;

    mutable TMItemVector items_;
    mutable std::size_t holes_ = 0;

    friend class TMOperator;
    friend struct ItemAccess;
};

class ZORVEX_API TMValues : public TMItems {};
class ZORVEX_API TMExpressions : public TMValues {};

class TMOperator;
// The operand list of an operator: whatever changes it, the operator's
// direct operand pointers follow.
class ZORVEX_API TMOperands final : public TMExpressions {
public:
    explicit TMOperands(TMOperator* owner) : owner_(owner) {}

protected:
    void ListChanged() override;

private:
    TMOperator* owner_;
};
class ZORVEX_API TMParamExpressions : public TMValues {};

// The symbol table: adds the owning interpreter and a lookup index by name.
// The index follows appends, removals, puts, renames and compaction; only
// other changes through the base list rebuild it.
class ZORVEX_API TMSymbols : public TMValues {
public:
    TMSymbols();
    ~TMSymbols() override;

    TMathInterpreter* Interpreter = nullptr;

    int FindSymbolIndex(const std::string& name) const;
    TMSymbol* FindSymbol(const std::string& name) const;
    bool SymbolExists(const std::string& name) const { return FindSymbolIndex(name) >= 0; }
    bool CaseSensitive() const;

protected:
    TMParams* params_ = nullptr;

    void ListChanged() override;
    // Appending keeps the index: a new name never hides an earlier one.
    void ItemAdded(int slot) override;
    void ItemReplaced(int slot, TMItem* old) override;
    void Compacted(std::size_t from) override;

private:
    // The library's own bookkeeping: the lookup index by name and the
    // function bodies that mention each name.
    struct Index;
    std::unique_ptr<Index> index_;

    // Storage slot of the symbol: table order without compacting removed
    // entries first; At(slot) is the symbol.
    int FindSymbolSlot(const std::string& name) const;
    int SlotOf(const TMItem* item) const;
    // Takes the symbol at a slot out of the table without freeing it.
    void RemoveSlot(int slot);
    // The symbol at a table index without a check that raises: null where
    // Get would raise, or while removed entries wait to be compacted.
    TMItem* Peek(int index) const noexcept;
    // Drops the lookup index, e.g. after the comparison rule changed.
    void InvalidateIndex() const;
    // A symbol of the list has taken a new name.
    void Renamed(TMSymbol* symbol, const std::string& oldIdentifier);
    // A symbol of the list is being freed: its entry, if it still has one,
    // becomes null rather than dangle, and the index lets go of it.
    void Forget(TMSymbol* symbol) noexcept;
    // Functions whose bodies mention a name (case folded), so that naming or
    // freeing a symbol visits only the bodies that can refer to it.
    void RegisterBody(TMFunction* function);
    void UnregisterBody(TMFunction* function);
    const std::vector<TMFunction*>& BodiesMentioning(const std::string& name) const;
    void RebuildIndex() const;
    void IndexEntry(int slot) const;
    void UnindexEntry(const TMItem* item) const;
    std::string Key(const std::string& name) const;

    friend struct ItemAccess;
    friend class TMSymbol;
    friend class TMFunction;
};

class ZORVEX_API TMParams : public TMSymbols {
public:
    TMParams() { params_ = this; }
    TMFunction* Func = nullptr;
    bool ParamExists(const std::string& name) const { return SymbolExists(name); }
};

// ---------------------------------------------------------------- items

class ItemArena;

class ZORVEX_API TMItem {
public:
    // Items of one expression share the memory of one arena, given back when
    // its last item goes; an item made without one has a block of its own.
    // Either way `delete` is the way to free an item.
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, ItemArena* arena);
    static void operator delete(void* item, std::size_t size) noexcept;
    static void operator delete(void* item, ItemArena* arena) noexcept;

    TMItem() = default;
    virtual ~TMItem() = default;
    TMItem(const TMItem&) = delete;
    TMItem& operator=(const TMItem&) = delete;

    virtual const char* ClassName() const { return "TMItem"; }
    virtual std::string Dump(TDumpFormat format) const;

    static std::string DumpList(const TMItems& items, TDumpFormat format);
    static std::string QuotedVar(const Variant& value);
    // As above; strings are written to read back under that escape character.
    static std::string QuotedVar(const Variant& value, char escapeChar);

    bool Is(TMItemKind kind) const { return (kinds_ & kind) != 0; }

    int ParsePosition = 0;

protected:
    std::uint32_t kinds_ = 0;
    // Kept by tree building: the height of the subtree rooted here (1 for a
    // leaf), and the native stack its evaluation takes, in units of the
    // lightest node.
    int treeDepth_ = 1;
    int stackUnits_ = 1;

private:
    friend struct ItemAccess;
};

// The item as T when it is of that kind, else null.
template <class T>
T* ItemAs(TMItem* item, TMItemKind kind) {
    return item != nullptr && item->Is(kind) ? static_cast<T*>(item) : nullptr;
}

class ZORVEX_API TMValue : public TMItem {
public:
    ZORVEX_CLASS(TMValue)
    virtual void SetValue(const Variant& value);
    virtual Variant GetValue() = 0;
};

class ZORVEX_API TMExpression : public TMValue {
public:
    TMExpression() { kinds_ |= ikExpression; }
    ZORVEX_CLASS(TMExpression)
    virtual void Rewire(TMSymbol* symbol) = 0;
    virtual void Unwire(TMSymbol* symbol) = 0;
    // Binds the references of the tree to the symbols of the list. The effect is
    // that of offering every symbol in table order, found by name lookup.
    virtual void RewireSymbols(TMSymbols* symbols);
    virtual void SetMathInterpreter(TMathInterpreter* interpreter);
    // Every reference of the subtree, in the order Rewire visits them. The
    // declaration of a symbolic definition refers to nothing.
    virtual void CollectReferences(std::vector<TMReference*>& out);
};

class ZORVEX_API TMLiteral : public TMExpression {
public:
    TMLiteral() { kinds_ |= ikLiteral; }
    explicit TMLiteral(Variant value) : Value(std::move(value)) { kinds_ |= ikLiteral; }
    ZORVEX_CLASS(TMLiteral)
    std::string Dump(TDumpFormat format) const override;
    // Prepared trees fold their literals: change a literal through this.
    void SetValue(const Variant& value) override;
    Variant GetValue() override { return Value; }
    void Rewire(TMSymbol*) override {}
    void Unwire(TMSymbol*) override {}
    void RewireSymbols(TMSymbols*) override {}
    void SetMathInterpreter(TMathInterpreter* interpreter) override { Interpreter = interpreter; }

    Variant Value;
    // Whose escape character a plain dump writes strings for.
    TMathInterpreter* Interpreter = nullptr;
};

// ---------------------------------------------------------------- operators

class ZORVEX_API TMOperator : public TMExpression {
public:
    TMOperator() { kinds_ |= ikOperator; }
    ~TMOperator() override;
    ZORVEX_CLASS(TMOperator)

    std::string Dump(TDumpFormat format) const override;
    void Rewire(TMSymbol* symbol) override;
    void Unwire(TMSymbol* symbol) override;
    void SetMathInterpreter(TMathInterpreter* interpreter) override;

    // The operators of the language answer these from their row of the
    // operator table; others (the built-ins) answer them themselves.
    virtual std::string DumpOperator() const;
    virtual int NumberOfOperands() const;
    virtual void CheckOperatorCount() const;
    virtual void SetOperands(TMExpressions* operands);
    virtual TOperatorAssociativity Associativity() const;
    virtual TOperatorPriority Priority() const;
    virtual void PullOperands(TMItems& stack, TMSymbols* symbols);

    TMExpression* GetOperandExpressions(int index) const;
    Variant GetOperandValues(int index) const;
    std::string DumpOperand(int index, TDumpFormat format) const;

    TMOperands Operands{this};

protected:
    // Operands are checked to be expressions when they are pulled, so the
    // evaluation path needs no cast check; the index and null checks stay.
    TMExpression* Op(int index) const {
        TMItem* item = Operands.Get(index);
        if (item == nullptr) MissingOperand();
        return static_cast<TMExpression*>(item);
    }
    [[noreturn]] static void MissingOperand();
    void UpdateDepth();

    // Flat chains (a+b-c+..., a*b/c..., a and b or c...) are evaluated and
    // dumped link by link, so their length costs no native stack.
    bool LeftChains() const;
    Variant EvaluateChain();
    std::string DumpChain(TDumpFormat format) const;

    // Kept by the operand list: the operands of a one- or two-operand
    // operator whose entries are all expressions, else null. Evaluation reads
    // them instead of checking the list each time.
    TMExpression* first_ = nullptr;
    TMExpression* second_ = nullptr;
    // The operator's row in the operator table; 0 for none.
    std::uint8_t code_ = 0;

private:
    friend class TMOperands;
    friend struct ItemAccess;
    void OperandsChanged() noexcept;
};

// The branches of the class tree. What they fix (operand count, priority,
// associativity) is written in the operator table, row by row.
class ZORVEX_API TMUnaryOperator : public TMOperator {
public:
    ZORVEX_CLASS(TMUnaryOperator)
    std::string Dump(TDumpFormat format) const override;
};

class ZORVEX_API TMUnaryPrefixOperator : public TMUnaryOperator {
public:
    ZORVEX_CLASS(TMUnaryPrefixOperator)
};

class ZORVEX_API TMBinaryOperator : public TMOperator {
public:
    ZORVEX_CLASS(TMBinaryOperator)
    std::string Dump(TDumpFormat format) const override;
    TMExpression* LeftOperand() const { return GetOperandExpressions(0); }
    TMExpression* RightOperand() const { return GetOperandExpressions(1); }
    Variant LeftOperandValue() const { return GetOperandValues(0); }
    Variant RightOperandValue() const { return GetOperandValues(1); }
};

#define ZORVEX_BRANCH(Name, Base) \
    class ZORVEX_API Name : public Base { \
    public: \
        ZORVEX_CLASS(Name) \
    };
ZORVEX_BRANCH(TMLeftToRightAssociative, TMBinaryOperator)
ZORVEX_BRANCH(TMRightToLeftAssociative, TMBinaryOperator)
ZORVEX_BRANCH(TMBinaryOperatorBoolean, TMLeftToRightAssociative)
ZORVEX_BRANCH(TMBinaryOperatorRelation, TMLeftToRightAssociative)
ZORVEX_BRANCH(TMBinaryOperatorAddition, TMLeftToRightAssociative)
ZORVEX_BRANCH(TMBinaryOperatorMultiplication, TMLeftToRightAssociative)
ZORVEX_BRANCH(TMAssign, TMRightToLeftAssociative)
#undef ZORVEX_BRANCH

// An operator of the operator table: lexeme, priority, associativity, dump
// and rules are its row's.
#define ZORVEX_OPERATOR(Name, Base) \
    class ZORVEX_API Name : public Base { \
    public: \
        Name(); \
        ZORVEX_CLASS(Name) \
        Variant GetValue() override; \
    };
ZORVEX_OPERATOR(TMUnaryMinus, TMUnaryPrefixOperator)
ZORVEX_OPERATOR(TMNot, TMUnaryPrefixOperator)
ZORVEX_OPERATOR(TMPower, TMLeftToRightAssociative)
ZORVEX_OPERATOR(TMMultiply, TMBinaryOperatorMultiplication)
ZORVEX_OPERATOR(TMDivide, TMBinaryOperatorMultiplication)
ZORVEX_OPERATOR(TMIntDiv, TMBinaryOperatorMultiplication)
ZORVEX_OPERATOR(TMMod, TMBinaryOperatorMultiplication)
ZORVEX_OPERATOR(TMPlus, TMBinaryOperatorAddition)
ZORVEX_OPERATOR(TMMinus, TMBinaryOperatorAddition)
ZORVEX_OPERATOR(TMLess, TMBinaryOperatorRelation)
ZORVEX_OPERATOR(TMLessOrEqual, TMBinaryOperatorRelation)
ZORVEX_OPERATOR(TMEqual, TMBinaryOperatorRelation)
ZORVEX_OPERATOR(TMLargerOrEqual, TMBinaryOperatorRelation)
ZORVEX_OPERATOR(TMLarger, TMBinaryOperatorRelation)
ZORVEX_OPERATOR(TMNotEqual, TMBinaryOperatorRelation)
ZORVEX_OPERATOR(TMAnd, TMBinaryOperatorBoolean)
ZORVEX_OPERATOR(TMOr, TMBinaryOperatorBoolean)
ZORVEX_OPERATOR(TMXor, TMBinaryOperatorBoolean)
ZORVEX_OPERATOR(TMShl, TMBinaryOperatorBoolean)
ZORVEX_OPERATOR(TMShr, TMBinaryOperatorBoolean)
#undef ZORVEX_OPERATOR

class ZORVEX_API TMAssignValue : public TMAssign {
public:
    TMAssignValue();
    ZORVEX_CLASS(TMAssignValue)
    Variant GetValue() override;
    void PullOperands(TMItems& stack, TMSymbols* symbols) override;
};

class ZORVEX_API TMAssignSymbolic : public TMAssign {
public:
    TMAssignSymbolic();
    ZORVEX_CLASS(TMAssignSymbolic)
    Variant GetValue() override { return Variant::Null(); }
    void PullOperands(TMItems& stack, TMSymbols* symbols) override;
};

// ---------------------------------------------------------------- symbols

class ZORVEX_API TMSymbol : public TMValue {
public:
    TMSymbol() { kinds_ |= ikSymbol; }
    ~TMSymbol() override;
    ZORVEX_CLASS(TMSymbol)
    std::string Dump(TDumpFormat format) const override;
    virtual void SetIdentifier(const std::string& name);
    bool IsEqualIdentifier(const std::string& name) const;

    const std::string& Identifier() const { return identifier_; }
    TMSymbols* List = nullptr;
    bool UpdateReferences = false;

    // Variables and parameters: the value is read and written directly on
    // hot paths, without a virtual call.
    bool IsValueHolder() const { return valueHolder_; }
    // A variable of the table (TMVar or a class derived from it).
    bool IsVariable() const { return variable_; }

protected:
    bool valueHolder_ = false;
    bool variable_ = false;
    // Storage slot in List, kept by the list's index.
    int slot_ = -1;
    friend class TMSymbols;
    // Offers this symbol to every function body of the list that can refer to
    // `name` (and, on a rename, to the old name).
    void OfferToBodies(const std::string& name, const std::string& oldIdentifier);

    std::string identifier_;
};

class ZORVEX_API TMCustomVar : public TMSymbol {
public:
    ~TMCustomVar() override;
    ZORVEX_CLASS(TMCustomVar)
    Variant GetValue() override { return value_; }
    void SetValue(const Variant& value) override { value_ = value; }
    // Read without a copy, for hot paths.
    const Variant& ValueRef() const { return value_; }
    void Assign(Variant&& value) noexcept { value_ = std::move(value); }
    Variant Take() noexcept { return std::move(value_); }

protected:
    Variant value_;
};

class ZORVEX_API TMVar : public TMCustomVar {
public:
    TMVar() { valueHolder_ = variable_ = true; }
    ~TMVar() override;
    ZORVEX_CLASS(TMVar)
    std::string Dump(TDumpFormat format) const override;
    // Texts held by a table's variables count against its interpreter's
    // memory budget.
    void SetValue(const Variant& value) override;
    Variant GetValue() override;

    // A variable whose value lives in host memory, or a constant: it is no
    // value holder, so every read and write takes the calls above. Binding
    // drops the value held so far; freeing the variable leaves the host's
    // memory alone.
    void BindTo(double* address);
    void BindTo(std::int32_t* address);
    void MakeConstant(const Variant& value);
    bool IsBound() const { return binding_ == Binding::Real || binding_ == Binding::Integer; }
    bool IsConstant() const { return binding_ == Binding::Constant; }
    // The host's double or integer, null when the variable is not bound so.
    const double* BoundReal() const {
        return binding_ == Binding::Real ? static_cast<const double*>(address_) : nullptr;
    }
    const std::int32_t* BoundInteger() const {
        return binding_ == Binding::Integer ? static_cast<const std::int32_t*>(address_) : nullptr;
    }

private:
    enum class Binding : std::uint8_t { None, Real, Integer, Constant };
    void Unhold(Binding binding, void* address);
    Variant Current() const;
    void* address_ = nullptr;
    Binding binding_ = Binding::None;
};

class ZORVEX_API TMParam : public TMCustomVar {
public:
    TMParam() {
        valueHolder_ = true;
        kinds_ |= ikParam;
    }
    ZORVEX_CLASS(TMParam)
};

class ZORVEX_API TMCustomFunction : public TMSymbol {
public:
    ZORVEX_CLASS(TMCustomFunction)
    TMParams& Parameters() { return parameters_; }
    const TMParams& Parameters() const { return parameters_; }

protected:
    TMParams parameters_;
};

class ZORVEX_API TMFunction : public TMCustomFunction {
public:
    TMFunction();
    ~TMFunction() override;
    ZORVEX_CLASS(TMFunction)
    std::string Dump(TDumpFormat format) const override;
    Variant GetValue() override;

    TMExpression* Expression() const { return expression_; }
    // Stores the body without freeing a previous one.
    void SetExpression(TMExpression* body);
    // Frees parameters and body (redefinition).
    void ClearDefinition();

private:
    void BodyChanging() noexcept;
    TMExpression* expression_ = nullptr;
};

// ---------------------------------------------------------------- references

class ZORVEX_API TMReference : public TMExpression {
public:
    TMReference() { kinds_ |= ikReference; }
    ZORVEX_CLASS(TMReference)
    std::string Dump(TDumpFormat format) const override;
    void SetValue(const Variant& value) override;
    void Rewire(TMSymbol* symbol) override;
    void Unwire(TMSymbol* symbol) override;
    void SetMathInterpreter(TMathInterpreter* interpreter) override;

    TMSymbol* SymbolReference = nullptr;
    std::string ReferencedSymbolName;
    TMathInterpreter* Interpreter = nullptr;
};

class ZORVEX_API TMSymbolRef : public TMReference {
public:
    ZORVEX_CLASS(TMSymbolRef)
};

class ZORVEX_API TMVarRef : public TMSymbolRef {
public:
    TMVarRef() { kinds_ |= ikVarRef; }
    ZORVEX_CLASS(TMVarRef)
    Variant GetValue() override {
        if (SymbolReference != nullptr && SymbolReference->IsValueHolder())
            return static_cast<TMCustomVar*>(SymbolReference)->ValueRef();
        return GetValueSlow();
    }
    void Rewire(TMSymbol* symbol) override;

private:
    Variant GetValueSlow();
};

class ZORVEX_API TMParamExpression : public TMExpression {
public:
    TMParamExpression() { kinds_ |= ikParamExpression; }
    ~TMParamExpression() override;
    ZORVEX_CLASS(TMParamExpression)
    std::string Dump(TDumpFormat format) const override;
    Variant GetValue() override;
    void Rewire(TMSymbol* symbol) override;
    void Unwire(TMSymbol* symbol) override;
    void SetMathInterpreter(TMathInterpreter* interpreter) override;

    TMExpression* Expression = nullptr;
};

class ZORVEX_API TMFunctionCall : public TMSymbolRef {
public:
    TMFunctionCall() { kinds_ |= ikFunctionCall; }
    ~TMFunctionCall() override;
    ZORVEX_CLASS(TMFunctionCall)
    std::string Dump(TDumpFormat format) const override;
    Variant GetValue() override;
    void Rewire(TMSymbol* symbol) override;
    void Unwire(TMSymbol* symbol) override;
    void SetMathInterpreter(TMathInterpreter* interpreter) override;
    void PullParamExpressions(TMItems& stack, TMSymbols* symbols);

    TMParamExpressions ParamExpressions;

private:
    // The host function a call of a name the table does not define resolves
    // to, as found at its interpreter's count of host function changes.
    const HostFunctionEntry* host_ = nullptr;
    std::uint64_t hostEpoch_ = 0;
    friend struct ItemAccess;
};

// ---------------------------------------------------------------- parse-only items

class ZORVEX_API TMParseItem : public TMItem {
public:
    ZORVEX_CLASS(TMParseItem)
};
class ZORVEX_API TMComma : public TMParseItem {
public:
    TMComma() { kinds_ |= ikComma; }
    ZORVEX_CLASS(TMComma)
};
class ZORVEX_API TMLeftBracket : public TMParseItem {
public:
    TMLeftBracket() { kinds_ |= ikLeftBracket; }
    ZORVEX_CLASS(TMLeftBracket)
};
class ZORVEX_API TMRightBracket : public TMParseItem {
public:
    TMRightBracket() { kinds_ |= ikRightBracket; }
    ZORVEX_CLASS(TMRightBracket)
};
class ZORVEX_API TMKeyword : public TMParseItem {
public:
    ZORVEX_CLASS(TMKeyword)
};
class ZORVEX_API TMDelete : public TMKeyword {
public:
    TMDelete() { kinds_ |= ikDelete; }
    ZORVEX_CLASS(TMDelete)
};
class ZORVEX_API TMRename : public TMKeyword {
public:
    ZORVEX_CLASS(TMRename)
};

}  // namespace zorvex
