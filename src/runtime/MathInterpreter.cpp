// The interpreter component: its state, the entry points that run texts,
// the published properties and the symbol table's operations. Text to tree
// is MathInterpreterTokenizer.cpp and MathInterpreterTree.cpp; prepared
// expressions, persistence and the limits have units of their own.
#include "zorvex/MathInterpreter.h"

#include <memory>
#include <utility>
#include <vector>

#include "InterpreterImpl.h"
#include "ItemArena.h"
#include "ItemHost.h"
#include "ItemUtil.h"
#include "PreparedProgram.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

TMathInterpreter::Impl::Impl(TMathInterpreter& owner) : self(owner) {
    symbols.Interpreter = &owner;
    treeChanges.inlineOpen = &inlineGate.open;
    guard.ShutOnChecks(&inlineGate.open);
}

TMathInterpreter::Impl::~Impl() = default;

TMathInterpreter::TMathInterpreter(TComponent* owner) : TComponent(owner), impl_(std::make_unique<Impl>(*this)) {
    SetCaseSensitiveSymbols(false);
}

TMathInterpreter::~TMathInterpreter() {
    // Those who hear of our end may still read the table.
    Destroying();
    impl_->prepared.FreeAndClear();
    impl_->clearing = true;
    impl_->symbols.FreeAndClear();
}

// ---------------------------------------------------------------- running texts

// The pieces are run as they are found, and the results gathered count
// against the memory budget until the caller has them.
Variant TMathInterpreter::Execute(const std::string& text, TStrings* errors) {
    Impl& d = *impl_;
    return d.Entry([&] {
        if (errors != nullptr) errors->Clear();
        TEvaluationGuard::Run run(d.guard);
        Variant array = Variant::Array(0);
        std::vector<Variant>& results = array.ArrayItems();
        guard::Held held(*this);
        zorvex::ForEachExpression(text, d.escapeChar, [&](std::string_view piece) {
            if (results.size() == results.capacity()) {
                const std::size_t capacity = results.capacity() < 16 ? 16 : results.capacity() * 2;
                held.Charge((capacity - results.capacity()) * sizeof(Variant));
                results.reserve(capacity);
            }
            try {
                Variant value = ExecuteExpression(std::string(piece));
                held.Add(value);
                results.push_back(std::move(value));
            } catch (EInterrupted& e) {
                e.SetExpressionIndex(static_cast<int>(results.size()));
                throw;  // stops the whole text, not one piece
            } catch (Exception& e) {
                // The index of its Null among the results.
                e.SetExpressionIndex(static_cast<int>(results.size()));
                if (errors == nullptr) throw;
                results.push_back(Variant::Null());
                errors->Add(e.Message());
            }
        });
        if (results.empty()) return Variant::Array(1);
        return array;
    });
}

Variant TMathInterpreter::ExecuteExpression(const std::string& text) {
    Impl& d = *impl_;
    try {
        return d.Entry([&]() -> Variant {
            TEvaluationGuard::Run run(d.guard);
            d.guard.Check();
            std::unique_ptr<TMValue> root(d.BuildTree(text));
            if (!root) return Variant::Null();
            return d.Evaluate(*root, "TMathInterpreter.ExecuteExpression()");
        });
    } catch (Exception& e) {
        FirstExpression(e);
        throw;
    }
}

Variant TMathInterpreter::Impl::Evaluate(TMValue& root, const char* operation) {
    EvaluationScope scope(*this);
    if (!StackFits(guard::EvalBytes(ItemAccess::StackUnits(&root))))
        throw ELimitError(std::string(operation) + " Not enough stack space left to execute an expression.");
    return root.GetValue();
}

// ---------------------------------------------------------------- properties

bool TMathInterpreter::CaseSensitiveSymbols() const { return impl_->caseSensitive; }

void TMathInterpreter::SetCaseSensitiveSymbols(bool value) {
    if (impl_->caseSensitive && !value) ClearSymbols();
    impl_->caseSensitive = value;
    ItemAccess::InvalidateIndex(impl_->symbols);
    impl_->HostFunctionsChanged();
}

TDumpFormat TMathInterpreter::DumpFormat() const { return impl_->dumpFormat; }
void TMathInterpreter::SetDumpFormat(TDumpFormat value) { impl_->dumpFormat = value; }

std::string TMathInterpreter::DumpText() const { return Dump(";\r\n", impl_->dumpFormat); }

void TMathInterpreter::SetDumpText(const std::string&) {
    throw Exception("TMathInterpreter.DumpText property is for display purposes only.");
}

char TMathInterpreter::EscapeChar() const { return impl_->escapeChar; }
void TMathInterpreter::SetEscapeChar(char value) { impl_->escapeChar = value; }

