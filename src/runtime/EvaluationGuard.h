// Internal: stopping an evaluation from outside it: an interrupt request that
// any thread or a signal handler may raise, and optional time and step
// budgets. The interpreter's public members reach it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>


namespace zorvex {

class TEvaluationGuard {
public:
    TEvaluationGuard() = default;
    TEvaluationGuard(const TEvaluationGuard&) = delete;
    TEvaluationGuard& operator=(const TEvaluationGuard&) = delete;

    // Lock-free stores: safe from any thread and from a signal handler.
    void Interrupt() noexcept {
        interrupt_.store(true, std::memory_order_seq_cst);
        Shut();
    }
    bool InterruptPending() const noexcept { return interrupt_.load(std::memory_order_relaxed); }
    void ClearInterrupt() noexcept { interrupt_.store(false, std::memory_order_relaxed); }

    // Budgets of one outermost evaluation; 0 means none.
    std::uint32_t TimeLimit() const { return timeLimitMs_; }
    void SetTimeLimit(std::uint32_t milliseconds);
    std::uint64_t StepLimit() const { return stepLimit_; }
    void SetStepLimit(std::uint64_t steps);
    // Checks passed by the running (or last) evaluation while a budget is set.
    std::uint64_t Steps() const { return steps_; }

    // Called about every `intervalMs` while an entry point runs, at the
    // checks where the clock is read; it may Interrupt() or throw. Null
    // removes it. A handler that re-enters an evaluation is not called again
    // until it returns.
    void SetProgress(std::function<void()> handler, std::uint32_t intervalMs);
    bool HasProgress() const { return static_cast<bool>(progress_); }

    // Called where evaluation can run long: user-function calls, between
    // expressions. Costs one relaxed load and a test.
    void Check() {
        if (interrupt_.load(std::memory_order_relaxed) || limited_) [[unlikely]]
            CheckSlow(false);
    }
    // Called by long work (a built-in over a long text) after each piece of
    // it, pieces being about a tenth of a millisecond or less: reads the
    // clock at once rather than after a number of checks.
    void CheckWork() {
        if (interrupt_.load(std::memory_order_relaxed) || limited_) [[unlikely]]
            CheckSlow(true);
    }

    // The guard of the outermost entry point running on the calling thread
    // (the innermost interpreter's), or null: long work deep in the library
    // checks it.
    static TEvaluationGuard* OnThisThread() noexcept;

    // Set to 0 whenever a request, a budget or an entry point comes that an
    // evaluation that skips Run would miss (see Idle).
    void ShutOnChecks(std::atomic<std::size_t>* gate) noexcept { gate_ = gate; }

    // No request pending, no budget, no entry point running on any thread:
    // an evaluation that makes no checks of its own may then skip Run (a
    // request that comes while it runs is left to the next evaluation).
    [[gnu::always_inline]] bool Idle() const noexcept {
        return owner_.load(std::memory_order_seq_cst) == std::thread::id() && !limited_ &&
               !interrupt_.load(std::memory_order_seq_cst);
    }
    // No budget, progress handler or request: every check would pass.
    bool Unwatched() const noexcept { return !limited_ && !interrupt_.load(std::memory_order_relaxed); }
    // Whether an entry point runs, on any thread.
    bool Busy() const noexcept { return owner_.load(std::memory_order_relaxed) != std::thread::id(); }

    // Brackets a public entry point. The outermost one takes the guard for
    // its thread (raising if another thread holds it) and starts the
    // budgets; its end drops a request that came too late to stop anything.
    class Run {
    public:
        explicit Run(TEvaluationGuard& guard) : guard_(guard) { guard_.Enter(); }
        ~Run() { guard_.Leave(); }
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;

    private:
        TEvaluationGuard& guard_;
    };

private:
    static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag must suit a signal handler");

    void Enter();
    void Leave() noexcept;
    void Begin();
    void CheckSlow(bool work);
    void ReadClock(std::chrono::steady_clock::time_point now);
    void UpdateLimited() {
        limited_ = timeLimitMs_ != 0 || stepLimit_ != 0 || progress_;
        if (limited_) Shut();
    }
    void Shut() noexcept {
        if (gate_ != nullptr) gate_->store(0, std::memory_order_seq_cst);
    }
    void Progress(std::chrono::steady_clock::time_point now);

    std::atomic<bool> interrupt_{false};
    bool limited_ = false;
    std::uint32_t timeLimitMs_ = 0;
    std::uint64_t stepLimit_ = 0;
    std::uint64_t steps_ = 0;
    std::chrono::steady_clock::time_point deadline_{};
    std::function<void()> progress_;
    std::chrono::milliseconds progressInterval_{50};
    std::chrono::steady_clock::time_point nextProgress_{};
    bool inProgress_ = false;
    // The clock is read after `stride_` checks, a number fitted to how long
    // the recent checks took, so that reads are a few microseconds apart.
    std::chrono::steady_clock::time_point lastRead_{};
    std::uint32_t stride_ = 1;
    std::uint32_t sinceRead_ = 0;
    // The thread inside an entry point, and how deeply; only that thread
    // changes depth_.
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;
    TEvaluationGuard* outer_ = nullptr;
    std::atomic<std::size_t>* gate_ = nullptr;
};

}  // namespace zorvex
