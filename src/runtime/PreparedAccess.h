// Internal: what tests read of an interpreter's prepared expressions.
#pragma once

#include <cstdint>

#include "zorvex/MathInterpreter.h"

namespace zorvex {

struct InterpreterAccess {
    // Compiled forms made so far, fresh or again after their tree changed.
    static std::uint64_t Compilations(const TMathInterpreter& interp) { return interp.compilations_; }
};

}  // namespace zorvex
