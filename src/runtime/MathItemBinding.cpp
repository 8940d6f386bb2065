// The bound tree: how the references of a tree find their symbols, and let
// go of them. A tree is bound to the table when it is built; a symbol that
// appears, takes a new name or goes is offered to, or taken from, the
// function bodies (and prepared trees) that can refer to it.
#include <algorithm>
#include <climits>
#include <exception>
#include <string>
#include <vector>

#include "ItemHost.h"
#include "ItemUtil.h"
#include "zorvex/Exception.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/MathItem.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {
const char* const kUnit = "Source/MathItem";
std::string Str(int v) { return std::to_string(v); }

// The bodies that can refer to name `a` or `b`, each once; in table order
// when asked.
std::vector<TMFunction*> BodiesMentioning(const TMSymbols* list, const std::string& a, const std::string& b,
                                          bool tableOrder) {
    std::vector<TMFunction*> bodies = ItemAccess::Bodies(*list, a);
    if (UpperCase(a) != UpperCase(b))
        for (TMFunction* f : ItemAccess::Bodies(*list, b)) bodies.push_back(f);
    for (TMFunction* f : ItemAccess::Bodies(*list, "")) bodies.push_back(f);
    std::sort(bodies.begin(), bodies.end());
    bodies.erase(std::unique(bodies.begin(), bodies.end()), bodies.end());
    if (!tableOrder) return bodies;
    std::vector<std::pair<int, TMFunction*>> ordered;
    for (TMFunction* f : bodies) {
        const int slot = ItemAccess::SlotOf(*list, f);
        ordered.emplace_back(slot < 0 ? INT32_MAX : slot, f);
    }
    std::sort(ordered.begin(), ordered.end());
    bodies.clear();
    for (auto& entry : ordered) bodies.push_back(entry.second);
    return bodies;
}
}  // namespace

// ---------------------------------------------------------------- whole trees

void TMExpression::CollectReferences(std::vector<TMReference*>& out) {
    WalkTree(this, [&](TMItem* item) {
        if (item->Is(ikReference)) out.push_back(static_cast<TMReference*>(item));
    });
}

void TMExpression::SetMathInterpreter(TMathInterpreter*) {}

void TMExpression::RewireSymbols(TMSymbols* symbols) { RewireFromTable(this, symbols, nullptr); }

// Binding a tree to a table: the outcome of offering every symbol in table
// order, each reference found by name instead of by a pass per symbol. A
// plain reference to a function that takes parameters is bound all the same
// (it fails when read, and works again once the function takes none); the
// first such reference is reported after the whole tree is bound, except
// while symbols are loaded, where the table is taken as it was saved.
void RewireFromTable(TMExpression* tree, TMSymbols* symbols, const TMParams* shadow) {
    BindTree(tree, symbols, shadow, nullptr);
}

void BindTree(TMExpression* tree, TMSymbols* symbols, const TMParams* shadow, TMathInterpreter* interpreter) {
    if (symbols == nullptr) throw Exception("RewireSymbols() No symbol table to bind to.");
    SmallVector<TMReference*, 16> refs;
    WalkTree(tree, [&](TMItem* item) {
        if (item->Is(ikReference)) refs.push_back(static_cast<TMReference*>(item));
        if (interpreter != nullptr) AttachInterpreter(item, interpreter);
    });
    bool faithful = false;
    for (TMReference* ref : refs) {
        // A binding to one of the shadowing parameters stays as it is anyway.
        bool boundElsewhere = ref->SymbolReference != nullptr &&
                              (shadow == nullptr || ref->SymbolReference->List != shadow);
        if (boundElsewhere || ref->ReferencedSymbolName.empty()) faithful = true;
    }
    const TMReference* misfit = nullptr;
    if (faithful) {
        // References already bound may follow renames; take the long way.
        for (int i = 0; i < symbols->Count(); ++i) {
            auto* symbol = static_cast<TMSymbol*>(symbols->At(i));
            if (symbol == nullptr) continue;
            if (shadow != nullptr && shadow->ParamExists(symbol->Identifier())) continue;
            for (TMReference* ref : refs)
                if (OfferSymbol(ref, symbol) && misfit == nullptr) misfit = ref;
        }
    } else {
        int misfitSlot = -1;
        for (TMReference* ref : refs) {
            const int slot = ItemAccess::FindSlot(*symbols, ref->ReferencedSymbolName);
            if (slot < 0) continue;
            auto* symbol = static_cast<TMSymbol*>(symbols->At(slot));
            if (shadow != nullptr && shadow->ParamExists(symbol->Identifier())) continue;
            if (ref->Is(ikVarRef) && !IsVarRefTarget(symbol)) continue;
            ref->SymbolReference = symbol;
            if (ref->Is(ikVarRef) && IsFunctionWithParameters(symbol) && (misfit == nullptr || slot < misfitSlot)) {
                misfit = ref;
                misfitSlot = slot;
            }
        }
    }
    const bool loading = host::Loading(symbols->Interpreter);
    if (misfit != nullptr && !loading) RaiseMisfit(misfit, "Rewire");
}

