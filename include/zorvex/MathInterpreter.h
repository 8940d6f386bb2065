// The interpreter component: tokenizer, tree building, execution, prepared
// expressions, symbol persistence and the published properties.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "zorvex/Component.h"
#include "zorvex/EvaluationGuard.h"
#include "zorvex/Exception.h"
#include "zorvex/Export.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

namespace zorvex {

class TMathInterpreter;
namespace prepared {
class Program;
struct Node;
}

// Answers names the symbol table does not define. `parameters` is Null for a
// variable or the array of argument values of a call; `value` is in and out.
using TUnknownSymbolEvent = std::function<void(TMathInterpreter& sender, const std::string& identifier,
                                               const Variant& parameters, Variant& value)>;

// Stand-ins for the form reader and writer: a component's extra property is
// one string.
class ZORVEX_API TReader {
public:
    explicit TReader(std::string value) : value_(std::move(value)) {}
    std::string ReadString() { return value_; }

private:
    std::string value_;
};

class ZORVEX_API TWriter {
public:
    void WriteString(const std::string& value) { value_ = value; }
    const std::string& Value() const { return value_; }

private:
    std::string value_;
};

// What a component declares to the form streaming: extra named properties
// with a reader, a writer and whether there is anything to write.
class ZORVEX_API TFiler {
public:
    explicit TFiler(const TComponent* ancestor = nullptr) : ancestor_(ancestor) {}
    virtual ~TFiler() = default;
    const TComponent* Ancestor() const { return ancestor_; }
    virtual void DefineProperty(const std::string& name, std::function<void(TReader&)> reader,
                                std::function<void(TWriter&)> writer, bool hasData) = 0;

private:
    const TComponent* ancestor_;
};

class ZORVEX_API TMathInterpreter : public TComponent {
public:
    explicit TMathInterpreter(TComponent* owner = nullptr);
    ~TMathInterpreter() override;

    // ---- execution
    Variant Execute(const std::string& text, TStrings* errors = nullptr);
    Variant ExecuteExpression(const std::string& text);
    void DebugParseExpression(const std::string& text, TStrings& lines);
    void ParseExpression(const std::string& text, TMItems& items);
    void ProcessExpressionKeywords(TMItems& items);
    TMValue* RPN(TMItems& items);
    void RewireReferences();

    // Splits a text into expressions at ";" outside string literals, with the
    // tokenizer's string rules; empty pieces are dropped.
    static std::vector<std::string> SplitExpressions(const std::string& text, char escapeChar);
    // The same pieces one by one, as views into `text` (so a piece's offset
    // is its data() minus text.data()), without a list of them all; `each`
    // returns false to stop.
    static void ForEachExpression(std::string_view text, char escapeChar,
                                  const std::function<bool(std::string_view piece)>& each);

    // ---- prepared expressions and variable handles
    int PrepareExpression(const std::string& text);
    // A compiled form taken at the current count of changes to the trees
    // that gives a finite Real answers here, inline; everything else is the
    // library's.
    Variant ExecutePreparedExpression(int handle) {
        const auto index = static_cast<std::size_t>(handle);
        if (index < compiled_.size()) [[likely]] {
            const Compiled& c = compiled_[index];
            if (c.kind == VarKind::Real && c.epoch == treeChanges_ && guard_.Idle()) [[likely]] {
                const double value = c.eval(c.node);
                if (std::isfinite(value)) [[likely]] {
                    guard_.Idled();
                    return Variant(value);
                }
                return ExecutePreparedTree(handle, true);
            }
        }
        return ExecutePreparedCompiled(handle);
    }
    void FreePreparedExpression(int handle);
    void ClearPreparedExpressions();
    bool IsValidPreparedExpression(int handle) const {
        return handle >= 0 && handle < prepared_.Count() && prepared_.At(handle) != nullptr;
    }
    // Whether the expression has a compiled form: numbers and Booleans with
    // operators and mathematical built-ins (see docs/api.md).
    bool IsCompiledPreparedExpression(int handle);
    int GetVariableHandles(const std::string& name);
    Variant GetVariables(const std::string& name);
    void SetVariables(const std::string& name, const Variant& value);
    // One indexed access each; a handle outside the table raises the list
    // index error, a handle of a symbol that is no variable the cast error.
    Variant GetVariablesByHandle(int handle);
    void SetVariablesByHandle(int handle, const Variant& value);
    // The typed overloads store a double or a 32-bit integer as a Real or an
    // Integer without a Variant in between; any other argument (a bool, a
    // text) takes the overload above.
    // The store itself is inline: a few instructions when the handle names a
    // variable that holds no text and the value is finite; everything else,
    // errors included (NaN and infinities are refused), is the library's.
    template <class T>
        requires std::same_as<T, double> || std::same_as<T, std::int32_t>
    void SetVariablesByHandle(int handle, T value) {
        TMItem* item = symbols_.Peek(handle);
        bool finite = true;
        if constexpr (std::same_as<T, double>) finite = std::isfinite(value);
        if (item != nullptr && finite && static_cast<TMSymbol*>(item)->IsVariable()) [[likely]] {
            auto* var = static_cast<TMVar*>(item);
            if (!var->ValueRef().IsString() && !var->ValueRef().IsArray()) [[likely]] {
                var->Assign(Variant(value));
                return;
            }
        }
        SetVariableNumber(handle, Variant(value));
    }
    void SetVariableNumber(int handle, const Variant& number);

