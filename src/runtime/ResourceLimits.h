// Internal: the resource limits every evaluation runs under (interruption
// and time budgets are TEvaluationGuard's). The native stack is checked where
// recursion goes deeper (a tree's evaluation, a user function's body, a dump
// step) by one comparison with a floor computed once per evaluation; the
// memory budget counts the texts held by variables and the values held by
// active call frames.
#pragma once

#include <cstddef>

#include "zorvex/MathInterpreter.h"
#include "zorvex/Variant.h"

namespace zorvex::guard {

// Native stack a tree level takes while it is evaluated or dumped, measured
// per node kind with a margin. AddressSanitizer takes up to five times the
// stack of optimised code (1,955 bytes for an assignment under clang),
// unoptimised code about three times. Clang names the sanitizer otherwise.
#if defined(__SANITIZE_ADDRESS__)
#define ZORVEX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVEX_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(ZORVEX_ADDRESS_SANITIZER)
constexpr std::size_t kScale = 5;
#elif !defined(__OPTIMIZE__)
constexpr std::size_t kScale = 3;
#else
constexpr std::size_t kScale = 1;
#endif
// One unit: a level of the plain operators (measured at most 81 bytes in
// optimised code); built-ins, assignments, "not" and call arguments take
// kHeavyUnits (measured at most 370 bytes).
constexpr std::size_t kEvalBytesPerUnit = 128 * kScale;
constexpr int kHeavyUnits = 4;
constexpr std::size_t kDumpBytesPerLevel = 640 * kScale;
// Room kept free below the deepest check: error reporting, the conversions
// and text routines of one node, an unknown-symbol handler of the host.
constexpr std::size_t kReserve = 24 * 1024 * kScale;

// Lowest address the calling thread's stack may reach with the reserve kept,
// or null where the bounds are unknown.
const char* ThreadStackFloor();

inline bool StackFits(const char* floor, std::size_t bytes) {
    if (floor == nullptr) return true;
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    return here > floor && static_cast<std::size_t>(here - floor) >= bytes;
}

// Stack needed to evaluate a tree of the given cost (StackUnits).
inline std::size_t EvalBytes(int units) {
    return static_cast<std::size_t>(units > 0 ? units : 1) * kEvalBytesPerUnit;
}

// Raises unless one more dump level fits on this thread's stack.
void CheckDumpStack();

// Bytes of heap a value holds beyond the value itself.
inline std::size_t HeldBytes(const Variant& v) {
    if (v.IsString()) return v.AsString().size();
    if (v.IsArray()) {
        std::size_t n = v.ArraySize() * sizeof(Variant);
        for (const Variant& e : v.ArrayItems()) n += HeldBytes(e);
        return n;
    }
    return 0;
}

[[noreturn]] void BudgetExceeded(std::size_t budget);

}  // namespace zorvex::guard
