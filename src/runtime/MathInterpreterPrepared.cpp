// Prepared expressions and variable handles. A prepared tree keeps a compiled
// form beside it when it has one; executing tries that first.
#include <memory>

#include "ItemUtil.h"
#include "PreparedProgram.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"

namespace zorvex {

void TMathInterpreter::PreparedList::ListChanged() { TreeChanged(); }

int TMathInterpreter::PrepareExpression(const std::string& text) {
    TEvaluationGuard::Run run(guard_);  // first: refuses a second thread
    int slot = -1;
    for (int i = 0; i < prepared_.Count(); ++i)
        if (prepared_.At(i) == nullptr) {
            slot = i;
            break;
        }
    if (slot < 0) slot = prepared_.Add(nullptr);
    guard_.Check();
    std::unique_ptr<TMValue> root(BuildTree(text));
    if (!root) throw Exception("TMathInterpreter.PrepareExpression() Can't prepare empty expression.");
    prepared_.Put(slot, root.release());
    CompiledFor(slot);
    return slot;
}

prepared::Program* TMathInterpreter::CompiledFor(int handle) {
    const auto index = static_cast<std::size_t>(handle);
    if (index >= compiled_.size()) compiled_.resize(index + 1);
    Compiled& c = compiled_[index];
    TMItem* root = prepared_.At(handle);
    const std::uint64_t epoch = TreeEpoch();
    if (c.root != root || c.epoch != epoch) {
        c = Compiled{};
        c.root = root;
        c.epoch = epoch;
        c.program = prepared::Program::Compile(root);
        if (c.program != nullptr) {
            c.kind = c.program->Kind();
            c.node = c.program->Root();
            c.eval = c.node->eval;
        }
    }
    return c.program.get();
}

// Whatever the inline fast path leaves: a stale or missing compiled form, a
// Boolean or constant one, pending requests or budgets, a bad handle.
Variant TMathInterpreter::ExecutePreparedCompiled(int handle) {
    // A compiled form of the current epoch stands for a valid handle: any
    // change of the slot since would have moved the epoch on. It calls
    // nothing outside and checks nothing, so with no request or budget
    // pending it runs without the entry point's checks.
    using Outcome = prepared::Program::Outcome;
    const auto index = static_cast<std::size_t>(handle);
    if (guard_.Idle() && index < compiled_.size()) {
        const Compiled& c = compiled_[index];
        if (c.eval != nullptr && c.epoch == TreeEpoch()) {
            const double value = c.eval(c.node);
            const Outcome outcome = prepared::Program::Judge(c.kind, value);
            if (outcome == Outcome::Miss) return ExecutePreparedTree(handle, true);
            guard_.Idled();
            return c.program->Result(outcome, value);
        }
    }
    return ExecutePreparedTree(handle, false);
}

// After a miss of the compiled form it is not run again.
Variant TMathInterpreter::ExecutePreparedTree(int handle, bool compiledMissed) {
    TEvaluationGuard::Run run(guard_);  // first: refuses a second thread
    if (!IsValidPreparedExpression(handle))
        throw Exception("TMathInterpreter.ExecutePreparedExpression() Invalid prepared expression handle.");
    guard_.Check();
    if (const prepared::Program* program = compiledMissed ? nullptr : CompiledFor(handle)) {
        double value;
        const prepared::Program::Outcome outcome = program->Run(value);
        if (outcome != prepared::Program::Outcome::Miss) return program->Result(outcome, value);
    }
    EvaluationScope scope(*this);
    auto* root = static_cast<TMValue*>(prepared_.At(handle));
    if (!StackFits(guard::EvalBytes(root->StackUnits)))
        throw Exception(
            "TMathInterpreter.ExecutePreparedExpression() Not enough stack space left to execute an expression.");
    return guard::Entry(*this, [&] { return root->GetValue(); });
}

bool TMathInterpreter::IsCompiledPreparedExpression(int handle) {
    return IsValidPreparedExpression(handle) && CompiledFor(handle) != nullptr;
}

void TMathInterpreter::FreePreparedExpression(int handle) {
    if (!IsValidPreparedExpression(handle))
        throw Exception("TMathInterpreter.FreePreparedExpression() Invalid prepared expression handle.");
    CheckNotEvaluating("free a prepared expression");
    TMItem* root = prepared_.At(handle);
    if (static_cast<std::size_t>(handle) < compiled_.size()) compiled_[static_cast<std::size_t>(handle)] = Compiled{};
    prepared_.Put(handle, nullptr);
    delete root;
}

void TMathInterpreter::ClearPreparedExpressions() {
    CheckNotEvaluating("clear prepared expressions");
    compiled_.clear();
    prepared_.FreeAndClear();
}

// ---------------------------------------------------------------- variable handles

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

// Out of line, so that the call of the variable's SetValue is resolved here
// and not guessed in the host's code.
Variant TMathInterpreter::GetVariablesByHandle(int handle) { return VariableAt(handle)->ValueRef(); }

void TMathInterpreter::SetVariablesByHandle(int handle, const Variant& value) { VariableAt(handle)->SetValue(value); }

void TMathInterpreter::SetVariableNumber(int handle, const Variant& number) { VariableAt(handle)->SetValue(number); }

Variant TMathInterpreter::GetVariables(const std::string& name) {
    return GetVariablesByHandle(GetVariableHandles(name));
}

void TMathInterpreter::SetVariables(const std::string& name, const Variant& value) {
    SetVariablesByHandle(GetVariableHandles(name), value);
}

}  // namespace zorvex