bool OfferSymbol(TMReference* ref, TMSymbol* symbol) {
    if (ref->Is(ikVarRef)) {
        if (!IsVarRefTarget(symbol)) return false;
        const bool misfit = IsFunctionWithParameters(symbol) && symbol->IsEqualIdentifier(ref->ReferencedSymbolName);
        ref->TMReference::Rewire(symbol);
        return misfit;
    }
    ref->TMReference::Rewire(symbol);
    return false;
}

void RaiseMisfit(const TMReference* ref, const char* operation) {
    throw ETypeError("TMVarRef." + std::string(operation) + "() Reference: \"" + Excerpt(ref->ReferencedSymbolName) +
                         "\" (position: " + Str(ref->ParsePosition) + ") must point to parameterless function.",
                     ref->ParsePosition);
}

void RewireTree(TMExpression* tree, TMSymbol* symbol) {
    if (symbol == nullptr) throw Exception("Rewire() No symbol to offer.");
    const TMReference* misfit = nullptr;
    WalkTree(tree, [&](TMItem* item) {
        if (item->Is(ikReference) && OfferSymbol(static_cast<TMReference*>(item), symbol) && misfit == nullptr)
            misfit = static_cast<TMReference*>(item);
    });
    if (misfit == nullptr) return;
    TMSymbols* list = symbol->List;
    const bool loading = list != nullptr && host::Loading(list->Interpreter);
    if (!loading) RaiseMisfit(misfit, "Rewire");
}

void UnwireTree(TMExpression* tree, TMSymbol* symbol) {
    if (symbol == nullptr) return;
    WalkTree(tree, [&](TMItem* item) {
        if (item->Is(ikReference)) static_cast<TMReference*>(item)->TMReference::Unwire(symbol);
    });
}

void SetTreeInterpreter(TMExpression* tree, TMathInterpreter* interpreter) {
    if (interpreter == nullptr) throw Exception("SetMathInterpreter() No interpreter given.");
    WalkTree(tree, [&](TMItem* item) { AttachInterpreter(item, interpreter); });
}

// Literals too: a dump writes their strings for the interpreter's escape
// character, wherever in a tree they stand.
void AttachInterpreter(TMItem* item, TMathInterpreter* interpreter) {
    if (item->Is(ikReference))
        static_cast<TMReference*>(item)->Interpreter = interpreter;
    else if (item->Is(ikIntrinsic))
        static_cast<TMIntrinsicFunctionCall*>(item)->Interpreter = interpreter;
    else if (item->Is(ikLiteral))
        static_cast<TMLiteral*>(item)->Interpreter = interpreter;
}

bool IsVarRefTarget(const TMSymbol* symbol) {
    return symbol->IsValueHolder() || symbol->IsVariable() || symbol->Is(ikFunction);
}

bool IsFunctionWithParameters(const TMSymbol* symbol) {
    return symbol->Is(ikFunction) && static_cast<const TMFunction*>(symbol)->Parameters().Count() > 0;
}

