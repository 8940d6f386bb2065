// Prepared expressions and variable handles. A prepared tree keeps a compiled
// form beside it when it has one; executing tries that first.
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <typeinfo>

#include "InterpreterImpl.h"
#include "ItemArena.h"
#include "ItemUtil.h"
#include "PreparedProgram.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

void TMathInterpreter::Impl::PreparedList::ListChanged() { owner_.PreparedListChanged(); }

// Changed through the list's own operations: the compiled forms, the index
// and the free slots are taken afresh from the list.
void TMathInterpreter::Impl::PreparedListChanged() {
    ShutInline();
    compiled.clear();
    inlineRuns.clear();
    preparedIndexValid = false;
}

// The lowest free slot, or a new one at the end.
int TMathInterpreter::Impl::TakePreparedSlot() {
    if (!preparedIndexValid) RebuildPreparedIndex();
    TMItemVector& entries = ItemAccess::Entries(prepared);
    while (!freePrepared.empty()) {
        std::pop_heap(freePrepared.begin(), freePrepared.end(), std::greater<>());
        const int slot = freePrepared.back();
        freePrepared.pop_back();
        if (static_cast<std::size_t>(slot) < entries.size() && entries[static_cast<std::size_t>(slot)] == nullptr)
            return slot;
    }
    entries.push_back(nullptr);
    return static_cast<int>(entries.size()) - 1;
}

// Should the slot not fit in the list of free ones, that list is taken
// afresh from the prepared list when next needed.
void TMathInterpreter::Impl::ReleasePreparedSlot(int slot) noexcept {
    try {
        freePrepared.push_back(slot);
        std::push_heap(freePrepared.begin(), freePrepared.end(), std::greater<>());
    } catch (...) {
        preparedIndexValid = false;
    }
}

int TMathInterpreter::PrepareExpression(const std::string& text) {
    Impl& d = *impl_;
    TEvaluationGuard::Run run(d.guard);  // first: refuses a second thread
    const int slot = d.TakePreparedSlot();
    // A failed preparation leaves the slot free.
    struct Release {
        Impl& impl;
        int slot;
        ~Release() {
            if (slot >= 0) impl.ReleasePreparedSlot(slot);
        }
    } release{d, slot};
    std::unique_ptr<TMValue> root;
    try {
        d.guard.Check();
        root.reset(d.BuildTree(text));
    } catch (Exception& e) {
        FirstExpression(e);
        throw;
    }
    if (!root) throw Exception("TMathInterpreter.PrepareExpression() Can't prepare empty expression.");
    d.IndexPreparedTree(slot, root.get());
    ItemAccess::Entries(d.prepared)[static_cast<std::size_t>(slot)] = root.release();
    release.slot = -1;
    d.CompiledFor(slot);
    return slot;
}

// ---------------------------------------------------------------- index of prepared trees

namespace {
// A change of the index that fails half way leaves no index: it is taken
// afresh from the list when next needed.
class IndexChange {
public:
    explicit IndexChange(bool& valid) : valid_(valid) {}
    ~IndexChange() {
        if (!done_) valid_ = false;
    }
    IndexChange(const IndexChange&) = delete;
    IndexChange& operator=(const IndexChange&) = delete;
    void Done() noexcept { done_ = true; }

private:
    bool& valid_;
    bool done_ = false;
};
}  // namespace

// Under the names its references carry and the names of the symbols they are
// bound to (the same, unless the symbol was renamed since).
void TMathInterpreter::Impl::IndexPreparedTree(int handle, TMItem* root) {
    if (!preparedIndexValid) return;
    std::vector<std::string> keys;
    WalkTree(root, [&](TMItem* item) {
        if (!item->Is(ikReference)) return;
        const auto* ref = static_cast<const TMReference*>(item);
        keys.push_back(UpperCase(ref->ReferencedSymbolName));
        if (ref->SymbolReference != nullptr) keys.push_back(UpperCase(ref->SymbolReference->Identifier()));
    });
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    IndexChange change(preparedIndexValid);
    const auto index = static_cast<std::size_t>(handle);
    if (preparedNames.size() <= index) preparedNames.resize(index + 1);
    for (std::string& key : keys) AddPreparedName(handle, std::move(key));
    change.Done();
}

void TMathInterpreter::Impl::AddPreparedName(int handle, std::string key) {
    std::vector<int>& users = preparedUsers[key];
    auto& names = preparedNames[static_cast<std::size_t>(handle)];
    names.reserve(names.size() + 1);
    users.push_back(handle);
    names.push_back({std::move(key), users.size() - 1});
}

