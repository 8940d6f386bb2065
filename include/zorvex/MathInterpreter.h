// The interpreter component: tokenizer, tree building, execution, prepared
// expressions, symbol persistence and the published properties.
#pragma once

#include <atomic>
#include <bit>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zorvex/Builtins.h"
#include "zorvex/Component.h"
#include "zorvex/Exception.h"
#include "zorvex/Export.h"
#include "zorvex/HostFunction.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

namespace zorvex {

class TMathInterpreter;

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

namespace detail {
// What the inline typed writes of TMathInterpreter read of an interpreter.
// Its layout is part of the binary interface (see docs/api.md).
struct VariableCells {
    // By handle: the value of a plain variable, into which a number may be
    // stored in place unless it holds a text or an array; else null.
    // A handle of anything else has a cell that holds a text.
    Variant* const* cells = nullptr;
    std::size_t count = 0;
};

// Whether x is finite, from its bits: a host built with -ffast-math may
// take a floating-point test as always true.
ZORVEX_ALWAYS_INLINE bool IsFinite(double x) noexcept {
    return (std::bit_cast<std::uint64_t>(x) << 1) < 0xFFE0000000000000u;
}

// A compiled form: the function that runs it (given the form itself); the
// library keeps the rest behind it.
struct CompiledForm {
    double (*run)(const CompiledForm* form);
};
// What the inline ExecutePreparedExpression reads of an interpreter. Its
// layout is part of the binary interface (see docs/api.md).
struct CompiledRuns {
    // By handle, the compiled form of Real kind, or one that answers NaN: a
    // result that is not finite means the library evaluates the expression
    // instead.
    const CompiledForm* const* first = nullptr;
    // Handles below it run inline; 0 while the library must look first (an
    // evaluation in progress, an interrupt request, a budget, a tree changed).
    std::atomic<std::size_t> open{0};
};
}  // namespace detail

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
    // Inline while the interpreter has nothing to check: one call into the
    // compiled form (see docs/api.md).
    ZORVEX_ALWAYS_INLINE Variant ExecutePreparedExpression(int handle) {
        const auto index = static_cast<std::size_t>(handle);
        if (index < runs_.open.load(std::memory_order_relaxed)) [[likely]] {
            const detail::CompiledForm* form = runs_.first[index];
            const double value = form->run(form);
            if (detail::IsFinite(value)) [[likely]]
                return Variant(value);
        }
        return ExecutePreparedChecked(handle);
    }
    void FreePreparedExpression(int handle);
    void ClearPreparedExpressions();
    bool IsValidPreparedExpression(int handle) const;
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
    // A double or a 32-bit integer is stored as a Real or an Integer without
    // a Variant in between; any other argument (a bool, a text) takes the
    // overload above. NaN and infinities are refused.
    template <class T>
        requires std::same_as<T, double> || std::same_as<T, std::int32_t>
    ZORVEX_ALWAYS_INLINE void SetVariablesByHandle(int handle, T value) {
        if (static_cast<std::size_t>(handle) < cells_.count) {
            Variant* cell = cells_.cells[handle];
            bool finite = true;
            if constexpr (std::same_as<T, double>) finite = detail::IsFinite(value);
            if (finite && cell->HoldsNoHeap()) [[likely]] {
                cell->PutNumber(value);
                return;
            }
        }
        if constexpr (std::same_as<T, double>)
            SetVariableReal(handle, value);
        else
            SetVariableInteger(handle, value);
    }