    // ---- persistence
    std::string DumpStreamable() const;
    virtual void LoadSymbolsFromStream(std::istream& stream);
    virtual void SaveSymbolsToStream(std::ostream& stream);
    virtual void LoadSymbolsFromFile(const std::string& fileName);
    virtual void SaveSymbolsToFile(const std::string& fileName);
    Variant ExecuteFromFile(const std::string& fileName, TStrings* errors = nullptr);
    Variant ExecuteFromStream(std::istream& stream, TStrings* errors = nullptr);
    virtual void DefineProperties(TFiler& filer);
    void ReadSymbols(TReader& reader);
    void WriteSymbols(TWriter& writer);

    // ---- properties
    bool CaseSensitiveSymbols() const { return caseSensitive_; }
    void SetCaseSensitiveSymbols(bool value);
    TDumpFormat DumpFormat() const { return dumpFormat_; }
    void SetDumpFormat(TDumpFormat value) { dumpFormat_ = value; }
    std::string DumpText() const;
    void SetDumpText(const std::string& value);
    char EscapeChar() const { return escapeChar_; }
    void SetEscapeChar(char value) { escapeChar_ = value; }
    const std::string& Expression() const { return expression_; }
    void SetExpression(const std::string& text);
    std::string ExpressionResult() const;
    void SetExpressionResult(const std::string& value);
    std::uint32_t MaxFunctionNesting() const { return maxFunctionNesting_; }
    void SetMaxFunctionNesting(std::uint32_t value) { maxFunctionNesting_ = value; }
    // Bytes that the texts held by variables and the values held by active
    // user-function calls may take together; an evaluation that would pass
    // it ends with an error and leaves the interpreter as it was.
    static constexpr std::size_t DefaultMemoryBudget = std::size_t{1} << 30;
    std::size_t MemoryBudget() const { return memoryBudget_; }
    void SetMemoryBudget(std::size_t bytes) { memoryBudget_ = bytes; }
    std::size_t MemoryInUse() const { return memoryInUse_; }
    const TUnknownSymbolEvent& OnUnknownSymbol() const { return onUnknownSymbol_; }
    void SetOnUnknownSymbol(TUnknownSymbolEvent handler) { onUnknownSymbol_ = std::move(handler); }

    // Called instead of raising when an Expression assignment fails at design
    // time; the default does nothing (the message is kept as the result).
    std::function<void(const Exception&)> ShowException;

