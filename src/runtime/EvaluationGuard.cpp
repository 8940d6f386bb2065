#include "EvaluationGuard.h"

#include <string>
#include <utility>

#include "ResourceLimits.h"
#include "zorvex/Exception.h"

namespace zorvex {

namespace {

using Clock = std::chrono::steady_clock;

// Reads of the clock are aimed this far apart. Reading it costs tens of
// nanoseconds, a check of a user-function call about a hundred or more.
constexpr std::chrono::microseconds kReadEvery{50};
// The most checks between two reads: bounds how far a sudden run of slow
// checks can carry an evaluation past its deadline.
constexpr std::uint32_t kMaxStride = 64;

ZORVEX_FAST_TLS thread_local TEvaluationGuard* onThisThread = nullptr;

}  // namespace

TEvaluationGuard* TEvaluationGuard::OnThisThread() noexcept { return onThisThread; }

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

void TEvaluationGuard::Enter() {
    const std::thread::id me = std::this_thread::get_id();
    // Only the owning thread finds itself here, and only it changes depth_.
    if (owner_.load(std::memory_order_acquire) == me) {
        ++depth_;
        return;
    }
    std::thread::id none;
    if (!owner_.compare_exchange_strong(none, me, std::memory_order_seq_cst))
        throw Exception("TMathInterpreter is in use by another thread; an interpreter serves one thread at a time.");
    Shut();
    depth_ = 1;
    outer_ = std::exchange(onThisThread, this);
    Begin();
}

void TEvaluationGuard::Leave() noexcept {
    if (--depth_ != 0) return;
    onThisThread = outer_;
    ClearInterrupt();
    owner_.store(std::thread::id(), std::memory_order_release);
}

void TEvaluationGuard::Begin() {
    steps_ = 0;
    sinceRead_ = 0;
    stride_ = 1;
    if (timeLimitMs_ == 0 && !progress_) return;
    const auto now = Clock::now();
    lastRead_ = now;
    if (timeLimitMs_ != 0) deadline_ = now + std::chrono::milliseconds(timeLimitMs_);
    nextProgress_ = now + progressInterval_;
}

void TEvaluationGuard::Progress(Clock::time_point now) {
    if (inProgress_ || now < nextProgress_) return;
    struct Busy {
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
        bool& flag;
    } busy(inProgress_);
    // Copied: the handler may replace itself.
    const std::function<void()> handler = progress_;
    handler();
    nextProgress_ = Clock::now() + progressInterval_;
    if (interrupt_.load(std::memory_order_relaxed))
        throw EInterrupted(EInterrupted::Request, "TMathInterpreter.Interrupt() Evaluation interrupted.");
}

void TEvaluationGuard::CheckSlow(bool work) {
    if (interrupt_.load(std::memory_order_relaxed))
        throw EInterrupted(EInterrupted::Request, "TMathInterpreter.Interrupt() Evaluation interrupted.");
    ++steps_;
    if (stepLimit_ != 0 && steps_ > stepLimit_)
        throw EInterrupted(EInterrupted::StepLimit,
                           "TMathInterpreter.EvaluationStepLimit Evaluation stopped at its limit of " +
                               std::to_string(stepLimit_) + " steps.");
    // Outside any entry point there is no deadline to keep.
    if ((timeLimitMs_ == 0 && !progress_) || depth_ == 0) return;
    const std::uint32_t checks = ++sinceRead_;
    if (!work && checks < stride_) return;
    const auto now = Clock::now();
    if (!work) {
        // Fit the stride to the time these checks took.
        const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - lastRead_).count();
        const auto each = elapsed / checks + 1;
        const auto fit = std::chrono::nanoseconds(kReadEvery).count() / each;
        stride_ = fit < 1 ? 1 : fit > kMaxStride ? kMaxStride : static_cast<std::uint32_t>(fit);
    }
    lastRead_ = now;
    sinceRead_ = 0;
    ReadClock(now);
}

void TEvaluationGuard::ReadClock(Clock::time_point now) {
    if (timeLimitMs_ != 0 && now >= deadline_)
        throw EInterrupted(EInterrupted::TimeLimit,
                           "TMathInterpreter.EvaluationTimeLimit Evaluation stopped at its limit of " +
                               std::to_string(timeLimitMs_) + " ms.");
    if (progress_) Progress(now);
}

}  // namespace zorvex
