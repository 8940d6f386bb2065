// Internal helpers shared by the item and interpreter units.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zorvex/MathItem.h"

namespace zorvex {

void RewireFromTable(TMExpression* tree, TMSymbols* symbols, const TMParams* shadow);
bool IsVarRefTarget(const TMSymbol* symbol);
bool IsFunctionWithParameters(const TMSymbol* symbol);

// Offers a symbol to one reference (no recursion into arguments). Returns
// true when a plain reference got bound to a function that takes
// parameters: the caller reports that once the whole tree is bound.
bool OfferSymbol(TMReference* ref, TMSymbol* symbol);
[[noreturn]] void RaiseMisfit(const TMReference* ref, const char* operation);

// Rewire, Unwire and SetMathInterpreter of a whole tree, without recursion.
void RewireTree(TMExpression* tree, TMSymbol* symbol);
void UnwireTree(TMExpression* tree, TMSymbol* symbol);
void SetTreeInterpreter(TMExpression* tree, TMathInterpreter* interpreter);

// Visits the nodes of a tree in the order of a recursive pre-order walk, with
// an explicit stack, so that trees of any height need no native stack. The
// declaration of a symbolic definition is not entered: it refers to nothing.
template <class F>
void WalkTree(TMItem* root, F&& visit) {
    std::vector<TMItem*> pending;
    pending.push_back(root);
    while (!pending.empty()) {
        TMItem* item = pending.back();
        pending.pop_back();
        if (item == nullptr) continue;
        visit(item);
        if (item->Is(ikAssignSymbolic)) continue;
        if (item->Is(ikOperator)) {
            const TMItems& operands = static_cast<TMOperator*>(item)->Operands;
            for (int i = operands.Count(); i-- > 0;) pending.push_back(operands.At(i));
        } else if (item->Is(ikFunctionCall)) {
            const TMItems& args = static_cast<TMFunctionCall*>(item)->ParamExpressions;
            for (int i = args.Count(); i-- > 0;) pending.push_back(args.At(i));
        } else if (item->Is(ikParamExpression)) {
            pending.push_back(static_cast<TMParamExpression*>(item)->Expression);
        }
    }
}

// Frees an item whose subtree may be of any height: nested frees queue up
// behind the outermost one instead of recursing.
void DisposeItem(TMItem* item);
void DisposeItems(TMItems& items);

// A text quoted in a message, cut to a readable length.
std::string Excerpt(std::string_view text);

// Keywords of the language in any letter case: the item a word makes, or
// null. The tokenizer and the symbol loader share this one table.
TMItem* CreateKeyword(std::string_view word);
bool IsKeyword(std::string_view word);

}  // namespace zorvex
