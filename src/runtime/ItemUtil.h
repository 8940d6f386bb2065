// Internal helpers shared by the item and interpreter units.
#pragma once

#include "zorvex/MathItem.h"

namespace zorvex {

void RewireFromTable(TMExpression* tree, TMSymbols* symbols, const TMParams* shadow);
bool IsVarRefTarget(const TMSymbol* symbol);
bool IsFunctionWithParameters(const TMSymbol* symbol);

}  // namespace zorvex
