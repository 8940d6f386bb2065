// Shared by the fuzz targets: an interpreter with small limits, and the
// checks every input must pass. A violation aborts, which the fuzzer
// reports with the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"

namespace zorvex::fuzz {

inline void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.substr(0, 2000).c_str());
    std::abort();
}

inline void Limit(TMathInterpreter& mi) {
    mi.SetMaxFunctionNesting(64);
    mi.SetMemoryBudget(32u << 20);
}

// Runs f; the library's own errors are fine, an assertion is not.
template <class F>
bool Survives(F&& f) {
    try {
        f();
        return true;
    } catch (const EAssertionFailed& e) {
        Fail("assertion reached", e.Message());
    } catch (const Exception&) {
    }
    return false;
}

inline void ExpectUsable(TMathInterpreter& mi) {
    if (mi.FunctionNestingLevel() != 0) Fail("nesting level left over", std::to_string(mi.FunctionNestingLevel()));
    std::string two;
    Survives([&] { two = VarToStr(mi.ExecuteExpression("1+1")); });
    if (two != "2") Fail("interpreter no longer answers", two);
}

// Everything counted against the memory budget is given back: with no
// symbol and no prepared tree left, nothing is in use.
inline void ExpectNothingHeld(TMathInterpreter& mi) {
    mi.ClearPreparedExpressions();
    mi.ClearSymbols();
    if (mi.MemoryInUse() != 0) Fail("memory still counted", std::to_string(mi.MemoryInUse()));
}

}  // namespace zorvex::fuzz
