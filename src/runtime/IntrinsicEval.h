// Internal: the evaluators behind the built-in function classes, one per
// function, taking the call whose operands they read.
#pragma once

#include "zorvex/MathIntrinsic.h"
#include "zorvex/Variant.h"

namespace zorvex {

#define ZORVEX_DECLARE_EVAL(Name, ...) Variant Eval##Name(TMIntrinsicFunctionCall& call);
ZORVEX_INTRINSICS(ZORVEX_DECLARE_EVAL)
#undef ZORVEX_DECLARE_EVAL

}  // namespace zorvex