void TMathInterpreter::Impl::UnindexPreparedTree(int handle) noexcept {
    if (!preparedIndexValid || static_cast<std::size_t>(handle) >= preparedNames.size()) return;
    auto& names = preparedNames[static_cast<std::size_t>(handle)];
    for (const PreparedName& name : names) {
        auto it = preparedUsers.find(name.key);
        if (it == preparedUsers.end()) continue;
        std::vector<int>& users = it->second;
        // The last user takes the place of the one that goes.
        const int moved = users.back();
        users[name.position] = moved;
        users.pop_back();
        if (name.position < users.size())
            for (PreparedName& other : preparedNames[static_cast<std::size_t>(moved)])
                if (other.key == name.key) other.position = name.position;
        if (users.empty()) preparedUsers.erase(it);
    }
    names.clear();
}

void TMathInterpreter::Impl::RebuildPreparedIndex() {
    preparedUsers.clear();
    preparedNames.clear();
    freePrepared.clear();
    preparedIndexValid = true;
    IndexChange change(preparedIndexValid);
    for (int i = 0; i < prepared.Count(); ++i) {
        if (TMItem* root = prepared.At(i))
            IndexPreparedTree(i, root);
        else
            freePrepared.push_back(i);  // ascending: already a heap
    }
    change.Done();
}

// A prepared tree bound to the symbol still names it by its old name.
void TMathInterpreter::Impl::SymbolRenamed(const std::string& oldName, const std::string& newName) {
    if (!preparedIndexValid) return;
    const std::string from = UpperCase(oldName), to = UpperCase(newName);
    auto it = preparedUsers.find(from);
    if (from == to || it == preparedUsers.end()) return;
    const std::vector<int> trees = it->second;
    IndexChange change(preparedIndexValid);
    for (int handle : trees) {
        const auto& names = preparedNames[static_cast<std::size_t>(handle)];
        if (std::none_of(names.begin(), names.end(), [&](const PreparedName& n) { return n.key == to; }))
            AddPreparedName(handle, to);
    }
    change.Done();
}

