// Internal helpers shared by the item and interpreter units.
#pragma once

#include "zorvex/MathItem.h"

namespace zorvex {

void RewireFromTable(TMExpression* tree, TMSymbols* symbols, const TMParams* shadow);
bool IsVarRefTarget(const TMSymbol* symbol);
bool IsFunctionWithParameters(const TMSymbol* symbol);

// Escape character that plain dumps write strings for; set by the
// interpreter around its dumps so the text reads back under that setting.
struct DumpEscapeScope {
    explicit DumpEscapeScope(char escapeChar);
    ~DumpEscapeScope();
    char saved;
};
char CurrentDumpEscape();

}  // namespace zorvex
