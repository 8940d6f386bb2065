// Prepared expressions and variable handles. A prepared tree keeps a compiled
// form beside it when it has one; executing tries that first.
#include <algorithm>
#include <functional>
#include <memory>

#include "ItemArena.h"
#include "ItemUtil.h"
#include "PreparedProgram.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

void TMathInterpreter::PreparedList::ListChanged() { owner_->PreparedListChanged(); }

// Changed through the list's own operations: the compiled forms, the index
// and the free slots are taken afresh from the list.
void TMathInterpreter::PreparedListChanged() {
    compiled_.clear();
    preparedIndexValid_ = false;
}

// The lowest free slot, or a new one at the end.
int TMathInterpreter::TakePreparedSlot() {
    if (!preparedIndexValid_) RebuildPreparedIndex();
    TMItemVector& entries = ItemAccess::Entries(prepared_);
    while (!freePrepared_.empty()) {
        std::pop_heap(freePrepared_.begin(), freePrepared_.end(), std::greater<>());
        const int slot = freePrepared_.back();
        freePrepared_.pop_back();
        if (static_cast<std::size_t>(slot) < entries.size() && entries[static_cast<std::size_t>(slot)] == nullptr)
            return slot;
    }
    entries.push_back(nullptr);
    return static_cast<int>(entries.size()) - 1;
}

// Should the slot not fit in the list of free ones, that list is taken
// afresh from the prepared list when next needed.
void TMathInterpreter::ReleasePreparedSlot(int slot) noexcept {
    try {
        freePrepared_.push_back(slot);
        std::push_heap(freePrepared_.begin(), freePrepared_.end(), std::greater<>());
    } catch (...) {
        preparedIndexValid_ = false;
    }
}

int TMathInterpreter::PrepareExpression(const std::string& text) {
    TEvaluationGuard::Run run(guard_);  // first: refuses a second thread
    const int slot = TakePreparedSlot();
    // A failed preparation leaves the slot free.
    struct Release {
        TMathInterpreter& interp;
        int slot;
        ~Release() {
            if (slot >= 0) interp.ReleasePreparedSlot(slot);
        }
    } release{*this, slot};
    guard_.Check();
    std::unique_ptr<TMValue> root(BuildTree(text));
    if (!root) throw Exception("TMathInterpreter.PrepareExpression() Can't prepare empty expression.");
    IndexPreparedTree(slot, root.get());
    ItemAccess::Entries(prepared_)[static_cast<std::size_t>(slot)] = root.release();
    release.slot = -1;
    CompiledFor(slot);
    return slot;
}

// ---------------------------------------------------------------- index of prepared trees

// Under the names its references carry and the names of the symbols they are
// bound to (the same, unless the symbol was renamed since).
void TMathInterpreter::IndexPreparedTree(int handle, TMItem* root) {
    if (!preparedIndexValid_) return;
    std::vector<std::string> keys;
    WalkTree(root, [&](TMItem* item) {
        if (!item->Is(ikReference)) return;
        const auto* ref = static_cast<const TMReference*>(item);
        keys.push_back(UpperCase(ref->ReferencedSymbolName));
        if (ref->SymbolReference != nullptr) keys.push_back(UpperCase(ref->SymbolReference->Identifier()));
    });
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    try {
        const auto index = static_cast<std::size_t>(handle);
        if (preparedNames_.size() <= index) preparedNames_.resize(index + 1);
        for (std::string& key : keys) AddPreparedName(handle, std::move(key));
    } catch (...) {
        preparedIndexValid_ = false;  // taken afresh from the list when next needed
        throw;
    }
}

void TMathInterpreter::AddPreparedName(int handle, std::string key) {
    std::vector<int>& users = preparedUsers_[key];
    auto& names = preparedNames_[static_cast<std::size_t>(handle)];
    names.reserve(names.size() + 1);
    users.push_back(handle);
    names.push_back({std::move(key), users.size() - 1});
}

void TMathInterpreter::UnindexPreparedTree(int handle) noexcept {
    if (!preparedIndexValid_ || static_cast<std::size_t>(handle) >= preparedNames_.size()) return;
    auto& names = preparedNames_[static_cast<std::size_t>(handle)];
    for (const PreparedName& name : names) {
        auto it = preparedUsers_.find(name.key);
        if (it == preparedUsers_.end()) continue;
        std::vector<int>& users = it->second;
        // The last user takes the place of the one that goes.
        const int moved = users.back();
        users[name.position] = moved;
        users.pop_back();
        if (name.position < users.size())
            for (PreparedName& other : preparedNames_[static_cast<std::size_t>(moved)])
                if (other.key == name.key) other.position = name.position;
        if (users.empty()) preparedUsers_.erase(it);
    }
    names.clear();
}

void TMathInterpreter::RebuildPreparedIndex() {
    preparedUsers_.clear();
    preparedNames_.clear();
    freePrepared_.clear();
    preparedIndexValid_ = true;
    try {
        for (int i = 0; i < prepared_.Count(); ++i) {
            if (TMItem* root = prepared_.At(i))
                IndexPreparedTree(i, root);
            else
                freePrepared_.push_back(i);  // ascending: already a heap
        }
    } catch (...) {
        preparedIndexValid_ = false;
        throw;
    }
}

