#include "ResourceLimits.h"

#include "InterpreterImpl.h"

#if defined(__GLIBC__)
#include <pthread.h>
#endif

#include "zorvex/Exception.h"

namespace zorvex {

namespace guard {

const char* ThreadStackFloor() {
    ZORVEX_FAST_TLS static thread_local const char* floor = [] {
        const char* f = nullptr;
#if defined(__GLIBC__)
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* addr = nullptr;
            std::size_t size = 0;
            if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
                // A stack too small for the reserve has no room at all.
                f = static_cast<const char*>(addr) + (size > kReserve ? kReserve : size);
            }
            pthread_attr_destroy(&attr);
        }
#endif
        return f;
    }();
    return floor;
}

void CheckDumpStack() {
    if (!StackFits(ThreadStackFloor(), kDumpBytesPerLevel))
        throw ELimitError("TMItem.Dump() Not enough stack space left to dump the expression.");
}

void BudgetExceeded(std::size_t budget) {
    throw ELimitError("TMathInterpreter.MemoryBudget() Memory budget of " + std::to_string(budget) +
                      " bytes exceeded.");
}

void OutOfMemory() { throw EOutOfMemory("Out of memory"); }

namespace {
// Set by EvaluationScope: the operators and built-ins reach the budgets of
// the interpreter evaluating through it.
ZORVEX_FAST_TLS thread_local TMathInterpreter* current = nullptr;
}  // namespace

void Reserve(std::size_t bytes) {
    const TMathInterpreter* interp = current;
    if (interp == nullptr) return;
    const std::size_t budget = interp->MemoryBudget();
    if (bytes > budget || interp->MemoryInUse() > budget - bytes) BudgetExceeded(budget);
}

void Held::Charge(std::size_t bytes) {
    TMathInterpreter* interp = interp_ != nullptr ? interp_ : current;
    if (interp == nullptr || bytes == 0) return;
    TMathInterpreter::Impl::Of(*interp).ChargeMemory(bytes);
    interp_ = interp;
    bytes_ += bytes;
}

void Held::AddHeap(const Variant& v) {
    if (v.IsArray() || v.AsString().size() >= kCounted) Charge(OwnBytes(v));
}

void Held::Release() noexcept {
    if (interp_ != nullptr) TMathInterpreter::Impl::Of(*interp_).ReleaseMemory(bytes_);
}

void WorkDone() {
    if (TEvaluationGuard* guard = TEvaluationGuard::OnThisThread()) guard->CheckWork();
}

std::string CopyText(std::string_view text) {
    Reserve(text.size());
    std::string out;
    out.reserve(text.size());
    AppendText(out, text);
    return out;
}

void AppendText(std::string& out, std::string_view text) {
    InPieces(text.size(), kWorkPiece, [&](std::size_t from, std::size_t to) { out.append(text.substr(from, to - from)); });
}

}  // namespace guard

TMathInterpreter::Impl::EvaluationScope::EvaluationScope(Impl& i) : impl(i), outer(guard::current) {
    if (impl.evaluationDepth++ == 0) impl.stackFloor = guard::ThreadStackFloor();
    guard::current = &impl.self;
}

TMathInterpreter::Impl::EvaluationScope::~EvaluationScope() {
    guard::current = outer;
    --impl.evaluationDepth;
}

TMathInterpreter::Impl::EntryScope::~EntryScope() {
    if (--impl.entryDepth == 0 && impl.releaseAtEnd != 0) impl.ReleaseMemory(std::exchange(impl.releaseAtEnd, 0));
}

void TMathInterpreter::Impl::ReleaseVariableMemory(std::size_t bytes, bool stillHeld) noexcept {
    if (stillHeld && entryDepth > 0)
        releaseAtEnd += bytes;
    else
        ReleaseMemory(bytes);
}

bool TMathInterpreter::Impl::StackFits(std::size_t bytes) const {
    return guard::StackFits(evaluationDepth > 0 ? stackFloor : guard::ThreadStackFloor(), bytes);
}

void TMathInterpreter::Impl::MemoryBudgetExceeded() const { guard::BudgetExceeded(memoryBudget); }

void TMathInterpreter::Impl::OutOfMemory() { guard::OutOfMemory(); }

}  // namespace zorvex
