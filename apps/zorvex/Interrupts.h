// Ctrl-C in an interactive session: it stops the evaluation in progress and
// whatever source is being run, never the console itself.
#pragma once

#include "zorvex/Exception.h"

namespace zorvex {
class TMathInterpreter;
}

namespace console {

// Installs the SIGINT handler. Reads waiting for input then give up with
// EINTR, so that a reader can drop what was typed.
void CatchInterrupts();

// Whether Ctrl-C came since the last Clear. The request to the interpreter
// ends with the evaluation it reached; this flag outlives it, so that a
// script between two expressions stops too.
bool Interrupted();
void ClearInterrupted();
// What an evaluation that Ctrl-C stopped raises, for a stop between two.
zorvex::EInterrupted Interruption();

// While one lives, Ctrl-C asks `interpreter` to stop; the one it replaces
// comes back at its end.
class InterruptTarget {
public:
    explicit InterruptTarget(zorvex::TMathInterpreter& interpreter);
    ~InterruptTarget();
    InterruptTarget(const InterruptTarget&) = delete;
    InterruptTarget& operator=(const InterruptTarget&) = delete;

private:
    zorvex::TMathInterpreter* previous_;
};

}  // namespace console
