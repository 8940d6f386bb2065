#include "zorvex/EvaluationGuard.h"

#include <string>

#include "zorvex/Exception.h"

namespace zorvex {

void TEvaluationGuard::SetTimeLimit(std::uint32_t milliseconds) {
    timeLimitMs_ = milliseconds;
    limited_ = timeLimitMs_ != 0 || stepLimit_ != 0;
}

void TEvaluationGuard::SetStepLimit(std::uint64_t steps) {
    stepLimit_ = steps;
    limited_ = timeLimitMs_ != 0 || stepLimit_ != 0;
}

void TEvaluationGuard::Begin() {
    steps_ = 0;
    if (timeLimitMs_ != 0) deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs_);
}

void TEvaluationGuard::CheckSlow() {
    if (interrupt_.load(std::memory_order_relaxed))
        throw EInterrupted(EInterrupted::Request, "TMathInterpreter.Interrupt() Evaluation interrupted.");
    ++steps_;
    if (stepLimit_ != 0 && steps_ > stepLimit_)
        throw EInterrupted(EInterrupted::StepLimit,
                           "TMathInterpreter.EvaluationStepLimit Evaluation stopped at its limit of " +
                               std::to_string(stepLimit_) + " steps.");
    // Outside any entry point there is no deadline to keep. The clock is
    // read every 64 checks: a check is microseconds apart at most.
    if (timeLimitMs_ != 0 && depth_ > 0 && (steps_ & 63u) == 1 && std::chrono::steady_clock::now() > deadline_)
        throw EInterrupted(EInterrupted::TimeLimit,
                           "TMathInterpreter.EvaluationTimeLimit Evaluation stopped at its limit of " +
                               std::to_string(timeLimitMs_) + " ms.");
}

}  // namespace zorvex
