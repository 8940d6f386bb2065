#include "IntrinsicEval.h"
#include "zorvex/Exception.h"

namespace zorvex {
#define ZORVEX_STUB_EVAL(Name, N) \
    Variant Eval##Name(TMIntrinsicFunctionCall&) { throw Exception("TM" #Name ".GetValue() Not available yet."); }
ZORVEX_INTRINSICS(ZORVEX_STUB_EVAL)
#undef ZORVEX_STUB_EVAL
}  // namespace zorvex
