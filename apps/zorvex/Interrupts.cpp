#include "Interrupts.h"

#include <signal.h>

#include <atomic>

#include "zorvex/MathInterpreter.h"

namespace console {

namespace {

std::atomic<zorvex::TMathInterpreter*> target{nullptr};
volatile sig_atomic_t seen = 0;

static_assert(std::atomic<zorvex::TMathInterpreter*>::is_always_lock_free, "read from a signal handler");

extern "C" void OnInterrupt(int) {
    seen = 1;
    if (zorvex::TMathInterpreter* interpreter = target.load()) interpreter->Interrupt();
}

}  // namespace

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a read waiting for a line gives up
    sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return seen != 0; }

void ClearInterrupted() {
    seen = 0;
    if (zorvex::TMathInterpreter* interpreter = target.load()) interpreter->ClearInterrupt();
}

zorvex::EInterrupted Interruption() {
    return zorvex::EInterrupted(zorvex::EInterrupted::Request, "TMathInterpreter.Interrupt() Evaluation interrupted.");
}

InterruptTarget::InterruptTarget(zorvex::TMathInterpreter& interpreter) : previous_(target.exchange(&interpreter)) {
    // A Ctrl-C that came just before reaches the new one as well.
    if (seen) interpreter.Interrupt();
}

InterruptTarget::~InterruptTarget() { target.store(previous_); }

}  // namespace console