// Only the trees that can refer to the symbol are visited; without an index
// (it could not be made) every tree is.
void TMathInterpreter::Impl::SymbolRemoved(TMSymbol* symbol) {
    if (clearing) return;
    if (!preparedIndexValid) {
        try {
            RebuildPreparedIndex();
        } catch (...) {
        }
    }
    auto unwire = [&](int handle) {
        if (auto* root = ItemAs<TMExpression>(prepared.At(handle), ikExpression)) root->Unwire(symbol);
    };
    if (!preparedIndexValid) {
        for (int i = 0; i < prepared.Count(); ++i) unwire(i);
        return;
    }
    for (const std::string& key : {UpperCase(symbol->Identifier()), std::string()}) {
        auto it = preparedUsers.find(key);
        if (it != preparedUsers.end())
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

// The run of a handle without a compiled form of Real kind: it answers NaN.
const detail::CompiledForm* MissRun() { return prepared::Program::Miss(); }
}  // namespace

namespace prepared {
// The calls would pass the tree's checks: no budget or request to count
// steps against, the nesting limit from the level now, the memory budget for
// the frames (the texts of variables passed charged with them), the stack.
bool CallsFit(const CallLimits* limits) noexcept {
    const TMathInterpreter::Impl& d = TMathInterpreter::Impl::Of(*limits->interp);
    std::size_t bytes = limits->frames;
    for (const Variant* v : limits->passed) bytes += guard::OwnBytes(*v);
    return d.guard.Unwatched() && d.functionNestingLevel + limits->depth <= d.maxFunctionNesting &&
           d.memoryInUse <= d.memoryBudget && bytes <= d.memoryBudget - d.memoryInUse && d.StackFits(limits->stack);
}
}  // namespace prepared

prepared::Program* TMathInterpreter::Impl::CompiledFor(int handle) {
    const auto index = static_cast<std::size_t>(handle);
    TMItem* root = prepared.At(handle);
    if (index < compiled.size() && compiled[index].root == root && compiled[index].epoch == treeChanges.count)
        return compiled[index].program.get();
    ShutInline();
    if (index >= compiled.size()) {
        compiled.resize(index + 1);
        inlineRuns.resize(index + 1, MissRun());
    }
    Compiled& c = compiled[index];
    c = Compiled{};
    inlineRuns[index] = MissRun();
    c.root = root;
    c.epoch = treeChanges.count;
    ++compilations;
    ItemArena* arena = TreeArena(root);
    if (arena == nullptr) return nullptr;
    arena->CountChangesIn(treeChangesCount);
    const prepared::Program::Machine machine{&machinePrograms, kMachinePrograms, machineAfter};
    c.program = prepared::Program::Compile(root, machineCode ? &machine : nullptr);
    // The bodies of inlined calls: their changes count as the tree's.
    if (c.program != nullptr)
        for (TMExpression* body : c.program->Bodies()) {
            ItemArena* bodyArena = TreeArena(body);
            if (bodyArena == nullptr) {
                c.program = nullptr;
                break;
            }
            bodyArena->CountChangesIn(treeChangesCount);
        }
    if (c.program != nullptr) {
        c.kind = c.program->Kind();
        if (c.kind == VarKind::Real) inlineRuns[index] = c.program->Form();
    }
    return c.program.get();
}

// The hosts' inline path runs the compiled forms with no checks, so it is
// open only while none is needed: no entry point running, no request or
// budget pending (the guard shuts it when one comes), and every run current
// (a change to the trees shuts it). Runs taken before the last change answer
// NaN until their trees are compiled again.
void TMathInterpreter::Impl::OpenInline() noexcept {
    if (!guard.Idle()) return;
    if (inlineEpoch != treeChanges.count) {
        for (std::size_t i = 0; i < inlineRuns.size(); ++i)
            if (compiled[i].epoch != treeChanges.count) inlineRuns[i] = MissRun();
        inlineEpoch = treeChanges.count;
    }
    inlineGate.first = inlineRuns.data();
    inlineGate.open.store(inlineRuns.size(), std::memory_order_seq_cst);
    // A request from another thread or a signal may have come in between.
    if (!guard.Idle()) ShutInline();
}

// The inline path missed: the compiled form with the checks, or the tree.
Variant TMathInterpreter::ExecutePreparedChecked(int handle) {
    Impl& d = *impl_;
    Variant result = d.ExecutePrepared(handle);
    d.OpenInline();
    return result;
}

Variant TMathInterpreter::Impl::ExecutePrepared(int handle) {
    const auto index = static_cast<std::size_t>(handle);
    if (index < compiled.size() && compiled[index].epoch == treeChanges.count && guard.Idle()) {
        const Compiled& c = compiled[index];
        Variant result;
        if (c.program == nullptr) return ExecutePreparedTree(handle, true);
        const double value = prepared::Program::Run(c.program->Form());
        if (!prepared::Program::Result(c.kind, value, c.program->Constant(), result))
            return ExecutePreparedTree(handle, true);
        return result;
    }
    return ExecutePreparedTree(handle, false);
}

// After a miss of the compiled form it is not run again.
Variant TMathInterpreter::Impl::ExecutePreparedTree(int handle, bool compiledMissed) {
    TEvaluationGuard::Run run(guard);  // first: refuses a second thread
    if (!IsValidPrepared(handle))
        throw Exception("TMathInterpreter.ExecutePreparedExpression() Invalid prepared expression handle.");
    guard.Check();
    if (const prepared::Program* program = compiledMissed ? nullptr : CompiledFor(handle)) {
        Variant result;
        if (prepared::Program::Result(program->Kind(), prepared::Program::Run(program->Form()), program->Constant(),
                                      result))
            return result;
    }
    auto* root = static_cast<TMValue*>(prepared.At(handle));
    try {
        return Entry([&] { return Evaluate(*root, "TMathInterpreter.ExecutePreparedExpression()"); });
    } catch (Exception& e) {
        FirstExpression(e);
        throw;
    }
}

bool TMathInterpreter::IsValidPreparedExpression(int handle) const { return impl_->IsValidPrepared(handle); }

bool TMathInterpreter::IsCompiledPreparedExpression(int handle) {
    return impl_->IsValidPrepared(handle) && impl_->CompiledFor(handle) != nullptr;
}

void TMathInterpreter::FreePreparedExpression(int handle) {
    Impl& d = *impl_;
    if (!d.IsValidPrepared(handle))
        throw Exception("TMathInterpreter.FreePreparedExpression() Invalid prepared expression handle.");
    d.CheckNotEvaluating("free a prepared expression");
    if (!d.preparedIndexValid) d.RebuildPreparedIndex();
    std::unique_ptr<TMItem> root(d.prepared.At(handle));
    StopCounting(root.get());
    if (static_cast<std::size_t>(handle) < d.compiled.size()) {
        d.compiled[static_cast<std::size_t>(handle)] = Impl::Compiled{};
        d.inlineRuns[static_cast<std::size_t>(handle)] = MissRun();
    }
    d.UnindexPreparedTree(handle);
    ItemAccess::Entries(d.prepared)[static_cast<std::size_t>(handle)] = nullptr;
    d.ReleasePreparedSlot(handle);
}

void TMathInterpreter::ClearPreparedExpressions() {
    Impl& d = *impl_;
    d.CheckNotEvaluating("clear prepared expressions");
    for (int i = 0; i < d.prepared.Count(); ++i) StopCounting(d.prepared.At(i));
    d.PreparedListChanged();
    d.prepared.FreeAndClear();
    d.preparedUsers.clear();
    d.preparedNames.clear();
    d.freePrepared.clear();
    d.preparedIndexValid = true;
}

// ---------------------------------------------------------------- variable handles

int TMathInterpreter::GetVariableHandles(const std::string& name) {
    const TMSymbols& symbols = impl_->symbols;
    const int index = symbols.FindSymbolIndex(name);
    if (index < 0)
        throw EUnknownName("TMathInterpreter.GetVariableHandles() Symbol: \"" + Excerpt(name) + "\" is not defined.");
    TMItem* symbol = symbols.At(index);
    if (!static_cast<TMSymbol*>(symbol)->IsVariable())
        throw ETypeError("TMathInterpreter.GetVariableHandles() Symbol: \"" + Excerpt(name) + "\" has type: \"" +
                         symbol->ClassName() + "\", but type \"TMVarRef\" is required.");
    return index;
}

TMVar* TMathInterpreter::Impl::VariableAt(int handle) {
    auto* symbol = static_cast<TMSymbol*>(symbols.Get(handle));
    if (symbol == nullptr || !symbol->IsVariable()) throw EInvalidCast("Invalid class typecast");
    return static_cast<TMVar*>(symbol);
}

Variant TMathInterpreter::GetVariablesByHandle(int handle) {
    TMVar* var = impl_->VariableAt(handle);
    return var->IsValueHolder() ? var->ValueRef() : var->GetValue();
}

void TMathInterpreter::SetVariablesByHandle(int handle, const Variant& value) {
    impl_->VariableAt(handle)->SetValue(value);
}

// A variable of the table's own class that holds its value: what it stores
// is just that. (Classes derived from it may do more, and a variable whose
// value lives elsewhere holds none.)
namespace {
Variant* PlainCell(TMItem* item) {
    if (item == nullptr || typeid(*item) != typeid(TMVar) || !static_cast<TMVar*>(item)->IsValueHolder()) return nullptr;
    return const_cast<Variant*>(&static_cast<TMVar*>(item)->ValueRef());
}
}  // namespace

void TMathInterpreter::Impl::UpdateVariableCells() {
    symbols.Count();  // settles removed entries: handles are indexes after that
    const TMItemVector& entries = ItemAccess::Entries(symbols);
    const std::size_t from = cellsValid ? cellVector.size() : 0;
    if (!cellsValid) cellVector.clear();
    cellVector.reserve(entries.size());
    for (std::size_t i = from; i < entries.size(); ++i) {
        Variant* cell = PlainCell(entries[i]);
        cellVector.push_back(cell != nullptr ? cell : &notPlainCell);
    }
    variableCells.cells = cellVector.data();
    variableCells.count = cellVector.size();
    cellsValid = true;
}

namespace host {
void EntriesChanged(TMathInterpreter& interp, const TMSymbols* list) noexcept {
    TMathInterpreter::Impl& d = TMathInterpreter::Impl::Of(interp);
    if (list == &d.symbols) d.DropVariableCells();
}
}  // namespace host

namespace {
// A number stored in place when the handle names a plain variable that holds
// no text; anything else, errors included, takes the variable's SetValue.
// The inline typed writes do the same through the cells, which are brought
// up to date here.
template <class T>
void StoreNumber(TMathInterpreter::Impl& d, int handle, T value) {
    try {
        d.UpdateVariableCells();
    } catch (const std::bad_alloc&) {
        d.DropVariableCells();
    }
    bool finite = true;
    if constexpr (std::is_same_v<T, double>) finite = std::isfinite(value);
    if (Variant* cell = PlainCell(ItemAccess::Peek(d.symbols, handle)); cell != nullptr && finite) [[likely]] {
        if (!cell->IsString() && !cell->IsArray()) [[likely]] {
            *cell = Variant(value);
            return;
        }
    }
    d.VariableAt(handle)->SetValue(Variant(value));
}
}  // namespace

void TMathInterpreter::SetVariableReal(int handle, double value) { StoreNumber(*impl_, handle, value); }

void TMathInterpreter::SetVariableInteger(int handle, std::int32_t value) { StoreNumber(*impl_, handle, value); }

Variant TMathInterpreter::GetVariables(const std::string& name) {
    return GetVariablesByHandle(GetVariableHandles(name));
}

void TMathInterpreter::SetVariables(const std::string& name, const Variant& value) {
    SetVariablesByHandle(GetVariableHandles(name), value);
}

TMathInterpreter::Impl::Compiled::Compiled() = default;
TMathInterpreter::Impl::Compiled::~Compiled() = default;
TMathInterpreter::Impl::Compiled::Compiled(Compiled&&) noexcept = default;
TMathInterpreter::Impl::Compiled& TMathInterpreter::Impl::Compiled::operator=(Compiled&&) noexcept = default;

}  // namespace zorvex