// A prepared tree bound to the symbol still names it by its old name.
void TMathInterpreter::SymbolRenamed(const std::string& oldName, const std::string& newName) {
    if (!preparedIndexValid_) return;
    const std::string from = UpperCase(oldName), to = UpperCase(newName);
    auto it = preparedUsers_.find(from);
    if (from == to || it == preparedUsers_.end()) return;
    const std::vector<int> trees = it->second;
    try {
        for (int handle : trees) {
            const auto& names = preparedNames_[static_cast<std::size_t>(handle)];
            if (std::none_of(names.begin(), names.end(), [&](const PreparedName& n) { return n.key == to; }))
                AddPreparedName(handle, to);
        }
    } catch (...) {
        preparedIndexValid_ = false;
        throw;
    }
}

// Only the trees that can refer to the symbol are visited; without an index
// (it could not be made) every tree is.
void TMathInterpreter::SymbolRemoved(TMSymbol* symbol) {
    if (clearing_) return;
    if (!preparedIndexValid_) {
        try {
            RebuildPreparedIndex();
        } catch (...) {
        }
    }
    auto unwire = [&](int handle) {
        if (auto* root = ItemAs<TMExpression>(prepared_.At(handle), ikExpression)) root->Unwire(symbol);
    };
    if (!preparedIndexValid_) {
        for (int i = 0; i < prepared_.Count(); ++i) unwire(i);
        return;
    }
    for (const std::string& key : {UpperCase(symbol->Identifier()), std::string()}) {
        auto it = preparedUsers_.find(key);
        if (it != preparedUsers_.end())
            for (int handle : it->second) unwire(handle);
    }
}

// ---------------------------------------------------------------- compiled forms

namespace {
// A tree about to be freed: taking it apart changes nothing that a compiled
// form of another tree read.
void StopCounting(TMItem* root) {
    if (ItemArena* arena = root != nullptr ? ItemArena::Of(root) : nullptr) arena->CountChangesIn({});
}

// The arena of a tree whose items were all made in it, marking them as read
// by a compiled form (so that changing one counts); else null.
ItemArena* TreeArena(TMItem* root) {
    ItemArena* arena = ItemArena::Of(root);
    if (arena == nullptr) return nullptr;
    bool one = true;
    WalkTree(root, [&](TMItem* item) { one = one && ItemArena::Of(item) == arena; });
    if (!one) return nullptr;
    WalkTree(root, [](TMItem* item) { ItemAccess::MarkCompiled(item); });
    return arena;
}
}  // namespace

prepared::Program* TMathInterpreter::CompiledFor(int handle) {
    const auto index = static_cast<std::size_t>(handle);
    if (index >= compiled_.size()) compiled_.resize(index + 1);
    Compiled& c = compiled_[index];
    TMItem* root = prepared_.At(handle);
    if (c.root == root && c.epoch == treeChanges_) return c.program.get();
    c = Compiled{};
    c.root = root;
    c.epoch = treeChanges_;
    ++compilations_;
    ItemArena* arena = TreeArena(root);
    if (arena == nullptr) return nullptr;
    arena->CountChangesIn(treeChangesCount_);
    c.program = prepared::Program::Compile(root);
    if (c.program != nullptr) {
        c.kind = c.program->Kind();
        c.node = c.program->Root();
        c.eval = c.node->eval;
    }
    return c.program.get();
}

// Whatever the inline fast path leaves: a stale or missing compiled form, a
// Boolean or constant one, pending requests or budgets, a bad handle.
Variant TMathInterpreter::ExecutePreparedCompiled(int handle) {
    // A compiled form stands for a valid handle: freeing or replacing the
    // tree drops it. Taken at the current count, it calls nothing outside
    // and checks nothing, so with no request or budget pending it runs
    // without the entry point's checks.
    using Outcome = prepared::Program::Outcome;
    const auto index = static_cast<std::size_t>(handle);
    if (guard_.Idle() && index < compiled_.size()) {
        const Compiled& c = compiled_[index];
        if (c.eval != nullptr && c.epoch == treeChanges_) {
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
    if (!preparedIndexValid_) RebuildPreparedIndex();
    std::unique_ptr<TMItem> root(prepared_.At(handle));
    StopCounting(root.get());
    if (static_cast<std::size_t>(handle) < compiled_.size()) compiled_[static_cast<std::size_t>(handle)] = Compiled{};
    UnindexPreparedTree(handle);
    ItemAccess::Entries(prepared_)[static_cast<std::size_t>(handle)] = nullptr;
    ReleasePreparedSlot(handle);
}

void TMathInterpreter::ClearPreparedExpressions() {
    CheckNotEvaluating("clear prepared expressions");
    for (int i = 0; i < prepared_.Count(); ++i) StopCounting(prepared_.At(i));
    prepared_.FreeAndClear();
    preparedUsers_.clear();
    preparedNames_.clear();
    freePrepared_.clear();
    preparedIndexValid_ = true;
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