    // ---- host functions, variables bound to host memory, constants
    // A callable of a fixed number of operands (see HostFunction.h), called
    // as name(operands) where the table defines no symbol of that name.
    template <class F>
    void DefineFunction(const std::string& name, F&& callable, FunctionOptions options = {}) {
        AddHostFunction(name, MakeHostFunction(std::forward<F>(callable), options));
    }
    // A callable over std::span<const Variant>, for minCount to maxCount
    // operands.
    template <class F>
        requires std::invocable<F&, std::span<const Variant>>
    void DefineFunction(const std::string& name, F&& callable, int minCount, int maxCount,
                        FunctionOptions options = {}) {
        AddHostFunction(name, MakeHostFunction(std::forward<F>(callable), minCount, maxCount, options));
    }
    // Whether there was a host function of that name.
    bool UndefineFunction(const std::string& name);
    // In the order they were defined.
    std::vector<THostFunctionInfo> HostFunctions() const;
    // A variable of the table whose value lives at `address`, which must
    // outlive the binding; an existing variable of that name is bound.
    // Deleting the variable or clearing the table ends the binding.
    void BindVariable(const std::string& name, double* address);
    void BindVariable(const std::string& name, std::int32_t* address);
    // A variable of the table that cannot be assigned; saving leaves it out.
    void DefineConstant(const std::string& name, const Variant& value);

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
    bool CaseSensitiveSymbols() const;
    void SetCaseSensitiveSymbols(bool value);
    TDumpFormat DumpFormat() const;
    void SetDumpFormat(TDumpFormat value);
    std::string DumpText() const;
    void SetDumpText(const std::string& value);
    char EscapeChar() const;
    void SetEscapeChar(char value);
    const std::string& Expression() const;
    void SetExpression(const std::string& text);
    std::string ExpressionResult() const;
    void SetExpressionResult(const std::string& value);
    std::uint32_t MaxFunctionNesting() const;
    void SetMaxFunctionNesting(std::uint32_t value);
    // Depth of user-function evaluation in progress.
    std::uint32_t FunctionNestingLevel() const;
    // Bytes that trees, the texts held by variables, the values an
    // evaluation keeps and the results Execute gathers may take together; an
    // evaluation that would pass it ends with an error and leaves the
    // interpreter as it was.
    static constexpr std::size_t DefaultMemoryBudget = std::size_t{1} << 30;
    std::size_t MemoryBudget() const;
    void SetMemoryBudget(std::size_t bytes);
    std::size_t MemoryInUse() const;
    const TUnknownSymbolEvent& OnUnknownSymbol() const;
    void SetOnUnknownSymbol(TUnknownSymbolEvent handler);

    // Called instead of raising when an Expression assignment fails at design
    // time; the default does nothing (the message is kept as the result).
    std::function<void(const Exception&)> ShowException;

    // ---- stopping an evaluation
    // Asks the evaluation in progress (or, when none runs, the next one) to
    // stop with EInterrupted at its next check. Thread-safe and
    // async-signal-safe; the request is dropped when that evaluation ends
    // (a compiled prepared expression makes no checks: it leaves the request
    // to the next evaluation).
    void Interrupt() noexcept;
    bool InterruptPending() const noexcept;
    void ClearInterrupt() noexcept;
    // Budgets of each outermost Execute, ExecuteExpression, PrepareExpression
    // or ExecutePreparedExpression call; 0 (the default) means none.
    std::uint32_t EvaluationTimeLimit() const;
    void SetEvaluationTimeLimit(std::uint32_t milliseconds);
    std::uint64_t EvaluationStepLimit() const;
    void SetEvaluationStepLimit(std::uint64_t steps);
    // Called on the evaluating thread about every `intervalMs` while a long
    // evaluation runs, so that a GUI can keep its window alive and offer a
    // way to stop (the handler may call Interrupt() or throw). An empty
    // handler removes it.
    using TProgressEvent = std::function<void(TMathInterpreter& sender)>;
    void SetOnProgress(TProgressEvent handler, std::uint32_t intervalMs = 50);
    const TProgressEvent& OnProgress() const;
    std::uint32_t ProgressInterval() const;
    // Whether a call of this interpreter is evaluating right now (on this
    // thread, from a handler, or on another thread).
    bool Evaluating() const noexcept;

    // ---- symbols
    std::string Dump(const std::string& separator, TDumpFormat format) const;
    std::string DumpSymbol(const std::string& name, TDumpFormat format) const;
    int SymbolCount() const;
    bool SymbolExists(const std::string& name) const;
    void ClearSymbols();
    bool IsEqualString(const std::string& first, const std::string& second) const;
    virtual void DoUnknownSymbol(const std::string& identifier, const Variant& parameters, Variant& value);

    TMSymbols& Symbols();
    const TMSymbols& Symbols() const;
    TMExpressions& PreparedExpressions();

    // The inside, private to the library.
    struct Impl;

private:
    void AddHostFunction(const std::string& name, THostFunction function);
    Variant ExecutePreparedChecked(int handle);
    void SetVariableReal(int handle, double value);
    void SetVariableInteger(int handle, std::int32_t value);

    // What the inline members read, kept current by the library; here
    // rather than behind impl_, one load less on each call.
    detail::VariableCells cells_;
    detail::CompiledRuns runs_;
    std::unique_ptr<Impl> impl_;
    friend struct Impl;
};

}  // namespace zorvex
