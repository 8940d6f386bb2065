#include "zorvex/EvaluationGuard.h"

#include <string>

#include "zorvex/Exception.h"

namespace zorvex {

void TEvaluationGuard::SetTimeLimit(std::uint32_t milliseconds) {
    timeLimitMs_ = milliseconds;
    UpdateLimited();
}

void TEvaluationGuard::SetStepLimit(std::uint64_t steps) {
    stepLimit_ = steps;
    UpdateLimited();
}

void TEvaluationGuard::SetProgress(std::function<void()> handler, std::uint32_t intervalMs) {
    progress_ = std::move(handler);
    progressInterval_ = std::chrono::milliseconds(intervalMs);
    UpdateLimited();
}

void TEvaluationGuard::Begin() {
    steps_ = 0;
    if (timeLimitMs_ == 0 && !progress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (timeLimitMs_ != 0) deadline_ = now + std::chrono::milliseconds(timeLimitMs_);
    nextProgress_ = now + progressInterval_;
}

void TEvaluationGuard::Progress(std::chrono::steady_clock::time_point now) {
    if (inProgress_ || now < nextProgress_) return;
    struct Busy {
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
        bool& flag;
    } busy(inProgress_);
    // Copied: the handler may replace itself.
    const std::function<void()> handler = progress_;
    handler();
    nextProgress_ = std::chrono::steady_clock::now() + progressInterval_;
    if (interrupt_.load(std::memory_order_relaxed))
        throw EInterrupted(EInterrupted::Request, "TMathInterpreter.Interrupt() Evaluation interrupted.");
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
    if ((timeLimitMs_ == 0 && !progress_) || depth_ == 0 || (steps_ & 63u) != 1) return;
    const auto now = std::chrono::steady_clock::now();
    if (timeLimitMs_ != 0 && now > deadline_)
        throw EInterrupted(EInterrupted::TimeLimit,
                           "TMathInterpreter.EvaluationTimeLimit Evaluation stopped at its limit of " +
                               std::to_string(timeLimitMs_) + " ms.");
    if (progress_) Progress(now);
}

}  // namespace zorvex