const std::string& TMathInterpreter::Expression() const { return impl_->expression; }

void TMathInterpreter::SetExpression(const std::string& text) {
    Impl& d = *impl_;
    d.expression = text;
    try {
        d.expressionResult = ExecuteExpression(text);
    } catch (const Exception& e) {
        if (Designing()) {
            d.expressionResult = Variant(e.Message());
            if (ShowException) ShowException(e);
            return;
        }
        d.expressionResult = Variant::Null();
        throw;
    }
}

std::string TMathInterpreter::ExpressionResult() const {
    if (impl_->expressionResult.IsArray()) return std::string();
    return VarToStr(impl_->expressionResult);
}

void TMathInterpreter::SetExpressionResult(const std::string&) {
    throw Exception("TMathInterpreter.ExpressionResult property is for display purposes only.");
}

std::uint32_t TMathInterpreter::MaxFunctionNesting() const { return impl_->maxFunctionNesting; }
void TMathInterpreter::SetMaxFunctionNesting(std::uint32_t value) { impl_->maxFunctionNesting = value; }
std::uint32_t TMathInterpreter::FunctionNestingLevel() const { return impl_->functionNestingLevel; }

std::size_t TMathInterpreter::MemoryBudget() const { return impl_->memoryBudget; }
void TMathInterpreter::SetMemoryBudget(std::size_t bytes) { impl_->memoryBudget = bytes; }
std::size_t TMathInterpreter::MemoryInUse() const { return impl_->memoryInUse; }

const TUnknownSymbolEvent& TMathInterpreter::OnUnknownSymbol() const { return impl_->onUnknownSymbol; }
void TMathInterpreter::SetOnUnknownSymbol(TUnknownSymbolEvent handler) { impl_->onUnknownSymbol = std::move(handler); }

// ---------------------------------------------------------------- stopping an evaluation

void TMathInterpreter::Interrupt() noexcept { impl_->guard.Interrupt(); }
bool TMathInterpreter::InterruptPending() const noexcept { return impl_->guard.InterruptPending(); }
void TMathInterpreter::ClearInterrupt() noexcept { impl_->guard.ClearInterrupt(); }
std::uint32_t TMathInterpreter::EvaluationTimeLimit() const { return impl_->guard.TimeLimit(); }
void TMathInterpreter::SetEvaluationTimeLimit(std::uint32_t milliseconds) { impl_->guard.SetTimeLimit(milliseconds); }
std::uint64_t TMathInterpreter::EvaluationStepLimit() const { return impl_->guard.StepLimit(); }
void TMathInterpreter::SetEvaluationStepLimit(std::uint64_t steps) { impl_->guard.SetStepLimit(steps); }

void TMathInterpreter::SetOnProgress(TProgressEvent handler, std::uint32_t intervalMs) {
    Impl& d = *impl_;
    d.onProgress = std::move(handler);
    d.progressInterval = intervalMs;
    if (d.onProgress)
        d.guard.SetProgress([this] { impl_->onProgress(*this); }, intervalMs);
    else
        d.guard.SetProgress(nullptr, intervalMs);
}

const TMathInterpreter::TProgressEvent& TMathInterpreter::OnProgress() const { return impl_->onProgress; }
std::uint32_t TMathInterpreter::ProgressInterval() const { return impl_->progressInterval; }
bool TMathInterpreter::Evaluating() const noexcept { return impl_->guard.Busy() || impl_->evaluationDepth > 0; }

// ---------------------------------------------------------------- symbols

std::string TMathInterpreter::Dump(const std::string& separator, TDumpFormat format) const {
    return impl_->symbols.Dump(separator, format);
}

std::string TMathInterpreter::DumpSymbol(const std::string& name, TDumpFormat format) const {
    TMSymbol* symbol = impl_->symbols.FindSymbol(name);
    if (symbol == nullptr)
        throw EUnknownName("TMathInterpreter.DumpSymbol() Symbol: \"" + Excerpt(name) + "\" does not exist.");
    return symbol->Dump(format);
}

int TMathInterpreter::SymbolCount() const { return impl_->symbols.Count(); }
bool TMathInterpreter::SymbolExists(const std::string& name) const { return impl_->symbols.SymbolExists(name); }

void TMathInterpreter::ClearSymbols() {
    Impl& d = *impl_;
    d.CheckNotEvaluating("clear the symbols");
    // Let go of the whole table at once rather than symbol by symbol.
    std::vector<TMReference*> refs;
    for (int i = 0; i < d.prepared.Count(); ++i)
        if (auto* root = ItemAs<TMExpression>(d.prepared.At(i), ikExpression)) root->CollectReferences(refs);
    for (TMReference* ref : refs)
        if (ref->SymbolReference != nullptr && ref->SymbolReference->List == &d.symbols) {
            ref->SymbolReference = nullptr;
            if (ref->Is(ikCompiled)) TreeChanged(ref);
        }
    struct Clearing {
        explicit Clearing(bool& f) : flag(f) { flag = true; }
        ~Clearing() { flag = false; }
        bool& flag;
    } clearing(d.clearing);
    d.symbols.FreeAndClear();
}

