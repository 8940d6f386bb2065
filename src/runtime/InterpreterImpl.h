// Internal: the inside of an interpreter. Everything TMathInterpreter keeps
// between calls lives here, behind the public class, so that the installed
// header shows no layout but the pointer to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "EvaluationGuard.h"
#include "ItemArena.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"

namespace zorvex {

// An error of one expression run on its own is that of expression 0; an
// Execute around it says which of its pieces it was.
inline void FirstExpression(Exception& e) noexcept {
    if (e.ExpressionIndex() < 0) e.SetExpressionIndex(0);
}

class ItemArena;
namespace prepared {
class Program;
}  // namespace prepared

// A host function under the name it was defined with.
struct HostFunctionEntry {
    std::string name;
    THostFunction function;
};

struct TMathInterpreter::Impl {
    explicit Impl(TMathInterpreter& owner);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    static Impl& Of(TMathInterpreter& interp) noexcept { return *interp.impl_; }
    static const Impl& Of(const TMathInterpreter& interp) noexcept { return *interp.impl_; }

    TMathInterpreter& self;

    // ---- properties
    TDumpFormat dumpFormat = dfQualified;
    std::string expression;
    Variant expressionResult;
    std::uint32_t maxFunctionNesting = 1000;
    std::uint32_t functionNestingLevel = 0;
    bool caseSensitive = false;
    char escapeChar = '\0';
    TUnknownSymbolEvent onUnknownSymbol;
    TProgressEvent onProgress;
    std::uint32_t progressInterval = 50;

    // ---- the symbol table
    // The values of plain variables by handle, for the inline typed writes
    // (see UpdateVariableCells). Before the table: they outlive it.
    std::vector<Variant*> cellVector;
    // The cell of every other handle: a text, which they do not store into.
    Variant notPlainCell{std::string()};
    detail::VariableCells& variableCells = self.cells_;
    bool cellsValid = false;
    TMSymbols symbols;
    // Freeing the whole table: its symbols need not unbind the prepared trees
    // one by one.
    bool clearing = false;
    // Loading symbols: a body may refer to a function that has parameters
    // by now; it is bound and fails when called, as it did when saved.
    bool loadingSymbols = false;

    // ---- text to tokens to tree
    // The items of one text share an arena; null outside a build.
    ItemArena* arena = nullptr;
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
    Scratch scratch;
    bool scratchBusy = false;

    TMValue* BuildTree(std::string_view text);
    void Tokenize(std::string_view text, TMItems& items);
    void ParseNumber(std::string_view text, std::size_t& p, TMItems& items);
    std::string ParseString(std::string_view text, std::size_t& p) const;
    TMValue* RPN(TMItems& items);
    void ProcessExpressionKeywords(TMItems& items);

    // ---- evaluation and its limits
    TEvaluationGuard guard;
    int evaluationDepth = 0;
    const char* stackFloor = nullptr;
    std::size_t memoryBudget = DefaultMemoryBudget;
    std::size_t memoryInUse = 0;
    // Texts variables let go of while a value still shares them: released
    // when the outermost entry point ends.
    std::size_t releaseAtEnd = 0;
    int entryDepth = 0;

    void ChargeMemory(std::size_t bytes) {
        if (bytes > memoryBudget || memoryInUse > memoryBudget - bytes) MemoryBudgetExceeded();
        memoryInUse += bytes;
    }
    void ReleaseMemory(std::size_t bytes) noexcept { memoryInUse -= bytes < memoryInUse ? bytes : memoryInUse; }
    // A variable lets go of a value of `bytes`. A text still held elsewhere
    // (by an operand or a result being gathered) stays counted until the
    // outermost entry point ends.
    void ReleaseVariableMemory(std::size_t bytes, bool stillHeld) noexcept;
    [[noreturn]] void MemoryBudgetExceeded() const;
    // Whether `bytes` more of native stack fit on the evaluating thread.
    bool StackFits(std::size_t bytes) const;
    // Raises when an evaluation is running: freeing symbols or trees then
    // would pull them from under the evaluation.
    void CheckNotEvaluating(const char* operation) const;

    // Raises a flag such as loadingSymbols for a scope, then puts back what
    // it was.
    struct FlagScope {
        explicit FlagScope(bool& f) : flag(f), saved(f) { flag = true; }
        ~FlagScope() { flag = saved; }
        bool& flag;
        bool saved;
    };
    // Brackets a public entry point.
    struct EntryScope {
        explicit EntryScope(Impl& i) : impl(i) { ++impl.entryDepth; }
        ~EntryScope();
        Impl& impl;
    };
    // Brackets the evaluation of a tree; the built-ins and operators it runs
    // find the interpreter, for its budgets, through it.
    struct EvaluationScope {
        explicit EvaluationScope(Impl& i);
        ~EvaluationScope();
        Impl& impl;
        TMathInterpreter* outer;
    };
    // The body of a public entry point: std::bad_alloc leaves it as the
    // language's EOutOfMemory.
    template <class F>
    decltype(auto) Entry(F&& body) {
        const EntryScope scope(*this);
        try {
            return std::forward<F>(body)();
        } catch (const std::bad_alloc&) {
            OutOfMemory();
        }
    }
    [[noreturn]] static void OutOfMemory();
    // Evaluates a built tree, its stack checked first.
    Variant Evaluate(TMValue& root, const char* operation);

