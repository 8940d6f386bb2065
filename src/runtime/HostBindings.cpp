// What the host program gives the language: functions it calls by name,
// variables whose values live in the host's memory, constants.
//
// A symbol of the table hides a host function of the same name, and a host
// function, variable or constant cannot take a name that the other kind
// already holds: a saved table defines its own symbols wherever it is loaded,
// and nothing the host does later changes what they mean.
#include <atomic>
#include <exception>
#include <memory>
#include <new>

#include "InterpreterImpl.h"
#include "ItemHost.h"
#include "ItemUtil.h"
#include "IntrinsicEval.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

std::atomic<std::uint64_t> hostEpochs{0};

std::uint64_t NextHostEpoch() { return hostEpochs.fetch_add(1, std::memory_order_relaxed) + 1; }

bool IsIdentifier(const std::string& name) {
    auto start = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (name.empty() || !start(name[0])) return false;
    for (char c : name)
        if (!start(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

// A name the host may give: one the tokenizer reads as a name of the table.
void CheckHostName(const std::string& name, const char* operation) {
    const std::string prefix = std::string("TMathInterpreter.") + operation + "() Name: \"" + Excerpt(name) + "\"";
    if (!IsIdentifier(name)) throw Exception(prefix + " is no identifier.");
    if (IntrinsicIndexOf(name) >= 0 || IsKeyword(name))
        throw Exception(prefix + " is the name of a built-in function or a keyword.");
}

// Counts its interpreter's evaluation as in progress, so that a callable
// cannot free what the evaluation holds.
struct Evaluating {
    explicit Evaluating(int& depth) : depth_(depth) { ++depth_; }
    ~Evaluating() { --depth_; }
    int& depth_;
};

[[noreturn]] void RaiseCount(const TMFunctionCall& call, int n, const THostFunction& f) {
    const std::string expected = f.minCount == f.maxCount
                                     ? std::to_string(f.minCount)
                                     : std::to_string(f.minCount) + " to " + std::to_string(f.maxCount);
    RaiseParameterCount(call, n, expected);
}

[[noreturn]] void RaiseFailure(const TMFunctionCall& call, const std::string& what) {
    throw Exception("TMFunctionCall.GetValue() Error in function call \"" + Excerpt(call.ReferencedSymbolName) +
                        "\", position: " + std::to_string(call.ParsePosition) + ". Error message: \"" + what + "\".",
                    call.ParsePosition);
}

}  // namespace

// ---------------------------------------------------------------- the registry

std::string TMathInterpreter::Impl::HostKey(const std::string& name) const {
    return caseSensitive ? name : UpperCase(name);
}

const HostFunctionEntry* TMathInterpreter::Impl::FindHostFunction(const std::string& name) const {
    if (hostIndex.empty()) return nullptr;
    const auto it = hostIndex.find(HostKey(name));
    return it == hostIndex.end() ? nullptr : it->second;
}

// Compiled forms hold the entries they call: they are taken afresh.
void TMathInterpreter::Impl::HostFunctionsChanged() {
    hostIndex.clear();
    for (const auto& entry : hostFunctions) hostIndex.emplace(HostKey(entry->name), entry.get());
    hostChanges = NextHostEpoch();
    treeChanges.Bump();
}

void TMathInterpreter::AddHostFunction(const std::string& name, THostFunction function) {
    Impl& d = *impl_;
    d.CheckNotEvaluating("define a function");
    CheckHostName(name, "DefineFunction");
    if (function.minCount < 0 || function.maxCount < function.minCount)
        throw Exception("TMathInterpreter.DefineFunction() Function: \"" + Excerpt(name) +
                        "\" must take from 0 up to a maximum number of operands at least its minimum.");
    if (d.symbols.SymbolExists(name))
        throw Exception("TMathInterpreter.DefineFunction() Symbol: \"" + Excerpt(name) +
                        "\" already exists in the symbol table.");
    if (const HostFunctionEntry* old = d.FindHostFunction(name)) {
        auto& slot = const_cast<HostFunctionEntry&>(*old);
        slot.function = std::move(function);
        slot.name = name;
    } else {
        d.hostFunctions.push_back(std::make_unique<HostFunctionEntry>(HostFunctionEntry{name, std::move(function)}));
    }
    d.HostFunctionsChanged();
}

bool TMathInterpreter::UndefineFunction(const std::string& name) {
    Impl& d = *impl_;
    d.CheckNotEvaluating("undefine a function");
    const HostFunctionEntry* entry = d.FindHostFunction(name);
    if (entry == nullptr) return false;
    std::erase_if(d.hostFunctions, [&](const auto& e) { return e.get() == entry; });
    d.HostFunctionsChanged();
    return true;
}

std::vector<THostFunctionInfo> TMathInterpreter::HostFunctions() const {
    std::vector<THostFunctionInfo> list;
    for (const auto& e : impl_->hostFunctions)
        list.push_back({e->name, e->function.minCount, e->function.maxCount, e->function.pure});
    return list;
}

// ---------------------------------------------------------------- variables and constants

TMVar* TMathInterpreter::Impl::HostVariable(const std::string& name, const char* operation) {
    CheckNotEvaluating("bind a variable");
    CheckHostName(name, operation);
    if (FindHostFunction(name) != nullptr)
        throw Exception(std::string("TMathInterpreter.") + operation + "() Name: \"" + Excerpt(name) +
                        "\" is the name of a host function.");
    if (TMSymbol* symbol = symbols.FindSymbol(name)) {
        if (!symbol->IsVariable())
            throw Exception(std::string("TMathInterpreter.") + operation + "() Symbol: \"" + Excerpt(name) +
                            "\" has type: \"" + symbol->ClassName() + "\", but a variable is required.");
        return static_cast<TMVar*>(symbol);
    }
    auto var = std::make_unique<TMVar>();
    var->ParsePosition = 1;
    var->List = &symbols;
    var->SetIdentifier(name);
    symbols.Add(var.get());
    return var.release();
}

// Compiled forms read a variable where its value is: they are taken afresh.
void TMathInterpreter::BindVariable(const std::string& name, double* address) {
    if (address == nullptr) throw Exception("TMathInterpreter.BindVariable() No address to bind to.");
    impl_->HostVariable(name, "BindVariable")->BindTo(address);
    impl_->treeChanges.Bump();
}

void TMathInterpreter::BindVariable(const std::string& name, std::int32_t* address) {
    if (address == nullptr) throw Exception("TMathInterpreter.BindVariable() No address to bind to.");
    impl_->HostVariable(name, "BindVariable")->BindTo(address);
    impl_->treeChanges.Bump();
}

void TMathInterpreter::DefineConstant(const std::string& name, const Variant& value) {
    impl_->HostVariable(name, "DefineConstant")->MakeConstant(value);
    impl_->treeChanges.Bump();
}

void TMathInterpreter::Impl::ClearForLoad() {
    auto host = [](TMItem* item) {
        auto* symbol = static_cast<TMSymbol*>(item);
        return symbol != nullptr && symbol->IsVariable() && !symbol->IsValueHolder();
    };
    const int count = symbols.Count();
    bool any = false;
    for (int i = 0; i < count && !any; ++i) any = host(symbols.At(i));
    if (!any) {
        self.ClearSymbols();
        return;
    }
    CheckNotEvaluating("clear the symbols");
    // From the end: the slots below the one removed stay as they are.
    for (int slot = count - 1; slot >= 0; --slot) {
        TMItem* item = ItemAccess::Entries(symbols)[static_cast<std::size_t>(slot)];
        if (item == nullptr || host(item)) continue;
        const std::unique_ptr<TMItem> symbol(item);
        ItemAccess::RemoveSlot(symbols, slot);
    }
}

// ---------------------------------------------------------------- calls

namespace host {

const HostFunctionEntry* FindHostFunction(TMathInterpreter& interp, const std::string& name,
                                          const HostFunctionEntry*& cached, std::uint64_t& epoch) {
    const TMathInterpreter::Impl& d = TMathInterpreter::Impl::Of(interp);
    if (epoch != d.hostChanges) {
        cached = d.FindHostFunction(name);
        epoch = d.hostChanges;
    }
    return cached;
}

Variant CallHostFunction(TMathInterpreter& interp, const HostFunctionEntry& entry, TMFunctionCall& call) {
    const THostFunction& f = entry.function;
    const int n = call.ParamExpressions.Count();
    if (n < f.minCount || n > f.maxCount) RaiseCount(call, n, f);
    Scratch<Variant> scratch(static_cast<std::size_t>(n));
    Variant* args = scratch.data();
    guard::Held held;
    for (int i = 0; i < n; ++i) {
        args[i] = static_cast<TMParamExpression*>(call.ParamExpressions.At(i))->GetValue();
        held.Add(args[i]);
    }
    Variant result;
    {
        const Evaluating evaluating(TMathInterpreter::Impl::Of(interp).evaluationDepth);
        try {
            result = f.invoke(f.callable.get(), args, static_cast<std::size_t>(n));
        } catch (const EInterrupted&) {
            throw;
        } catch (const EOutOfMemory&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            RaiseFailure(call, e.what());
        } catch (...) {
            RaiseFailure(call, "unknown exception");
        }
    }
    if (result.IsEmpty()) RaiseFailure(call, "The function gave no value.");
    CheckFinite(result, "TMFunctionCall.GetValue", call.ReferencedSymbolName);
    return result;
}

const THostFunction* HostFunctionNamed(TMathInterpreter& interp, const std::string& name) {
    const HostFunctionEntry* entry = TMathInterpreter::Impl::Of(interp).FindHostFunction(name);
    return entry != nullptr ? &entry->function : nullptr;
}

int* EvaluationDepth(TMathInterpreter& interp) { return &TMathInterpreter::Impl::Of(interp).evaluationDepth; }

void CompiledFormsStale(TMathInterpreter& interp) noexcept { TMathInterpreter::Impl::Of(interp).treeChanges.Bump(); }

}  // namespace host

}  // namespace zorvex
