// Internal: what the items of a tree ask of the interpreter they belong to.
// The item layer reaches its interpreter through these alone, never through
// the interpreter's own header; a null interpreter (items made by hand) gets
// the answers of a fresh one where there is one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zorvex/Variant.h"

namespace zorvex {

class ItemArena;
class TMathInterpreter;
class TMSymbol;
class TMSymbols;
class TMFunctionCall;
struct HostFunctionEntry;
struct THostFunction;

namespace host {

// How names compare and strings are written.
bool CaseSensitive(const TMathInterpreter* interp);
char EscapeChar(const TMathInterpreter* interp);

// The table the interpreter owns, and whether a symbol list is it.
TMSymbols& Table(TMathInterpreter& interp);
bool IsTable(const TMathInterpreter* interp, const TMSymbols* list);
// Whether a saved table is being loaded: misfit references are then bound
// quietly, as they were when saved.
bool Loading(const TMathInterpreter* interp);
// Where items made now go: the arena of the tree being built, or null.
ItemArena* BuildArena(const TMathInterpreter* interp);

// The host's answer for a name the table does not define; `value` is in and
// out, Empty meaning unanswered.
void UnknownSymbol(TMathInterpreter& interp, const std::string& name, const Variant& parameters, Variant& value);

// The host function a call of `name` resolves to, or null. `cached` and
// `epoch` are the call's memo of the answer, looked up again only after the
// interpreter's host functions changed.
const HostFunctionEntry* FindHostFunction(TMathInterpreter& interp, const std::string& name,
                                          const HostFunctionEntry*& cached, std::uint64_t& epoch);
// The call's value: its operands evaluated, counted and converted, and the
// callable's failure made an error of the language at the call's position.
Variant CallHostFunction(TMathInterpreter& interp, const HostFunctionEntry& entry, TMFunctionCall& call);
// For the compiled form: the host function of a name, and the count of
// evaluations in progress, which a call from the compiled form keeps up.
const THostFunction* HostFunctionNamed(TMathInterpreter& interp, const std::string& name);
int* EvaluationDepth(TMathInterpreter& interp);
// A function whose body a compiled form inlined is defined again or freed.
void CompiledFormsStale(TMathInterpreter& interp) noexcept;

// Raises while an evaluation runs: what it holds must not be freed.
void CheckNotEvaluating(const TMathInterpreter* interp, const char* operation);
// A symbol of the table is about to be freed, or took a new name: the
// prepared trees follow.
void SymbolRemoved(TMathInterpreter& interp, TMSymbol* symbol);
// Entries of a list moved, went or were replaced: what the interpreter keeps
// by handle of its table is taken afresh.
void EntriesChanged(TMathInterpreter& interp, const TMSymbols* list) noexcept;
void SymbolRenamed(TMathInterpreter& interp, const std::string& oldName, const std::string& newName);

// The memory budget: charging past it raises.
void ChargeMemory(TMathInterpreter& interp, std::size_t bytes);
void ReleaseMemory(TMathInterpreter& interp, std::size_t bytes) noexcept;
// A variable lets go of a value; a text still shared elsewhere stays counted
// until the outermost call ends.
void ReleaseVariableMemory(TMathInterpreter& interp, std::size_t bytes, bool stillHeld) noexcept;

// A check for an interrupt request and the budgets.
void Check(TMathInterpreter& interp);

// One level of user-function evaluation, from the checks before it (the
// nesting limit, the native stack the body takes, the interrupt) to its end.
// The checks raise with `describe`'s text, completed by the caller.
class FunctionLevel {
public:
    enum class Refusal { None, TooDeep, NoStack };
    // Refusal::None when the level was entered; then the destructor leaves it.
    FunctionLevel(TMathInterpreter& interp, std::size_t stackBytes);
    ~FunctionLevel();
    FunctionLevel(const FunctionLevel&) = delete;
    FunctionLevel& operator=(const FunctionLevel&) = delete;

    Refusal Refused() const { return refusal_; }
    // The level about to be entered, counted from 1.
    std::uint32_t Level() const { return level_; }
    // Whether no user function was being evaluated before this one; after
    // Leave, whether this was the outermost.
    bool Outermost() const { return level_ == 1; }
    // Leaves the level early (before the error of the body is completed).
    void Leave() noexcept;

private:
    TMathInterpreter& interp_;
    Refusal refusal_ = Refusal::None;
    std::uint32_t level_ = 0;
    bool entered_ = false;
};

}  // namespace host
}  // namespace zorvex
