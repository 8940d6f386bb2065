// Internal: what tests read of an interpreter's inside.
#pragma once

#include <cstdint>

#include "InterpreterImpl.h"

namespace zorvex {

struct InterpreterAccess {
    // Compiled forms made so far, fresh or again after their tree changed.
    static std::uint64_t Compilations(const TMathInterpreter& interp) {
        return TMathInterpreter::Impl::Of(interp).compilations;
    }
    // Compiled forms held as machine code. New ones: assembled at once, or
    // never (run by the handlers).
    static int MachinePrograms(const TMathInterpreter& interp) {
        return TMathInterpreter::Impl::Of(interp).machinePrograms;
    }
    static void SetMachineCode(TMathInterpreter& interp, bool atOnce) {
        TMathInterpreter::Impl::Of(interp).machineCode = atOnce;
        TMathInterpreter::Impl::Of(interp).machineAfter = 0;
    }
    static int MachineAfter(const TMathInterpreter& interp) { return TMathInterpreter::Impl::Of(interp).machineAfter; }
    // Checks passed by the running (or last) evaluation while a budget is set.
    static std::uint64_t Steps(const TMathInterpreter& interp) { return TMathInterpreter::Impl::Of(interp).guard.Steps(); }
};

}  // namespace zorvex