bool TMathInterpreter::IsEqualString(const std::string& first, const std::string& second) const {
    if (impl_->caseSensitive) return first == second;
    return UpperCase(first) == UpperCase(second);
}

void TMathInterpreter::DoUnknownSymbol(const std::string& identifier, const Variant& parameters, Variant& value) {
    if (impl_->onUnknownSymbol) impl_->onUnknownSymbol(*this, identifier, parameters, value);
}

TMSymbols& TMathInterpreter::Symbols() { return impl_->symbols; }
const TMSymbols& TMathInterpreter::Symbols() const { return impl_->symbols; }
TMExpressions& TMathInterpreter::PreparedExpressions() { return impl_->prepared; }

void TMathInterpreter::Impl::CheckNotEvaluating(const char* operation) const {
    if (evaluationDepth > 0)
        throw Exception(std::string("TMathInterpreter can't ") + operation +
                        " while an expression is being evaluated.");
}

// ---------------------------------------------------------------- what the items ask

namespace host {

bool CaseSensitive(const TMathInterpreter* interp) { return interp != nullptr && interp->CaseSensitiveSymbols(); }

char EscapeChar(const TMathInterpreter* interp) { return interp != nullptr ? interp->EscapeChar() : '\0'; }

TMSymbols& Table(TMathInterpreter& interp) { return TMathInterpreter::Impl::Of(interp).symbols; }

bool IsTable(const TMathInterpreter* interp, const TMSymbols* list) {
    return interp != nullptr && list == &TMathInterpreter::Impl::Of(*interp).symbols;
}

bool Loading(const TMathInterpreter* interp) {
    return interp != nullptr && TMathInterpreter::Impl::Of(*interp).loadingSymbols;
}

ItemArena* BuildArena(const TMathInterpreter* interp) {
    return interp != nullptr ? TMathInterpreter::Impl::Of(*interp).arena : nullptr;
}

void UnknownSymbol(TMathInterpreter& interp, const std::string& name, const Variant& parameters, Variant& value) {
    interp.DoUnknownSymbol(name, parameters, value);
}

void CheckNotEvaluating(const TMathInterpreter* interp, const char* operation) {
    if (interp != nullptr) TMathInterpreter::Impl::Of(*interp).CheckNotEvaluating(operation);
}

void SymbolRemoved(TMathInterpreter& interp, TMSymbol* symbol) {
    TMathInterpreter::Impl::Of(interp).SymbolRemoved(symbol);
}

void SymbolRenamed(TMathInterpreter& interp, const std::string& oldName, const std::string& newName) {
    TMathInterpreter::Impl::Of(interp).SymbolRenamed(oldName, newName);
}

void ChargeMemory(TMathInterpreter& interp, std::size_t bytes) { TMathInterpreter::Impl::Of(interp).ChargeMemory(bytes); }

void ReleaseMemory(TMathInterpreter& interp, std::size_t bytes) noexcept {
    TMathInterpreter::Impl::Of(interp).ReleaseMemory(bytes);
}

void ReleaseVariableMemory(TMathInterpreter& interp, std::size_t bytes, bool stillHeld) noexcept {
    TMathInterpreter::Impl::Of(interp).ReleaseVariableMemory(bytes, stillHeld);
}

void Check(TMathInterpreter& interp) { TMathInterpreter::Impl::Of(interp).guard.Check(); }

FunctionLevel::FunctionLevel(TMathInterpreter& interp, std::size_t stackBytes) : interp_(interp) {
    TMathInterpreter::Impl& d = TMathInterpreter::Impl::Of(interp);
    level_ = d.functionNestingLevel + 1;
    if (d.functionNestingLevel >= d.maxFunctionNesting) {
        refusal_ = Refusal::TooDeep;
        return;
    }
    if (!d.StackFits(stackBytes)) {
        refusal_ = Refusal::NoStack;
        return;
    }
    d.guard.Check();
    ++d.functionNestingLevel;
    entered_ = true;
}

FunctionLevel::~FunctionLevel() { Leave(); }

void FunctionLevel::Leave() noexcept {
    if (!entered_) return;
    entered_ = false;
    --TMathInterpreter::Impl::Of(interp_).functionNestingLevel;
}

}  // namespace host

}  // namespace zorvex