    // ---- stopping an evaluation
    // Asks the evaluation in progress (or, when none runs, the next one) to
    // stop with EInterrupted at its next check. Thread-safe and
    // async-signal-safe; the request is dropped when that evaluation ends.
    void Interrupt() noexcept { guard_.Interrupt(); }
    bool InterruptPending() const noexcept { return guard_.InterruptPending(); }
    void ClearInterrupt() noexcept { guard_.ClearInterrupt(); }
    // Budgets of each outermost Execute, ExecuteExpression, PrepareExpression
    // or ExecutePreparedExpression call; 0 (the default) means none.
    std::uint32_t EvaluationTimeLimit() const { return guard_.TimeLimit(); }
    void SetEvaluationTimeLimit(std::uint32_t milliseconds) { guard_.SetTimeLimit(milliseconds); }
    std::uint64_t EvaluationStepLimit() const { return guard_.StepLimit(); }
    void SetEvaluationStepLimit(std::uint64_t steps) { guard_.SetStepLimit(steps); }
    // Called on the evaluating thread about every `intervalMs` while a long
    // evaluation runs, so that a GUI can keep its window alive and offer a
    // way to stop (the handler may call Interrupt() or throw). An empty
    // handler removes it.
    void SetOnProgress(std::function<void(TMathInterpreter&)> handler, std::uint32_t intervalMs = 50) {
        if (handler)
            guard_.SetProgress([this, h = std::move(handler)] { h(*this); }, intervalMs);
        else
            guard_.SetProgress(nullptr, intervalMs);
    }
    TEvaluationGuard& Guard() { return guard_; }

    // ---- symbols
    std::string Dump(const std::string& separator, TDumpFormat format) const;
    std::string DumpSymbol(const std::string& name, TDumpFormat format) const;
    int SymbolCount() const { return symbols_.Count(); }
    bool SymbolExists(const std::string& name) const { return symbols_.SymbolExists(name); }
    void ClearSymbols();
    bool IsEqualString(const std::string& first, const std::string& second) const;
    virtual void DoUnknownSymbol(const std::string& identifier, const Variant& parameters, Variant& value);

    TMSymbols& Symbols() { return symbols_; }
    const TMSymbols& Symbols() const { return symbols_; }
    TMExpressions& PreparedExpressions() { return prepared_; }

    // Depth of user-function evaluation in progress.
    std::uint32_t FunctionNestingLevel = 0;

    // ---- internal protocol of the items
    // Unbinds every prepared tree from a symbol about to be freed.
    void SymbolRemoved(TMSymbol* symbol);
    // A symbol of the table took a new name.
    void SymbolRenamed(const std::string& oldName, const std::string& newName);
    // Raises when an evaluation is running: freeing symbols or trees then
    // would pull them from under the evaluation.
    void CheckNotEvaluating(const char* operation) const;
    // Whether `bytes` more of native stack fit on the evaluating thread.
    bool StackFits(std::size_t bytes) const;
    int EvaluationDepth() const { return evaluationDepth_; }
    // Memory budget accounting; charging past the budget raises.
    void ChargeMemory(std::size_t bytes) {
        if (bytes > memoryBudget_ || memoryInUse_ > memoryBudget_ - bytes) MemoryBudgetExceeded();
        memoryInUse_ += bytes;
    }
    void ReleaseMemory(std::size_t bytes) { memoryInUse_ -= bytes < memoryInUse_ ? bytes : memoryInUse_; }
    // A variable lets go of a value of `bytes`. A text still held elsewhere
    // (by an operand or a result being gathered) stays counted until the
    // outermost entry point ends.
    void ReleaseVariableMemory(std::size_t bytes, bool stillHeld);
    // Brackets a public entry point.
    struct EntryScope {
        explicit EntryScope(TMathInterpreter& i) : interp(i) { ++interp.entryDepth_; }
        ~EntryScope();
        TMathInterpreter& interp;
    };
    // Where items made while a tree is built go (null: the heap).
    ItemArena* BuildArena() const { return arena_; }
    // Loading symbols: a body may refer to a function that has parameters
    // by now; it is bound and fails when called, as it did when saved.
    bool LoadingSymbols() const { return loadingSymbols_; }