void TMSymbol::OfferToBodies(const std::string& trimmed, const std::string& oldIdentifier) {
    // Only a function that takes parameters makes a misfit, and only then
    // does the order count: the first misfit in table order is reported.
    const bool misfits = IsFunctionWithParameters(this);
    auto offer = [&](TMFunction* f) {
        const TMParams& params = f->Parameters();
        if (f->Expression() != nullptr && (params.Empty() || !params.ParamExists(trimmed)))
            RewireTree(f->Expression(), this);
    };
    // A new name, the usual case, visits the bodies where they are listed.
    if (!misfits && oldIdentifier.empty()) {
        for (TMFunction* f : List->BodiesMentioning(identifier_)) offer(f);
        for (TMFunction* f : List->BodiesMentioning("")) offer(f);
        return;
    }
    const std::vector<TMFunction*> bodies = BodiesMentioning(List, identifier_, oldIdentifier, misfits);
    // Every body learns of the name; the first misfit is reported afterwards.
    std::exception_ptr error;
    for (TMFunction* f : bodies) {
        try {
            offer(f);
        } catch (const Exception&) {
            if (!error) error = std::current_exception();
        }
    }
    // A rename carried by the references changes the names the bodies mention.
    if (UpdateReferences && !oldIdentifier.empty())
        for (TMFunction* f : bodies) List->RegisterBody(f);
    if (error) std::rethrow_exception(error);
}

void NotifySymbolGone(TMSymbol* symbol, bool isParam) {
    TMSymbols* list = symbol->List;
    if (list == nullptr) return;
    if (isParam) {
        TMParams* params = ItemAccess::Params(list);
        if (params != nullptr && params->Func != nullptr && params->Func->Expression() != nullptr)
            UnwireTree(params->Func->Expression(), symbol);
        return;
    }
    // Unwiring raises nothing, so the order of the bodies does not matter.
    for (const std::string& name : {symbol->Identifier(), std::string()})
        for (TMFunction* f : ItemAccess::Bodies(*list, name))
            if (f != symbol && f->Expression() != nullptr) UnwireTree(f->Expression(), symbol);
    if (host::IsTable(list->Interpreter, list)) host::SymbolRemoved(*list->Interpreter, symbol);
}

void TMReference::Rewire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (ReferencedSymbolName.empty()) ReferencedSymbolName = symbol->Identifier();
    if (symbol->IsEqualIdentifier(ReferencedSymbolName)) {
        if (Is(ikCompiled) && symbol != SymbolReference) TreeChanged(this);
        SymbolReference = symbol;
    } else if (symbol == SymbolReference) {
        if (Is(ikCompiled)) TreeChanged(this);
        if (symbol->UpdateReferences)
            ReferencedSymbolName = symbol->Identifier();
        else
            SymbolReference = nullptr;
    }
}

void TMReference::Unwire(TMSymbol* symbol) {
    ZORVEX_ASSERT(symbol != nullptr, kUnit);
    if (symbol != SymbolReference) return;
    if (Is(ikCompiled)) TreeChanged(this);
    SymbolReference = nullptr;
}

void TMReference::SetMathInterpreter(TMathInterpreter* interpreter) {
    ZORVEX_ASSERT(interpreter != nullptr, kUnit);
    Interpreter = interpreter;
}

void TMVarRef::Rewire(TMSymbol* symbol) { RewireTree(this, symbol); }

void TMParamExpression::Rewire(TMSymbol* symbol) { RewireTree(this, symbol); }

void TMParamExpression::Unwire(TMSymbol* symbol) { UnwireTree(this, symbol); }

void TMParamExpression::SetMathInterpreter(TMathInterpreter* interpreter) { SetTreeInterpreter(this, interpreter); }

void TMFunctionCall::Rewire(TMSymbol* symbol) { RewireTree(this, symbol); }

void TMFunctionCall::Unwire(TMSymbol* symbol) { UnwireTree(this, symbol); }

void TMFunctionCall::SetMathInterpreter(TMathInterpreter* interpreter) { SetTreeInterpreter(this, interpreter); }

void TMOperator::Rewire(TMSymbol* symbol) { RewireTree(this, symbol); }

void TMOperator::Unwire(TMSymbol* symbol) { UnwireTree(this, symbol); }

void TMOperator::SetMathInterpreter(TMathInterpreter* interpreter) { SetTreeInterpreter(this, interpreter); }

}  // namespace zorvex
