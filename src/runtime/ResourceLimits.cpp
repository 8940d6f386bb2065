#include "ResourceLimits.h"

#if defined(__GLIBC__)
#include <pthread.h>
#endif

#include "zorvex/Exception.h"

namespace zorvex {

namespace guard {

const char* ThreadStackFloor() {
    static thread_local const char* floor = [] {
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
        throw Exception("TMItem.Dump() Not enough stack space left to dump the expression.");
}

void BudgetExceeded(std::size_t budget) {
    throw Exception("TMathInterpreter.MemoryBudget() Memory budget of " + std::to_string(budget) +
                    " bytes exceeded.");
}

}  // namespace guard

TMathInterpreter::EvaluationScope::EvaluationScope(TMathInterpreter& i) : interp(i) {
    if (interp.evaluationDepth_++ == 0) interp.stackFloor_ = guard::ThreadStackFloor();
}

bool TMathInterpreter::StackFits(std::size_t bytes) const {
    return guard::StackFits(evaluationDepth_ > 0 ? stackFloor_ : guard::ThreadStackFloor(), bytes);
}

void TMathInterpreter::MemoryBudgetExceeded() const { guard::BudgetExceeded(memoryBudget_); }

}  // namespace zorvex
