// Internal: the evaluators behind the built-in function classes, one per
// function, taking the call whose operands they read.
#pragma once

#include <cstdint>
#include <string_view>

#include "zorvex/MathIntrinsic.h"
#include "zorvex/Variant.h"

namespace zorvex {

#define ZORVEX_DECLARE_EVAL(Name, ...) Variant Eval##Name(TMIntrinsicFunctionCall& call);
ZORVEX_INTRINSICS(ZORVEX_DECLARE_EVAL)
#undef ZORVEX_DECLARE_EVAL

// The function of a real behind a built-in whose value is that function of
// its one operand converted to a real (Sin, Sqrt, Abs, ...), or null. Its
// result is unchecked: the evaluator raises for inf and NaN. `sse`, when
// given, receives the SSE2 instruction (after F2 0F) that computes it, or 0.
using RealFunction = double (*)(double);
RealFunction RealFunctionOf(const TMIntrinsicFunctionCall& call, std::uint8_t* sse = nullptr);

// The catalogue index of a built-in name in any letter case, or -1; and a
// new call of that index in an arena (null: on the heap).
int IntrinsicIndexOf(std::string_view name);
TMIntrinsicFunctionCall* CreateIntrinsic(int index, ItemArena* arena);

}  // namespace zorvex