    // ---- prepared expressions
    // The interpreter changes its prepared trees through the entries; a
    // change through the list's own operations drops what is kept about them.
    class PreparedList : public TMExpressions {
    public:
        explicit PreparedList(Impl& owner) : owner_(owner) {}

    protected:
        void ListChanged() override;

    private:
        Impl& owner_;
    };
    // The compiled form of a prepared tree, and what it was taken from.
    struct Compiled {
        std::uint64_t epoch = 0;  // treeChanges.count when compiled
        // Of the result; Empty without a compiled form.
        VarKind kind = VarKind::Empty;
        std::unique_ptr<prepared::Program> program;
        const TMItem* root = nullptr;
        Compiled();
        ~Compiled();
        Compiled(Compiled&&) noexcept;
        Compiled& operator=(Compiled&&) noexcept;
    };
    PreparedList prepared{*this};
    // Pieces of machine code the compiled forms hold (each takes a page of
    // its own), and how many may be: forms beyond run without.
    int machinePrograms = 0;
    static constexpr int kMachinePrograms = 1024;
    // Runs of a compiled form by the handlers before it is assembled; tests
    // set 0 (at once) or turn machine code off.
    int machineAfter = 1024;
    bool machineCode = true;
    std::vector<Compiled> compiled;
    // Changes to the items of this interpreter's prepared trees that their
    // compiled forms read; the trees' arenas count them here while it lives.
    TreeChanges treeChanges;
    std::shared_ptr<TreeChanges> treeChangesCount{std::make_shared<char>(), &treeChanges};
    // The hosts' inline way into the compiled forms of Real kind, by handle
    // (see OpenInline); current as of treeChanges.count == inlineEpoch.
    std::vector<const detail::CompiledForm*> inlineRuns;
    detail::CompiledRuns& inlineGate = self.runs_;
    std::uint64_t inlineEpoch = 0;
    // The prepared trees that can refer to each name (case folded); for each
    // tree those names, with the tree's place in each name's list; the free
    // slots, lowest first; compilations made, for tests.
    struct PreparedName {
        std::string key;
        std::size_t position;
    };
    std::unordered_map<std::string, std::vector<int>> preparedUsers;
    std::vector<std::vector<PreparedName>> preparedNames;
    std::vector<int> freePrepared;
    bool preparedIndexValid = true;
    std::uint64_t compilations = 0;

    bool IsValidPrepared(int handle) const {
        return handle >= 0 && handle < prepared.Count() && prepared.At(handle) != nullptr;
    }
    prepared::Program* CompiledFor(int handle);
    // Opens the inline way when nothing needs a look first; ShutInline stops
    // it until then.
    void OpenInline() noexcept;
    void ShutInline() noexcept { inlineGate.open.store(0, std::memory_order_seq_cst); }
    void PreparedListChanged();
    int TakePreparedSlot();
    void ReleasePreparedSlot(int slot) noexcept;
    void IndexPreparedTree(int handle, TMItem* root);
    void AddPreparedName(int handle, std::string key);
    void UnindexPreparedTree(int handle) noexcept;
    void RebuildPreparedIndex();
    // The way of forms of other kinds than Real, of misses and of trees.
    [[gnu::noinline]] Variant ExecutePrepared(int handle);
    Variant ExecutePreparedTree(int handle, bool compiledMissed);
    // Unbinds every prepared tree that can refer to a symbol about to be freed.
    void SymbolRemoved(TMSymbol* symbol);
    // A symbol of the table took a new name.
    void SymbolRenamed(const std::string& oldName, const std::string& newName);

    // ---- variable handles
    TMVar* VariableAt(int handle);
    // Takes the cells afresh, or for the handles added since.
    void UpdateVariableCells();
    void DropVariableCells() noexcept {
        variableCells.count = 0;
        cellsValid = false;
    }

    // ---- host functions, bound variables and constants
    // In the order defined; the index by name under the table's case rule
    // (the first of names that compare equal wins); the count of changes,
    // numbered across interpreters so that a call's memo of a lookup never
    // matches another interpreter's.
    std::vector<std::unique_ptr<HostFunctionEntry>> hostFunctions;
    std::unordered_map<std::string, HostFunctionEntry*> hostIndex;
    std::uint64_t hostChanges = 0;
    std::string HostKey(const std::string& name) const;
    const HostFunctionEntry* FindHostFunction(const std::string& name) const;
    // After a change of the host functions or of the case rule.
    void HostFunctionsChanged();
    // The variable `name` names or a new one, for binding.
    TMVar* HostVariable(const std::string& name, const char* operation);
    // Before a saved table is loaded: the host's variables and constants
    // stay, so that the table's values are written where the host reads them.
    void ClearForLoad();

    // ---- persistence
    void LoadSymbolsText(const std::string& text);
};

}  // namespace zorvex