    // Brackets the evaluation of a tree; the built-ins and operators it
    // runs find the interpreter, for its budgets, through it.
    struct EvaluationScope {
        explicit EvaluationScope(TMathInterpreter& i);
        ~EvaluationScope();
        TMathInterpreter& interp;
        TMathInterpreter* outer;
    };

private:
    TMVar* VariableAt(int handle) {
        auto* symbol = static_cast<TMSymbol*>(symbols_.Get(handle));
        if (symbol == nullptr || !symbol->IsVariable()) NotAVariable();
        return static_cast<TMVar*>(symbol);
    }
    [[noreturn]] static void NotAVariable();
    [[noreturn]] void MemoryBudgetExceeded() const;
    void Tokenize(std::string_view text, TMItems& items);
    void ParseNumber(std::string_view text, std::size_t& p, TMItems& items);
    std::string ParseString(std::string_view text, std::size_t& p) const;
    TMValue* BuildTree(std::string_view text);

    // The interpreter changes its prepared trees through the entries; a
    // change through the list's own operations drops what is kept about them.
    class PreparedList : public TMExpressions {
    public:
        explicit PreparedList(TMathInterpreter* owner) : owner_(owner) {}

    protected:
        void ListChanged() override;

    private:
        TMathInterpreter* owner_;
    };
    // The compiled form of a prepared tree, and what it was taken from.
    // Aligned so that finding a slot takes a shift.
    struct alignas(32) Compiled {
        std::uint64_t epoch = 0;  // treeChanges_ when compiled; 64 bits: never comes round again
        // Of the result; Empty without a compiled form.
        VarKind kind = VarKind::Empty;
        // The root of the compiled form and its function, null without one.
        double (*eval)(const prepared::Node*) = nullptr;
        const prepared::Node* node = nullptr;
        std::unique_ptr<prepared::Program> program;
        const TMItem* root = nullptr;
    };
    prepared::Program* CompiledFor(int handle);
    void PreparedListChanged();
    int TakePreparedSlot();
    void ReleasePreparedSlot(int slot) noexcept;
    void IndexPreparedTree(int handle, TMItem* root);
    void AddPreparedName(int handle, std::string key);
    void UnindexPreparedTree(int handle) noexcept;
    void RebuildPreparedIndex();
    Variant ExecutePreparedCompiled(int handle);
    Variant ExecutePreparedTree(int handle, bool compiledMissed);

    TDumpFormat dumpFormat_ = dfQualified;
    std::string expression_;
    Variant expressionResult_;
    PreparedList prepared_{this};
    std::vector<Compiled> compiled_;
    // Changes to the items of this interpreter's prepared trees that their
    // compiled forms read; the trees' arenas count them here while it lives.
    std::uint64_t treeChanges_ = 0;
    std::shared_ptr<std::uint64_t> treeChangesCount_{std::make_shared<char>(), &treeChanges_};
    // The prepared trees that can refer to each name (case folded); for each
    // tree those names, with the tree's place in each name's list; the free
    // slots, lowest first; compilations made, for tests.
    struct PreparedName {
        std::string key;
        std::size_t position;
    };
    std::unordered_map<std::string, std::vector<int>> preparedUsers_;
    std::vector<std::vector<PreparedName>> preparedNames_;
    std::vector<int> freePrepared_;
    bool preparedIndexValid_ = true;
    std::uint64_t compilations_ = 0;
    friend struct InterpreterAccess;
    std::uint32_t maxFunctionNesting_ = 1000;
    bool caseSensitive_ = false;
    TUnknownSymbolEvent onUnknownSymbol_;
    char escapeChar_ = '\0';
    TMSymbols symbols_;
    // The arena of the tree being built.
    ItemArena* arena_ = nullptr;
    // Working lists of tree building, kept for their capacity.
    struct Scratch {
        struct OpenBracket {
            int start;
            bool comma;
        };
        TMItems items, stack;
        TMValues output;
        std::vector<OpenBracket> brackets;
    };
    Scratch scratch_;
    bool scratchBusy_ = false;
    int evaluationDepth_ = 0;
    bool clearing_ = false;
    bool loadingSymbols_ = false;
    const char* stackFloor_ = nullptr;
    std::size_t memoryBudget_ = DefaultMemoryBudget;
    std::size_t memoryInUse_ = 0;
    std::size_t releaseAtEnd_ = 0;
    int entryDepth_ = 0;
    TEvaluationGuard guard_;

    void LoadSymbolsText(const std::string& text);
};

}  // namespace zorvex
